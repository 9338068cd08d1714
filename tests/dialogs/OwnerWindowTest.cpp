// Every window the program opens over the main window names its owner (WM_TRANSIENT_FOR under X11;
// GTK hands a Wayland compositor the same parent), so that the window manager opens it over that
// owner and keeps it there: the device dialogs, the About box, the file dialogs and the real message
// boxes, also those made without a parent and those over a device dialog.
#include <algorithm>
#include <string>
#include <typeinfo>
#include <utility>
#include <vector>

#include <wx/filedlg.h>
#include <wx/msgdlg.h> // before the generic dialog's header, which needs its base
#include <wx/generic/msgdlgg.h>

#include "chips/ChipCatalogue.h"
#include "ops/Texts.h"
#include "ops/dlg/BurnDlg.h"
#include "ops/dlg/LockBitsDlg.h"
#include "ops/dlg/ReadFlashDlg.h"
#include "ops/dlg/SpeedDlg.h"
#include "res/Ids.h"
#include "tests/dialogs/DialogTestSupport.h"
#include "ui/AboutDlg.h"
#include "ui/MainFrame.h"
#include "ui/OstrelView.h"

namespace {

constexpr int AT89S52 = 3;

// A window as the test names it.
std::string KindOf(wxWindow* window, wxWindow* mainWindow) {
    if (!window)
        return "no owner";
    if (window == mainWindow)
        return "main window";
    if (dynamic_cast<CBurnDlg*>(window))
        return "burn dialog";
    if (dynamic_cast<CReadFlashDlg*>(window))
        return "Read Flash dialog";
    if (dynamic_cast<CLockBitsDlg*>(window))
        return "Lock Bits dialog";
    if (dynamic_cast<CSpeedDlg*>(window))
        return "Programming Speed dialog";
    if (dynamic_cast<CAboutDlg*>(window))
        return "About box";
    if (dynamic_cast<wxFileDialog*>(window))
        return "file dialog";
    if (auto* box = dynamic_cast<wxGenericMessageDialog*>(window))
        return "box \"" + box->GetMessage().utf8_string() + "\"";
    return typeid(*window).name();
}

// Watches the display while the commands run: each modal window, once on the screen, is recorded
// with the owner its X window names, then ended as a user would (a device dialog once its Close is
// enabled; a box by OK or No; any other by Cancel).
class COwnerWatch : public wxTimer {
public:
    explicit COwnerWatch(wxWindow* mainWindow) : m_mainWindow(mainWindow) { Start(10); }
    ~COwnerWatch() override { Stop(); }
    std::vector<std::pair<std::string, std::string>> seen; // window, its owner
    // GTK's own dialogs (the file chooser) are no top-level windows of the toolkit's list.
    void Watch(wxDialog* dialog) { m_unlisted.push_back(dialog); }

    void Notify() override {
        std::vector<wxWindow*> shown;
        std::vector<wxWindow*> windows(wxTopLevelWindows.begin(), wxTopLevelWindows.end());
        windows.insert(windows.end(), m_unlisted.begin(), m_unlisted.end());
        for (wxWindow* window : windows)
            if (auto* dialog = dynamic_cast<wxDialog*>(window);
                dialog && dialog->IsModal() && dialog->IsShownOnScreen())
                shown.push_back(dialog);
        for (wxWindow* window : shown)
            if (std::find(m_known.begin(), m_known.end(), window) == m_known.end())
                seen.emplace_back(KindOf(window, m_mainWindow),
                                  KindOf(TransientOwnerOf(window), m_mainWindow));
        m_known = shown;
        // The newest first: a box over a device dialog ends before the dialog can.
        for (auto it = shown.rbegin(); it != shown.rend(); ++it)
            if (End(static_cast<wxDialog*>(*it)))
                return;
    }

private:
    static bool End(wxDialog* dialog) {
        const int close = dynamic_cast<CBurnDlg*>(dialog)        ? IDC_BURN_CLOSE
                          : dynamic_cast<CReadFlashDlg*>(dialog) ? IDC_READ_CLOSE
                                                                 : 0;
        if (close) {
            if (!IsEnabled(dialog, close))
                return false;
            ClickButton(dialog, close);
            return true;
        }
        if (auto* box = dynamic_cast<wxGenericMessageDialog*>(dialog))
            box->EndModal(box->GetMessageDialogStyle() & wxYES_NO ? wxID_NO : wxID_OK);
        else
            dialog->EndModal(wxID_CANCEL);
        return true;
    }

    wxWindow* m_mainWindow;
    std::vector<wxWindow*> m_known;
    std::vector<wxWindow*> m_unlisted;
};

class OwnerWindowTest : public CDeviceDialogFixture {
protected:
    void SetUp() override {
        CDeviceDialogFixture::SetUp();
        sim::DeviceConfig config;
        config.chip = AT89S52;
        m_bus.Add(config);
        SelectChip(AT89S52);
        // The real boxes, not the script's.
        m_scriptHook = SetMessageBoxHook({});
    }
    void TearDown() override {
        SetMessageBoxHook(m_scriptHook);
        CDeviceDialogFixture::TearDown();
    }
    MessageBoxHook m_scriptHook;
};

TEST_F(OwnerWindowTest, EveryDialogAndBoxOpensOverItsOwner) {
    using Seen = std::vector<std::pair<std::string, std::string>>;
    struct Case {
        const char* what;
        std::function<void(COwnerWatch&)> open;
        Seen expected;
    };
    const Case cases[] = {
        {"About", [this](COwnerWatch&) { Command(ID_APP_ABOUT); }, {{"About box", "main window"}}},
        {"Set Lock Bits",
         [this](COwnerWatch&) { Command(ID_LOCK_BITS); },
         {{"Lock Bits dialog", "main window"}}},
        {"Programming Speed",
         [this](COwnerWatch&) { Command(ID_PROGRAMMING_SPEED); },
         {{"Programming Speed dialog", "main window"}}},
        {"Read Flash",
         [this](COwnerWatch&) { Command(ID_READ_FLASH); },
         {{"Read Flash dialog", "main window"},
          {"box \"" + std::string(MSG_READ_SUCCESS) + "\"", "main window"}}},
        {"Write Device",
         [this](COwnerWatch&) { Command(ID_WRITE_DEVICE); },
         {{"burn dialog", "main window"}, {"box \"" + std::string(ASK_WRITE_MORE) + "\"", "burn dialog"}}},
        {"a box without a parent",
         [](COwnerWatch&) { ShowAppMessage("No parent", AppIcon::Error); },
         {{"box \"No parent\"", "main window"}}},
        {"a box over the view",
         [this](COwnerWatch&) { AskAppYesNo("Over the view", View()); },
         {{"box \"Over the view\"", "main window"}}},
        {"Open",
         [this](COwnerWatch& watch) {
             const FileChooserRequest request{View(),       "Intel HEX files (*.hex)|*.hex", {}, {}, false,
                                              MakeTempDir()};
             const auto dialog = MakeFileDialog(request, wxFD_OPEN);
             watch.Watch(dialog.get());
             dialog->ShowModal();
         },
         {{"file dialog", "main window"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        COwnerWatch watch(Frame());
        c.open(watch);
        EXPECT_EQ(watch.seen, c.expected);
    }
}

} // namespace
