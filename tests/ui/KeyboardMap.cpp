// Kept apart from the tests: Xlib's macros clash with GoogleTest's names.
#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/keysym.h>

#include <wx/defs.h>

int ModifiersToType(char c) {
    const KeySym keysym = c == '<' ? XK_less : XK_greater;
    Display* display = XOpenDisplay(nullptr);
    if (!display)
        return 0;
    const KeyCode code = XKeysymToKeycode(display, keysym);
    const bool unshifted = code != 0 && XkbKeycodeToKeysym(display, code, 0, 0) == keysym;
    XCloseDisplay(display);
    return unshifted ? 0 : wxMOD_SHIFT;
}
