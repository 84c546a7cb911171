#include "recording_shell.h"

#include <propsys.h>
#include <shobjidl.h>

#include <atomic>

#include "taskbar/src/com_ptr.h"
#include "taskbar/src/shell_ids.h"

namespace taskbar_test {

using taskbar::ComPtr;

ShellRecord& shellRecord() {
    static ShellRecord record;
    return record;
}

namespace {

// COM interfaces have no virtual destructor by design: an object is only ever deleted
// by its own Release, through its own (here virtual) destructor.
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"

// Reference counting and QueryInterface for a double implementing `Interface`, whose
// IID is `kIid`, and the interfaces it derives from (`kBaseIid`, IUnknown).
template <typename Interface, const IID& kIid, const IID& kBaseIid = IID_IUnknown>
class ComObject : public Interface {
public:
    virtual ~ComObject() = default;
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, kIid) || IsEqualIID(iid, kBaseIid)) {
            *out = static_cast<Interface*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++m_refs; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG refs = --m_refs;
        if (refs == 0) {
            delete this;
        }
        return refs;
    }

private:
    std::atomic<ULONG> m_refs{1};
};

std::wstring propertyText(IPropertyStore* store, const PROPERTYKEY& key) {
    taskbar::PropVariantValue value;
    if (SUCCEEDED(store->GetValue(key, &value.get())) && value.get().vt == VT_LPWSTR) {
        return value.get().pwszVal;
    }
    return {};
}

LinkSnapshot snapshot(IUnknown* object) {
    LinkSnapshot s;
    ComPtr<IPropertyStore> store;
    if (SUCCEEDED(object->QueryInterface(taskbar::kIidPropertyStore, store.putVoid()))) {
        taskbar::PropVariantValue separator;
        if (SUCCEEDED(store->GetValue(taskbar::kPkeyIsDestListSeparator, &separator.get())) &&
            separator.get().vt == VT_BOOL) {
            s.separator = separator.get().boolVal == VARIANT_TRUE;
        }
        s.title = propertyText(store.get(), taskbar::kPkeyTitle);
    }
    ComPtr<IShellLinkW> link;
    if (SUCCEEDED(object->QueryInterface(taskbar::kIidShellLinkW, link.putVoid()))) {
        wchar_t text[1024] = {};
        if (link->GetPath(text, 1024, nullptr, SLGP_RAWPATH) == S_OK) {
            s.path = text;
        }
        text[0] = 0;
        if (SUCCEEDED(link->GetArguments(text, 1024))) {
            s.arguments = text;
        }
        text[0] = 0;
        if (SUCCEEDED(link->GetIconLocation(text, 1024, &s.iconIndex))) {
            s.iconPath = text;
        }
    }
    return s;
}

class RecordingCollection : public ComObject<IObjectCollection, taskbar::kIidObjectCollection, taskbar::kIidObjectArray> {
public:
    ~RecordingCollection() override {
        for (IUnknown* object : m_objects) {
            object->Release();
        }
    }
    HRESULT STDMETHODCALLTYPE GetCount(UINT* count) override {
        *count = static_cast<UINT>(m_objects.size());
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetAt(UINT index, REFIID iid, void** out) override {
        if (index >= m_objects.size()) {
            return E_INVALIDARG;
        }
        return m_objects[index]->QueryInterface(iid, out);
    }
    HRESULT STDMETHODCALLTYPE AddObject(IUnknown* object) override {
        if (object == nullptr) {
            return E_POINTER;
        }
        const auto& fail = shellRecord().failAddingArguments;
        if (!fail.empty() && snapshot(object).arguments == fail) {
            return E_FAIL;
        }
        object->AddRef();
        m_objects.push_back(object);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE AddFromArray(IObjectArray*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE RemoveObjectAt(UINT) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Clear() override { return E_NOTIMPL; }

private:
    std::vector<IUnknown*> m_objects;
};

std::vector<LinkSnapshot> snapshots(IObjectArray* array) {
    std::vector<LinkSnapshot> out;
    UINT count = 0;
    array->GetCount(&count);
    for (UINT i = 0; i < count; ++i) {
        ComPtr<IUnknown> object;
        if (SUCCEEDED(array->GetAt(i, IID_IUnknown, object.putVoid()))) {
            out.push_back(snapshot(object.get()));
        }
    }
    return out;
}

class RecordingDestinationList
    : public ComObject<ICustomDestinationList, taskbar::kIidCustomDestinationList> {
public:
    HRESULT STDMETHODCALLTYPE SetAppID(LPCWSTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE BeginList(UINT* minSlots, REFIID iid, void** removed) override {
        shellRecord().listCalls.push_back("BeginList");
        *minSlots = 10;
        auto* empty = new RecordingCollection;
        const HRESULT hr = empty->QueryInterface(iid, removed);
        empty->Release();
        return hr;
    }
    HRESULT STDMETHODCALLTYPE AppendCategory(LPCWSTR name, IObjectArray* array) override {
        shellRecord().listCalls.push_back("AppendCategory");
        shellRecord().categoryName = name;
        shellRecord().category = snapshots(array);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE AppendKnownCategory(KNOWNDESTCATEGORY) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE AddUserTasks(IObjectArray* array) override {
        shellRecord().listCalls.push_back("AddUserTasks");
        shellRecord().tasks = snapshots(array);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE CommitList() override {
        shellRecord().listCalls.push_back("CommitList");
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetRemovedDestinations(REFIID, void**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE DeleteList(LPCWSTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE AbortList() override {
        shellRecord().listCalls.push_back("AbortList");
        return S_OK;
    }
};

COLORREF centrePixel(HICON icon, int& width) {
    ICONINFO info{};
    if (!GetIconInfo(icon, &info)) {
        return CLR_INVALID;
    }
    BITMAP bitmap{};
    GetObjectW(info.hbmColor, sizeof(bitmap), &bitmap);
    width = bitmap.bmWidth;
    HDC dc = CreateCompatibleDC(nullptr);
    HGDIOBJ old = SelectObject(dc, info.hbmColor);
    const COLORREF colour = GetPixel(dc, bitmap.bmWidth / 2, bitmap.bmHeight / 2);
    SelectObject(dc, old);
    DeleteDC(dc);
    DeleteObject(info.hbmColor);
    DeleteObject(info.hbmMask);
    return colour;
}

class RecordingTaskbarList : public ComObject<ITaskbarList3, taskbar::kIidTaskbarList3> {
public:
    HRESULT STDMETHODCALLTYPE HrInit() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE AddTab(HWND) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE DeleteTab(HWND) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE ActivateTab(HWND) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetActiveAlt(HWND) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE MarkFullscreenWindow(HWND, WINBOOL) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetProgressValue(HWND, ULONGLONG, ULONGLONG) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetProgressState(HWND, TBPFLAG) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE RegisterTab(HWND, HWND) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE UnregisterTab(HWND) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetTabOrder(HWND, HWND) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetTabActive(HWND, HWND, DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE ThumbBarAddButtons(HWND, UINT, LPTHUMBBUTTON) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE ThumbBarUpdateButtons(HWND, UINT, LPTHUMBBUTTON) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE ThumbBarSetImageList(HWND, HIMAGELIST) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetOverlayIcon(HWND window, HICON icon, LPCWSTR description) override {
        OverlayCall call;
        call.window = window;
        call.hasIcon = icon != nullptr;
        if (icon != nullptr) {
            call.iconColor = centrePixel(icon, call.iconWidth);
        }
        call.description = description != nullptr ? description : L"(null)";
        shellRecord().overlays.push_back(call);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetThumbnailTooltip(HWND, LPCWSTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetThumbnailClip(HWND, RECT*) override { return E_NOTIMPL; }
};

// A shell link that keeps what it is given and records its properties; used where a
// test must see the title and separator flag, which Wine's link does not give back.
class RecordingShellLink : public ComObject<IShellLinkW, taskbar::kIidShellLinkW>, public IPropertyStore {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (IsEqualIID(iid, taskbar::kIidPropertyStore)) {
            *out = static_cast<IPropertyStore*>(this);
            AddRef();
            return S_OK;
        }
        return ComObject::QueryInterface(iid, out);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ComObject::AddRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return ComObject::Release(); }

    HRESULT STDMETHODCALLTYPE GetPath(LPWSTR file, int size, WIN32_FIND_DATAW*, DWORD) override {
        return copyOut(m_path, file, size);
    }
    HRESULT STDMETHODCALLTYPE GetIDList(PIDLIST_ABSOLUTE*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetIDList(PCIDLIST_ABSOLUTE) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetDescription(LPWSTR, int) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetDescription(LPCWSTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetWorkingDirectory(LPWSTR, int) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetWorkingDirectory(LPCWSTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetArguments(LPWSTR args, int size) override { return copyOut(m_arguments, args, size); }
    HRESULT STDMETHODCALLTYPE SetArguments(LPCWSTR args) override {
        m_arguments = args;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetHotkey(WORD*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetHotkey(WORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetShowCmd(int*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetShowCmd(int) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIconLocation(LPWSTR path, int size, int* index) override {
        *index = m_iconIndex;
        return copyOut(m_iconPath, path, size);
    }
    HRESULT STDMETHODCALLTYPE SetIconLocation(LPCWSTR path, int index) override {
        m_iconPath = path;
        m_iconIndex = index;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetRelativePath(LPCWSTR, DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Resolve(HWND, DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetPath(LPCWSTR file) override {
        m_path = file;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE GetCount(DWORD*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetAt(DWORD, PROPERTYKEY*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetValue(REFPROPERTYKEY, PROPVARIANT*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetValue(REFPROPERTYKEY key, REFPROPVARIANT value) override {
        auto& record = shellRecord().linkProperties;
        if (IsEqualPropertyKey(key, taskbar::kPkeyTitle) && value.vt == VT_LPWSTR) {
            record.push_back(std::wstring(L"Title=") + value.pwszVal);
        } else if (IsEqualPropertyKey(key, taskbar::kPkeyIsDestListSeparator) && value.vt == VT_BOOL) {
            record.push_back(L"Separator=" + std::to_wstring(value.boolVal));
        } else {
            record.push_back(L"Unexpected property");
        }
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Commit() override {
        shellRecord().linkProperties.push_back(L"Commit");
        return S_OK;
    }

private:
    static HRESULT copyOut(const std::wstring& text, LPWSTR out, int size) {
        if (size <= 0 || text.size() >= static_cast<std::size_t>(size)) {
            return E_INVALIDARG;
        }
        text.copy(out, text.size());
        out[text.size()] = 0;
        return S_OK;
    }

    std::wstring m_path;
    std::wstring m_arguments;
    std::wstring m_iconPath;
    int m_iconIndex = 0;
};

template <typename T>
class Factory : public ComObject<IClassFactory, IID_IClassFactory> {
public:
    explicit Factory(const HRESULT* createResult = nullptr) : m_createResult(createResult) {}
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
        *out = nullptr;
        if (outer != nullptr) {
            return CLASS_E_NOAGGREGATION;
        }
        if (m_createResult != nullptr && FAILED(*m_createResult)) {
            return *m_createResult;
        }
        auto* object = new T;
        const HRESULT hr = object->QueryInterface(iid, out);
        object->Release();
        return hr;
    }
    HRESULT STDMETHODCALLTYPE LockServer(WINBOOL) override { return S_OK; }

private:
    const HRESULT* m_createResult;
};

void registerFactory(const CLSID& clsid, IClassFactory* factory, std::vector<DWORD>& cookies) {
    DWORD cookie = 0;
    if (SUCCEEDED(CoRegisterClassObject(clsid, factory, CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &cookie))) {
        cookies.push_back(cookie);
    }
    factory->Release();
}

}  // namespace

RecordingShellClasses::RecordingShellClasses(int which) {
    CoInitialize(nullptr);
    if (which & kJumpList) {
        registerFactory(taskbar::kClsidDestinationList,
                        new Factory<RecordingDestinationList>(&shellRecord().destinationListCreateResult), m_cookies);
        registerFactory(taskbar::kClsidEnumerableObjectCollection, new Factory<RecordingCollection>, m_cookies);
    }
    if (which & kShellLink) {
        registerFactory(taskbar::kClsidShellLink, new Factory<RecordingShellLink>, m_cookies);
    }
    if (which & kTaskbarList) {
        registerFactory(taskbar::kClsidTaskbarList, new Factory<RecordingTaskbarList>, m_cookies);
    }
}

RecordingShellClasses::~RecordingShellClasses() {
    for (DWORD cookie : m_cookies) {
        CoRevokeClassObject(cookie);
    }
}

}  // namespace taskbar_test
