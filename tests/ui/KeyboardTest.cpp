// Keys typed on a display of the test's own: GTK's key handling, the accelerators and the
// application's event filter, as a user's typing goes through them.
#include <wx/artprov.h>
#include <wx/msgdlg.h>
#include <wx/scrolbar.h>
#include <wx/generic/msgdlgg.h>
#include <wx/statbmp.h>
#include <wx/toolbar.h>
#include <wx/uiaction.h>

#include "ops/dlg/DeviceCommands.h"
#include "tests/ui/UiTestSupport.h"
#include "res/Ids.h"
#include "ui/MainFrame.h"
#include "ui/OstrelDoc.h"
#include "ui/OstrelView.h"
#include "ui/SplashWnd.h"

namespace {

class KeyboardTest : public CAppFixture {
protected:
    void SetUp() override {
        CAppFixture::SetUp();
        Frame()->Raise();
        View()->SetFocus();
        wxUIActionSimulator mouse;
        mouse.MouseMove(View()->GetScreenPosition() + wxPoint(200, 100));
        PumpUntil([this] { return wxWindow::FindFocus() == View(); }, 2000);
        PumpEvents(100);
        // Records the commands that reach the view, before the view's own handlers.
        View()->Bind(wxEVT_MENU, [this](wxCommandEvent& event) {
            m_commands.push_back(event.GetId());
            if (!IsDeviceCommand(event.GetId())) // their modal dialogs have tests of their own
                event.Skip();
        });
    }
    void Type(int key, int modifiers) {
        wxUIActionSimulator keyboard;
        keyboard.Char(key, modifiers);
        PumpEvents(100);
    }
    std::vector<int> m_commands;
};

TEST_F(KeyboardTest, TypedLessAndGreaterRunReadFlashAndWriteDevice) {
    Type('<', ModifiersToType('<'));
    Type('>', ModifiersToType('>'));
    // On a US keyboard "<" and ">" are Shift with the comma and period keys.
    Type(',', wxMOD_SHIFT);
    Type('.', wxMOD_SHIFT);
    // The same keys without Shift type "," and ".", which are no commands.
    Type(',', 0);
    Type('.', 0);
    EXPECT_EQ(m_commands, (std::vector<int>{ID_READ_FLASH, ID_WRITE_DEVICE, ID_READ_FLASH, ID_WRITE_DEVICE}));
}

TEST_F(KeyboardTest, ControlKeysRunTheirCommands) {
    CScriptedChoosers choosers;
    CScriptedMessages messages;
    Type('O', wxMOD_CONTROL);
    Type('S', wxMOD_CONTROL);
    Type('R', wxMOD_CONTROL);
    Frame()->Document()->SetTitle("x.hex");
    Type('N', wxMOD_CONTROL);
    EXPECT_EQ(m_commands, (std::vector<int>{ID_OPEN_HEX_FILE, ID_FILE_SAVE, ID_RELOAD_FILES, ID_FILE_NEW}));
    EXPECT_EQ(choosers.openRequests.size(), 1u) << "Ctrl+O runs Open HEX File";
    EXPECT_EQ(choosers.saveRequests.size(), 1u);
    EXPECT_EQ(Frame()->GetTitle(), "Untitled - Veltro 51") << "Ctrl+N is New";
    // The editing keys and F6 issue commands that nothing handles: nothing is shown or changed.
    m_commands.clear();
    const std::vector<std::pair<int, int>> keys = {{'C', wxMOD_CONTROL},
                                                   {'V', wxMOD_CONTROL},
                                                   {'X', wxMOD_CONTROL},
                                                   {'Z', wxMOD_CONTROL},
                                                   {WXK_F6, 0},
                                                   {WXK_F6, wxMOD_SHIFT},
                                                   {WXK_INSERT, wxMOD_CONTROL},
                                                   {WXK_INSERT, wxMOD_SHIFT},
                                                   {WXK_DELETE, wxMOD_SHIFT},
                                                   {WXK_BACK, wxMOD_ALT}};
    for (const auto& [key, modifiers] : keys)
        Type(key, modifiers);
    EXPECT_EQ(m_commands,
              (std::vector<int>{ID_EDIT_COPY, ID_EDIT_PASTE, ID_EDIT_CUT, ID_EDIT_UNDO, ID_NEXT_PANE,
                                ID_PREV_PANE, ID_EDIT_COPY, ID_EDIT_PASTE, ID_EDIT_CUT, ID_EDIT_UNDO}));
    EXPECT_TRUE(messages.shown.empty());
    EXPECT_EQ(Frame()->GetTitle(), "Untitled - Veltro 51");
    EXPECT_EQ(choosers.openRequests.size(), 1u);
}

TEST_F(KeyboardTest, PressesWhileTheSplashIsUpOnlyHideIt) {
    int clicks = 0;
    View()->Bind(wxEVT_LEFT_DOWN, [&](wxMouseEvent& event) {
        ++clicks;
        event.Skip();
    });
    wxUIActionSimulator input;
    for (int round = 0; round < 2; ++round) {
        CSplashWnd::EnableSplash(true);
        CSplashWnd::ShowSplash(nullptr);
        ASSERT_TRUE(CSplashWnd::Current());
        input.MouseMove(View()->GetScreenPosition() + wxPoint(40, 200));
        PumpEvents(50);
        if (round == 0)
            input.Char(WXK_F6); // a key without Shift: a Shift press would be the first press
        else
            input.MouseClick();
        PumpUntil([] { return CSplashWnd::Current() == nullptr; }, 1000);
        EXPECT_EQ(CSplashWnd::Current(), nullptr) << round;
        PumpEvents(100);
    }
    EXPECT_TRUE(m_commands.empty()) << "the key press was consumed "
                                    << (m_commands.empty() ? 0 : m_commands[0]);
    EXPECT_EQ(clicks, 0) << "the click was consumed";
    // Without a splash a click reaches the view (elsewhere, so that it makes no double-click).
    input.MouseMove(View()->GetScreenPosition() + wxPoint(160, 260));
    PumpEvents(50);
    input.MouseClick();
    PumpEvents(100);
    EXPECT_EQ(clicks, 1);
}

// The view's scroll bar under the mouse: a click in the trough moves one page (not to the clicked
// point), the arrows move one line, and a dragged thumb moves the dump only when it is released.
TEST_F(KeyboardTest, ScrollBarClicksMovePagesAndLines) {
    wxScrollBar* bar = View()->ScrollBar();
    const wxRect r = bar->GetScreenRect();
    ASSERT_GT(View()->MaxTopRow(), 40);
    const int x = r.x + r.width / 2;
    wxUIActionSimulator mouse;
    auto clickAt = [&](int y) {
        mouse.MouseMove(x, y);
        PumpEvents(50);
        mouse.MouseClick();
        PumpEvents(150);
        return View()->TopRow();
    };
    // Arrows take the last pixels of each end; the slider stays in the upper part of the trough.
    EXPECT_EQ(clickAt(r.GetBottom() - 40), 10) << "trough below the slider: one page";
    EXPECT_EQ(clickAt(r.GetBottom() - 40), 20) << "and one more, not to the clicked point";
    EXPECT_EQ(clickAt(r.GetBottom() - 4), 21) << "line down arrow";
    EXPECT_EQ(clickAt(r.y + 4), 20) << "line up arrow";
    EXPECT_EQ(View()->ScrollBar()->GetThumbPosition(), 20);

    // Drag the thumb down: the dump stays until the button is released, then follows.
    View()->OnVScroll(ScrollCode::Top, 0);
    PumpEvents(100);
    mouse.MouseMove(x, r.y + 24); // the slider's place at the top, below the up arrow
    PumpEvents(50);
    mouse.MouseDown();
    PumpEvents(50);
    for (int dy = 10; dy <= 120; dy += 10) {
        mouse.MouseMove(x, r.y + 24 + dy);
        PumpEvents(20);
    }
    PumpEvents(100);
    EXPECT_EQ(View()->TopRow(), 0) << "while dragging";
    mouse.MouseUp();
    PumpEvents(150);
    EXPECT_GT(View()->TopRow(), 20) << "after the release";
    EXPECT_EQ(View()->TopRow(), bar->GetThumbPosition());
}

// The wheel over the dump and over its bar gives line actions, three a notch, so the thumb and the
// rows agree; GTK alone would move the bar's thumb and leave the dump.
TEST_F(KeyboardTest, WheelScrollsThreeLinesANotchOverTheDumpAndTheBar) {
    ASSERT_GT(View()->MaxTopRow(), 40);
    const wxRect bar = View()->ScrollBar()->GetScreenRect();
    const wxRect dump = View()->GetScreenRect();
    struct Case {
        const char* where;
        wxPoint at;
        int notches;
        int topRow; // expected after the turn
    };
    const Case cases[] = {
        {"down over the dump", dump.GetPosition() + wxPoint(200, 100), -2, 6},
        {"down over the bar", wxPoint(bar.x + bar.width / 2, bar.y + bar.height / 2), -3, 15},
        {"up over the bar", wxPoint(bar.x + bar.width / 2, bar.y + bar.height / 2), 1, 12},
        {"up over the dump, past the top", dump.GetPosition() + wxPoint(200, 100), 6, 0},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(TurnWheel(c.at.x, c.at.y, c.notches));
        PumpUntil([&] { return View()->TopRow() == c.topRow; }, 1500);
        PumpEvents(100);
        EXPECT_EQ(View()->TopRow(), c.topRow) << c.where;
        EXPECT_EQ(View()->ScrollBar()->GetThumbPosition(), View()->TopRow()) << c.where;
    }
}

// The scroll keys of the main window, typed with the focus on the view and on the toolbar.
TEST_F(KeyboardTest, ScrollKeysMoveLinesPagesAndToTheEnds) {
    const int bottom = View()->MaxTopRow();
    ASSERT_GT(bottom, 40);
    struct Case {
        int key;
        int modifiers;
        int topRow;
    };
    const Case cases[] = {
        {WXK_PAGEDOWN, wxMOD_NONE, 10}, {WXK_PAGEDOWN, wxMOD_NONE, 20}, {WXK_DOWN, wxMOD_NONE, 21},
        {WXK_UP, wxMOD_NONE, 20},       {WXK_PAGEUP, wxMOD_NONE, 10},   {WXK_END, wxMOD_CONTROL, bottom},
        {WXK_DOWN, wxMOD_NONE, bottom}, {WXK_HOME, wxMOD_CONTROL, 0},   {WXK_UP, wxMOD_NONE, 0},
    };
    for (wxWindow* focus : {static_cast<wxWindow*>(View()), static_cast<wxWindow*>(Frame()->GetToolBar())}) {
        View()->OnVScroll(ScrollCode::Top, 0);
        focus->SetFocus();
        PumpEvents(50);
        for (const Case& c : cases) {
            Type(c.key, c.modifiers);
            EXPECT_EQ(View()->TopRow(), c.topRow) << "key " << c.key << " focus " << focus->GetName();
            EXPECT_EQ(View()->ScrollBar()->GetThumbPosition(), View()->TopRow());
        }
    }
    // Keys that are no scroll key leave the dump; Ctrl+Page Down is not a page.
    View()->SetFocus();
    View()->OnVScroll(ScrollCode::PageDown, 0);
    Type(WXK_PAGEDOWN, wxMOD_CONTROL);
    Type(WXK_HOME, wxMOD_NONE);
    Type(WXK_END, wxMOD_SHIFT);
    EXPECT_EQ(View()->TopRow(), 10);
}

// The real message box as the user meets it: the icon of its kind (GTK's own dialog would show
// none), the caption, and the keys that answer it.
struct ShownBox {
    wxString caption;
    bool hasIcon = false;
    wxImage icon;
};

ShownBox InspectBoxAndType(int key) {
    ShownBox seen;
    wxGenericMessageDialog* box = nullptr;
    PumpUntil([&] {
        for (wxWindow* w : wxTopLevelWindows)
            if (auto* d = dynamic_cast<wxGenericMessageDialog*>(w); d && d->IsShownOnScreen())
                box = d;
        wxWindow* focus = wxWindow::FindFocus();
        return box && focus && wxGetTopLevelParent(focus) == box;
    });
    wxUIActionSimulator keyboard;
    if (!box) {
        ADD_FAILURE() << "no message box of the application on screen";
        keyboard.Char(WXK_ESCAPE); // whatever box there is
        return seen;
    }
    seen.caption = box->GetTitle();
    for (wxWindow* child : box->GetChildren())
        if (auto* picture = dynamic_cast<wxStaticBitmap*>(child)) {
            seen.hasIcon = true;
            seen.icon = picture->GetBitmap().ConvertToImage();
        }
    PumpEvents(100);
    keyboard.Char(key);
    return seen;
}

bool SameImage(const wxImage& a, const wxImage& b) {
    return a.IsOk() && b.IsOk() && a.GetSize() == b.GetSize() &&
           std::equal(a.GetData(), a.GetData() + a.GetWidth() * a.GetHeight() * 3, b.GetData());
}

TEST_F(KeyboardTest, MessageBoxesShowTheIconOfTheirKindAndAnswerKeys) {
    struct Case {
        const char* name;
        std::function<bool()> show; // true for Yes
        int key;
        long icon; // wxICON_ERROR, wxICON_INFORMATION, or 0 for none
        bool answer;
    };
    auto message = [this](AppIcon icon) {
        return [this, icon] {
            ShowAppMessage("Some Text", icon, Frame());
            return false;
        };
    };
    auto question = [this] { return AskAppYesNo("Write More Chips ?", Frame()); };
    const Case cases[] = {
        {"failure", message(AppIcon::Error), WXK_RETURN, wxICON_ERROR, false},
        {"result", message(AppIcon::Information), WXK_ESCAPE, wxICON_INFORMATION, false},
        {"plain", message(AppIcon::None), WXK_RETURN, 0, false},
        {"question, Enter", question, WXK_RETURN, 0, true},
        {"question, Escape", question, WXK_ESCAPE, 0, false},
    };
    for (const Case& c : cases) {
        ShownBox seen;
        CallAfterModal([&] { seen = InspectBoxAndType(c.key); });
        const bool answer = c.show();
        EXPECT_EQ(seen.caption, "Veltro 51") << c.name;
        EXPECT_EQ(answer, c.answer) << c.name;
        EXPECT_EQ(seen.hasIcon, c.icon != 0) << c.name;
        if (c.icon != 0) {
            EXPECT_TRUE(SameImage(seen.icon, wxArtProvider::GetMessageBoxIcon(c.icon).ConvertToImage()))
                << c.name << ": not the desktop's icon of its kind";
        }
    }
    // The two kinds look different.
    EXPECT_FALSE(SameImage(wxArtProvider::GetMessageBoxIcon(wxICON_ERROR).ConvertToImage(),
                           wxArtProvider::GetMessageBoxIcon(wxICON_INFORMATION).ConvertToImage()));
}

} // namespace
