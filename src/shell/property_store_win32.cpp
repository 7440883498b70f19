// Explorer's columns and Details pane: a save's title as `info` shows it, its folder and its
// container. Read once at Initialize; nothing is ever written back.
#include <windows.h>
#include <propsys.h>

#include <cstring>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "app/wide_text_win32.h"
#include "base/save_text.h"
#include "icon/icon_descriptor.h"
#include "shell/shell_module_win32.h"

namespace marrowin::shell {

namespace {

// System.Title, System.Comment (the folder) and System.ItemTypeText (the container), spelt
// out here so no header's GUID definitions need instantiating.
constexpr GUID FMTID_SUMMARY = {0xf29f85e0, 0x4ff9, 0x1068, {0xab, 0x91, 0x08, 0x00, 0x2b, 0x27, 0xb3, 0xd9}};
constexpr GUID FMTID_ITEM_TYPE = {0xb725f130, 0x47ef, 0x101a, {0xa5, 0xf1, 0x02, 0x60, 0x8c, 0x9e, 0xeb, 0xac}};
constexpr PROPERTYKEY KEY_TITLE = {FMTID_SUMMARY, 2};
constexpr PROPERTYKEY KEY_COMMENT = {FMTID_SUMMARY, 6};
constexpr PROPERTYKEY KEY_ITEM_TYPE_TEXT = {FMTID_ITEM_TYPE, 4};

bool sameKey(const PROPERTYKEY& a, const PROPERTYKEY& b) {
    return IsEqualGUID(a.fmtid, b.fmtid) && a.pid == b.pid;
}

HRESULT textVariant(const std::wstring& text, PROPVARIANT* out) {
    const size_t bytes = (text.size() + 1) * sizeof(wchar_t);
    auto* copy = static_cast<wchar_t*>(CoTaskMemAlloc(bytes));
    if (!copy) return E_OUTOFMEMORY;
    memcpy(copy, text.c_str(), bytes);
    out->vt = VT_LPWSTR;
    out->pwszVal = copy;
    return S_OK;
}

class PropertyStore final : public IPropertyStore, public IPropertyStoreCapabilities, public IInitializeWithStream {
public:
    PropertyStore() { ++liveObjects; }
    ~PropertyStore() { --liveObjects; }

    IFACEMETHODIMP QueryInterface(REFIID riid, void** out) override {
        if (!out) return E_POINTER;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IPropertyStore))
            *out = static_cast<IPropertyStore*>(this);
        else if (IsEqualIID(riid, IID_IPropertyStoreCapabilities))
            *out = static_cast<IPropertyStoreCapabilities*>(this);
        else if (IsEqualIID(riid, IID_IInitializeWithStream))
            *out = static_cast<IInitializeWithStream*>(this);
        else
            return *out = nullptr, E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    IFACEMETHODIMP_(ULONG) AddRef() override { return ULONG(++refs_); }
    IFACEMETHODIMP_(ULONG) Release() override {
        const long left = --refs_;
        if (left == 0) delete this;
        return ULONG(left);
    }

    IFACEMETHODIMP Initialize(IStream* stream, DWORD) override {
        if (!stream) return E_INVALIDARG;
        if (initialized_) return HRESULT_FROM_WIN32(ERROR_ALREADY_INITIALIZED);
        try {
            OpenedSave save;
            std::string error;
            const HRESULT hr = openStreamSave(stream, save, error);
            if (FAILED(hr)) return hr;
            const std::string container = save.cardSave.empty() ? containerTitle(save.container)
                                                                 : "PS2 memory card image";
            values_ = {
                {KEY_TITLE, wideFromUtf8(saveTextToDisplay(readSaveTitle(save.image)))},
                {KEY_COMMENT, wideFromUtf8(saveTextToDisplay(getFolderName(save.image)))},
                {KEY_ITEM_TYPE_TEXT, wideFromUtf8(container)},
            };
            initialized_ = true;
            return S_OK;
        } catch (const std::bad_alloc&) {
            return E_OUTOFMEMORY;
        } catch (...) {
            return E_FAIL;
        }
    }

    IFACEMETHODIMP GetCount(DWORD* count) override {
        if (!count) return E_POINTER;
        *count = DWORD(values_.size());
        return S_OK;
    }
    IFACEMETHODIMP GetAt(DWORD index, PROPERTYKEY* key) override {
        if (!key) return E_POINTER;
        if (index >= values_.size()) return E_INVALIDARG;
        *key = values_[index].first;
        return S_OK;
    }
    IFACEMETHODIMP GetValue(REFPROPERTYKEY key, PROPVARIANT* value) override {
        if (!value) return E_POINTER;
        PropVariantInit(value);
        try {
            for (const auto& v : values_)
                if (sameKey(v.first, key)) return textVariant(v.second, value);
        } catch (...) {
            return E_FAIL;
        }
        // A property we do not have is empty, not an error.
        return S_OK;
    }
    IFACEMETHODIMP SetValue(REFPROPERTYKEY, REFPROPVARIANT) override { return STG_E_ACCESSDENIED; }
    IFACEMETHODIMP Commit() override { return STG_E_ACCESSDENIED; }
    IFACEMETHODIMP IsPropertyWritable(REFPROPERTYKEY) override { return S_FALSE; }

private:
    std::atomic<long> refs_{1};
    bool initialized_ = false;
    std::vector<std::pair<PROPERTYKEY, std::wstring>> values_;
};

}  // namespace

HRESULT createPropertyStore(REFIID riid, void** out) {
    auto* store = new (std::nothrow) PropertyStore;
    if (!store) return E_OUTOFMEMORY;
    const HRESULT hr = store->QueryInterface(riid, out);
    store->Release();
    return hr;
}

}  // namespace marrowin::shell
