#pragma once
// Dialog units of the program's dialog templates, which were laid out for an 8-point dialog font
// whose base units are 6 x 13 pixels. GTK's default font would make every dialog about a third
// larger; these fixed base units and DialogFont() keep the templates' proportions on any desktop.

#include <wx/font.h>
#include <wx/gdicmn.h>

constexpr int DIALOG_BASE_X = 6;
constexpr int DIALOG_BASE_Y = 13;

inline int DluToPixelsX(int x) {
    return (x * DIALOG_BASE_X + 2) / 4;
}
inline int DluToPixelsY(int y) {
    return (y * DIALOG_BASE_Y + 4) / 8;
}
inline wxPoint DluPoint(int x, int y) {
    return wxPoint(DluToPixelsX(x), DluToPixelsY(y));
}
inline wxSize DluSize(int w, int h) {
    return wxSize(DluToPixelsX(w), DluToPixelsY(h));
}

// An 8-point sans-serif font for dialog controls.
wxFont DialogFont();
