#pragma once
// The base of a dialog that owns a worker for its whole life (the burn and Read Flash dialogs): it
// starts the worker, gives it the only road to the windows (posts to the user-interface thread),
// waits for it when Abort is pressed while still serving those posts, keeps Escape, the close box
// and Close from ending the dialog while the worker runs or an Abort waits, and joins the worker and
// drops what it posted before the controls go.
//
// Every member function runs on the user-interface thread, except Post and Ask, which the worker's
// port calls.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include <wx/dialog.h>

#include "ops/Burn.h"
#include "ops/dlg/WorkerThread.h"

class wxButton;

class CWorkerDlg : public wxDialog, public IWorkerWait {
public:
    // abort: the flag the worker polls; set when the dialog goes while the worker still runs.
    CWorkerDlg(wxWindow* parent, const wxString& caption, std::atomic<int32_t>& abort);
    // Shuts the worker down if the derived dialog has not (see ShutdownWorker).
    ~CWorkerDlg() override;

    // IWorkerWait: waits up to ms for the worker's end while handling what it posts.
    bool WaitForWorker(int ms) override { return m_pThread->WaitForEnd(ms); }

    // The Close button (the default button), Escape and Enter once Close is enabled, and the close
    // box: EndWithClose when the gate is open, nothing otherwise.
    void OnCloseButton(wxCommandEvent& event);

protected:
    // The Close button that the gate watches and OnCloseButton handles; set by the derived constructor.
    void SetCloseButton(wxButton* close);
    // Runs body on the worker thread, once.
    void StartWorker(std::function<void()> body) { m_pThread->Start(std::move(body)); }

    // Worker thread: fn runs later on the UI thread, in order; dropped once the dialog is going.
    void Post(std::function<void()> fn) { m_pThread->Post(std::move(fn)); }
    // Worker thread: fn runs on the UI thread, the worker waits for its answer; fallback when the
    // dialog is going.
    bool Ask(std::function<bool()> fn, bool fallback) { return m_pThread->Ask(std::move(fn), fallback); }
    // UI thread: handles what the worker has posted so far (a row of the UI thread keeps its place).
    void ServePosted() { m_pThread->ServePosted(); }
    // Ends a worker that is still running (the abort flag, every question answered No), joins it and
    // drops what it posted. The worker uses the derived dialog's members (its port, job, sleeper,
    // controls), so every derived destructor calls this first, before any of them goes.
    void ShutdownWorker();
    // Worker thread: a message box on the UI thread, waited for as a box of the worker's own would be.
    void ShowMessageFromWorker(const std::string& text, MsgIcon icon);

    // The Abort handler's frame: runs wait (which may wait for the worker) with the close gate shut;
    // a second press while one waits does nothing.
    void RunAbort(const std::function<void()>& wait);
    // The close gate, the dialog's own: shut while the worker runs, opened by its ending. Close is
    // enabled exactly while the gate is open.
    void ShutCloseGate();
    void OpenCloseGate();
    // Close may end the dialog: the gate is open and no Abort is waiting.
    bool CloseAllowed() const;
    // Close's work once the gate lets it through: the derived dialog ends itself.
    virtual void EndWithClose() = 0;

private:
    void OnCharHook(wxKeyEvent& event);
    void OnCloseWindow(wxCloseEvent& event);

    std::atomic<int32_t>& m_abortFlag;
    std::unique_ptr<CWorkerThread> m_pThread;
    wxButton* m_closeButton = nullptr;
    bool m_closeOpen = true; // the Close button starts enabled
    bool m_inAbort = false;
};
