#pragma once
// What the device dialogs share: placing controls by dialog units, the dialogs' look, where a dialog
// without a parent appears, and the pauses of the device sequences. User-interface thread only.

#include <wx/string.h>

#include "ops/Sleeper.h"

class wxDialog;
class wxGenericAnimationCtrl;
class wxWindow;

// Gives the dialog the templates' font and a client area of w x h dialog units. Call before adding
// controls, so that they take the font.
void SetUpDialogFrame(wxDialog* dialog, int w, int h);

// Puts control at x, y with size w x h, all in dialog units; returns it.
template <class T> T* PlaceDlu(T* control, int x, int y, int w, int h);
void PlaceControlDlu(wxWindow* control, int x, int y, int w, int h);

template <class T> T* PlaceDlu(T* control, int x, int y, int w, int h) {
    PlaceControlDlu(control, x, y, w, h);
    return control;
}

// Plays the embedded animation id in control, over and over; without the picture the control stays
// empty.
void PlayResourceAnimation(wxGenericAnimationCtrl* control, int id);

// A modal dialog made without a parent belongs to the application's main window: centre it over
// that window, kept on the screen.
void CentreOverOwner(wxDialog* dialog);

// The pauses the device dialogs pace their sequences with: real sleeps, unless a test has put its
// own sleeper in place. SetDeviceDialogSleeper(nullptr) restores the real one; returns the earlier.
// Set it only while no dialog is open.
ISleeper* SetDeviceDialogSleeper(ISleeper* sleeper);
// The test's sleeper, or fallback.
ISleeper& DeviceDialogSleeper(ISleeper& fallback);

// Texts of the core (UTF-8) as wx strings.
inline wxString FromCore(const char* text) {
    return wxString::FromUTF8(text);
}
