#include "ops/dlg/WorkerDlg.h"

#include <wx/button.h>

#include "ops/dlg/AppMessagePort.h"

CWorkerDlg::CWorkerDlg(wxWindow* parent, const wxString& caption, std::atomic<int32_t>& abort)
    : wxDialog(parent, wxID_ANY, caption, wxDefaultPosition, wxDefaultSize, wxCAPTION), m_abortFlag(abort),
      m_pThread(std::make_unique<CWorkerThread>(*this)) {
    // Neither Escape nor the window's closing may end the dialog while the worker runs.
    SetEscapeId(wxID_NONE);
    Bind(wxEVT_CHAR_HOOK, &CWorkerDlg::OnCharHook, this);
    Bind(wxEVT_CLOSE_WINDOW, &CWorkerDlg::OnCloseWindow, this);
}

CWorkerDlg::~CWorkerDlg() {
    ShutdownWorker();
}

void CWorkerDlg::ShutdownWorker() {
    if (!m_pThread->Ended())
        m_abortFlag = 1;
    m_pThread->Shutdown();
}

void CWorkerDlg::ShowMessageFromWorker(const std::string& text, MsgIcon icon) {
    Ask(
        [this, text, icon] {
            ShowOperationMessage(text, icon, this);
            return true;
        },
        true);
}

void CWorkerDlg::RunAbort(const std::function<void()>& wait) {
    if (m_inAbort)
        return;
    m_inAbort = true;
    wait();
    m_inAbort = false;
}

void CWorkerDlg::ShutCloseGate() {
    m_closeOpen = false;
    if (m_closeButton)
        m_closeButton->Disable();
}

void CWorkerDlg::OpenCloseGate() {
    m_closeOpen = true;
    if (m_closeButton)
        m_closeButton->Enable();
}

bool CWorkerDlg::CloseAllowed() const {
    return m_closeButton != nullptr && m_closeOpen && !m_inAbort;
}

void CWorkerDlg::SetCloseButton(wxButton* close) {
    m_closeButton = close;
    // The default button: Enter presses it once it is enabled.
    close->SetDefault();
    Bind(wxEVT_BUTTON, &CWorkerDlg::OnCloseButton, this, close->GetId());
}

void CWorkerDlg::OnCloseButton(wxCommandEvent&) {
    // The wait of an Abort serves user input too: a Close clicked then does nothing, since the
    // Abort handler still has its rows to add.
    if (CloseAllowed())
        EndWithClose();
}

void CWorkerDlg::OnCharHook(wxKeyEvent& event) {
    if (event.GetKeyCode() == WXK_ESCAPE) {
        // Escape is Close once Close is available, and nothing before.
        if (CloseAllowed())
            EndWithClose();
        return;
    }
    // Enter presses Close, the default button, once the worker has ended; before, it goes on as
    // before (GTK would not press a disabled default button anyway).
    if ((event.GetKeyCode() == WXK_RETURN || event.GetKeyCode() == WXK_NUMPAD_ENTER) && CloseAllowed()) {
        EndWithClose();
        return;
    }
    event.Skip();
}

void CWorkerDlg::OnCloseWindow(wxCloseEvent& event) {
    if (!CloseAllowed() && event.CanVeto()) {
        event.Veto();
        return;
    }
    EndWithClose();
}
