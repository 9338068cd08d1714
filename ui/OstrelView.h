#pragma once
// The hex view: the firmware image as a read-only dump of the selected chip's whole flash, 16 bytes
// a row, scrolled through its own scroll bar control (id 1001). The wheel (over the dump or the bar)
// and the main window's scroll keys arrive as the bar's scroll actions. It owns the firmware buffer and
// the lock settings and handles almost every command. User-interface thread only.

#include <string>
#include <vector>

#include <wx/bitmap.h>
#include <wx/font.h>
#include <wx/graphics.h>
#include <wx/window.h>

#include "ops/FileCommands.h"
#include "image/FirmwareBuffer.h"

class wxScrollBar;
class wxScrollEvent;
class wxUpdateUIEvent;
class COstrelDoc;

// The scroll actions of the view's scroll bar.
enum class ScrollCode {
    LineUp,
    LineDown,
    PageUp,
    PageDown,
    ThumbTrack,
    ThumbRelease,
    Top,
    Bottom,
    EndScroll
};

// The view's colours, from one source: the cells are filled with the background the window is
// cleared with, so no cell stands out. Bytes are black on a light background (the theme's text
// colour on a dark one); 0xFF stays grey and the addresses green on either.
struct HexViewColours {
    wxColour background;
    wxColour bytes;
    wxColour blankBytes;
    wxColour addresses;
    // From the desktop's theme.
    static HexViewColours FromTheme();
    // For a background and the text colour of its theme.
    static HexViewColours For(const wxColour& background, const wxColour& text);
};

class COstrelView : public wxWindow {
public:
    static constexpr int SCROLLBAR_WIDTH = 18;
    static constexpr int ROW_HEIGHT = 16;
    static constexpr int PAGE_ROWS = 10;
    static constexpr int BYTES_X = 92;    // x of the first byte column
    static constexpr int BYTE_PITCH = 32; // pixels from one byte column to the next
    static constexpr int ADDRESS_X = 4;
    static const wxColour ADDRESS_COLOUR;
    static const wxColour BYTE_COLOUR;
    static const wxColour BLANK_BYTE_COLOUR; // bytes of value 0xFF

    // Restores the selected chip from the settings store and starts with a blank image.
    COstrelView(wxWindow* parent, COstrelDoc* doc);
    // Stores the selected chip.
    ~COstrelView() override;

    // Paints the dump from m_topRow down; nothing below the last row of the image.
    void OnDraw(wxDC& dc);
    // Places the scroll bar along the right edge and recomputes the visible rows and the range.
    void LayoutScrollBar();
    // One scroll action; position is the thumb's position for ThumbRelease.
    void OnVScroll(ScrollCode code, int position);

    // The main window's scroll keys: Up and Down a line, Page Up and Page Down a page, Ctrl+Home and
    // Ctrl+End the top and the bottom. Returns false for any other key.
    static bool ScrollCodeForKey(int keyCode, int modifiers, ScrollCode& code);
    // Takes a key of the main window; true when it was a scroll key (then scrolled).
    bool HandleScrollKey(int keyCode, int modifiers);
    // Wheel rotation (in the toolkit's units, delta a notch) as line actions, lines a notch each;
    // a part of a notch (a touchpad's smooth scrolling) is kept until it makes a whole line.
    void ScrollByWheel(int rotation, int delta, int linesPerNotch);

    // Applies a chip selection (catalogue index 0..4): bound, rows, scroll back to the top.
    void SelectChip(int index);
    // Open HEX File for a path chosen elsewhere (the command line): same messages and results.
    bool OpenFile(const wxString& path);
    // The same for a path given as its bytes (a name from the command line need not be UTF-8).
    bool OpenFile(const std::string& path);

    // Shows what a file command did to the document: from the first row after a load, the new title.
    void ShowDocumentChange(DocumentChange change, const std::string& title = {});

    // The colours drawn with; a new set redraws every cell (a theme change sets them from the theme).
    void SetColours(const HexViewColours& colours);
    const HexViewColours& Colours() const { return m_colours; }

    FirmwareBuffer& Buffer() { return m_buffer; }
    wxScrollBar* ScrollBar() const { return m_pScrollBar; }
    int TopRow() const { return m_topRow; }
    int TotalRows() const { return m_totalRows; }
    int VisibleRows() const { return m_visibleRows; }
    int MaxTopRow() const { return m_maxTopRow; }
    const wxFont& BytesFont() const { return m_fontBytes; }
    const wxFont& AddressFont() const { return m_fontAddress; }

    // The lock settings that Write Device hands to the burn and the Lock Bits dialog edits.
    bool m_autoLock = false; // lock the chip after a successful burn
    int m_lockMode = 1;      // 1 (no lock bit) .. 4 (LB1, LB2 and LB3)

private:
    void OnPaint(wxPaintEvent& event);
    void OnSize(wxSizeEvent& event);
    void OnScroll(wxScrollEvent& event);
    void OnMouseWheel(wxMouseEvent& event);
    void OnThemeChanged(wxSysColourChangedEvent& event);

    void OnOpenHexFile(wxCommandEvent& event);
    void OnSaveHexFile(wxCommandEvent& event);
    void OnReloadFiles(wxCommandEvent& event);
    void OnReadFlash(wxCommandEvent& event);
    void OnWriteDevice(wxCommandEvent& event);
    void OnLockBits(wxCommandEvent& event);
    void OnProgrammingSpeed(wxCommandEvent& event);
    void OnChipCommand(wxCommandEvent& event);
    void OnUpdateChipCommand(wxUpdateUIEvent& event);
    void OnUpdateChipPane(wxUpdateUIEvent& event);
    void OnUpdateSizePane(wxUpdateUIEvent& event);

    // The 256 byte texts drawn once, each in its colour on its cell of the background colour: drawing a
    // picture is many times faster than laying out text, and a full repaint draws up to a thousand of them.
    void PrepareByteCells();
    void DrawByteCell(wxDC& dc, wxGraphicsContext* gc, uint8_t value, int x, int y);

    wxScrollBar* m_pScrollBar = nullptr; // child window, destroyed with the view
    int m_topRow = 0;
    int m_totalRows = 0;
    int m_rowHeight = ROW_HEIGHT;
    int m_maxTopRow = 0;
    int m_visibleRows = 0;
    int m_wheelRemainder = 0; // rotation not yet turned into a line, in delta * lines units
    FirmwareBuffer m_buffer;
    wxFont m_fontBytes;
    wxFont m_fontAddress;
    COstrelDoc* m_doc;
    HexViewColours m_colours;
    std::vector<wxBitmap> m_byteCells;            // by byte value; empty until the first paint
    std::vector<wxGraphicsBitmap> m_byteGraphics; // the same for a graphics context's renderer
    wxGraphicsRenderer* m_byteGraphicsRenderer = nullptr;
};

// A face of fixed pitch available here (Liberation Mono, else DejaVu Sans Mono, else the desktop's
// monospace font) whose text cell is cellHeight pixels high, or as close below as the face allows.
wxFont MakeCellFont(int cellHeight, wxFontWeight weight);
