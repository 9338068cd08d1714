// The hex view: what it draws, checked by pixels on a rendered bitmap, and its scroll arithmetic.
#include <wx/dcmemory.h>
#include <wx/scrolbar.h>
#include <wx/settings.h>

#include "chips/ChipCatalogue.h"
#include "tests/ui/UiTestSupport.h"
#include "res/Ids.h"
#include "ui/MainFrame.h"
#include "ui/OstrelView.h"

namespace {

constexpr int AT89S2051 = 0, AT89S51 = 2, AT89S52 = 3, AT89S8253 = 4;

class HexViewTest : public CAppFixture {
protected:
    // Selects a chip and gives the view a client area of exactly width x height.
    void Prepare(int chip, int width, int height) {
        wxCommandEvent command(wxEVT_MENU, ID_CHIP_FIRST + chip);
        Frame()->ProcessWindowEvent(command);
        PumpEvents(30); // the frame's own layout first, then the size this test wants
        View()->SetSize(width, height);
        ASSERT_EQ(View()->GetClientSize(), wxSize(width, height));
    }
    // The view's drawing on a bitmap of its size, filled first with the window's background colour.
    wxImage Render() {
        const wxSize size = View()->GetClientSize();
        wxBitmap bitmap(size);
        {
            wxMemoryDC dc(bitmap);
            dc.SetBackground(wxBrush(Background()));
            dc.Clear();
            View()->OnDraw(dc);
        }
        return bitmap.ConvertToImage();
    }
    static wxColour Background() { return wxSystemSettings::GetColour(wxSYS_COLOUR_WINDOW); }
    // How many pixels of the colour lie in the rectangle.
    static int Count(const wxImage& image, const wxRect& rect, const wxColour& colour) {
        int n = 0;
        for (int y = std::max(0, rect.y); y < std::min(image.GetHeight(), rect.GetBottom() + 1); ++y)
            for (int x = std::max(0, rect.x); x < std::min(image.GetWidth(), rect.GetRight() + 1); ++x)
                n += image.GetRed(x, y) == colour.Red() && image.GetGreen(x, y) == colour.Green() &&
                     image.GetBlue(x, y) == colour.Blue();
        return n;
    }
    static wxRect ByteCell(int screenRow, int column) {
        return wxRect(COstrelView::BYTES_X + COstrelView::BYTE_PITCH * column, screenRow * 16, 26, 16);
    }
    static wxRect AddressCell(int screenRow) { return wxRect(0, screenRow * 16, 88, 16); }
    // The first line of pixels (from the top) that holds the colour in the rectangle, or -1.
    static int FirstLineWith(const wxImage& image, const wxRect& rect, const wxColour& colour) {
        for (int y = rect.y; y <= rect.GetBottom(); ++y)
            if (Count(image, wxRect(rect.x, y, rect.width, 1), colour) > 0)
                return y;
        return -1;
    }
};

TEST_F(HexViewTest, BlankImageShowsGreyFFWithGreenAddressesInEveryRow) {
    Prepare(AT89S52, 640, 400);
    const wxImage image = Render();
    ASSERT_EQ(View()->VisibleRows(), 25);
    for (int row = 0; row < 25; ++row) {
        SCOPED_TRACE(row);
        EXPECT_GT(Count(image, AddressCell(row), COstrelView::ADDRESS_COLOUR), 20);
        for (int column = 0; column < 16; ++column) {
            EXPECT_GT(Count(image, ByteCell(row, column), COstrelView::BLANK_BYTE_COLOUR), 10) << column;
            EXPECT_EQ(Count(image, ByteCell(row, column), COstrelView::BYTE_COLOUR), 0) << column;
        }
    }
}

TEST_F(HexViewTest, BytesOtherThanFFAreBlackAtTheirColumns) {
    Prepare(AT89S52, 640, 400);
    View()->Buffer().m_image[0x0F] = 0x0F; // row 0, column 15: x = 92 + 32 * 15 = 572
    View()->Buffer().m_image[0x13] = 0x00; // row 1, column 3
    const wxImage image = Render();
    EXPECT_GT(Count(image, ByteCell(0, 15), COstrelView::BYTE_COLOUR), 10);
    EXPECT_EQ(Count(image, ByteCell(0, 15), COstrelView::BLANK_BYTE_COLOUR), 0);
    EXPECT_GT(Count(image, ByteCell(1, 3), COstrelView::BYTE_COLOUR), 10);
    EXPECT_EQ(Count(image, ByteCell(0, 14), COstrelView::BYTE_COLOUR), 0);
    // The text starts at its column's x: nothing of it lies left of x = 572.
    EXPECT_EQ(Count(image, wxRect(560, 0, 12, 12), COstrelView::BYTE_COLOUR), 0);
    // Each text cell is filled in white, the default text background.
    EXPECT_GT(Count(image, ByteCell(0, 15), *wxWHITE), 50);
}

// On a dark theme every cell has the window's dark background (no white columns), bytes take the
// theme's light text and 0xFF stays grey; on a light one bytes stay black.
TEST_F(HexViewTest, CellsAndBackgroundShareTheThemesColours) {
    EXPECT_EQ(HexViewColours::For(*wxWHITE, wxColour(30, 30, 30)).bytes, COstrelView::BYTE_COLOUR);
    const wxColour dark(36, 36, 36), text(238, 238, 236);
    const HexViewColours colours = HexViewColours::For(dark, text);
    EXPECT_EQ(colours.bytes, text);
    EXPECT_EQ(colours.blankBytes, COstrelView::BLANK_BYTE_COLOUR);
    Prepare(AT89S51, 640, 64);
    View()->Buffer().m_image[1] = 0x12;
    View()->SetColours(colours);
    const wxSize size = View()->GetClientSize();
    wxBitmap bitmap(size);
    {
        wxMemoryDC dc(bitmap);
        dc.SetBackground(wxBrush(dark));
        dc.Clear();
        View()->OnDraw(dc);
    }
    const wxImage image = bitmap.ConvertToImage();
    View()->SetColours(HexViewColours::FromTheme());
    EXPECT_EQ(Count(image, wxRect(0, 0, size.x - COstrelView::SCROLLBAR_WIDTH, size.y), *wxWHITE), 0);
    EXPECT_GT(Count(image, ByteCell(0, 1), text), 10);
    EXPECT_GT(Count(image, ByteCell(0, 0), COstrelView::BLANK_BYTE_COLOUR), 10);
    EXPECT_GT(Count(image, ByteCell(1, 5), dark), 200) << "the cell is the background";
}

TEST_F(HexViewTest, RowsAre16PixelsApartFromTheTop) {
    Prepare(AT89S52, 640, 400);
    View()->Buffer().m_image[16 * 2] = 0x00;
    const wxImage image = Render();
    const int first = FirstLineWith(image, wxRect(0, 0, 88, 16), COstrelView::ADDRESS_COLOUR);
    const int third = FirstLineWith(image, wxRect(0, 32, 88, 16), COstrelView::ADDRESS_COLOUR);
    ASSERT_GE(first, 0);
    EXPECT_EQ(third - first, 32);
    const int black = FirstLineWith(image, wxRect(92, 0, 26, 64), COstrelView::BYTE_COLOUR);
    EXPECT_GE(black, 32);
    EXPECT_LT(black, 48);
}

TEST_F(HexViewTest, NothingIsDrawnBelowTheLastRow) {
    Prepare(AT89S2051, 640, 128 * 16 + 40); // taller than the 128 rows of the AT89S2051
    EXPECT_EQ(View()->MaxTopRow(), 0);
    const wxImage image = Render();
    EXPECT_GT(Count(image, AddressCell(127), COstrelView::ADDRESS_COLOUR), 20);
    const wxRect below(0, 128 * 16 + 4, 640 - COstrelView::SCROLLBAR_WIDTH, 36);
    EXPECT_EQ(Count(image, below, Background()), below.width * below.height);
}

TEST_F(HexViewTest, ScrolledToTheBottomTheLastRowIsTheImagesLast) {
    Prepare(AT89S51, 640, 400);
    for (int column = 0; column < 16; ++column)
        View()->Buffer().m_image[255 * 16 + column] = 0x55; // row 255, address 0FF0
    View()->OnVScroll(ScrollCode::Bottom, 0);
    EXPECT_EQ(View()->TopRow(), 231);
    const wxImage image = Render();
    EXPECT_GT(Count(image, ByteCell(24, 0), COstrelView::BYTE_COLOUR), 10) << "row 255 on screen line 24";
    EXPECT_EQ(Count(image, ByteCell(23, 0), COstrelView::BYTE_COLOUR), 0);
}

TEST_F(HexViewTest, ScrollBarIsAlongTheRightEdge) {
    Prepare(AT89S51, 500, 400);
    wxScrollBar* bar = View()->ScrollBar();
    ASSERT_TRUE(bar);
    EXPECT_EQ(bar->GetId(), ID_VIEW_SCROLLBAR);
    EXPECT_TRUE(bar->IsVertical());
    EXPECT_EQ(bar->GetRect(), wxRect(500 - 18, 0, 18, 400));
    // Positions 0..231: wx counts the range to the thumb's far end.
    EXPECT_EQ(bar->GetRange() - bar->GetThumbSize(), 231);
    EXPECT_EQ(bar->GetPageSize(), 10);
}

TEST_F(HexViewTest, ScrollActions) {
    struct Case {
        int chip, height, start;
        ScrollCode code;
        int position; // for ThumbRelease
        int top;
    };
    const Case cases[] = {
        // AT89S51 at 400 pixels: 25 visible rows of 256, range 0..231.
        {AT89S51, 400, 0, ScrollCode::Bottom, 0, 231},
        {AT89S51, 400, 100, ScrollCode::Top, 0, 0},
        {AT89S51, 400, 225, ScrollCode::PageDown, 0, 231},
        {AT89S51, 400, 5, ScrollCode::PageUp, 0, 0},
        {AT89S51, 400, 0, ScrollCode::PageDown, 0, 10},
        {AT89S51, 400, 50, ScrollCode::PageUp, 0, 40},
        {AT89S51, 400, 0, ScrollCode::LineUp, 0, 0},
        {AT89S51, 400, 0, ScrollCode::LineDown, 0, 1},
        {AT89S51, 400, 231, ScrollCode::LineDown, 0, 231},
        {AT89S51, 400, 7, ScrollCode::ThumbRelease, 120, 120},
        {AT89S51, 400, 7, ScrollCode::ThumbRelease, 500, 231},
        {AT89S51, 400, 7, ScrollCode::ThumbTrack, 120, 7},
        {AT89S51, 400, 7, ScrollCode::EndScroll, 0, 7},
        // A page is 10 rows whatever the height.
        {AT89S8253, 800, 0, ScrollCode::PageDown, 0, 10},
        {AT89S8253, 800, 0, ScrollCode::Bottom, 0, 768 - 50},
        // Taller than the image: range 0..0.
        {AT89S2051, 2100, 0, ScrollCode::Bottom, 0, 0},
        {AT89S2051, 2100, 0, ScrollCode::LineDown, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "chip " << c.chip << " height " << c.height << " from " << c.start
                                        << " code " << static_cast<int>(c.code));
        Prepare(c.chip, 640, c.height);
        View()->OnVScroll(ScrollCode::ThumbRelease, c.start);
        View()->OnVScroll(c.code, c.position);
        EXPECT_EQ(View()->TopRow(), c.top);
        EXPECT_EQ(View()->ScrollBar()->GetThumbPosition(), c.top);
    }
}

// A touchpad turns the wheel by parts of a notch: each part counts, none is lost or doubled.
TEST_F(HexViewTest, WheelPartsOfANotchAddUpToLines) {
    Prepare(AT89S51, 640, 400);
    View()->OnVScroll(ScrollCode::ThumbRelease, 20);
    const struct {
        int rotation, linesPerNotch, top;
    } steps[] = {{-120, 3, 23}, {-20, 3, 23}, {-20, 3, 24}, {60, 1, 24},
                 {60, 1, 23},   {360, 3, 14}, {0, 3, 14}};
    for (const auto& step : steps) {
        View()->ScrollByWheel(step.rotation, 120, step.linesPerNotch);
        EXPECT_EQ(View()->TopRow(), step.top) << "after " << step.rotation;
    }
}

TEST_F(HexViewTest, GrowingTheWindowKeepsTheFirstRowUntilTheNextScroll) {
    Prepare(AT89S51, 640, 400);
    View()->OnVScroll(ScrollCode::Bottom, 0);
    View()->SetSize(640, 800); // 50 rows visible: range 0..206
    EXPECT_EQ(View()->MaxTopRow(), 206);
    EXPECT_EQ(View()->TopRow(), 231);
    // The next action starts from the scroll bar, which the smaller range holds at 206.
    View()->OnVScroll(ScrollCode::LineUp, 0);
    EXPECT_EQ(View()->TopRow(), 205);
}

TEST_F(HexViewTest, ScrollBarEventsReachTheView) {
    Prepare(AT89S51, 640, 400);
    wxScrollBar* bar = View()->ScrollBar();
    auto send = [&](wxEventType type, int position) {
        wxScrollEvent event(type, ID_VIEW_SCROLLBAR, position, wxVERTICAL);
        event.SetEventObject(bar);
        bar->ProcessWindowEvent(event);
    };
    send(wxEVT_SCROLL_PAGEDOWN, 10);
    EXPECT_EQ(View()->TopRow(), 10);
    send(wxEVT_SCROLL_LINEDOWN, 11);
    EXPECT_EQ(View()->TopRow(), 11);
    send(wxEVT_SCROLL_THUMBTRACK, 90);
    EXPECT_EQ(View()->TopRow(), 11) << "the dump does not follow a dragged thumb";
    send(wxEVT_SCROLL_THUMBRELEASE, 90);
    EXPECT_EQ(View()->TopRow(), 90);
    send(wxEVT_SCROLL_BOTTOM, 0);
    EXPECT_EQ(View()->TopRow(), 231);
}

TEST_F(HexViewTest, FontsAreFixedPitchWithCellsOf18And20Pixels) {
    wxBitmap bitmap(8, 8);
    wxMemoryDC dc(bitmap);
    dc.SetFont(View()->BytesFont());
    EXPECT_TRUE(View()->BytesFont().IsFixedWidth());
    EXPECT_LE(dc.GetCharHeight(), 18);
    EXPECT_GE(dc.GetCharHeight(), 17);
    EXPECT_EQ(dc.GetTextExtent("00").x, dc.GetTextExtent("WW").x);
    dc.SetFont(View()->AddressFont());
    EXPECT_LE(dc.GetCharHeight(), 20);
    EXPECT_GE(dc.GetCharHeight(), 19);
    EXPECT_GE(View()->AddressFont().GetNumericWeight(), wxFONTWEIGHT_BOLD);
}

} // namespace
