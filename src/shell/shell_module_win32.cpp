// The COM server: class factories, the four exports and per-user registration.
#include "shell/shell_module_win32.h"

#include <shlobj.h>

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

#include "shell/shell_ids_win32.h"

extern "C" {
HRESULT WINAPI DllGetClassObject(REFCLSID clsid, REFIID riid, void** out);
HRESULT WINAPI DllCanUnloadNow();
HRESULT WINAPI DllRegisterServer();
HRESULT WINAPI DllUnregisterServer();
}

namespace marrowin::shell {

std::atomic<long> liveObjects{0};

std::mutex& drawingLock() {
    static std::mutex lock;
    return lock;
}

HRESULT openStreamSave(IStream* stream, OpenedSave& out, std::string& error) {
    if (!stream) return E_INVALIDARG;
    STATSTG stat{};
    // Refused before a byte is read when the stream says it is larger than any save.
    if (SUCCEEDED(stream->Stat(&stat, STATFLAG_NONAME)) && stat.cbSize.QuadPart > SAVE_BYTES_MAX) {
        error = "too large";
        return HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE);
    }
    // The size a stream reports is not trusted: reading stops one byte past the limit.
    std::vector<uint8_t> bytes;
    const size_t chunk = 1 << 20;
    for (;;) {
        const size_t have = bytes.size();
        if (have > SAVE_BYTES_MAX) {
            error = "too large";
            return HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE);
        }
        bytes.resize(have + chunk);
        ULONG got = 0;
        const HRESULT hr = stream->Read(bytes.data() + have, ULONG(chunk), &got);
        if (FAILED(hr)) return hr;
        bytes.resize(have + std::min<size_t>(got, chunk));
        if (hr == S_FALSE || got == 0) break;
    }
    if (!openSaveBytes(std::move(bytes), "stream", OpenOptions{}, out, error)) return E_FAIL;
    return S_OK;
}

namespace {

HMODULE thisModule = nullptr;
std::atomic<long> serverLocks{0};

class ClassFactory final : public IClassFactory {
public:
    explicit ClassFactory(HRESULT (*create)(REFIID, void**)) : create_(create) { ++liveObjects; }
    ~ClassFactory() { --liveObjects; }

    IFACEMETHODIMP QueryInterface(REFIID riid, void** out) override {
        if (!out) return E_POINTER;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IClassFactory)) {
            *out = static_cast<IClassFactory*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    IFACEMETHODIMP_(ULONG) AddRef() override { return ULONG(++refs_); }
    IFACEMETHODIMP_(ULONG) Release() override {
        const long left = --refs_;
        if (left == 0) delete this;
        return ULONG(left);
    }
    IFACEMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (outer) return CLASS_E_NOAGGREGATION;
        return create_(riid, out);
    }
    IFACEMETHODIMP LockServer(BOOL lock) override {
        if (lock) ++serverLocks;
        else --serverLocks;
        return S_OK;
    }

private:
    std::atomic<long> refs_{1};
    HRESULT (*create_)(REFIID, void**);
};

const wchar_t* const EXTENSIONS[] = {L".psu", L".max", L".cbs", L".sps", L".xps", L".psv", L".ps2", L".mc2"};
const wchar_t* const PROPERTY_HANDLERS =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\PropertySystem\\PropertyHandlers\\";

LSTATUS setText(HKEY root, const std::wstring& key, const wchar_t* name, const std::wstring& value) {
    HKEY k;
    LSTATUS s = RegCreateKeyExW(root, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &k, nullptr);
    if (s != ERROR_SUCCESS) return s;
    s = RegSetValueExW(k, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                       DWORD((value.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(k);
    return s;
}

std::wstring defaultText(HKEY root, const std::wstring& key) {
    wchar_t value[128];
    DWORD size = sizeof value;
    if (RegGetValueW(root, key.c_str(), nullptr, RRF_RT_REG_SZ, nullptr, value, &size) != ERROR_SUCCESS)
        return L"";
    return value;
}

// Deletes a key we made only when nothing else has been put in it since.
void deleteIfEmpty(HKEY root, const std::wstring& key) {
    HKEY k;
    if (RegOpenKeyExW(root, key.c_str(), 0, KEY_READ, &k) != ERROR_SUCCESS) return;
    DWORD subkeys = 0, values = 0;
    const bool empty = RegQueryInfoKeyW(k, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values,
                                        nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS &&
                       subkeys == 0 && values == 0;
    RegCloseKey(k);
    if (empty) RegDeleteKeyW(root, key.c_str());
}

// A value naming one of our classes is removed; one naming another program's is left alone.
void deleteIfOurs(HKEY root, const std::wstring& key, const wchar_t* clsid) {
    if (_wcsicmp(defaultText(root, key).c_str(), clsid) != 0) return;
    RegDeleteKeyValueW(root, key.c_str(), nullptr);
    deleteIfEmpty(root, key);
}

HRESULT registerClass(const wchar_t* clsid, const wchar_t* name, const std::wstring& dll) {
    const std::wstring key = std::wstring(L"Software\\Classes\\CLSID\\") + clsid;
    LSTATUS s = setText(HKEY_CURRENT_USER, key, nullptr, name);
    if (s == ERROR_SUCCESS) s = setText(HKEY_CURRENT_USER, key + L"\\InprocServer32", nullptr, dll);
    if (s == ERROR_SUCCESS) s = setText(HKEY_CURRENT_USER, key + L"\\InprocServer32", L"ThreadingModel", L"Apartment");
    return HRESULT_FROM_WIN32(s);
}

}  // namespace

}  // namespace marrowin::shell

using namespace marrowin::shell;

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        thisModule = instance;
        DisableThreadLibraryCalls(instance);
    }
    return TRUE;
}

extern "C" HRESULT WINAPI DllGetClassObject(REFCLSID clsid, REFIID riid, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    HRESULT (*create)(REFIID, void**) = nullptr;
    if (IsEqualCLSID(clsid, CLSID_MarrowinThumbnail)) create = createThumbnailProvider;
    else if (IsEqualCLSID(clsid, CLSID_MarrowinProperties)) create = createPropertyStore;
    else return CLASS_E_CLASSNOTAVAILABLE;
    ClassFactory* factory = new (std::nothrow) ClassFactory(create);
    if (!factory) return E_OUTOFMEMORY;
    const HRESULT hr = factory->QueryInterface(riid, out);
    factory->Release();
    return hr;
}

extern "C" HRESULT WINAPI DllCanUnloadNow() {
    return liveObjects == 0 && serverLocks == 0 ? S_OK : S_FALSE;
}

extern "C" HRESULT WINAPI DllRegisterServer() {
    try {
        std::vector<wchar_t> path(MAX_PATH);
        for (;;) {
            const DWORD n = GetModuleFileNameW(thisModule, path.data(), DWORD(path.size()));
            if (n == 0) return HRESULT_FROM_WIN32(GetLastError());
            if (n < path.size()) break;
            path.resize(path.size() * 2);
        }
        const std::wstring dll(path.data());
        HRESULT hr = registerClass(MARROWIN_THUMBNAIL_CLSID_TEXT, L"Marrowin thumbnail handler", dll);
        if (SUCCEEDED(hr)) hr = registerClass(MARROWIN_PROPERTY_CLSID_TEXT, L"Marrowin property handler", dll);
        for (const wchar_t* ext : EXTENSIONS) {
            if (FAILED(hr)) break;
            hr = HRESULT_FROM_WIN32(setText(HKEY_CURRENT_USER,
                                            std::wstring(L"Software\\Classes\\") + ext + L"\\ShellEx\\" +
                                                MARROWIN_THUMBNAIL_SHELLEX_KEY,
                                            nullptr, MARROWIN_THUMBNAIL_CLSID_TEXT));
            if (SUCCEEDED(hr))
                hr = HRESULT_FROM_WIN32(setText(HKEY_CURRENT_USER, std::wstring(PROPERTY_HANDLERS) + ext, nullptr,
                                                MARROWIN_PROPERTY_CLSID_TEXT));
        }
        if (FAILED(hr)) {
            DllUnregisterServer();
            return hr;
        }
        SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_IDLIST, nullptr, nullptr);
        return S_OK;
    } catch (...) {
        return E_FAIL;
    }
}

extern "C" HRESULT WINAPI DllUnregisterServer() {
    try {
        for (const wchar_t* ext : EXTENSIONS) {
            const std::wstring classes = std::wstring(L"Software\\Classes\\") + ext;
            deleteIfOurs(HKEY_CURRENT_USER, classes + L"\\ShellEx\\" + MARROWIN_THUMBNAIL_SHELLEX_KEY,
                         MARROWIN_THUMBNAIL_CLSID_TEXT);
            deleteIfEmpty(HKEY_CURRENT_USER, classes + L"\\ShellEx");
            deleteIfEmpty(HKEY_CURRENT_USER, classes);
            deleteIfOurs(HKEY_CURRENT_USER, std::wstring(PROPERTY_HANDLERS) + ext, MARROWIN_PROPERTY_CLSID_TEXT);
        }
        for (const wchar_t* clsid : {MARROWIN_THUMBNAIL_CLSID_TEXT, MARROWIN_PROPERTY_CLSID_TEXT}) {
            const std::wstring key = std::wstring(L"Software\\Classes\\CLSID\\") + clsid;
            RegDeleteTreeW(HKEY_CURRENT_USER, key.c_str());
        }
        SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_IDLIST, nullptr, nullptr);
        return S_OK;
    } catch (...) {
        return E_FAIL;
    }
}
