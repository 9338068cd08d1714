#include "ops/dlg/WorkerThread.h"

#include <chrono>

#include <wx/app.h>
#include <wx/evtloop.h>

namespace {
// How long the waiting UI thread sleeps between two rounds of handling events.
constexpr auto SERVE_SLICE = std::chrono::milliseconds(4);

void HandlePendingEvents() {
    if (wxEventLoopBase* loop = wxEventLoopBase::GetActive())
        loop->YieldFor(wxEVT_CATEGORY_ALL);
}
} // namespace

CWorkerThread::CWorkerThread(wxEvtHandler& owner) : m_owner(owner) {}

CWorkerThread::~CWorkerThread() {
    Shutdown();
}

void CWorkerThread::Start(std::function<void()> body) {
    {
        std::lock_guard lock(m_mutex);
        if (m_started || m_closed)
            return;
        m_started = true;
    }
    m_thread = std::thread([this, body = std::move(body)] {
        body();
        std::lock_guard lock(m_mutex);
        m_ended = true;
        m_endChanged.notify_all();
    });
}

void CWorkerThread::Post(std::function<void()> fn) {
    // Queued under the lock, so that Shutdown cannot slip between the check and the queueing.
    std::lock_guard lock(m_mutex);
    if (!m_closed)
        m_owner.CallAfter(std::move(fn));
}

bool CWorkerThread::Ask(std::function<bool()> fn, bool fallback) {
    auto question = std::make_shared<Question>();
    {
        std::lock_guard lock(m_mutex);
        if (m_closed)
            return fallback;
        m_openQuestion = question;
        m_openFallback = fallback;
        m_owner.CallAfter([question, fn = std::move(fn)] {
            // Shutdown may have answered it already (the owner is then being destroyed).
            {
                std::lock_guard lock(question->mutex);
                if (question->done)
                    return;
            }
            Answer(*question, fn());
        });
    }
    bool answer;
    {
        std::unique_lock lock(question->mutex);
        question->answered.wait(lock, [&] { return question->done; });
        answer = question->answer;
    }
    std::lock_guard lock(m_mutex);
    if (m_openQuestion == question)
        m_openQuestion.reset();
    return answer;
}

void CWorkerThread::Answer(Question& question, bool answer) {
    std::lock_guard lock(question.mutex);
    if (question.done)
        return;
    question.done = true;
    question.answer = answer;
    question.answered.notify_all();
}

bool CWorkerThread::Ended() const {
    std::lock_guard lock(m_mutex);
    return !m_started || m_ended;
}

bool CWorkerThread::WaitForEnd(int ms) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(ms < 0 ? 0 : ms);
    for (;;) {
        if (Ended())
            return true;
        if (ms >= 0 && Clock::now() >= deadline)
            return false;
        HandlePendingEvents();
        Clock::time_point until = Clock::now() + SERVE_SLICE;
        if (ms >= 0 && deadline < until)
            until = deadline;
        std::unique_lock lock(m_mutex);
        m_endChanged.wait_until(lock, until, [this] { return !m_started || m_ended; });
    }
}

void CWorkerThread::ServePosted() {
    HandlePendingEvents();
}

void CWorkerThread::Shutdown() {
    std::shared_ptr<Question> open;
    bool fallback = false;
    {
        std::lock_guard lock(m_mutex);
        m_closed = true;
        open = std::move(m_openQuestion);
        fallback = m_openFallback;
    }
    if (open)
        Answer(*open, fallback);
    WaitForEnd(-1);
    if (m_thread.joinable())
        m_thread.join();
    m_owner.DeletePendingEvents();
}
