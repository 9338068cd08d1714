#pragma once
// The burn progress dialog: runs the burn worker for its whole life and shows what it reports, a
// time-stamped task list, the progress bar with its percentage, the elapsed time, the chips written
// and a looping animation. The worker reaches the dialog only through posts to the user-interface
// thread; the dialog cannot end while the worker runs and joins it before it is destroyed.
//
// Every member function runs on the user-interface thread; the worker reports to the dialog's
// operation port, which only posts.

#include <cstdint>
#include <ctime>
#include <memory>

#include <wx/imaglist.h>
#include <wx/timer.h>

#include "ops/Burn.h"
#include "ops/Programmers.h"
#include "ops/dlg/ProgressModel.h"
#include "ops/dlg/WorkerDlg.h"

class wxButton;
class wxGauge;
class wxGenericAnimationCtrl;
class wxListCtrl;
class wxStaticText;

constexpr int IDC_BURN_PROGRESS = 1002;
constexpr int IDC_BURN_ABORT = 1003;
constexpr int IDC_BURN_TASK_LIST = 1004;
constexpr int IDC_BURN_CLOSE = 1006;
constexpr int IDC_BURN_ELAPSED = 1007;
constexpr int IDC_BURN_ANIMATION = 1008;
constexpr int IDC_BURN_PERCENT = 1015;
constexpr int IDC_BURN_CHIPS_WRITTEN = 1020;

constexpr int BURN_ELAPSED_TIMER = 1; // the elapsed-time tick, every 1000 ms while a chip cycle runs
constexpr int BURN_ELAPSED_PERIOD_MS = 1000;

// Row icons: images of bitmap 136, by row kind.
constexpr int ROW_IMAGE_INFORMATION = 0;
constexpr int ROW_IMAGE_ERROR = 1;
constexpr int ROW_IMAGE_SUCCESS = 2;

// The elapsed time of the open burn dialog; only the dialog touches them.
extern int32_t g_elapsedHours;
extern int32_t g_elapsedMinutes;
extern int32_t g_elapsedSeconds;

class CBurnDlg : public CWorkerDlg {
public:
    enum { IDD = 131 };

    // Builds the window; the worker starts when the dialog is shown (OnInitDialog).
    explicit CBurnDlg(wxWindow* parent = nullptr);
    ~CBurnDlg() override;

    // Copies length bytes of data into g_burnImage from index 0 (at most its size).
    void CopyImage(const uint8_t* data, int length);

    // One row at the end of the task list, stamped with the current time, scrolled into view.
    void AddInfoRow(const wxString& text);
    void AddErrorRow(const wxString& text);
    void AddSuccessRow(const wxString& text);
    // The end-of-burn state: Abort disabled, Close enabled, animation stopped and hidden.
    void FinishTask();

    void OnAbortButton(wxCommandEvent& event);
    void OnTimer(wxTimerEvent& event);

    bool TransferDataToWindow() override;

    // Set by the Write command before the dialog is shown; read by the worker while it runs.
    bool m_autoLock = false;
    int32_t m_lockLevel = 1;

private:
    void OnInitDialog(wxInitDialogEvent& event);
    void EndWithClose() override;
    void LoadRowIcons();
    void AddRowAt(int image, const wxString& text, std::time_t when);
    // A row of the UI thread, added after what the worker has posted so far, so that the rows keep
    // their order.
    void AddRowAfterPosted(RowKind kind, const wxString& text);

    // The port's Progress: a phase's start sets the bar's range from its blocks; each block after
    // steps the bar as the native bar steps: past its end it starts over, so that a further chip's
    // progress begins again near 0.
    void ShowProgress(int done, int total);
    // The bar at the model's position.
    void ShowBarPosition();

    // The worker's operation port: posts each event to the UI thread.
    class CWorkerLink;
    friend class CWorkerLink;

    // In the order of the dialog's data exchange of old; the controls belong to the window.
    wxImageList m_imageList;
    int32_t m_rowCount = 0;
    wxStaticText* m_chipsWrittenLabel = nullptr;
    wxGenericAnimationCtrl* m_animation = nullptr;
    wxStaticText* m_percentLabel = nullptr;
    wxButton* m_closeButton = nullptr;
    wxButton* m_abortButton = nullptr;
    wxGauge* m_progress = nullptr;
    wxListCtrl* m_taskList = nullptr;
    wxString m_strElapsed;
    wxStaticText* m_elapsedLabel = nullptr;

    wxTimer m_timer;
    CProgressModel m_bar; // what the bar and the percentage label show
    std::unique_ptr<IOperationPort> m_workerPort;
    std::unique_ptr<COperationLink> m_link; // the worker's, made when it starts
    BurnJob m_job;
    CRealSleeper m_sleeper;
    bool m_initialised = false;
};
