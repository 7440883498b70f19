#include "app/resources_wx.h"

#include <wx/icon.h>
#include <wx/image.h>
#include <wx/mstream.h>
#include <wx/xml/xml.h>
#include <wx/xrc/xmlres.h>

#include <cstring>

namespace marrowin {

const EmbeddedResource* findResource(const char* name) {
    for (const EmbeddedResource* r = EMBEDDED_RESOURCES; r->name; ++r)
        if (std::strcmp(r->name, name) == 0) return r;
    return nullptr;
}

bool loadWindowResources() {
    wxXmlResource::Get()->InitAllHandlers();
    for (const char* name : {"main.xrc", "sub1.xrc"}) {
        const EmbeddedResource* r = findResource(name);
        if (!r) return false;
        wxMemoryInputStream in(r->data, r->size);
        auto* doc = new wxXmlDocument(in, "UTF-8");
        if (!doc->IsOk()) {
            delete doc;
            return false;
        }
        // The resource takes the document over.
        if (!wxXmlResource::Get()->LoadDocument(doc, wxString::FromUTF8(name))) return false;
    }
    return true;
}

wxIcon programIcon() {
    wxIcon icon;
    if (const EmbeddedResource* r = findResource("marrowin.png")) {
        if (!wxImage::FindHandler(wxBITMAP_TYPE_PNG)) wxImage::AddHandler(new wxPNGHandler);
        wxMemoryInputStream in(r->data, r->size);
        wxImage image(in, wxBITMAP_TYPE_PNG);
        if (image.IsOk()) icon.CopyFromBitmap(wxBitmap(image));
    }
    return icon;
}

}  // namespace marrowin
