#include "ui/MainFrame.h"

#include <wx/accel.h>
#include <wx/dcclient.h>
#include <wx/menu.h>
#include <wx/settings.h>
#include <wx/toolbar.h>

#include "chips/ChipCatalogue.h"
#include "res/AppMessages.h"
#include "ui/Help.h"
#include "res/Ids.h"
#include "ui/OstrelDoc.h"
#include "ui/OstrelView.h"
#include "res/Resources.h"

namespace {

struct CommandString {
    int id;
    CommandStrings strings;
};

// The prompts, tooltips and button texts of the commands; nullptr where a piece is absent.
const CommandString s_commandStrings[] = {
    {ID_OPEN_HEX_FILE, {"Opens an Intel HEX file.", "Open", nullptr}},
    {ID_FILE_SAVE, {"Save the loaded Firmware as Intel HEX File", "Save", nullptr}},
    {ID_RELOAD_FILES,
     {"Reloads the files from disk. Use this when files have changed.", "Reload Files", "Reload"}},
    {ID_WRITE_DEVICE, {"Writes the loaded HEX file to chip", "Write Device", "Write"}},
    {ID_READ_FLASH, {"Read the flash memory of chip", "Read Flash", "Read"}},
    {ID_LOCK_BITS, {"Allows you to program the lock bits of chip", "Set Lock Bits ...", "Lock Bits"}},
    {ID_HELP_INSTALLATION, {"How to install the hardware.", nullptr, nullptr}},
    {ID_HELP_INDEX, {"Shows the help file.", nullptr, nullptr}},
    {ID_HELP_TUTORIAL, {"Step by step tutorial on using the programmer.", nullptr, nullptr}},
    {ID_HELP_READING, {"How to read on chip data and save in hex file.", nullptr, nullptr}},
    {ID_PROGRAMMING_SPEED, {"Set the speed of programming.", nullptr, nullptr}},
    {ID_APP_ABOUT, {"Display program information, version number and copyright", nullptr, nullptr}},
    {ID_APP_EXIT, {"Quit the application", nullptr, nullptr}},
    {ID_VIEW_TOOLBAR, {"Show or hide the toolbar", nullptr, nullptr}},
    {ID_VIEW_STATUS_BAR, {"Show or hide the status bar", nullptr, nullptr}},
};

wxString Text(const char* s) {
    return s ? wxString::FromUTF8(s) : wxString();
}
wxString Prompt(int id) {
    return Text(CommandStringsOf(id).prompt);
}

// The toolbar's buttons in order; 0 marks a separator. Image k is the k-th button's picture.
const int s_toolButtons[] = {
    ID_OPEN_HEX_FILE, ID_FILE_SAVE, ID_RELOAD_FILES, 0, ID_WRITE_DEVICE, ID_READ_FLASH, 0, ID_LOCK_BITS};

constexpr const char* CHIP_PANE_INITIAL = "AT89S2051  ";
constexpr const char* SIZE_PANE_INITIAL = "12288 Bytes";

} // namespace

CommandStrings CommandStringsOf(int id) {
    for (const CommandString& entry : s_commandStrings)
        if (entry.id == id)
            return entry.strings;
    return {nullptr, nullptr, nullptr};
}

wxString ButtonTextOf(int id) {
    const CommandStrings s = CommandStringsOf(id);
    for (const char* piece : {s.buttonText, s.tooltip, s.prompt})
        if (piece && *piece)
            return Text(piece);
    return wxString();
}

CIndicatorStatusBar::CIndicatorStatusBar(wxWindow* parent, wxWindowID id) : wxStatusBar(parent, id) {}

void CIndicatorStatusBar::SetIndicators(const std::vector<int>& ids) {
    m_indicators = ids;
}

void CIndicatorStatusBar::UpdateWindowUI(long flags) {
    wxStatusBar::UpdateWindowUI(flags);
    wxWindow* frame = GetParent();
    if (!frame)
        return;
    for (size_t pane = 0; pane < m_indicators.size(); ++pane) {
        const int id = m_indicators[pane];
        if (id == 0)
            continue;
        wxUpdateUIEvent event(id);
        event.SetEventObject(this);
        if (frame->GetEventHandler()->ProcessEvent(event) && event.GetSetText() &&
            GetStatusText(static_cast<int>(pane)) != event.GetText())
            SetStatusText(event.GetText(), static_cast<int>(pane));
    }
}

CMainFrame::CMainFrame(COstrelDoc* doc)
    : wxFrame(nullptr, wxID_ANY, doc->Caption(), wxPoint(64, 64), wxSize(640, 480), wxDEFAULT_FRAME_STYLE,
              "CMainFrame"),
      m_doc(doc) {
    FillChipCatalogue();
    SetIcons(LoadApplicationIcons());
    BuildMenuBar();
    BuildAccelerators();
    m_view = new COstrelView(this, m_doc);
    SetSize(64, 64, 640, 480);
    CreateToolBarWithButtons();
    CreateIndicatorStatusBar();
    BuildChipMenu();
    m_doc->SetFrame(this);

    Bind(wxEVT_MENU, &CMainFrame::OnFileNew, this, ID_FILE_NEW);
    Bind(wxEVT_MENU, &CMainFrame::OnExit, this, ID_APP_EXIT);
    Bind(wxEVT_MENU, &CMainFrame::OnViewToolbar, this, ID_VIEW_TOOLBAR);
    Bind(wxEVT_MENU, &CMainFrame::OnViewStatusBar, this, ID_VIEW_STATUS_BAR);
    Bind(wxEVT_UPDATE_UI, &CMainFrame::OnUpdateViewToolbar, this, ID_VIEW_TOOLBAR);
    Bind(wxEVT_UPDATE_UI, &CMainFrame::OnUpdateViewStatusBar, this, ID_VIEW_STATUS_BAR);
    Bind(wxEVT_MENU, &CMainFrame::OnHelpInstallation, this, ID_HELP_INSTALLATION);
    Bind(wxEVT_MENU, &CMainFrame::OnHelpTutorial, this, ID_HELP_TUTORIAL);
    Bind(wxEVT_MENU, &CMainFrame::OnHelpTutorial, this, ID_HELP_INDEX);
    Bind(wxEVT_MENU, &CMainFrame::OnHelpReading, this, ID_HELP_READING);
    // The scroll keys work wherever the focus is in the main window (the view, the toolbar).
    Bind(wxEVT_CHAR_HOOK, [this](wxKeyEvent& event) {
        if (!m_view || !m_view->HandleScrollKey(event.GetKeyCode(), event.GetModifiers()))
            event.Skip();
    });
    m_view->SetFocus();
}

CMainFrame::~CMainFrame() {
    m_doc->SetFrame(nullptr);
}

void CMainFrame::BuildMenuBar() {
    auto* file = new wxMenu;
    file->Append(ID_OPEN_HEX_FILE, "&Open HEX File\tCtrl+O", Prompt(ID_OPEN_HEX_FILE));
    file->Append(ID_FILE_SAVE, "&Save\tCtrl+S", Prompt(ID_FILE_SAVE));
    file->AppendSeparator();
    file->Append(ID_RELOAD_FILES, "Reload Files\tCtrl+R", Prompt(ID_RELOAD_FILES));
    file->AppendSeparator();
    file->Append(ID_APP_EXIT, "E&xit", Prompt(ID_APP_EXIT));

    auto* view = new wxMenu;
    view->AppendCheckItem(ID_VIEW_TOOLBAR, "&Toolbar", Prompt(ID_VIEW_TOOLBAR));
    view->AppendCheckItem(ID_VIEW_STATUS_BAR, "&Status Bar", Prompt(ID_VIEW_STATUS_BAR));

    auto* command = new wxMenu;
    command->Append(ID_READ_FLASH, "Read Flash", Prompt(ID_READ_FLASH));
    command->Append(ID_WRITE_DEVICE, "Write Device", Prompt(ID_WRITE_DEVICE));
    command->AppendSeparator();
    command->Append(ID_LOCK_BITS, "Set Lock Bits ...", Prompt(ID_LOCK_BITS));

    auto* chip = new wxMenu;
    chip->Append(ID_CHIP_DUMMY, "DUMMY");

    auto* settings = new wxMenu;
    settings->Append(ID_PROGRAMMING_SPEED, "Programming Speed", Prompt(ID_PROGRAMMING_SPEED));

    auto* help = new wxMenu;
    help->Append(ID_HELP_INSTALLATION, "Installation", Prompt(ID_HELP_INSTALLATION));
    help->Append(ID_HELP_TUTORIAL, "Tutorial", Prompt(ID_HELP_TUTORIAL));
    help->Append(ID_HELP_READING, "Reading On Chip Data", Prompt(ID_HELP_READING));
    help->Append(ID_HELP_INDEX, "Help Index", Prompt(ID_HELP_INDEX));
    help->AppendSeparator();
    help->Append(ID_APP_ABOUT, "&About Veltro 51", Prompt(ID_APP_ABOUT));

    auto* bar = new wxMenuBar;
    bar->Append(file, "&File");
    bar->Append(view, "&View");
    bar->Append(command, "Command");
    bar->Append(chip, "Chip");
    bar->Append(settings, "Settings");
    bar->Append(help, "&Help");
    SetMenuBar(bar);
}

void CMainFrame::BuildAccelerators() {
    // The typed characters "<" and ">" are not here: the key that types them differs between keyboard
    // maps, so the application's event filter compares the typed character instead. Ctrl+O runs Open
    // HEX File, as the menu shows.
    wxAcceleratorEntry entries[] = {
        {wxACCEL_CTRL, 'C', ID_EDIT_COPY},        {wxACCEL_CTRL, 'N', ID_FILE_NEW},
        {wxACCEL_CTRL, 'O', ID_OPEN_HEX_FILE},    {wxACCEL_CTRL, 'R', ID_RELOAD_FILES},
        {wxACCEL_CTRL, 'S', ID_FILE_SAVE},        {wxACCEL_CTRL, 'V', ID_EDIT_PASTE},
        {wxACCEL_ALT, WXK_BACK, ID_EDIT_UNDO},    {wxACCEL_SHIFT, WXK_DELETE, ID_EDIT_CUT},
        {wxACCEL_NORMAL, WXK_F6, ID_NEXT_PANE},   {wxACCEL_SHIFT, WXK_F6, ID_PREV_PANE},
        {wxACCEL_CTRL, WXK_INSERT, ID_EDIT_COPY}, {wxACCEL_SHIFT, WXK_INSERT, ID_EDIT_PASTE},
        {wxACCEL_CTRL, 'X', ID_EDIT_CUT},         {wxACCEL_CTRL, 'Z', ID_EDIT_UNDO},
    };
    SetAcceleratorTable(wxAcceleratorTable(static_cast<int>(std::size(entries)), entries));
}

bool CMainFrame::CreateToolBarWithButtons() {
    m_toolBar = CreateToolBar(wxTB_HORIZONTAL | wxTB_FLAT | wxTB_TEXT, ID_VIEW_TOOLBAR);
    if (!m_toolBar)
        return false;
    m_toolBar->SetToolBitmapSize(wxSize(32, 32));
    // Magenta areas are the toolbar's own: transparent, so the toolbar's background (of any theme,
    // and of a button under the pointer) shows through, and of the toolbar's colour where a picture
    // is drawn without its alpha.
    const wxColour face = m_toolBar->GetBackgroundColour();
    wxImage strip = LoadResourceImage(IDB_TOOLBAR);
    if (strip.IsOk()) {
        strip.SetMaskColour(255, 0, 255);
        strip.InitAlpha();
        MapMagentaTo(strip, face);
    }
    int image = 0;
    for (const int id : s_toolButtons) {
        if (id == 0) {
            m_toolBar->AddSeparator();
            continue;
        }
        wxBitmap picture;
        if (strip.IsOk() && strip.GetWidth() >= (image + 1) * 32 && strip.GetHeight() >= 32)
            picture = wxBitmap(strip.GetSubImage(wxRect(image * 32, 0, 32, 32)));
        if (!picture.IsOk()) {
            wxImage blank(32, 32);
            blank.SetRGB(wxRect(0, 0, 32, 32), face.Red(), face.Green(), face.Blue());
            picture = wxBitmap(blank);
        }
        ++image;
        const CommandStrings s = CommandStringsOf(id);
        m_toolBar->AddTool(id, ButtonTextOf(id), picture, Text(s.tooltip), wxITEM_NORMAL);
        m_toolBar->SetToolLongHelp(id, Text(s.prompt));
    }
    m_toolBar->Realize();
    return true;
}

bool CMainFrame::CreateIndicatorStatusBar() {
    m_statusBar = new CIndicatorStatusBar(this, ID_VIEW_STATUS_BAR);
    SetStatusBar(m_statusBar);
    // The indicator panes are as wide as their initial texts, which fit the longest chip name and
    // the largest flash size.
    wxClientDC dc(m_statusBar);
    dc.SetFont(m_statusBar->GetFont());
    const int margin = 28; // GTK's padding around a pane's text
    const int widths[] = {-1, dc.GetTextExtent(CHIP_PANE_INITIAL).x + margin,
                          dc.GetTextExtent(SIZE_PANE_INITIAL).x + margin};
    m_statusBar->SetFieldsCount(3, widths);
    m_statusBar->SetIndicators({0, ID_INDICATOR_CHIP, ID_INDICATOR_SIZE});
    m_statusBar->SetStatusText("Ready", 0);
    m_statusBar->SetStatusText(CHIP_PANE_INITIAL, 1);
    m_statusBar->SetStatusText(SIZE_PANE_INITIAL, 2);
    SetStatusBarPane(0);
    return true;
}

void CMainFrame::BuildChipMenu() {
    wxMenuBar* bar = GetMenuBar();
    if (!bar) {
        ShowAppMessage("Cannot Get Main Menu !", AppIcon::None, this);
        return;
    }
    wxMenu* chip = bar->GetMenuCount() > 3 ? bar->GetMenu(3) : nullptr;
    if (!chip) {
        ShowAppMessage("Cannot Get Chip Menu !", AppIcon::None, this);
        return;
    }
    if (chip->GetMenuItemCount() > 0)
        chip->Destroy(chip->FindItemByPosition(0));
    for (int i = 0; i < CHIP_COUNT; ++i)
        chip->AppendCheckItem(ID_CHIP_FIRST + i,
                              wxString::FromUTF8(g_chipCatalogue[static_cast<size_t>(i)].name));
}

bool CMainFrame::TryBefore(wxEvent& event) {
    // The view handles almost every command and the indicator panes' updates: offer them to it first,
    // as a document frame routes commands to its active view.
    const wxEventType type = event.GetEventType();
    if (m_view && !m_forwarding && (type == wxEVT_MENU || type == wxEVT_UPDATE_UI)) {
        m_forwarding = true;
        const bool handled = m_view->GetEventHandler()->ProcessEventLocally(event);
        m_forwarding = false;
        if (handled)
            return true;
    }
    return wxFrame::TryBefore(event);
}

void CMainFrame::OnFileNew(wxCommandEvent&) {
    m_doc->OnNewDocument();
}

void CMainFrame::OnExit(wxCommandEvent&) {
    Close();
}

void CMainFrame::OnViewToolbar(wxCommandEvent&) {
    if (!m_toolBar)
        return;
    m_toolBar->Show(!m_toolBar->IsShown());
    SendSizeEvent();
}

void CMainFrame::OnViewStatusBar(wxCommandEvent&) {
    if (!m_statusBar)
        return;
    m_statusBar->Show(!m_statusBar->IsShown());
    SendSizeEvent();
}

void CMainFrame::OnUpdateViewToolbar(wxUpdateUIEvent& event) {
    event.Check(m_toolBar && m_toolBar->IsShown());
}

void CMainFrame::OnUpdateViewStatusBar(wxUpdateUIEvent& event) {
    event.Check(m_statusBar && m_statusBar->IsShown());
}

void CMainFrame::OnHelpInstallation(wxCommandEvent&) {
    OpenHelpPage(HELP_INSTALLATION, this);
}
void CMainFrame::OnHelpTutorial(wxCommandEvent&) {
    OpenHelpPage(HELP_TUTORIAL, this);
}
void CMainFrame::OnHelpReading(wxCommandEvent&) {
    OpenHelpPage(HELP_READING, this);
}
