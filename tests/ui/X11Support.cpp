// Kept apart from the tests: Xlib's macros clash with GoogleTest's names.
#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/keysym.h>
#include <X11/extensions/XTest.h>

#include <chrono>
#include <thread>

#include <gtk/gtk.h>
#include <gdk/gdkx.h>
#include <wx/defs.h>
#include <wx/window.h>

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

// Turns the wheel at a point of the screen as a mouse does: button 4 (up) or 5 (down) pressed and
// released once per notch, through the XTest extension.
bool TurnWheel(int x, int y, int notches) {
    Display* display = XOpenDisplay(nullptr);
    if (!display)
        return false;
    int event = 0, error = 0, major = 0, minor = 0;
    const bool ok = XTestQueryExtension(display, &event, &error, &major, &minor);
    if (ok) {
        XTestFakeMotionEvent(display, -1, x, y, CurrentTime);
        const unsigned button = notches > 0 ? 4 : 5;
        for (int k = 0; k < (notches > 0 ? notches : -notches); ++k) {
            XTestFakeButtonEvent(display, button, True, CurrentTime);
            XTestFakeButtonEvent(display, button, False, CurrentTime);
        }
        XFlush(display);
    }
    XCloseDisplay(display);
    return ok;
}

// The transient hint as the window manager reads it, asked of the server over the toolkit's own
// connection, so that it sees every request the toolkit has made before.
wxWindow* TransientOwnerOf(wxWindow* window) {
    GtkWidget* widget = window ? window->GetHandle() : nullptr;
    GdkWindow* surface = widget ? gtk_widget_get_window(widget) : nullptr;
    if (!surface || !GDK_IS_X11_WINDOW(surface))
        return nullptr;
    Display* display = gdk_x11_display_get_xdisplay(gdk_window_get_display(surface));
    Window owner = None;
    if (!XGetTransientForHint(display, gdk_x11_window_get_xid(surface), &owner) || owner == None)
        return nullptr;
    for (wxWindow* candidate : wxTopLevelWindows) {
        GtkWidget* other = candidate->GetHandle();
        GdkWindow* otherSurface = other ? gtk_widget_get_window(other) : nullptr;
        if (otherSurface && GDK_IS_X11_WINDOW(otherSurface) && gdk_x11_window_get_xid(otherSurface) == owner)
            return candidate;
    }
    return nullptr;
}
