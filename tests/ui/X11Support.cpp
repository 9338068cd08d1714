// Kept apart from the tests: Xlib's macros clash with GoogleTest's names.
#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/keysym.h>

#include <chrono>
#include <thread>

#include <wx/defs.h>

bool WaitForDisplay(int milliseconds) {
    for (int waited = 0;; waited += 50) {
        if (Display* display = XOpenDisplay(nullptr)) {
            XCloseDisplay(display);
            return true;
        }
        if (waited >= milliseconds)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

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
