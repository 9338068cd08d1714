#include "res/Resources.h"

#include <wx/animate.h>
#include <wx/mstream.h>

#include "res/ResourceData.h"

void InitPictureHandlers() {
    if (!wxImage::FindHandler(wxBITMAP_TYPE_PNG))
        wxImage::AddHandler(new wxPNGHandler);
    if (!wxImage::FindHandler(wxBITMAP_TYPE_GIF))
        wxImage::AddHandler(new wxGIFHandler);
}

wxImage LoadResourceImage(int id, int variant) {
    const ResourceBlob* blob = FindResourceBlob(id, variant);
    if (!blob)
        return wxImage();
    InitPictureHandlers();
    wxMemoryInputStream stream(blob->data, blob->size);
    wxImage image;
    if (!image.LoadFile(stream, wxBITMAP_TYPE_ANY))
        return wxImage();
    return image;
}

wxBitmap LoadResourceBitmap(int id) {
    const wxImage image = LoadResourceImage(id);
    return image.IsOk() ? wxBitmap(image) : wxBitmap();
}

wxIcon LoadResourceIcon(int id) {
    const wxBitmap bitmap = LoadResourceBitmap(id);
    wxIcon icon;
    if (bitmap.IsOk())
        icon.CopyFromBitmap(bitmap);
    return icon;
}

wxIconBundle LoadApplicationIcons() {
    wxIconBundle bundle;
    for (int size : ResourceVariants(128)) {
        const wxImage image = LoadResourceImage(128, size);
        if (!image.IsOk())
            continue;
        wxIcon icon;
        icon.CopyFromBitmap(wxBitmap(image));
        bundle.AddIcon(icon);
    }
    return bundle;
}

bool LoadResourceAnimation(int id, wxAnimation& animation) {
    const ResourceBlob* blob = FindResourceBlob(id);
    if (!blob)
        return false;
    InitPictureHandlers();
    wxMemoryInputStream stream(blob->data, blob->size);
    return animation.Load(stream, wxANIMATION_TYPE_GIF);
}

int MapMagentaTo(wxImage& image, const wxColour& colour) {
    if (!image.IsOk())
        return 0;
    unsigned char* p = image.GetData();
    const long pixels = static_cast<long>(image.GetWidth()) * image.GetHeight();
    int replaced = 0;
    for (long i = 0; i < pixels; ++i, p += 3) {
        if (p[0] == 0xFF && p[1] == 0x00 && p[2] == 0xFF) {
            p[0] = colour.Red();
            p[1] = colour.Green();
            p[2] = colour.Blue();
            ++replaced;
        }
    }
    return replaced;
}
