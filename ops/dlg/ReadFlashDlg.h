#pragma once
// The Read Flash dialog: runs the flash-read worker, which reads the chip into the staging buffer,
// and shows its status, progress and animation. Its modal result is g_readSucceeded (1 after a
// complete read); it cannot end while the worker runs and joins it before it is destroyed.
// User-interface thread only; the worker reaches the dialog through posts.

#include <memory>

#include "ops/FlashRead.h"
#include "ops/Programmers.h"
#include "ops/dlg/WorkerDlg.h"

class wxButton;
class wxGauge;
class wxGenericAnimationCtrl;
class wxStaticText;

constexpr int IDC_READ_PROGRESS = 1002;
constexpr int IDC_READ_CLOSE = 1004;
constexpr int IDC_READ_ANIMATION = 1008;
constexpr int IDC_READ_ABORT = 1009;
constexpr int IDC_READ_STATUS = 1010;

class CReadFlashDlg : public CWorkerDlg {
public:
    enum { IDD = 141 };

    // Clears g_readSucceeded and g_readAbort. The worker starts when the dialog is shown.
    explicit CReadFlashDlg(wxWindow* parent = nullptr);
    ~CReadFlashDlg() override;

    void OnAbort(wxCommandEvent& event);

private:
    void OnInitDialog(wxInitDialogEvent& event);
    void EndWithClose() override;

    // The worker's operation port: posts each event to the UI thread; Message waits for the box.
    class CWorkerLink;
    friend class CWorkerLink;

    wxStaticText* m_status = nullptr;
    wxGauge* m_progress = nullptr;
    wxButton* m_closeButton = nullptr;
    wxButton* m_abortButton = nullptr;
    wxGenericAnimationCtrl* m_animation = nullptr;

    std::unique_ptr<IOperationPort> m_workerPort;
    std::unique_ptr<COperationLink> m_link; // the worker's, made when it starts
    ReadJob m_job;
    CRealSleeper m_sleeper;
    bool m_initialised = false;
};
