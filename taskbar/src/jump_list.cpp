#include "taskbar/src/jump_list.h"

#include <shobjidl.h>

#include <cstdio>
#include <mutex>

#include "taskbar/src/com_ptr.h"
#include "taskbar/src/shell_ids.h"
#include "taskbar/src/shell_link.h"

namespace taskbar {
namespace {

std::mutex g_entriesMutex;
std::vector<JumpListEntry> g_entries;

void printCreateFailure(HRESULT hr) {
    std::printf("Failed CoCreateInstance %lu %lx\n", GetLastError(), static_cast<unsigned long>(hr));
    switch (static_cast<unsigned long>(hr)) {
    case 0x80004003: std::printf("E_POINTER\n"); break;
    case 0x80040154: std::printf("REGDB_E_CLASSNOTREG\n"); break;
    case 0x80040110: std::printf("CLASS_E_NOAGGREGATION\n"); break;
    case 0x80004002: std::printf("E_NOINTERFACE\n"); break;
    case 0x800401F0: std::printf("CO_E_NOTINITIALIZED\n"); break;
    default: break;
    }
}

// Adds the links of `entries` to a new object collection. Only the last entry's
// outcome counts: an entry before it whose link cannot be made is left out, so one
// broken entry does not take the whole list down with it.
HRESULT buildCollection(const std::vector<const JumpListEntry*>& entries, ComPtr<IObjectArray>& array) {
    ComPtr<IObjectCollection> collection;
    HRESULT hr = CoCreateInstance(kClsidEnumerableObjectCollection, nullptr,
                                  CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER, kIidObjectCollection,
                                  collection.putVoid());
    if (FAILED(hr)) {
        return hr;
    }
    for (const JumpListEntry* entry : entries) {
        ComPtr<IShellLinkW> link;
        hr = buildShellLink(*entry, link);
        if (SUCCEEDED(hr)) {
            hr = collection->AddObject(link.get());
        }
    }
    if (SUCCEEDED(hr) && !entries.empty()) {
        hr = collection.as(kIidObjectArray, array);
    }
    return hr;
}

HRESULT addCategory(ICustomDestinationList* list, const std::vector<const JumpListEntry*>& entries) {
    ComPtr<IObjectArray> array;
    HRESULT hr = buildCollection(entries, array);
    if (SUCCEEDED(hr) && array) {
        // Every category entry lands in this one category, whatever its own name.
        hr = list->AppendCategory(entries.front()->category.c_str(), array.get());
    }
    return hr;
}

HRESULT addTasks(ICustomDestinationList* list, const std::vector<const JumpListEntry*>& entries) {
    ComPtr<IObjectArray> array;
    HRESULT hr = buildCollection(entries, array);
    if (SUCCEEDED(hr) && array) {
        hr = list->AddUserTasks(array.get());
    }
    return hr;
}

}  // namespace

HRESULT rebuildJumpList(const std::vector<JumpListEntry>& entries) {
    std::vector<const JumpListEntry*> categoryEntries;
    std::vector<const JumpListEntry*> taskEntries;
    for (const JumpListEntry& entry : entries) {
        (entry.inCategory() ? categoryEntries : taskEntries).push_back(&entry);
    }

    // COM stays initialised on this thread: the overlay calls rely on it as well.
    if (FAILED(CoInitialize(nullptr))) {
        std::printf("Error initialising COM\n");
    }
    ComPtr<ICustomDestinationList> list;
    HRESULT hr = CoCreateInstance(kClsidDestinationList, nullptr, CLSCTX_INPROC_SERVER, kIidCustomDestinationList,
                                  list.putVoid());
    if (FAILED(hr)) {
        printCreateFailure(hr);
        return hr;
    }

    // A jump list is replaced as a whole, in one BeginList..CommitList transaction;
    // a transaction that is never committed leaves the previous list in place.
    UINT minSlots = 0;
    ComPtr<IObjectArray> removed;
    hr = list->BeginList(&minSlots, kIidObjectArray, removed.putVoid());
    if (FAILED(hr)) {
        std::printf("Failed BeginList\n");
        return hr;
    }
    hr = addCategory(list.get(), categoryEntries);
    if (FAILED(hr)) {
        std::printf("Failed adding Category\n");
        return hr;
    }
    hr = addTasks(list.get(), taskEntries);
    if (FAILED(hr)) {
        std::printf("Failed adding Task\n");
        return hr;
    }
    return list->CommitList();
}

namespace {

// Changes the entry list and rebuilds from it, under one lock so that two threads
// never interleave their changes and rebuilds.
template <typename Change>
void changeAndRebuild(const char* failureMessage, Change&& change) {
    std::lock_guard<std::mutex> lock(g_entriesMutex);
    change(g_entries);
    if (FAILED(rebuildJumpList(g_entries))) {
        std::printf("%s", failureMessage);
    }
}

}  // namespace

void addJumpListEntry(JumpListEntry entry) {
    changeAndRebuild("Error building jumplist\n", [&](auto& entries) { entries.push_back(std::move(entry)); });
}

void addJumpListSeparator() {
    changeAndRebuild("Error building jumplist (adding separator)\n",
                     [](auto& entries) { entries.push_back(JumpListEntry{}); });
}

void clearJumpList() {
    changeAndRebuild("Error clearing jumplist\n", [](auto& entries) { entries.clear(); });
}

void closeJumpList() {
    changeAndRebuild("Error clearing jumplist on close\n", [](auto& entries) { entries.clear(); });
    std::fflush(stdout);
}

}  // namespace taskbar
