#pragma once
// Where GTK draws or handles a control differently from the dialog templates and the hex view, the
// controls are brought back to what those describe. The only code that speaks to GTK itself.
// User-interface thread only; call each once, after the control is made and placed.

class wxFileDialog;
class wxGauge;
class wxScrollBar;
class wxWindow;

// The theme draws a progress bar a few pixels thick in the middle of its control; this bar fills
// the height it was given.
void FillGaugeHeight(wxGauge* gauge);

// A click in the trough moves one page toward the click, not to the clicked point (GTK's
// "primary button warps slider"); the line up and line down arrows are shown, as the theme hides
// them. The wheel reaches the control's owner as the toolkit's wheel event (wxEVT_MOUSEWHEEL), never
// moving GTK's slider by itself.
void UsePagingScrollBar(wxScrollBar* scrollBar);

// The dialog's filters list a file whose extension differs from a pattern only in case
// (FIRMWARE.HEX under *.hex). GTK matches patterns case-sensitively.
void MatchFilterPatternsInAnyCase(wxFileDialog& dialog);

// Under X11 GTK draws a dialog's child windows into the dialog's one surface, and each update of
// the bar, the percentage or the animation repaints the whole task list with it (a list repaint
// costs a frame or more in software). Given surfaces of their own, the window and its children
// repaint only for their own changes. Call once the window is shown; nothing elsewhere.
void DrawOnOwnSurface(wxWindow* window);

// GTK's file chooser opens where the window manager puts it (openbox: the screen's top-left
// corner); it is placed centred on its parent window, over which it stays (transient).
void CentreOnParentWindow(wxFileDialog& dialog);

// The top-level window stays over owner's top-level window (its transient parent, which GTK hands
// the window manager under X11 and the compositor under Wayland), also when it was made before its
// owner existed, as the splash is.
void KeepOverOwner(wxWindow* window, wxWindow* owner);

// Draws window as it would appear on screen into an image of its size (for tests: independent of
// what else is on the display). Invalid when the window cannot be drawn.
class wxImage;
wxImage RenderWindow(wxWindow* window);
