#include "cards/drag_out_win32.h"

#include <ole2.h>
#include <shlobj.h>
#include <shobjidl.h>

#include "app/wide_text_win32.h"

namespace marrowin::cards {

namespace {

// The plain drag source: a drop on button release, a cancel on Escape, the system's cursors.
class DropSource : public IDropSource {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (iid == IID_IUnknown || iid == IID_IDropSource) {
            *out = static_cast<IDropSource*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
    ULONG STDMETHODCALLTYPE Release() override { return --refs_; }  // lives on the stack
    HRESULT STDMETHODCALLTYPE QueryContinueDrag(BOOL escape, DWORD keys) override {
        if (escape) return DRAGDROP_S_CANCEL;
        if (!(keys & (MK_LBUTTON | MK_RBUTTON))) return DRAGDROP_S_DROP;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GiveFeedback(DWORD) override { return DRAGDROP_S_USEDEFAULTCURSORS; }

private:
    ULONG refs_ = 1;
};

}  // namespace

bool dragFilesOut(HWND owner, const std::vector<std::string>& files) {
    if (files.empty()) return false;
    // Every file is in one folder: the shell's data object for those items, as Explorer makes it.
    std::vector<PIDLIST_ABSOLUTE> absolute;
    for (const std::string& file : files) {
        PIDLIST_ABSOLUTE item = nullptr;
        if (SUCCEEDED(SHParseDisplayName(wideFromUtf8(file).c_str(), nullptr, &item, 0, nullptr)) && item)
            absolute.push_back(item);
    }
    bool offered = false;
    IShellFolder* parent = nullptr;
    PCUITEMID_CHILD first = nullptr;
    if (absolute.size() == files.size() &&
        SUCCEEDED(SHBindToParent(absolute[0], IID_IShellFolder, reinterpret_cast<void**>(&parent), &first))) {
        std::vector<PCUITEMID_CHILD> children;
        for (PIDLIST_ABSOLUTE item : absolute) children.push_back(ILFindLastID(item));
        IDataObject* data = nullptr;
        if (SUCCEEDED(parent->GetUIObjectOf(owner, UINT(children.size()), children.data(), IID_IDataObject, nullptr,
                                            reinterpret_cast<void**>(&data)))) {
            DropSource source;
            DWORD effect = DROPEFFECT_NONE;
            DoDragDrop(data, &source, DROPEFFECT_COPY, &effect);
            data->Release();
            offered = true;
        }
        parent->Release();
    }
    for (PIDLIST_ABSOLUTE item : absolute) CoTaskMemFree(item);
    return offered;
}

}  // namespace marrowin::cards
