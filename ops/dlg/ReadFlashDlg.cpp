#include "ops/dlg/ReadFlashDlg.h"

#include <algorithm>

#include <wx/button.h>
#include <wx/gauge.h>
#include <wx/animate.h>
#include <wx/generic/animate.h>
#include <wx/statbox.h>
#include <wx/stattext.h>

#include "ops/dlg/DialogSupport.h"
#include "ops/dlg/DialogTexts.h"
#include "res/AppMessages.h"
#include "res/GtkLook.h"
#include "res/Ids.h"
#include "res/Resources.h"

// Runs on the worker thread: every report becomes a post to the UI thread.
class CReadFlashDlg::CWorkerLink : public IReadUi {
public:
    explicit CWorkerLink(CReadFlashDlg& dlg) : m_dlg(dlg) {}

    void SetStatus(const std::string& text) override {
        m_dlg.m_pThread->Post([dlg = &m_dlg, text] { dlg->m_status->SetLabel(wxString::FromUTF8(text)); });
    }
    void EnableClose(bool enable) override {
        m_dlg.m_pThread->Post([dlg = &m_dlg, enable] { dlg->m_closeButton->Enable(enable); });
    }
    void EnableAbort(bool enable) override {
        m_dlg.m_pThread->Post([dlg = &m_dlg, enable] { dlg->m_abortButton->Enable(enable); });
    }
    void StepProgress(int position) override {
        m_dlg.m_pThread->Post([dlg = &m_dlg, position] {
            dlg->m_progress->SetValue(std::clamp(position, 0, dlg->m_progress->GetRange()));
        });
    }
    void StopAnimation() override {
        m_dlg.m_pThread->Post([dlg = &m_dlg] { dlg->m_animation->Stop(); });
    }
    // Waits until the box is dismissed, as a box of the worker's own would.
    void ShowMessage(const std::string& text, MsgIcon icon) override {
        m_dlg.m_pThread->Ask(
            [dlg = &m_dlg, text, icon] {
                ShowAppMessage(wxString::FromUTF8(text), icon, dlg);
                return true;
            },
            true);
    }

private:
    CReadFlashDlg& m_dlg;
};

CReadFlashDlg::CReadFlashDlg(wxWindow* parent)
    : wxDialog(parent, wxID_ANY, FromCore(READ_CAPTION), wxDefaultPosition, wxDefaultSize, wxCAPTION),
      m_pThread(std::make_unique<CWorkerThread>(*this)), m_workerUi(std::make_unique<CWorkerLink>(*this)) {
    g_readSucceeded = 0;
    g_readAbort = 0;
    SetUpDialogFrame(this, 218, 118);
    PlaceDlu(new wxStaticBox(this, wxID_ANY, FromCore(READ_GROUP)), 7, 7, 204, 103);
    m_status = PlaceDlu(new wxStaticText(this, IDC_READ_STATUS, FromCore(READ_STATUS_START),
                                         wxDefaultPosition, wxDefaultSize, wxALIGN_LEFT | wxST_NO_AUTORESIZE),
                        43, 30, 162, 11);
    m_progress = PlaceDlu(new wxGauge(this, IDC_READ_PROGRESS, 100, wxDefaultPosition, wxDefaultSize,
                                      wxGA_HORIZONTAL | wxGA_SMOOTH),
                          15, 46, 164, 17);
    FillGaugeHeight(m_progress);
    m_abortButton = PlaceDlu(new wxButton(this, IDC_READ_ABORT, FromCore(TEXT_ABORT)), 71, 85, 61, 16);
    m_closeButton = PlaceDlu(new wxButton(this, IDC_READ_CLOSE, FromCore(TEXT_CLOSE)), 141, 85, 61, 16);
    m_animation =
        PlaceDlu(new wxGenericAnimationCtrl(this, IDC_READ_ANIMATION, wxNullAnimation), 15, 26, 22, 17);
    m_animation->SetUseWindowBackgroundColour(true);

    // Neither Escape nor the window's closing may end the dialog while the worker runs.
    SetEscapeId(wxID_NONE);
    Bind(wxEVT_INIT_DIALOG, &CReadFlashDlg::OnInitDialog, this);
    Bind(wxEVT_BUTTON, &CReadFlashDlg::OnAbort, this, IDC_READ_ABORT);
    Bind(wxEVT_BUTTON, &CReadFlashDlg::OnCloseButton, this, IDC_READ_CLOSE);
    Bind(wxEVT_CHAR_HOOK, &CReadFlashDlg::OnCharHook, this);
    Bind(wxEVT_CLOSE_WINDOW, &CReadFlashDlg::OnCloseWindow, this);
    CentreOverOwner(this);
}

CReadFlashDlg::~CReadFlashDlg() {
    if (!m_pThread->Ended())
        g_readAbort = 1;
    m_pThread->Shutdown();
}

void CReadFlashDlg::OnInitDialog(wxInitDialogEvent&) {
    if (m_initialised)
        return; // shown once more: the worker runs only once
    m_initialised = true;
    TransferDataToWindow();

    wxAnimation clip = m_animation->CreateAnimation();
    if (LoadResourceAnimation(IDR_READ_ANIMATION, clip)) {
        m_animation->SetAnimation(clip);
        m_animation->Play(true);
    }
    m_progress->SetRange(std::clamp(g_readLength, 1, READ_BUFFER_SIZE));
    m_progress->SetValue(0);
    // The worker disables both first thing; before its post arrives they must not be pressed either.
    m_closeButton->Disable();
    m_abortButton->Disable();

    m_job = ReadJob{};
    m_job.length = g_readLength;
    m_job.sleeper = &DeviceDialogSleeper(m_sleeper);
    m_pThread->Start([this] { ReadFlashThread(m_job, *m_workerUi); });
}

void CReadFlashDlg::OnAbort(wxCommandEvent&) {
    if (m_inAbort)
        return;
    m_inAbort = true;
    g_readAbort = 1;
    // The outcome is not reported: a worker that has not ended yet enables Close itself.
    m_pThread->WaitForEnd(READ_ABORT_WAIT_MS);
    m_inAbort = false;
}

void CReadFlashDlg::OnCloseButton(wxCommandEvent&) {
    if (IsModal())
        EndModal(g_readSucceeded.load());
    else
        Hide();
}

void CReadFlashDlg::OnCharHook(wxKeyEvent& event) {
    if (event.GetKeyCode() == WXK_ESCAPE) {
        // Escape is Close once Close is available, and nothing before.
        if (m_closeButton->IsEnabled() && !m_inAbort) {
            wxCommandEvent close(wxEVT_BUTTON, IDC_READ_CLOSE);
            OnCloseButton(close);
        }
        return;
    }
    event.Skip();
}

void CReadFlashDlg::OnCloseWindow(wxCloseEvent& event) {
    if ((!m_closeButton->IsEnabled() || m_inAbort) && event.CanVeto()) {
        event.Veto();
        return;
    }
    wxCommandEvent close(wxEVT_BUTTON, IDC_READ_CLOSE);
    OnCloseButton(close);
}
