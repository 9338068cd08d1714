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

namespace {
constexpr int READ_BAR_BLOCK = 8; // bytes a block on the bar
}

// Runs on the worker thread: every event becomes a post to the UI thread.
class CReadFlashDlg::CWorkerLink : public IOperationPort {
public:
    explicit CWorkerLink(CReadFlashDlg& dlg) : m_dlg(dlg) {}

    // Each status replaces the one before.
    void Row(RowKind, const std::string& text) override {
        m_dlg.Post([dlg = &m_dlg, text] { dlg->m_status->SetLabel(wxString::FromUTF8(text)); });
    }
    // Abort becomes available when the blocks start, over a bar of 8 bytes a block.
    void Progress(int done, int total) override {
        m_dlg.Post([dlg = &m_dlg, done, total] {
            if (done == 0) {
                dlg->m_abortButton->Enable();
                dlg->m_progress->SetRange(std::clamp(total * READ_BAR_BLOCK, 1, READ_BUFFER_SIZE));
            }
            dlg->m_progress->SetValue(std::clamp(done * READ_BAR_BLOCK, 0, dlg->m_progress->GetRange()));
        });
    }
    // The animation stops after a complete or aborted read; it goes on after an error.
    void Ended(Result ending) override {
        m_dlg.Post([dlg = &m_dlg, ending] {
            if (ending != Result::Failed)
                dlg->m_animation->Stop();
            dlg->OpenCloseGate();
            dlg->m_abortButton->Disable();
        });
    }
    void Message(const std::string& text, MsgIcon icon) override { m_dlg.ShowMessageFromWorker(text, icon); }

private:
    CReadFlashDlg& m_dlg;
};

CReadFlashDlg::CReadFlashDlg(wxWindow* parent)
    : CWorkerDlg(parent, FromCore(READ_CAPTION), g_readAbort),
      m_workerPort(std::make_unique<CWorkerLink>(*this)) {
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

    SetCloseButton(m_closeButton);
    Bind(wxEVT_INIT_DIALOG, &CReadFlashDlg::OnInitDialog, this);
    Bind(wxEVT_BUTTON, &CReadFlashDlg::OnAbort, this, IDC_READ_ABORT);
    CentreOverOwner(this);
}

// The worker goes before the members it uses.
CReadFlashDlg::~CReadFlashDlg() {
    ShutdownWorker();
}

void CReadFlashDlg::OnInitDialog(wxInitDialogEvent&) {
    if (m_initialised)
        return; // shown once more: the worker runs only once
    m_initialised = true;
    TransferDataToWindow();

    m_job = ReadJob{};
    m_job.length = g_readLength;

    PlayResourceAnimation(m_animation, IDR_READ_ANIMATION);
    m_progress->SetRange(std::clamp(m_job.length, 1, READ_BUFFER_SIZE));
    m_progress->SetValue(0);
    // Neither may be pressed until the worker says so: Abort once the blocks start, Close at the end.
    ShutCloseGate();
    m_abortButton->Disable();

    m_link = std::make_unique<COperationLink>();
    ISleeper& sleeper = DeviceDialogSleeper(m_sleeper);
    StartWorker([this, &sleeper] { ReadFlashThread(**m_link, m_job, *m_workerPort, sleeper); });
}

void CReadFlashDlg::OnAbort(wxCommandEvent&) {
    RunAbort([this] {
        g_readAbort = 1;
        // The outcome is not reported: a worker that has not ended yet enables Close itself.
        WaitForWorker(READ_ABORT_WAIT_MS);
    });
}

void CReadFlashDlg::EndWithClose() {
    if (IsModal())
        EndModal(g_readSucceeded.load());
    else
        Hide();
}
