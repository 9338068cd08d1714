#include "ui/OstrelView.h"

#include <algorithm>

#include <wx/dcclient.h>
#include <wx/dcmemory.h>
#include <wx/fontenum.h>
#include <wx/scrolbar.h>
#include <wx/settings.h>

#include "chips/ChipCatalogue.h"
#include "ops/dlg/DeviceCommands.h"
#include "ops/dlg/AppMessagePort.h"
#include "res/GtkLook.h"
#include "ui/FileChoosers.h"
#include "res/Ids.h"
#include "ui/OstrelDoc.h"

const wxColour COstrelView::ADDRESS_COLOUR(32, 255, 128);
const wxColour COstrelView::BYTE_COLOUR(0, 0, 0);
const wxColour COstrelView::BLANK_BYTE_COLOUR(192, 192, 192);

namespace {

wxString MonospaceFace() {
    for (const char* face : {"Liberation Mono", "DejaVu Sans Mono"})
        if (wxFontEnumerator::IsValidFacename(face))
            return face;
    return wxString();
}

int CellHeight(const wxFont& font) {
    wxBitmap bitmap(8, 8);
    wxMemoryDC dc(bitmap);
    dc.SetFont(font);
    return dc.GetCharHeight();
}

bool IsDark(const wxColour& colour) {
    return colour.Red() * 299 + colour.Green() * 587 + colour.Blue() * 114 < 128 * 1000;
}

} // namespace

HexViewColours HexViewColours::For(const wxColour& background, const wxColour& text) {
    return {background, IsDark(background) ? text : COstrelView::BYTE_COLOUR, COstrelView::BLANK_BYTE_COLOUR,
            COstrelView::ADDRESS_COLOUR};
}

HexViewColours HexViewColours::FromTheme() {
    return For(wxSystemSettings::GetColour(wxSYS_COLOUR_WINDOW),
               wxSystemSettings::GetColour(wxSYS_COLOUR_WINDOWTEXT));
}

wxFont MakeCellFont(int cellHeight, wxFontWeight weight) {
    static const wxString face = MonospaceFace();
    auto make = [&](double points) {
        wxFont font(wxFontInfo(points).Family(wxFONTFAMILY_TELETYPE).FaceName(face));
        font.SetNumericWeight(weight);
        return font;
    };
    // The largest size whose cell still fits: the cell grows with the size, so halve the interval.
    double low = 1.0, high = cellHeight * 1.5;
    for (int i = 0; i < 14; ++i) {
        const double mid = (low + high) / 2;
        (CellHeight(make(mid)) <= cellHeight ? low : high) = mid;
    }
    return make(low);
}

COstrelView::COstrelView(wxWindow* parent, COstrelDoc* doc)
    : wxWindow(parent, wxID_ANY, wxDefaultPosition, wxDefaultSize, wxFULL_REPAINT_ON_RESIZE, "COstrelView"),
      m_doc(doc) {
    CIniSettingsStore store(CIniSettingsStore::DefaultPath());
    LoadSelectedChip(store);
    m_buffer.m_imageSize = SelectedChipInfo().flashSize;
    m_topRow = 0;
    m_totalRows = m_buffer.m_imageSize / 16;
    m_autoLock = false;
    m_rowHeight = ROW_HEIGHT;
    m_buffer.m_sourcePath = SOURCE_NONE;
    m_fontBytes = MakeCellFont(18, wxFONTWEIGHT_THIN);
    m_fontAddress = MakeCellFont(20, wxFONTWEIGHT_EXTRABOLD);
    m_buffer.ClearImage();

    m_colours = HexViewColours::FromTheme();
    SetBackgroundColour(m_colours.background);
    const wxSize client = GetClientSize();
    m_pScrollBar = new wxScrollBar(this, ID_VIEW_SCROLLBAR, wxPoint(client.x - SCROLLBAR_WIDTH, 0),
                                   wxSize(SCROLLBAR_WIDTH, client.y), wxSB_VERTICAL);
    UsePagingScrollBar(m_pScrollBar);

    Bind(wxEVT_PAINT, &COstrelView::OnPaint, this);
    Bind(wxEVT_SIZE, &COstrelView::OnSize, this);
    Bind(wxEVT_SYS_COLOUR_CHANGED, &COstrelView::OnThemeChanged, this);
    Bind(wxEVT_SCROLL_TOP, &COstrelView::OnScroll, this, ID_VIEW_SCROLLBAR);
    Bind(wxEVT_SCROLL_BOTTOM, &COstrelView::OnScroll, this, ID_VIEW_SCROLLBAR);
    Bind(wxEVT_SCROLL_LINEUP, &COstrelView::OnScroll, this, ID_VIEW_SCROLLBAR);
    Bind(wxEVT_SCROLL_LINEDOWN, &COstrelView::OnScroll, this, ID_VIEW_SCROLLBAR);
    Bind(wxEVT_SCROLL_PAGEUP, &COstrelView::OnScroll, this, ID_VIEW_SCROLLBAR);
    Bind(wxEVT_SCROLL_PAGEDOWN, &COstrelView::OnScroll, this, ID_VIEW_SCROLLBAR);
    Bind(wxEVT_SCROLL_THUMBTRACK, &COstrelView::OnScroll, this, ID_VIEW_SCROLLBAR);
    Bind(wxEVT_SCROLL_THUMBRELEASE, &COstrelView::OnScroll, this, ID_VIEW_SCROLLBAR);
    Bind(wxEVT_SCROLL_CHANGED, &COstrelView::OnScroll, this, ID_VIEW_SCROLLBAR);
    // The wheel over the bar would move only GTK's thumb; over the dump it would do nothing.
    Bind(wxEVT_MOUSEWHEEL, &COstrelView::OnMouseWheel, this);
    m_pScrollBar->Bind(wxEVT_MOUSEWHEEL, &COstrelView::OnMouseWheel, this);

    Bind(wxEVT_MENU, &COstrelView::OnOpenHexFile, this, ID_OPEN_HEX_FILE);
    Bind(wxEVT_MENU, &COstrelView::OnSaveHexFile, this, ID_FILE_SAVE);
    Bind(wxEVT_MENU, &COstrelView::OnReloadFiles, this, ID_RELOAD_FILES);
    Bind(wxEVT_MENU, &COstrelView::OnReadFlash, this, ID_READ_FLASH);
    Bind(wxEVT_MENU, &COstrelView::OnWriteDevice, this, ID_WRITE_DEVICE);
    Bind(wxEVT_MENU, &COstrelView::OnLockBits, this, ID_LOCK_BITS);
    Bind(wxEVT_MENU, &COstrelView::OnProgrammingSpeed, this, ID_PROGRAMMING_SPEED);
    Bind(wxEVT_MENU, &COstrelView::OnChipCommand, this, ID_CHIP_FIRST, ID_CHIP_LAST);
    Bind(wxEVT_UPDATE_UI, &COstrelView::OnUpdateChipCommand, this, ID_CHIP_FIRST, ID_CHIP_LAST);
    Bind(wxEVT_UPDATE_UI, &COstrelView::OnUpdateChipPane, this, ID_INDICATOR_CHIP);
    Bind(wxEVT_UPDATE_UI, &COstrelView::OnUpdateSizePane, this, ID_INDICATOR_SIZE);
}

COstrelView::~COstrelView() {
    CIniSettingsStore store(CIniSettingsStore::DefaultPath());
    SaveSelectedChip(store);
}

void COstrelView::PrepareByteCells() {
    if (!m_byteCells.empty())
        return;
    wxBitmap probe(8, 8);
    wxMemoryDC measure(probe);
    measure.SetFont(m_fontBytes);
    const wxSize cell = measure.GetTextExtent("00");
    measure.SelectObject(wxNullBitmap);
    m_byteCells.reserve(256);
    for (int value = 0; value < 256; ++value) {
        wxBitmap bitmap(cell, 24);
        wxMemoryDC dc(bitmap);
        dc.SetBackground(wxBrush(m_colours.background));
        dc.Clear();
        dc.SetFont(m_fontBytes);
        dc.SetTextForeground(value == 0xFF ? m_colours.blankBytes : m_colours.bytes);
        dc.DrawText(wxString::Format("%02X", value), 0, 0);
        dc.SelectObject(wxNullBitmap);
        m_byteCells.push_back(bitmap);
    }
}

void COstrelView::DrawByteCell(wxDC& dc, wxGraphicsContext* gc, uint8_t value, int x, int y) {
    const wxBitmap& cell = m_byteCells[value];
    if (gc) {
        if (m_byteGraphicsRenderer != gc->GetRenderer()) {
            m_byteGraphicsRenderer = gc->GetRenderer();
            m_byteGraphics.clear();
            for (const wxBitmap& bitmap : m_byteCells)
                m_byteGraphics.push_back(m_byteGraphicsRenderer->CreateBitmap(bitmap));
        }
        gc->DrawBitmap(m_byteGraphics[value], x, y, cell.GetWidth(), cell.GetHeight());
    } else {
        dc.DrawBitmap(cell, x, y, false);
    }
}

void COstrelView::OnDraw(wxDC& dc) {
    PrepareByteCells();
    const wxFont previous = dc.GetFont();
    // Each text cell is filled opaquely in the background colour, and cells overlap the row above by
    // a few pixels.
    dc.SetBackgroundMode(wxBRUSHSTYLE_SOLID);
    dc.SetTextBackground(m_colours.background);
    dc.SetFont(m_fontAddress);
    dc.SetTextForeground(m_colours.addresses);
    wxGraphicsContext* gc = dc.GetGraphicsContext();
    const uint8_t* image = m_buffer.m_image.data();
    for (int r = m_topRow, i = 0; r < m_topRow + m_visibleRows && r < m_totalRows; ++r, ++i) {
        const int y = i * m_rowHeight;
        dc.DrawText(wxString::Format("%04X - ", r * 16), ADDRESS_X, y);
        for (int j = 0; j < 16; ++j)
            DrawByteCell(dc, gc, image[r * 16 + j], BYTES_X + BYTE_PITCH * j, y);
    }
    dc.SetFont(previous);
}

void COstrelView::SetColours(const HexViewColours& colours) {
    m_colours = colours;
    SetBackgroundColour(colours.background);
    m_byteCells.clear();
    m_byteGraphics.clear();
    m_byteGraphicsRenderer = nullptr;
    Refresh(true);
}

void COstrelView::OnThemeChanged(wxSysColourChangedEvent& event) {
    event.Skip();
    SetColours(HexViewColours::FromTheme());
}

void COstrelView::LayoutScrollBar() {
    const wxSize client = GetClientSize();
    m_pScrollBar->SetSize(client.x - SCROLLBAR_WIDTH, 0, SCROLLBAR_WIDTH, client.y);
    m_visibleRows = std::max(0, client.y) / m_rowHeight;
    m_maxTopRow = std::max(0, m_totalRows - m_visibleRows);
    // wx counts the range past the thumb: a one-row thumb over m_maxTopRow + 1 positions gives
    // positions 0..m_maxTopRow. The control keeps its position within the range; m_topRow stays.
    const int position = std::clamp(m_pScrollBar->GetThumbPosition(), 0, m_maxTopRow);
    m_pScrollBar->SetScrollbar(position, 1, m_maxTopRow + 1, PAGE_ROWS, true);
}

void COstrelView::OnVScroll(ScrollCode code, int position) {
    // The control's position, which the range keeps within 0..m_maxTopRow even when m_topRow is
    // beyond it after the window grew. GTK moves the thumb itself before it reports a line or page
    // step, so the step is taken from the position the view last set, not from the moved thumb.
    int p = std::clamp(m_topRow, 0, m_maxTopRow);
    switch (code) {
    case ScrollCode::LineUp:
        p -= 1;
        break;
    case ScrollCode::LineDown:
        p += 1;
        break;
    case ScrollCode::PageUp:
        p -= PAGE_ROWS;
        break;
    case ScrollCode::PageDown:
        p += PAGE_ROWS;
        break;
    case ScrollCode::ThumbRelease:
        p = position;
        break;
    case ScrollCode::Top:
        p = 0;
        break;
    case ScrollCode::Bottom:
        p = m_maxTopRow;
        break;
    case ScrollCode::ThumbTrack:
    case ScrollCode::EndScroll:
        return;
    }
    p = std::clamp(p, 0, m_maxTopRow);
    m_topRow = p;
    if (m_pScrollBar)
        m_pScrollBar->SetThumbPosition(p);
    Refresh(false);
}

void COstrelView::OnScroll(wxScrollEvent& event) {
    const wxEventType type = event.GetEventType();
    ScrollCode code = ScrollCode::EndScroll;
    if (type == wxEVT_SCROLL_LINEUP)
        code = ScrollCode::LineUp;
    else if (type == wxEVT_SCROLL_LINEDOWN)
        code = ScrollCode::LineDown;
    else if (type == wxEVT_SCROLL_PAGEUP)
        code = ScrollCode::PageUp;
    else if (type == wxEVT_SCROLL_PAGEDOWN)
        code = ScrollCode::PageDown;
    else if (type == wxEVT_SCROLL_THUMBTRACK)
        code = ScrollCode::ThumbTrack;
    else if (type == wxEVT_SCROLL_THUMBRELEASE)
        code = ScrollCode::ThumbRelease;
    else if (type == wxEVT_SCROLL_TOP)
        code = ScrollCode::Top;
    else if (type == wxEVT_SCROLL_BOTTOM)
        code = ScrollCode::Bottom;
    OnVScroll(code, event.GetPosition());
}

bool COstrelView::ScrollCodeForKey(int keyCode, int modifiers, ScrollCode& code) {
    const bool plain = modifiers == wxMOD_NONE;
    const bool control = modifiers == wxMOD_CONTROL;
    switch (keyCode) {
    case WXK_UP:
    case WXK_NUMPAD_UP:
        code = ScrollCode::LineUp;
        return plain;
    case WXK_DOWN:
    case WXK_NUMPAD_DOWN:
        code = ScrollCode::LineDown;
        return plain;
    case WXK_PAGEUP:
    case WXK_NUMPAD_PAGEUP:
        code = ScrollCode::PageUp;
        return plain;
    case WXK_PAGEDOWN:
    case WXK_NUMPAD_PAGEDOWN:
        code = ScrollCode::PageDown;
        return plain;
    case WXK_HOME:
    case WXK_NUMPAD_HOME:
        code = ScrollCode::Top;
        return control;
    case WXK_END:
    case WXK_NUMPAD_END:
        code = ScrollCode::Bottom;
        return control;
    default:
        return false;
    }
}

bool COstrelView::HandleScrollKey(int keyCode, int modifiers) {
    ScrollCode code;
    if (!ScrollCodeForKey(keyCode, modifiers, code))
        return false;
    OnVScroll(code, 0);
    return true;
}

void COstrelView::ScrollByWheel(int rotation, int delta, int linesPerNotch) {
    if (delta <= 0 || linesPerNotch <= 0)
        return;
    // Kept in units of delta per line, so that every line of every notch is counted.
    m_wheelRemainder += rotation * linesPerNotch;
    // Up (a positive rotation) is toward the top.
    while (m_wheelRemainder >= delta) {
        m_wheelRemainder -= delta;
        OnVScroll(ScrollCode::LineUp, 0);
    }
    while (m_wheelRemainder <= -delta) {
        m_wheelRemainder += delta;
        OnVScroll(ScrollCode::LineDown, 0);
    }
}

void COstrelView::OnMouseWheel(wxMouseEvent& event) {
    if (event.GetWheelAxis() != wxMOUSE_WHEEL_VERTICAL) {
        event.Skip();
        return;
    }
    // Not skipped: GTK's own handling would move the bar's thumb alone.
    ScrollByWheel(event.GetWheelRotation(), event.GetWheelDelta(), event.GetLinesPerAction());
}

void COstrelView::OnPaint(wxPaintEvent&) {
    wxPaintDC dc(this);
    OnDraw(dc);
}

void COstrelView::OnSize(wxSizeEvent& event) {
    event.Skip();
    if (m_pScrollBar)
        LayoutScrollBar();
}

void COstrelView::SelectChip(int index) {
    g_selectedChip = std::clamp(index, 0, CHIP_COUNT - 1);
    m_buffer.m_imageSize = SelectedChipInfo().flashSize;
    m_topRow = 0;
    m_totalRows = m_buffer.m_imageSize / 16;
    if (m_pScrollBar) {
        LayoutScrollBar();
        m_pScrollBar->SetThumbPosition(0);
    }
    Refresh(true);
}

bool COstrelView::OpenFile(const wxString& path) {
    return OpenFile(std::string(path.fn_str()));
}

bool COstrelView::OpenFile(const std::string& path) {
    CAppMessagePort messages(this);
    const FileCommandResult result = OpenFirmwareFile(path, m_buffer, messages);
    ShowDocumentChange(result.document, result.title);
    return result.ok;
}

void COstrelView::ShowDocumentChange(DocumentChange change, const std::string& title) {
    if (change == DocumentChange::None)
        return;
    if (change == DocumentChange::Opened || change == DocumentChange::Reloaded) {
        m_topRow = 0;
        if (m_pScrollBar)
            m_pScrollBar->SetThumbPosition(0);
    }
    if ((change == DocumentChange::Opened || change == DocumentChange::Untitled) && m_doc)
        m_doc->SetTitle(wxString(title.c_str(), *wxConvFileName));
    // Only Reload repaints over an erased background, as it always has.
    Refresh(change == DocumentChange::Reloaded);
}

void COstrelView::OnOpenHexFile(wxCommandEvent&) {
    const wxString path = ChooseFileToOpen(this);
    if (!path.empty())
        OpenFile(path);
}

void COstrelView::OnSaveHexFile(wxCommandEvent&) {
    const wxString path = ChooseFileToSave(this);
    if (path.empty())
        return;
    CAppMessagePort messages(this);
    SaveFirmwareFile(std::string(path.fn_str()), m_buffer, messages);
}

void COstrelView::OnReloadFiles(wxCommandEvent&) {
    CAppMessagePort messages(this);
    ShowDocumentChange(ReloadFirmwareFile(m_buffer, messages).document);
}

void COstrelView::OnReadFlash(wxCommandEvent&) {
    ReadFlashCommand(m_buffer);
    // Read or not, the view repaints; bound, source file and title stay.
    Refresh(false);
}

void COstrelView::OnWriteDevice(wxCommandEvent&) {
    WriteDeviceCommand(m_buffer, m_autoLock, m_lockMode);
}

void COstrelView::OnLockBits(wxCommandEvent&) {
    LockBitsCommand(m_autoLock, m_lockMode);
}

void COstrelView::OnProgrammingSpeed(wxCommandEvent&) {
    ProgrammingSpeedCommand();
}

void COstrelView::OnChipCommand(wxCommandEvent& event) {
    SelectChip(event.GetId() - ID_CHIP_FIRST);
}

void COstrelView::OnUpdateChipCommand(wxUpdateUIEvent& event) {
    event.Check(event.GetId() - ID_CHIP_FIRST == g_selectedChip);
}

void COstrelView::OnUpdateChipPane(wxUpdateUIEvent& event) {
    event.SetText(wxString::FromUTF8(SelectedChipInfo().name));
}

void COstrelView::OnUpdateSizePane(wxUpdateUIEvent& event) {
    event.SetText(wxString::Format("%d Bytes", SelectedChipInfo().flashSize));
}
