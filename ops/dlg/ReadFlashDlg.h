#pragma once
// The Read Flash dialog: runs the flash-read worker, which reads the chip into the staging buffer,
// and shows its status, progress and animation. Its modal result is g_readSucceeded (1 after a
// complete read); it cannot end while the worker runs and joins it before it is destroyed.
// User-interface thread only; the worker reaches the dialog through posts.

#include <memory>

#include <wx/dialog.h>

#include "ops/FlashRead.h"
#include "ops/dlg/WorkerThread.h"

class wxButton;
class wxGauge;
class wxGenericAnimationCtrl;
class wxStaticText;

constexpr int IDC_READ_PROGRESS = 1002;
constexpr int IDC_READ_CLOSE = 1004;
constexpr int IDC_READ_ANIMATION = 1008;
constexpr int IDC_READ_ABORT = 1009;
constexpr int IDC_READ_STATUS = 1010;

class CReadFlashDlg : public wxDialog {
public:
    enum { IDD = 141 };

    // Clears g_readSucceeded and g_readAbort. The worker starts when the dialog is shown.
    explicit CReadFlashDlg(wxWindow* parent = nullptr);
    // Ends a worker that is still running (abort), joins it and drops what it posted.
    ~CReadFlashDlg() override;

    void OnAbort(wxCommandEvent& event);
    void OnCloseButton(wxCommandEvent& event);

private:
    void OnInitDialog(wxInitDialogEvent& event);
    void OnCharHook(wxKeyEvent& event);
    void OnCloseWindow(wxCloseEvent& event);

    // The worker's IReadUi: posts each report to the UI thread; ShowMessage waits for the box.
    class CWorkerLink;
    friend class CWorkerLink;

    std::unique_ptr<CWorkerThread> m_pThread;
    wxStaticText* m_status = nullptr;
    wxGauge* m_progress = nullptr;
    wxButton* m_closeButton = nullptr;
    wxButton* m_abortButton = nullptr;
    wxGenericAnimationCtrl* m_animation = nullptr;

    std::unique_ptr<IReadUi> m_workerUi;
    ReadJob m_job;
    CRealSleeper m_sleeper;
    bool m_initialised = false;
    bool m_inAbort = false;
};
