// Explorer's thumbnail of a save, a container or a card: the picture `marrowin-cli thumbnail`
// draws, as a premultiplied 32-bit bitmap.
#include <windows.h>
#include <propsys.h>
#include <shlwapi.h>
#include <thumbcache.h>

#include <algorithm>
#include <memory>
#include <new>

#include "shell/shell_ids_win32.h"
#include "shell/shell_module_win32.h"
#include "view/icon_picture.h"

namespace marrowin::shell {

namespace {

// As the CLI's -s.
constexpr UINT MAX_SIDE = 4096;

// The picture's straight RGBA rows as a top-down BGRA bitmap with premultiplied colour.
HBITMAP premultipliedBitmap(const IconPicture& picture) {
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = LONG(picture.width());
    info.bmiHeader.biHeight = -LONG(picture.height());
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (!bitmap || !bits) return nullptr;
    const std::vector<uint8_t>& rgba = picture.pixels();
    auto* out = static_cast<uint8_t*>(bits);
    const size_t count = size_t(picture.width()) * picture.height();
    for (size_t i = 0; i < count; ++i) {
        const uint8_t* p = &rgba[i * 4];
        const unsigned a = p[3];
        out[i * 4 + 0] = uint8_t((p[2] * a + 127) / 255);
        out[i * 4 + 1] = uint8_t((p[1] * a + 127) / 255);
        out[i * 4 + 2] = uint8_t((p[0] * a + 127) / 255);
        out[i * 4 + 3] = uint8_t(a);
    }
    return bitmap;
}

class ThumbnailProvider final : public IThumbnailProvider, public IInitializeWithStream {
public:
    ThumbnailProvider() { ++liveObjects; }
    ~ThumbnailProvider() {
        if (stream_) stream_->Release();
        --liveObjects;
    }

    IFACEMETHODIMP QueryInterface(REFIID riid, void** out) override {
        if (!out) return E_POINTER;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_MarrowinThumbnailProvider))
            *out = static_cast<IThumbnailProvider*>(this);
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
        if (stream_) return HRESULT_FROM_WIN32(ERROR_ALREADY_INITIALIZED);
        stream_ = stream;
        stream_->AddRef();
        return S_OK;
    }

    IFACEMETHODIMP GetThumbnail(UINT cx, HBITMAP* bitmap, WTS_ALPHATYPE* alpha) override {
        if (!bitmap) return E_POINTER;
        *bitmap = nullptr;
        if (alpha) *alpha = WTSAT_UNKNOWN;
        if (!stream_) return E_UNEXPECTED;
        if (cx == 0) return E_INVALIDARG;
        try {
            OpenedSave save;
            std::string error;
            const HRESULT opened = openStreamSave(stream_, save, error);
            if (FAILED(opened)) return opened;
            const std::lock_guard<std::mutex> hold(drawingLock());
            const UINT side = std::min(cx, MAX_SIDE);
            std::unique_ptr<IconPicture> picture = IconPicture::create(side, side, error, true);
            if (!picture) return E_FAIL;
            if (!drawThumbnail(*picture, save.image, error)) return E_FAIL;
            *bitmap = premultipliedBitmap(*picture);
            if (!*bitmap) return E_OUTOFMEMORY;
            if (alpha) *alpha = WTSAT_ARGB;
            return S_OK;
        } catch (const std::bad_alloc&) {
            return E_OUTOFMEMORY;
        } catch (...) {
            return E_FAIL;
        }
    }

private:
    std::atomic<long> refs_{1};
    IStream* stream_ = nullptr;
};

}  // namespace

HRESULT createThumbnailProvider(REFIID riid, void** out) {
    auto* provider = new (std::nothrow) ThumbnailProvider;
    if (!provider) return E_OUTOFMEMORY;
    const HRESULT hr = provider->QueryInterface(riid, out);
    provider->Release();
    return hr;
}

}  // namespace marrowin::shell
