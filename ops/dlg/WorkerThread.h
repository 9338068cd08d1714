#pragma once
// A dialog's one worker thread and the only road between it and the dialog's windows. The worker never
// touches a window: it posts work to the user-interface thread (Post), or posts a question and waits
// for the answer (Ask). The dialog may wait for the worker's end while it keeps handling those posts
// and its repaints (WaitForEnd), and shuts the road before it is destroyed (Shutdown), so nothing the
// worker posted can reach a dialog that is gone.

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

class wxEvtHandler;

class CWorkerThread {
public:
    // owner: the dialog that handles what the worker posts; it must call Shutdown before it is gone.
    explicit CWorkerThread(wxEvtHandler& owner);
    // Shuts down when the owner has not.
    ~CWorkerThread();
    CWorkerThread(const CWorkerThread&) = delete;
    CWorkerThread& operator=(const CWorkerThread&) = delete;

    // UI thread: runs body on a new thread, once.
    void Start(std::function<void()> body);

    // Worker thread: fn runs later on the UI thread, in the order posted. Dropped once shut down.
    void Post(std::function<void()> fn);
    // Worker thread: runs fn on the UI thread and waits for its answer. Returns fallback at once when
    // shut down, and to a question still open when Shutdown comes.
    bool Ask(std::function<bool()> fn, bool fallback);

    // UI thread: true once the body has returned (or was never started).
    bool Ended() const;
    // UI thread: waits up to ms milliseconds (below 0: without limit) for the body's end, handling the
    // application's events (the worker's posts, repaints, timers) every few milliseconds meanwhile.
    // True when the body has ended.
    bool WaitForEnd(int ms);

    // UI thread: handles the application's pending events once, among them what the worker has posted
    // so far.
    void ServePosted();

    // UI thread: closes the road (later posts are dropped, questions get their fallback), waits for the
    // body's end while still handling events, joins the thread and discards whatever the worker posted
    // that has not been handled yet. Call it from the owner's destructor, before the controls go.
    void Shutdown();

private:
    struct Question {
        std::mutex mutex;
        std::condition_variable answered;
        bool done = false;
        bool answer = false;
    };
    static void Answer(Question& question, bool answer);

    wxEvtHandler& m_owner;
    std::thread m_thread;
    mutable std::mutex m_mutex; // guards everything below
    std::condition_variable m_endChanged;
    bool m_started = false;
    bool m_ended = false;
    bool m_closed = false;
    std::shared_ptr<Question> m_openQuestion; // the one question the worker waits on, if any
    bool m_openFallback = false;
};
