// Loads the Explorer handlers the way Explorer does and writes what they give to files, for
// tests/win32/test_shell_handler.py:
//   shell_probe register|unregister DLL          calls the DLL's own (un)registration
//   shell_probe thumbnail FILE SIZE OUT          "WIDTH HEIGHT ALPHATYPE\n" and the bitmap's
//                                                premultiplied BGRA rows in memory order
//   shell_probe properties FILE OUT              title, folder and container, UTF-8 lines
//   shell_probe keys OUT                         the registration's values, a line each
//   shell_probe machine-classes add|remove       Wine's COM reads classes only from HKLM:
//                                                mirrors our per-user CLSID keys there
// Exit 0 on success; 3 when a handler gave an error HRESULT (printed); 2 on a probe fault.
#include <windows.h>
#include <objbase.h>
#include <propsys.h>
#include <shellapi.h>
#include <shlwapi.h>
#include <thumbcache.h>

#include <cstdio>
#include <string>
#include <vector>

#include "shell/shell_ids_win32.h"

namespace {

constexpr GUID FMTID_SUMMARY = {0xf29f85e0, 0x4ff9, 0x1068, {0xab, 0x91, 0x08, 0x00, 0x2b, 0x27, 0xb3, 0xd9}};
constexpr GUID FMTID_ITEM_TYPE = {0xb725f130, 0x47ef, 0x101a, {0xa5, 0xf1, 0x02, 0x60, 0x8c, 0x9e, 0xeb, 0xac}};
constexpr PROPERTYKEY KEYS[] = {{FMTID_SUMMARY, 2}, {FMTID_SUMMARY, 6}, {FMTID_ITEM_TYPE, 4}};

ULONGLONG started = 0;

// The time from creating the handler to its answer shows with every error, so a test can
// tell a quick refusal from a slow one apart from Wine's own start-up.
int failed(const char* what, HRESULT hr) {
    std::printf("%s: hr 0x%08lx after %llu ms\n", what, static_cast<unsigned long>(hr),
                static_cast<unsigned long long>(GetTickCount64() - started));
    return 3;
}

std::string utf8(const wchar_t* text) {
    const int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string out(size_t(n > 0 ? n : 1), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), n, nullptr, nullptr);
    out.resize(out.size() - 1);
    return out;
}

int registration(const wchar_t* dll, bool add) {
    HMODULE module = LoadLibraryW(dll);
    if (!module) return failed("LoadLibrary", HRESULT_FROM_WIN32(GetLastError()));
    using Entry = HRESULT(WINAPI*)();
    auto entry = reinterpret_cast<Entry>(
        reinterpret_cast<void*>(GetProcAddress(module, add ? "DllRegisterServer" : "DllUnregisterServer")));
    if (!entry) return failed("GetProcAddress", HRESULT_FROM_WIN32(GetLastError()));
    const HRESULT hr = entry();
    FreeLibrary(module);
    return FAILED(hr) ? failed(add ? "DllRegisterServer" : "DllUnregisterServer", hr) : 0;
}

// The handler initialised on the file's stream, as Explorer's isolated host does it.
int initialised(const GUID& clsid, const wchar_t* file, REFIID iid, void** out) {
    started = GetTickCount64();
    IInitializeWithStream* init = nullptr;
    HRESULT hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IInitializeWithStream,
                                  reinterpret_cast<void**>(&init));
    if (FAILED(hr)) return failed("CoCreateInstance", hr);
    IStream* stream = nullptr;
    hr = SHCreateStreamOnFileEx(file, STGM_READ | STGM_SHARE_DENY_WRITE, FILE_ATTRIBUTE_NORMAL, FALSE, nullptr,
                                &stream);
    if (FAILED(hr)) return init->Release(), failed("SHCreateStreamOnFileEx", hr);
    hr = init->Initialize(stream, STGM_READ);
    stream->Release();
    if (SUCCEEDED(hr)) hr = init->QueryInterface(iid, out);
    init->Release();
    return FAILED(hr) ? failed("Initialize", hr) : 0;
}

int thumbnail(const wchar_t* file, UINT size, const wchar_t* output) {
    IThumbnailProvider* provider = nullptr;
    if (int code = initialised(CLSID_MarrowinThumbnail, file, IID_MarrowinThumbnailProvider, reinterpret_cast<void**>(&provider))) return code;
    HBITMAP bitmap = nullptr;
    WTS_ALPHATYPE alpha = WTSAT_UNKNOWN;
    const HRESULT hr = provider->GetThumbnail(size, &bitmap, &alpha);
    provider->Release();
    if (FAILED(hr)) return failed("GetThumbnail", hr);
    DIBSECTION dib{};
    if (GetObjectW(bitmap, sizeof dib, &dib) != sizeof dib || !dib.dsBm.bmBits || dib.dsBm.bmBitsPixel != 32) {
        std::printf("not a 32-bit DIB section\n");
        return 2;
    }
    // Rows as they lie in memory: a top-down bitmap, as Explorer wants, starts with the top.
    const LONG width = dib.dsBm.bmWidth, height = dib.dsBm.bmHeight;
    FILE* f = _wfopen(output, L"wb");
    if (!f) return 2;
    std::fprintf(f, "%ld %ld %d\n", width, height, int(alpha));
    const auto* bits = static_cast<const unsigned char*>(dib.dsBm.bmBits);
    for (LONG y = 0; y < height; ++y) std::fwrite(bits + size_t(y) * dib.dsBm.bmWidthBytes, 4, size_t(width), f);
    std::fclose(f);
    DeleteObject(bitmap);
    return 0;
}

int properties(const wchar_t* file, const wchar_t* output) {
    IPropertyStore* store = nullptr;
    if (int code = initialised(CLSID_MarrowinProperties, file, IID_IPropertyStore, reinterpret_cast<void**>(&store))) return code;
    std::string text;
    for (const PROPERTYKEY& key : KEYS) {
        PROPVARIANT v;
        PropVariantInit(&v);
        const HRESULT hr = store->GetValue(key, &v);
        if (FAILED(hr)) return store->Release(), failed("GetValue", hr);
        text += (v.vt == VT_LPWSTR ? utf8(v.pwszVal) : std::string("<not text>")) + "\n";
        PropVariantClear(&v);
    }
    // Explorer must not be able to write anything into a save.
    PROPVARIANT title;
    PropVariantInit(&title);
    title.vt = VT_LPWSTR;
    title.pwszVal = const_cast<wchar_t*>(L"changed");
    char set[32];
    std::snprintf(set, sizeof set, "set 0x%08lx\n", static_cast<unsigned long>(store->SetValue(KEYS[0], title)));
    text += set;
    store->Release();
    FILE* f = _wfopen(output, L"wb");
    if (!f) return 2;
    std::fwrite(text.data(), 1, text.size(), f);
    std::fclose(f);
    return 0;
}

const wchar_t* const EXTENSIONS[] = {L".psu", L".max", L".cbs", L".sps", L".xps", L".psv", L".ps2", L".mc2"};
const wchar_t* const CLSIDS[] = {MARROWIN_THUMBNAIL_CLSID_TEXT, MARROWIN_PROPERTY_CLSID_TEXT};

std::wstring value(HKEY root, const std::wstring& key, const wchar_t* name) {
    wchar_t text[1024];
    DWORD size = sizeof text;
    if (RegGetValueW(root, key.c_str(), name, RRF_RT_REG_SZ, nullptr, text, &size) != ERROR_SUCCESS)
        return L"<missing>";
    return text;
}

int keys(const wchar_t* output) {
    std::string text;
    auto line = [&](const std::wstring& key, const wchar_t* name = nullptr) {
        text += utf8(key.c_str()) + "=" + utf8(value(HKEY_CURRENT_USER, key, name).c_str()) + "\n";
    };
    for (const wchar_t* clsid : CLSIDS) {
        const std::wstring key = std::wstring(L"Software\\Classes\\CLSID\\") + clsid + L"\\InprocServer32";
        line(key);
        line(key, L"ThreadingModel");
    }
    for (const wchar_t* ext : EXTENSIONS) {
        line(std::wstring(L"Software\\Classes\\") + ext + L"\\ShellEx\\" + MARROWIN_THUMBNAIL_SHELLEX_KEY);
        line(std::wstring(L"Software\\Microsoft\\Windows\\CurrentVersion\\PropertySystem\\PropertyHandlers\\") + ext);
        HKEY k;
        const std::wstring bare = std::wstring(L"Software\\Classes\\") + ext;
        const bool there = RegOpenKeyExW(HKEY_CURRENT_USER, bare.c_str(), 0, KEY_READ, &k) == ERROR_SUCCESS;
        if (there) RegCloseKey(k);
        text += utf8(bare.c_str()) + (there ? "=<key>\n" : "=<missing>\n");
    }
    FILE* f = _wfopen(output, L"wb");
    if (!f) return 2;
    std::fwrite(text.data(), 1, text.size(), f);
    std::fclose(f);
    return 0;
}

int machineClasses(bool add) {
    for (const wchar_t* clsid : CLSIDS) {
        const std::wstring key = std::wstring(L"Software\\Classes\\CLSID\\") + clsid;
        if (!add) {
            RegDeleteTreeW(HKEY_LOCAL_MACHINE, key.c_str());
            continue;
        }
        HKEY k;
        if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, (key + L"\\InprocServer32").c_str(), 0, nullptr, 0, KEY_SET_VALUE,
                            nullptr, &k, nullptr) != ERROR_SUCCESS)
            return 2;
        for (const wchar_t* name : {static_cast<const wchar_t*>(nullptr), L"ThreadingModel"}) {
            const std::wstring v = value(HKEY_CURRENT_USER, key + L"\\InprocServer32", name);
            RegSetValueExW(k, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(v.c_str()),
                           DWORD((v.size() + 1) * sizeof(wchar_t)));
        }
        RegCloseKey(k);
    }
    return 0;
}

}  // namespace

int main() {
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (!argv || argc < 3) {
        std::printf("usage: shell_probe register|unregister DLL | thumbnail FILE SIZE OUT | properties FILE OUT\n");
        return 2;
    }
    const std::wstring command = argv[1];
    if (command == L"keys") return keys(argv[2]);
    if (command == L"machine-classes") return machineClasses(std::wstring(argv[2]) == L"add");
    if (command == L"register" || command == L"unregister") return registration(argv[2], command == L"register");
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 2;
    int code = 2;
    if (command == L"thumbnail" && argc == 5) code = thumbnail(argv[2], UINT(_wtoi(argv[3])), argv[4]);
    else if (command == L"properties" && argc == 4) code = properties(argv[2], argv[3]);
    CoUninitialize();
    std::fflush(stdout);
    return code;
}
