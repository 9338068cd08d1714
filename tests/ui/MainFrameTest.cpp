// The main window: caption, geometry, menus, toolbar, status panes, chip commands and keys.
#include <wx/menu.h>
#include <wx/scrolbar.h>
#include <wx/settings.h>
#include <wx/toolbar.h>

#include "chips/ChipCatalogue.h"
#include "ops/dlg/DeviceCommands.h"
#include "tests/ui/UiTestSupport.h"
#include "res/Ids.h"
#include "ui/MainFrame.h"
#include "ui/OstrelDoc.h"
#include "ui/OstrelView.h"

namespace {

class MainFrameTest : public CAppFixture {
protected:
    // Records the commands that reach the view, before the view's own handlers (which run after).
    void WatchCommands() {
        View()->Bind(wxEVT_MENU, [this](wxCommandEvent& event) {
            m_commands.push_back(event.GetId());
            if (!IsDeviceCommand(event.GetId())) // their modal dialogs have tests of their own
                event.Skip();
        });
    }
    void UpdateUI() {
        Frame()->UpdateWindowUI(wxUPDATE_UI_RECURSE);
        for (size_t i = 0; i < Frame()->GetMenuBar()->GetMenuCount(); ++i)
            Frame()->GetMenuBar()->GetMenu(i)->UpdateUI(Frame());
    }
    std::vector<int> m_commands;
};

struct MenuEntry {
    int id; // 0: separator
    const char* label;
    const char* help;
};

struct MenuLayout {
    const char* title;
    std::vector<MenuEntry> items;
};

TEST_F(MainFrameTest, StartsUntitledAt64x64With640x480) {
    EXPECT_EQ(Frame()->GetTitle(), "Untitled - Veltro 51");
    EXPECT_EQ(Frame()->GetPosition(), wxPoint(64, 64));
    EXPECT_EQ(Frame()->GetSize(), wxSize(640, 480));
    EXPECT_EQ(Frame()->GetStatusBar()->GetStatusText(0), "Ready");
}

TEST_F(MainFrameTest, MenusHaveTheirItemsInOrder) {
    const std::vector<MenuLayout> menus = {
        {"&File",
         {{ID_OPEN_HEX_FILE, "&Open HEX File\tCtrl+O", "Opens an Intel HEX file."},
          {ID_FILE_SAVE, "&Save\tCtrl+S", "Save the loaded Firmware as Intel HEX File"},
          {0, "", ""},
          {ID_RELOAD_FILES, "Reload Files\tCtrl+R",
           "Reloads the files from disk. Use this when files have changed."},
          {0, "", ""},
          {ID_APP_EXIT, "E&xit", "Quit the application"}}},
        {"&View", {{ID_VIEW_TOOLBAR, "&Toolbar", nullptr}, {ID_VIEW_STATUS_BAR, "&Status Bar", nullptr}}},
        {"Command",
         {{ID_READ_FLASH, "Read Flash", "Read the flash memory of chip"},
          {ID_WRITE_DEVICE, "Write Device", "Writes the loaded HEX file to chip"},
          {0, "", ""},
          {ID_LOCK_BITS, "Set Lock Bits ...", "Allows you to program the lock bits of chip"}}},
        {"Chip",
         {{36865, "AT89S2051", ""},
          {36866, "AT89S4051", ""},
          {36867, "AT89S51", ""},
          {36868, "AT89S52", ""},
          {36869, "AT89S8253", ""}}},
        {"Settings", {{ID_PROGRAMMING_SPEED, "Programming Speed", "Set the speed of programming."}}},
        {"&Help",
         {{ID_HELP_INSTALLATION, "Installation", "How to install the hardware."},
          {ID_HELP_TUTORIAL, "Tutorial", "Step by step tutorial on using the programmer."},
          {ID_HELP_READING, "Reading On Chip Data", "How to read on chip data and save in hex file."},
          {ID_HELP_INDEX, "Help Index", "Shows the help file."},
          {0, "", ""},
          {ID_APP_ABOUT, "&About Veltro 51", "Display program information, version number and copyright"}}},
    };
    wxMenuBar* bar = Frame()->GetMenuBar();
    ASSERT_EQ(bar->GetMenuCount(), menus.size());
    for (size_t m = 0; m < menus.size(); ++m) {
        SCOPED_TRACE(menus[m].title);
        EXPECT_EQ(bar->GetMenuLabel(m), menus[m].title);
        wxMenu* menu = bar->GetMenu(m);
        ASSERT_EQ(menu->GetMenuItemCount(), menus[m].items.size());
        for (size_t i = 0; i < menus[m].items.size(); ++i) {
            const MenuEntry& want = menus[m].items[i];
            const wxMenuItem* item = menu->FindItemByPosition(i);
            if (want.id == 0) {
                EXPECT_TRUE(item->IsSeparator()) << "position " << i;
                continue;
            }
            EXPECT_EQ(item->GetId(), want.id);
            EXPECT_EQ(item->GetItemLabel(), want.label);
            if (want.help) {
                EXPECT_EQ(item->GetHelp(), want.help);
            }
            EXPECT_TRUE(item->IsEnabled());
        }
    }
}

TEST_F(MainFrameTest, ToolbarHasSixLabelledButtonsInThreeGroups) {
    struct Tool {
        int id; // 0: separator
        const char* label;
        const char* tooltip;
        const char* prompt;
    };
    const Tool tools[] = {
        {ID_OPEN_HEX_FILE, "Open", "Open", "Opens an Intel HEX file."},
        {ID_FILE_SAVE, "Save", "Save", "Save the loaded Firmware as Intel HEX File"},
        {ID_RELOAD_FILES, "Reload", "Reload Files",
         "Reloads the files from disk. Use this when files have changed."},
        {0, "", "", ""},
        {ID_WRITE_DEVICE, "Write", "Write Device", "Writes the loaded HEX file to chip"},
        {ID_READ_FLASH, "Read", "Read Flash", "Read the flash memory of chip"},
        {0, "", "", ""},
        {ID_LOCK_BITS, "Lock Bits", "Set Lock Bits ...", "Allows you to program the lock bits of chip"},
    };
    wxToolBar* bar = Frame()->GetToolBar();
    ASSERT_TRUE(bar);
    EXPECT_EQ(bar->GetId(), ID_VIEW_TOOLBAR);
    EXPECT_TRUE(bar->HasFlag(wxTB_TEXT));
    EXPECT_EQ(bar->GetToolBitmapSize(), wxSize(32, 32));
    ASSERT_EQ(bar->GetToolsCount(), std::size(tools));
    const wxColour face = bar->GetBackgroundColour();
    for (size_t i = 0; i < std::size(tools); ++i) {
        const wxToolBarToolBase* tool = bar->GetToolByPos(static_cast<int>(i));
        SCOPED_TRACE(i);
        if (tools[i].id == 0) {
            EXPECT_TRUE(tool->IsSeparator());
            continue;
        }
        EXPECT_EQ(tool->GetId(), tools[i].id);
        EXPECT_EQ(tool->GetLabel(), tools[i].label);
        EXPECT_EQ(tool->GetShortHelp(), tools[i].tooltip);
        EXPECT_EQ(tool->GetLongHelp(), tools[i].prompt);
        EXPECT_TRUE(tool->IsEnabled());
        const wxBitmap bitmap = tool->GetNormalBitmap();
        ASSERT_TRUE(bitmap.IsOk());
        EXPECT_EQ(bitmap.GetSize(), wxSize(32, 32));
        // The pictures' backgrounds are magenta in the resource and the toolbar's own here:
        // transparent, of the toolbar's colour; the pictures themselves are opaque.
        const wxImage image = bitmap.ConvertToImage();
        EXPECT_EQ(wxColour(image.GetRed(0, 31), image.GetGreen(0, 31), image.GetBlue(0, 31)), face);
        ASSERT_TRUE(image.HasAlpha());
        EXPECT_EQ(image.GetAlpha(0, 31), 0);
        int opaque = 0;
        for (int y = 0; y < 32; ++y)
            for (int x = 0; x < 32; ++x)
                opaque += image.GetAlpha(x, y) == 255;
        EXPECT_GT(opaque, 100);
        for (int y = 0; y < 32; ++y)
            for (int x = 0; x < 32; ++x)
                ASSERT_FALSE(image.GetRed(x, y) == 255 && image.GetGreen(x, y) == 0 &&
                             image.GetBlue(x, y) == 255);
    }
}

TEST_F(MainFrameTest, ToolbarButtonsRunTheViewsCommands) {
    WatchCommands();
    CScriptedChoosers choosers; // Open and Save are cancelled
    for (int id :
         {ID_OPEN_HEX_FILE, ID_FILE_SAVE, ID_RELOAD_FILES, ID_WRITE_DEVICE, ID_READ_FLASH, ID_LOCK_BITS}) {
        wxCommandEvent click(wxEVT_TOOL, id);
        click.SetEventObject(Frame()->GetToolBar());
        Frame()->GetToolBar()->ProcessWindowEvent(click);
    }
    EXPECT_EQ(m_commands, (std::vector<int>{ID_OPEN_HEX_FILE, ID_FILE_SAVE, ID_RELOAD_FILES, ID_WRITE_DEVICE,
                                            ID_READ_FLASH, ID_LOCK_BITS}));
    EXPECT_EQ(choosers.openRequests.size(), 1u);
    EXPECT_EQ(choosers.saveRequests.size(), 1u);
}

TEST_F(MainFrameTest, EachChipCommandMovesCheckMarkPanesAndBound) {
    wxMenuBar* bar = Frame()->GetMenuBar();
    UpdateUI();
    EXPECT_TRUE(bar->IsChecked(ID_CHIP_FIRST)) << "first run selects the AT89S2051";
    EXPECT_EQ(Frame()->GetStatusBar()->GetStatusText(1), "AT89S2051");
    EXPECT_EQ(Frame()->GetStatusBar()->GetStatusText(2), "2048 Bytes");

    const struct {
        int index;
        const char* name;
        const char* size;
        int rows;
    } chips[] = {{4, "AT89S8253", "12288 Bytes", 768}, {2, "AT89S51", "4096 Bytes", 256},
                 {3, "AT89S52", "8192 Bytes", 512},    {1, "AT89S4051", "4096 Bytes", 256},
                 {0, "AT89S2051", "2048 Bytes", 128},  {0, "AT89S2051", "2048 Bytes", 128}};
    for (const auto& chip : chips) {
        SCOPED_TRACE(chip.name);
        View()->OnVScroll(ScrollCode::Bottom, 0);
        wxCommandEvent command(wxEVT_MENU, ID_CHIP_FIRST + chip.index);
        Frame()->ProcessWindowEvent(command);
        UpdateUI();
        EXPECT_EQ(g_selectedChip, chip.index);
        for (int i = 0; i < CHIP_COUNT; ++i)
            EXPECT_EQ(bar->IsChecked(ID_CHIP_FIRST + i), i == chip.index) << "item " << i;
        EXPECT_EQ(Frame()->GetStatusBar()->GetStatusText(1), chip.name);
        EXPECT_EQ(Frame()->GetStatusBar()->GetStatusText(2), chip.size);
        EXPECT_EQ(View()->Buffer().m_imageSize, chip.rows * 16);
        EXPECT_EQ(View()->TotalRows(), chip.rows);
        EXPECT_EQ(View()->TopRow(), 0) << "a chip command scrolls back to the top";
        EXPECT_EQ(View()->ScrollBar()->GetThumbPosition(), 0);
        EXPECT_EQ(View()->MaxTopRow(), std::max(0, chip.rows - View()->VisibleRows()));
    }
}

TEST_F(MainFrameTest, ChipChangeKeepsBytesBeyondASmallerBound) {
    auto chip = [this](int index) {
        wxCommandEvent command(wxEVT_MENU, ID_CHIP_FIRST + index);
        Frame()->ProcessWindowEvent(command);
    };
    chip(3);
    View()->Buffer().m_image[8000] = 0x12;
    chip(2);
    EXPECT_EQ(View()->Buffer().m_imageSize, 4096);
    chip(3);
    EXPECT_EQ(View()->Buffer().m_image[8000], 0x12);
}

TEST_F(MainFrameTest, ViewTogglesHideAndShowTheBars) {
    wxMenuBar* bar = Frame()->GetMenuBar();
    for (const int id : {ID_VIEW_TOOLBAR, ID_VIEW_STATUS_BAR}) {
        SCOPED_TRACE(id);
        wxWindow* window = id == ID_VIEW_TOOLBAR ? static_cast<wxWindow*>(Frame()->GetToolBar())
                                                 : static_cast<wxWindow*>(Frame()->GetStatusBar());
        UpdateUI();
        EXPECT_TRUE(bar->IsChecked(id));
        const int height = View()->GetClientSize().y;
        wxCommandEvent toggle(wxEVT_MENU, id);
        Frame()->ProcessWindowEvent(toggle);
        PumpUntil([&] { return View()->GetClientSize().y > height; });
        UpdateUI();
        EXPECT_FALSE(window->IsShown());
        EXPECT_FALSE(bar->IsChecked(id));
        EXPECT_GT(View()->GetClientSize().y, height) << "the view takes the bar's height";
        Frame()->ProcessWindowEvent(toggle);
        PumpUntil([&] { return View()->GetClientSize().y == height; });
        UpdateUI();
        EXPECT_TRUE(window->IsShown());
        EXPECT_TRUE(bar->IsChecked(id));
        EXPECT_EQ(View()->GetClientSize().y, height);
    }
}

TEST_F(MainFrameTest, StatusPromptsFollowTheHighlightedItemAndReadyReturns) {
    wxStatusBar* status = Frame()->GetStatusBar();
    auto highlight = [&](int id) {
        wxMenuEvent event(wxEVT_MENU_HIGHLIGHT, id);
        event.SetEventObject(Frame());
        Frame()->ProcessWindowEvent(event);
    };
    highlight(ID_HELP_READING);
    EXPECT_EQ(status->GetStatusText(0), "How to read on chip data and save in hex file.");
    highlight(ID_CHIP_FIRST + 2);
    EXPECT_EQ(status->GetStatusText(0), "") << "the chip items have no prompt";
    wxMenuEvent close(wxEVT_MENU_CLOSE, wxID_ANY, Frame()->GetMenuBar()->GetMenu(5));
    close.SetEventObject(Frame());
    Frame()->ProcessWindowEvent(close);
    EXPECT_EQ(status->GetStatusText(0), "Ready");

    Frame()->GetToolBar()->OnMouseEnter(ID_RELOAD_FILES);
    EXPECT_EQ(status->GetStatusText(0), "Reloads the files from disk. Use this when files have changed.");
    Frame()->GetToolBar()->OnMouseEnter(wxID_ANY);
    EXPECT_EQ(status->GetStatusText(0), "Ready");
}

TEST_F(MainFrameTest, NewOnlyResetsTheCaption) {
    Frame()->Document()->SetTitle("firmware.hex");
    View()->Buffer().m_image[0] = 0x02;
    wxCommandEvent command(wxEVT_MENU, ID_FILE_NEW);
    Frame()->ProcessWindowEvent(command);
    EXPECT_EQ(Frame()->GetTitle(), "Untitled - Veltro 51");
    EXPECT_EQ(View()->Buffer().m_image[0], 0x02);
}

} // namespace
