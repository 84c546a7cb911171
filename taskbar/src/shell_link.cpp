#include "taskbar/src/shell_link.h"

#include <propsys.h>
#include <shlwapi.h>

#include <string>

#include "platform/win32_handle.h"
#include "taskbar/src/icon_resources.h"
#include "taskbar/src/shell_ids.h"

namespace taskbar {
namespace {

// Paths handed to the shell link fit the classic MAX_PATH buffers it keeps them in.
constexpr DWORD kMaxPathChars = MAX_PATH;

HRESULT currentDirectory(std::wstring& directory) {
    wchar_t buffer[kMaxPathChars];
    const DWORD length = GetCurrentDirectoryW(kMaxPathChars, buffer);
    if (length == 0) {
        return HRESULT_FROM_WIN32(GetLastError());
    }
    if (length >= kMaxPathChars) {
        // The directory did not fit; the buffer holds nothing usable.
        return HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE);
    }
    directory.assign(buffer, length);
    return S_OK;
}

HRESULT checkedPath(const std::wstring& path) {
    return path.size() < kMaxPathChars ? S_OK : HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE);
}

// The icon library under "native\" when it loads from there, otherwise the one in
// the current directory, whether or not it exists.
std::wstring iconPath(const std::wstring& directory, const std::wstring& library) {
    std::wstring underNative = directory + L"\\native\\" + library;
    if (checkedPath(underNative) == S_OK) {
        if (loadIconResources(underNative.c_str())) {
            return underNative;
        }
    }
    return directory + L"\\" + library;
}

HRESULT setTitle(IPropertyStore* store, const std::wstring& title) {
    PropVariantValue value;
    HRESULT hr = SHStrDupW(title.c_str(), &value.get().pwszVal);
    if (SUCCEEDED(hr)) {
        value.get().vt = VT_LPWSTR;
        hr = store->SetValue(kPkeyTitle, value.get());
    }
    if (SUCCEEDED(hr)) {
        hr = store->Commit();
    }
    return hr;
}

HRESULT buildSeparatorLink(ComPtr<IShellLinkW>& link) {
    ComPtr<IPropertyStore> store;
    HRESULT hr = CoCreateInstance(kClsidShellLink, nullptr, CLSCTX_INPROC_SERVER, kIidPropertyStore, store.putVoid());
    if (SUCCEEDED(hr)) {
        PropVariantValue value;
        value.get().vt = VT_BOOL;
        value.get().boolVal = VARIANT_TRUE;
        hr = store->SetValue(kPkeyIsDestListSeparator, value.get());
    }
    if (SUCCEEDED(hr)) {
        hr = store->Commit();
    }
    if (SUCCEEDED(hr)) {
        hr = store.as(kIidShellLinkW, link);
    }
    return hr;
}

HRESULT buildTaskLink(const JumpListEntry& entry, ComPtr<IShellLinkW>& link) {
    ComPtr<IShellLinkW> created;
    HRESULT hr = CoCreateInstance(kClsidShellLink, nullptr, CLSCTX_INPROC_SERVER, kIidShellLinkW, created.putVoid());
    std::wstring directory;
    if (SUCCEEDED(hr)) {
        hr = currentDirectory(directory);
    }
    const std::wstring target = directory + L"\\" + kTaskRunnerName;
    if (SUCCEEDED(hr)) {
        hr = checkedPath(target);
    }
    if (SUCCEEDED(hr)) {
        hr = created->SetPath(target.c_str());
    }
    std::wstring icon;
    if (SUCCEEDED(hr)) {
        icon = iconPath(directory, entry.iconLibrary);
        hr = checkedPath(icon);
    }
    if (SUCCEEDED(hr)) {
        hr = created->SetIconLocation(icon.c_str(), entry.iconIndex);
    }
    if (SUCCEEDED(hr)) {
        hr = created->SetArguments(entry.arguments.c_str());
    }
    ComPtr<IPropertyStore> store;
    if (SUCCEEDED(hr)) {
        hr = created.as(kIidPropertyStore, store);
    }
    if (SUCCEEDED(hr)) {
        hr = setTitle(store.get(), *entry.label);
    }
    if (SUCCEEDED(hr)) {
        hr = store.as(kIidShellLinkW, link);
    }
    return hr;
}

}  // namespace

HRESULT buildShellLink(const JumpListEntry& entry, ComPtr<IShellLinkW>& link) {
    return entry.isSeparator() ? buildSeparatorLink(link) : buildTaskLink(entry, link);
}

}  // namespace taskbar
