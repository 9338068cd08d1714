#pragma once
// The main window: menu bar, accelerators, toolbar, status bar and the hex view in its client area.
// Menu, tool and update-UI events go to the view first, then to the frame. User-interface thread only.

#include <vector>

#include <wx/frame.h>
#include <wx/statusbr.h>

class COstrelDoc;
class COstrelView;
class wxToolBar;

// A status bar whose indicator panes are kept current by update-UI handlers: on every UI update it
// asks its frame for the text of each indicator id and shows what the handler set.
class CIndicatorStatusBar : public wxStatusBar {
public:
    CIndicatorStatusBar(wxWindow* parent, wxWindowID id);
    // ids[k] is the indicator of pane k; 0 marks a pane the frame writes itself (the prompt pane).
    void SetIndicators(const std::vector<int>& ids);
    void UpdateWindowUI(long flags = wxUPDATE_UI_NONE) override;

private:
    std::vector<int> m_indicators;
};

class CMainFrame : public wxFrame {
public:
    // Builds the whole window, with the document's view; not yet shown.
    explicit CMainFrame(COstrelDoc* doc);
    ~CMainFrame() override;

    COstrelView* View() const { return m_view; }
    COstrelDoc* Document() const { return m_doc; }
    CIndicatorStatusBar* IndicatorStatusBar() const { return m_statusBar; }

    void OnHelpInstallation(wxCommandEvent& event);
    void OnHelpTutorial(wxCommandEvent& event);
    void OnHelpReading(wxCommandEvent& event);

protected:
    bool TryBefore(wxEvent& event) override;

private:
    void BuildMenuBar();
    void BuildAccelerators();
    bool CreateToolBarWithButtons();
    bool CreateIndicatorStatusBar();
    void BuildChipMenu();

    void OnFileNew(wxCommandEvent& event);
    void OnExit(wxCommandEvent& event);
    void OnViewToolbar(wxCommandEvent& event);
    void OnViewStatusBar(wxCommandEvent& event);
    void OnUpdateViewToolbar(wxUpdateUIEvent& event);
    void OnUpdateViewStatusBar(wxUpdateUIEvent& event);

    CIndicatorStatusBar* m_statusBar = nullptr;
    wxToolBar* m_toolBar = nullptr;
    COstrelView* m_view = nullptr;
    COstrelDoc* m_doc;
    bool m_forwarding = false;
};

// The texts of one command as the resource string holds them: "prompt\ntooltip[\nbutton text]".
struct CommandStrings {
    const char* prompt;
    const char* tooltip;
    const char* buttonText;
};
// The strings of a command id; all empty for an id without strings.
CommandStrings CommandStringsOf(int id);
// The last non-empty piece of a newline-separated string resource: the toolbar button's text.
wxString ButtonTextOf(int id);
