#pragma once
// The embedded pictures as wx objects. Every loader returns an invalid object (or false) when the
// resource is missing or does not decode; callers go on without the picture.

#include <wx/bitmap.h>
#include <wx/colour.h>
#include <wx/icon.h>
#include <wx/iconbndl.h>
#include <wx/image.h>

class wxAnimation;

// Makes sure the PNG and GIF decoders are registered (once per process).
void InitPictureHandlers();

wxImage LoadResourceImage(int id, int variant = 0);
wxBitmap LoadResourceBitmap(int id);
wxIcon LoadResourceIcon(int id);
// Every size of the application icon (resource 128).
wxIconBundle LoadApplicationIcons();
// Loads a GIF animation into animation, which the caller made with its control's CreateAnimation().
bool LoadResourceAnimation(int id, wxAnimation& animation);

// Replaces every pixel of exactly magenta (255, 0, 255) by colour; returns how many were replaced.
int MapMagentaTo(wxImage& image, const wxColour& colour);
