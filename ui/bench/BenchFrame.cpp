#include "ui/bench/BenchFrame.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <map>
#include <fstream>
#include <iostream>
#include <mutex>
#include <thread>

#include <fcntl.h>
#include <unistd.h>

#include <wx/accel.h>
#include <wx/app.h>
#include <wx/button.h>
#include <wx/filedlg.h>
#include <wx/gauge.h>
#include <wx/gdicmn.h>
#include <wx/listctrl.h>
#include <wx/menu.h>
#include <wx/panel.h>
#include <wx/settings.h>
#include <wx/sizer.h>
#include <wx/stattext.h>

#include "chips/Settings.h"
#include "image/Checksum.h"
#include "image/FileIo.h"
#include "ops/Programmers.h"
#include "ops/ChipSession.h"
#include "ops/dlg/WorkerThread.h"
#include "res/AppMessages.h"
#include "res/Resources.h"
#include "ui/FileChoosers.h"
#include "ui/bench/JobDialog.h"

namespace {

constexpr const char* CAPTION = "Veltro 51 Bench";
enum { ID_START = wxID_HIGHEST + 1, ID_CLOCK, ID_OPEN_JOB, ID_NEW_JOB, ID_RESCAN };

// Where the bench keeps the job it opened last.
constexpr const char* SETTINGS_NAME = "veltro51/bench.conf";
constexpr const char* SETTINGS_SECTION = "Bench";
constexpr const char* SETTINGS_JOB = "LastJob";

std::string AbsolutePath(const std::string& path) {
    char resolved[4096];
    return ::realpath(path.c_str(), resolved) != nullptr ? std::string(resolved) : path;
}

std::vector<std::string> UsableProgrammers() {
    std::vector<std::string> locations;
    for (const ProgrammerLocation& location : AttachedProgrammers())
        if (location.Usable())
            locations.push_back(location.bus + "/" + location.device);
    return locations;
}

// The sockets a job burns: every usable programmer, or those of its list.
std::vector<std::string> JobSockets(const Job& job) {
    std::vector<std::string> locations = UsableProgrammers();
    if (!job.allSockets && !job.sockets.empty())
        std::erase_if(locations, [&](const std::string& location) {
            return std::find(job.sockets.begin(), job.sockets.end(), location) == job.sockets.end();
        });
    return locations;
}

const char* StateName(TileState state) {
    switch (state) {
    case TileState::Waiting:
        return "waiting";
    case TileState::Burning:
        return "burning";
    case TileState::Verified:
        return "verified";
    case TileState::Failed:
        return "failed";
    case TileState::Stopped:
        return "stopped";
    case TileState::Removed:
        return "removed";
    case TileState::Gone:
        return "gone";
    }
    return "";
}

// The result band: a word with its sign, so that it never rests on colour alone.
const char* StateWord(TileState state) {
    switch (state) {
    case TileState::Waiting:
        return "\u25cb  INSERT CHIP";
    case TileState::Burning:
        return "\u25b6  BURNING";
    case TileState::Verified:
        return "\u2714  VERIFIED";
    case TileState::Failed:
        return "\u2716  FAILED";
    case TileState::Stopped:
        return "\u25a0  STOPPED";
    case TileState::Removed:
        return "\u2191  CHIP REMOVED";
    case TileState::Gone:
        return "\u2205  NO PROGRAMMER";
    }
    return "";
}

wxColour StateColour(TileState state) {
    switch (state) {
    case TileState::Verified:
        return wxColour(0x1b, 0x7a, 0x34);
    case TileState::Failed:
        return wxColour(0xb3, 0x1b, 0x1b);
    case TileState::Burning:
        return wxColour(0x1f, 0x5f, 0xa8);
    case TileState::Stopped:
        return wxColour(0x8a, 0x5a, 0x00);
    case TileState::Gone:
        return wxColour(0x3a, 0x3a, 0x3a);
    case TileState::Waiting:
    case TileState::Removed:
        break;
    }
    return wxColour(0x55, 0x5b, 0x62);
}

// veltro51-cli's bench worker: beside the program when installed, else in the build tree's cli/.
std::string WorkerProgram() {
    if (const char* given = std::getenv("VELTRO_BENCH_WORKER"); given != nullptr && *given != '\0')
        return given;
    char self[4096];
    const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
    if (n > 0) {
        std::string dir(self, static_cast<size_t>(n));
        dir = dir.substr(0, dir.rfind('/'));
        for (const std::string& candidate : {dir + "/veltro51-cli", dir + "/../../cli/veltro51-cli"})
            if (::access(candidate.c_str(), X_OK) == 0)
                return candidate;
    }
    return "/usr/bin/veltro51-cli";
}

std::string Elapsed(double seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%d:%04.1f", static_cast<int>(seconds) / 60,
                  seconds - 60 * (static_cast<int>(seconds) / 60));
    return text;
}

} // namespace

// One socket's tile.
class CBenchTile : public wxPanel {
public:
    CBenchTile(wxWindow* parent, const std::string& location) : wxPanel(parent), m_location(location) {
        auto* sizer = new wxBoxSizer(wxVERTICAL);
        auto* where = new wxStaticText(this, wxID_ANY, "Socket " + location);
        where->SetFont(where->GetFont().Bold());
        m_band = new wxPanel(this);
        m_word = new wxStaticText(m_band, wxID_ANY, "", wxDefaultPosition, wxDefaultSize,
                                  wxALIGN_CENTRE_HORIZONTAL | wxST_NO_AUTORESIZE);
        m_word->SetFont(m_word->GetFont().Scaled(1.8f).Bold());
        auto* bandSizer = new wxBoxSizer(wxVERTICAL);
        bandSizer->Add(m_word, 0, wxEXPAND | wxALL, FromDIP(8));
        m_band->SetSizer(bandSizer);
        m_step = new wxStaticText(this, wxID_ANY, "", wxDefaultPosition, wxDefaultSize,
                                  wxST_ELLIPSIZE_END | wxST_NO_AUTORESIZE);
        m_gauge = new wxGauge(this, wxID_ANY, 1000);
        m_chip = new wxStaticText(this, wxID_ANY, "");
        m_time = new wxStaticText(this, wxID_ANY, "");
        sizer->Add(where, 0, wxALL, FromDIP(4));
        sizer->Add(m_band, 0, wxEXPAND | wxLEFT | wxRIGHT, FromDIP(4));
        sizer->Add(m_step, 0, wxEXPAND | wxALL, FromDIP(4));
        sizer->Add(m_gauge, 0, wxEXPAND | wxLEFT | wxRIGHT, FromDIP(4));
        auto* line = new wxBoxSizer(wxHORIZONTAL);
        line->Add(m_chip, 1, wxALIGN_CENTRE_VERTICAL);
        line->Add(m_time, 0, wxALIGN_CENTRE_VERTICAL);
        sizer->Add(line, 0, wxEXPAND | wxALL, FromDIP(4));
        SetSizer(sizer);
        SetState(TileState::Waiting, "Insert a chip, then press Space");
    }

    const std::string& Location() const { return m_location; }
    TileState State() const { return m_state; }
    const std::string& Reason() const { return m_reason; }
    std::string lastError;

    void SetState(TileState state, const std::string& step) {
        m_state = state;
        m_band->SetBackgroundColour(StateColour(state));
        m_word->SetForegroundColour(*wxWHITE);
        m_word->SetLabel(wxString::FromUTF8(StateWord(state)));
        m_step->SetLabel(wxString::FromUTF8(step));
        m_step->SetToolTip(wxString::FromUTF8(step));
        m_reason = state == TileState::Failed ? step : "";
        if (state == TileState::Burning) {
            m_started = std::chrono::steady_clock::now();
            m_running = true;
            m_gauge->SetValue(0);
            m_chip->SetLabel("");
            lastError.clear();
        } else if (m_running) {
            m_running = false;
            Tick();
        }
        m_band->Refresh();
        Layout();
    }
    void SetStep(const std::string& step) {
        if (m_state == TileState::Burning) {
            m_step->SetLabel(wxString::FromUTF8(step));
            m_step->SetToolTip(wxString::FromUTF8(step));
        }
    }
    void SetProgress(int done, int total) {
        const int value = total > 0 ? static_cast<int>(1000LL * done / total) : 0;
        if (value != m_gauge->GetValue())
            m_gauge->SetValue(value);
    }
    void SetChip(const CycleReport& report) {
        std::string text = report.chip >= 0 ? ChipName(report.chip) : "no chip";
        if (report.serial >= 0)
            text += "   serial " + std::to_string(report.serial);
        m_chip->SetLabel(text);
        m_cycle = report;
    }
    const CycleReport& Cycle() const { return m_cycle; }
    void Tick() {
        if (m_running)
            m_seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - m_started).count();
        m_time->SetLabel(m_seconds > 0 ? Elapsed(m_seconds) : "");
    }
    void Reset() {
        m_cycle = CycleReport();
        m_seconds = 0;
    }

private:
    std::string m_location;
    TileState m_state = TileState::Waiting;
    std::string m_reason;
    wxPanel* m_band;
    wxStaticText* m_word;
    wxStaticText* m_step;
    wxGauge* m_gauge;
    wxStaticText* m_chip;
    wxStaticText* m_time;
    std::chrono::steady_clock::time_point m_started;
    bool m_running = false;
    double m_seconds = 0;
    CycleReport m_cycle;
};

// The engine on a thread of its own. Its presenter's calls come on that thread and are queued for
// the frame. Eight burning sockets send hundreds of events a second: the window takes them in slices
// of at most DRAIN_SLICE_MS, giving its timers, input and repaints a turn in between, and of each
// socket's progress only the latest. After a round the engine asks whether to go on: the answer waits
// for the operator.
class CBenchRun : public IBenchPresenter {
public:
    CBenchRun(CBenchFrame& frame, BenchJob job) : m_frame(frame), m_worker(frame), m_job(std::move(job)) {
        if (::pipe2(m_abort, O_CLOEXEC | O_NONBLOCK) != 0)
            m_abort[0] = m_abort[1] = -1;
        m_drainTimer.Bind(wxEVT_TIMER, [this](wxTimerEvent&) { Drain(); });
    }
    ~CBenchRun() override {
        Decide(false);
        m_worker.Shutdown();
        for (int fd : m_abort)
            if (fd >= 0)
                ::close(fd);
    }

    void Start() {
        m_worker.Start([this] {
            CBenchEngine engine(m_job, *this);
            const BenchOutcome outcome = engine.Run(m_abort[0]);
            Post([outcome](CBenchFrame& f) { f.OnEngineEnded(outcome); });
        });
    }
    // UI thread: the first abort stops every socket safely (the burn's abort: PowerOff last).
    void Abort() {
        Decide(false);
        const char byte = 'a';
        if (m_abort[1] >= 0 && ::write(m_abort[1], &byte, 1) < 0) {
        }
    }
    // UI thread: the answer to the engine's question after a round.
    void Decide(bool more) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_answer = more;
        m_decided = true;
        m_changed.notify_all();
    }
    bool Ended() const { return m_worker.Ended(); }

    // The presenter, on the engine's thread.
    IOperationPort& SocketFound(const std::string& location) override {
        m_ports.push_back(std::make_unique<CPort>(*this, location));
        Post([location](CBenchFrame& f) { f.OnSocketFound(location); });
        return *m_ports.back();
    }
    void RoundStarted(int round, const std::vector<std::string>& locations) override {
        Post([round, locations](CBenchFrame& f) { f.OnRoundStarted(round, locations); });
    }
    void SocketFinished(const BenchSocketResult& result) override {
        Post([result](CBenchFrame& f) { f.OnSocketResult(result); });
    }
    void SocketGone(const std::string& location) override {
        Post([location](CBenchFrame& f) { f.OnSocketGone(location); });
    }
    void BenchStopping(const std::string& location, const std::string& reason) override {
        Post([location, reason](CBenchFrame& f) { f.OnBenchStopping(location, reason); });
    }
    void RoundFinished(int round, const std::vector<BenchSocketResult>& results) override {
        for (const BenchSocketResult& result : results)
            Post([result](CBenchFrame& f) { f.OnSocketResult(result); });
        Post([round](CBenchFrame& f) { f.OnRoundFinished(round); });
    }
    bool Ask(Question question) override {
        if (question != Question::WriteMore)
            return false;
        std::unique_lock<std::mutex> lock(m_mutex);
        m_decided = false;
        m_changed.wait(lock, [this] { return m_decided; });
        return m_answer;
    }

private:
    class CPort : public IOperationPort {
    public:
        CPort(CBenchRun& run, std::string location) : m_run(run), m_location(std::move(location)) {}
        void Row(RowKind kind, const std::string& text) override {
            m_run.Post([l = m_location, kind, text](CBenchFrame& f) { f.OnRow(l, kind, text); });
        }
        void Message(const std::string& text, MsgIcon icon) override {
            Row(icon == MsgIcon::Error ? RowKind::Error : RowKind::Information, text);
        }
        void Progress(int done, int total) override {
            // Only a changed tenth of a percent reaches the window.
            const int value = total > 0 ? static_cast<int>(1000LL * done / total) : 0;
            if (value == m_last)
                return;
            m_last = value;
            m_run.PostProgress(m_location, done, total);
        }
        void CycleStarted(int) override {
            m_last = -1;
            m_run.DropProgress(m_location);
            m_run.Post([l = m_location](CBenchFrame& f) { f.OnCycleStarted(l); });
        }
        // The chip is named as soon as it is known, not only at the cycle's end.
        void Identified(const CycleReport& report) override {
            m_run.Post([l = m_location, report](CBenchFrame& f) { f.OnIdentified(l, report); });
        }
        void CycleEnded(const CycleReport& report) override {
            m_run.Post([l = m_location, report](CBenchFrame& f) { f.OnCycleEnded(l, report); });
        }
        void ChipAwaited() override {
            m_run.Post([l = m_location](CBenchFrame& f) { f.OnChipAwaited(l); });
        }
        void ChipRemoved() override {
            m_run.Post([l = m_location](CBenchFrame& f) { f.OnChipRemoved(l); });
        }

    private:
        CBenchRun& m_run;
        std::string m_location;
        int m_last = -1;
    };

    static constexpr int DRAIN_SLICE_MS = 15;

    // Engine thread: fn runs on the UI thread, in order.
    void Post(std::function<void(CBenchFrame&)> fn) {
        std::lock_guard<std::mutex> lock(m_queueMutex);
        m_queue.push_back(std::move(fn));
        Wake();
    }
    // Engine thread: a socket's progress; only the latest of each socket is shown.
    void PostProgress(const std::string& location, int done, int total) {
        std::lock_guard<std::mutex> lock(m_queueMutex);
        m_progress[location] = {done, total};
        Wake();
    }
    // Engine thread: a new cycle's bar starts empty, never with the last cycle's progress.
    void DropProgress(const std::string& location) {
        std::lock_guard<std::mutex> lock(m_queueMutex);
        m_progress.erase(location);
    }
    // With m_queueMutex held: one wake-up of the UI thread at a time.
    void Wake() {
        if (m_wakePending)
            return;
        m_wakePending = true;
        m_worker.Post([this] { Drain(); });
    }
    // UI thread: a slice of the queue, then the latest progress; what is left waits for a timer, so
    // the window's own events come first.
    void Drain() {
        const auto start = std::chrono::steady_clock::now();
        for (;;) {
            std::function<void(CBenchFrame&)> fn;
            {
                std::lock_guard<std::mutex> lock(m_queueMutex);
                if (m_queue.empty())
                    break;
                fn = std::move(m_queue.front());
                m_queue.pop_front();
            }
            fn(m_frame);
            if (std::chrono::steady_clock::now() - start > std::chrono::milliseconds(DRAIN_SLICE_MS)) {
                m_drainTimer.StartOnce(5);
                return;
            }
        }
        std::map<std::string, std::pair<int, int>> progress;
        {
            std::lock_guard<std::mutex> lock(m_queueMutex);
            progress.swap(m_progress);
            m_wakePending = false;
        }
        for (const auto& [location, value] : progress)
            m_frame.OnProgress(location, value.first, value.second);
    }

    CBenchFrame& m_frame;
    CWorkerThread m_worker;
    BenchJob m_job;
    std::vector<std::unique_ptr<CPort>> m_ports;
    int m_abort[2] = {-1, -1};
    std::mutex m_queueMutex; // guards the three below
    std::deque<std::function<void(CBenchFrame&)>> m_queue;
    std::map<std::string, std::pair<int, int>> m_progress;
    bool m_wakePending = false;
    wxTimer m_drainTimer;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_decided = false;
    bool m_answer = false;
};

CBenchFrame::CBenchFrame(const BenchOptions& options)
    : wxFrame(nullptr, wxID_ANY, CAPTION), m_options(options), m_clock(this, ID_CLOCK) {
    InitPictureHandlers();
    SetIcons(LoadApplicationIcons());

    auto* file = new wxMenu;
    file->Append(ID_OPEN_JOB, "&Open Job...\tCtrl+O");
    file->Append(ID_NEW_JOB, "&New Job...\tCtrl+N");
    file->AppendSeparator();
    file->Append(ID_START, "&Start / Stop\tSpace");
    file->Append(ID_RESCAN, "&Rescan Programmers\tF5");
    file->AppendSeparator();
    file->Append(wxID_EXIT, "E&xit\tCtrl+Q");
    auto* bar = new wxMenuBar;
    bar->Append(file, "&File");
    SetMenuBar(bar);

    m_panel = new wxPanel(this);
    auto* top = new wxBoxSizer(wxVERTICAL);
    auto* head = new wxBoxSizer(wxHORIZONTAL);
    m_jobText = new wxStaticText(m_panel, wxID_ANY, "");
    m_startButton = new wxButton(m_panel, ID_START, "&Start");
    head->Add(m_jobText, 1, wxALIGN_CENTRE_VERTICAL | wxRIGHT, FromDIP(8));
    head->Add(m_startButton, 0, wxALIGN_CENTRE_VERTICAL);
    top->Add(head, 0, wxEXPAND | wxALL, FromDIP(8));
    m_statusText = new wxStaticText(m_panel, wxID_ANY, "Looking for programmers ...");
    top->Add(m_statusText, 0, wxEXPAND | wxLEFT | wxRIGHT, FromDIP(8));

    m_tilesPanel = new wxPanel(m_panel);
    m_grid = new wxGridSizer(1, FromDIP(6), FromDIP(6));
    m_tilesPanel->SetSizer(m_grid);
    top->Add(m_tilesPanel, 1, wxEXPAND | wxALL, FromDIP(8));

    m_totals = new wxStaticText(m_panel, wxID_ANY, "");
    m_totals->SetFont(m_totals->GetFont().Bold());
    top->Add(m_totals, 0, wxEXPAND | wxLEFT | wxRIGHT, FromDIP(8));
    m_records = new wxListCtrl(m_panel, wxID_ANY, wxDefaultPosition, FromDIP(wxSize(-1, 140)),
                               wxLC_REPORT | wxLC_SINGLE_SEL);
    const char* columns[] = {"Time", "Socket", "Chip", "Serial", "Result", "Reason"};
    const int widths[] = {80, 80, 90, 80, 80, 420};
    for (int i = 0; i < 6; ++i)
        m_records->AppendColumn(columns[i], wxLIST_FORMAT_LEFT, FromDIP(widths[i]));
    top->Add(m_records, 0, wxEXPAND | wxALL, FromDIP(8));
    m_panel->SetSizer(top);

    wxAcceleratorEntry keys[] = {{wxACCEL_NORMAL, WXK_SPACE, ID_START},
                                 {wxACCEL_CTRL, 'Q', wxID_EXIT},
                                 {wxACCEL_CTRL, 'O', ID_OPEN_JOB},
                                 {wxACCEL_CTRL, 'N', ID_NEW_JOB},
                                 {wxACCEL_NORMAL, WXK_F5, ID_RESCAN}};
    SetAcceleratorTable(wxAcceleratorTable(5, keys));
    Bind(
        wxEVT_MENU, [this](wxCommandEvent&) { ChooseJob(); }, ID_OPEN_JOB);
    Bind(
        wxEVT_MENU, [this](wxCommandEvent&) { MakeJob(); }, ID_NEW_JOB);
    Bind(
        wxEVT_MENU, [this](wxCommandEvent&) { Rescan(); }, ID_RESCAN);
    Bind(
        wxEVT_MENU, [this](wxCommandEvent&) { StartOrStop(); }, ID_START);
    Bind(
        wxEVT_BUTTON, [this](wxCommandEvent&) { StartOrStop(); }, ID_START);
    Bind(
        wxEVT_MENU, [this](wxCommandEvent&) { Close(); }, wxID_EXIT);
    Bind(
        wxEVT_TIMER,
        [this](wxTimerEvent&) {
            for (CBenchTile* tile : m_tiles)
                if (tile->State() == TileState::Burning)
                    tile->Tick();
        },
        ID_CLOCK);
    Bind(wxEVT_CLOSE_WINDOW, [this](wxCloseEvent& event) {
        if (m_run && !m_run->Ended()) {
            if (event.CanVeto()) {
                if (!m_closeWhenEnded && !AskAppYesNo("Sockets are running. Stop them and close?", this)) {
                    event.Veto();
                    return;
                }
                m_closeWhenEnded = true;
                m_stopping = true;
                m_run->Abort();
                Report("closing");
                event.Veto(); // closed once the engine has stopped every socket
                return;
            }
        }
        m_run.reset();
        if (m_options.reportStates) {
            // The window's own peak memory, for the bench's figures.
            std::ifstream status("/proc/self/status");
            for (std::string line; std::getline(status, line);)
                if (line.rfind("VmHWM:", 0) == 0)
                    Report("peak-memory " + line.substr(line.find_first_not_of(" \t", 6)));
        }
        Destroy();
    });

    if (m_options.reportStates) {
        SetMessageBoxHook([this](const wxString& text, const wxString&, long style) {
            Report("message " + text.ToStdString(wxConvUTF8));
            return (style & wxYES_NO) != 0 ? wxYES : wxOK;
        });
        ReadCommands();
    }

    // As large as the bench wants, but never beyond the screen (a 2x scale halves it).
    const wxRect screen = wxGetClientDisplayRect();
    SetSize(wxSize(std::min(FromDIP(1000), screen.width), std::min(FromDIP(760), screen.height)));
    OpenStartJob();
    Rescan();
    UpdateTotals();
    UpdateButtons();
    m_clock.Start(200);
    if (m_options.reportStates) {
        // For the bench's figures: the longest stretch the window's thread could not handle an
        // event while sockets ran (a 10 ms timer that came late), and when the window was first idle.
        m_probe.Bind(wxEVT_TIMER, [this](wxTimerEvent&) {
            const auto now = std::chrono::steady_clock::now();
            if (m_run && !m_run->Ended())
                m_longestStallMs =
                    std::max(m_longestStallMs,
                             std::chrono::duration<double, std::milli>(now - m_lastProbe).count() - 10);
            m_lastProbe = now;
        });
        m_lastProbe = std::chrono::steady_clock::now();
        m_probe.Start(10);
        Bind(wxEVT_IDLE, [this](wxIdleEvent& event) {
            event.Skip();
            if (!m_shownReported && IsShownOnScreen()) {
                m_shownReported = true;
                Report("shown");
            }
        });
    }
    m_startButton->SetFocus();
    if (m_jobOk && m_options.start)
        CallAfter([this] { Start(); });
}

CBenchFrame::~CBenchFrame() {
    m_run.reset();
}

void CBenchFrame::OpenStartJob() {
    if (!m_options.job.empty()) {
        OpenJob(m_options.job, true);
        return;
    }
    if (!m_options.firmware.empty()) {
        Job job = JobOfBenchOptions(m_options);
        job.firmware = AbsolutePath(job.firmware);
        if (job.sha256.empty()) {
            // Not pinned: every round burns the file as it is now.
            int systemError = 0;
            if (!FileSha256(job.firmware, job.sha256, systemError)) {
                RefuseJob(m_options.firmware + ": " + std::strerror(systemError));
                return;
            }
        }
        UseJob(job, "");
        return;
    }
    std::string last;
    if (CIniSettingsStore(CIniSettingsStore::ConfigPath(SETTINGS_NAME))
            .ReadText(SETTINGS_SECTION, SETTINGS_JOB, last) &&
        !last.empty()) {
        OpenJob(last, false);
        return;
    }
    m_jobText->SetLabel("No job: File > Open Job (Ctrl+O), or File > New Job (Ctrl+N) to make one");
}

bool CBenchFrame::OpenJob(const std::string& path, bool remember) {
    const std::string absolute = AbsolutePath(path);
    const JobLoad load = LoadJob(absolute);
    if (!load.ok) {
        RefuseJob(load.message);
        return false;
    }
    if (!UseJob(load.job, absolute))
        return false;
    if (remember && !CIniSettingsStore(CIniSettingsStore::ConfigPath(SETTINGS_NAME))
                         .WriteText(SETTINGS_SECTION, SETTINGS_JOB, absolute))
        Report("job not remembered" + SystemReason()); // the bench works as well; only the next start asks
    return true;
}

bool CBenchFrame::UseJob(const Job& job, const std::string& jobPath) {
    const JobFirmware firmware = LoadJobFirmware(job, jobPath);
    if (!firmware.ok) {
        RefuseJob(firmware.message);
        return false;
    }
    m_job = job;
    m_jobPath = jobPath;
    m_firmware = firmware;
    m_jobOk = true;
    const std::string name = firmware.path.substr(firmware.path.rfind('/') + 1);
    char crc[16];
    std::snprintf(crc, sizeof crc, "0x%08X", firmware.crc32);
    const std::string chip = job.chip.empty() ? std::string("by signature") : job.chip;
    const std::string lock = job.lock > 0 ? std::to_string(job.lock) : std::string("none");
    const std::string mode = job.mode == JobMode::Watch ? "watch" : "rounds";
    std::string text = "Firmware " + name + "   SHA-256 " + job.sha256.substr(0, 12) + "   Chip " + chip +
                       "   CRC-32 " + crc + "   Lock " + lock + "   Mode " + mode;
    if (!jobPath.empty())
        text = "Job " + jobPath.substr(jobPath.rfind('/') + 1) + ":   " + text;
    m_jobText->SetLabel(wxString::FromUTF8(text));
    m_jobText->SetToolTip(wxString::FromUTF8(
        (jobPath.empty() ? std::string() : "Job " + jobPath + "\n") + "Firmware " + firmware.path +
        "\nSHA-256 " + job.sha256 + "\nCRC-32 " + crc + " of " + std::to_string(firmware.size) + " bytes"));
    m_statusText->SetLabel(job.mode == JobMode::Watch ? "Press Space to start, then insert the chips"
                                                      : "Insert the chips, then press Space to start");
    Report("job " + name + " " + job.sha256.substr(0, 12) + " " + (job.chip.empty() ? "-" : job.chip) + " " +
           crc + " " + lock + " " + mode);
    UpdateButtons();
    return true;
}

void CBenchFrame::RefuseJob(const std::string& why) {
    m_jobOk = false;
    m_jobText->SetLabel("Job refused: nothing will be burned");
    UpdateButtons();
    Report("job refused");
    CallAfter([this, why] {
        ShowAppMessage(wxString::FromUTF8("The job is refused, nothing will be burned:\n" + why),
                       AppIcon::Error, this);
    });
}

void CBenchFrame::ChooseJob() {
    if (m_run && !m_run->Ended()) {
        ShowAppMessage("Stop the bench before opening another job.", AppIcon::Information, this);
        return;
    }
    FileChooserRequest request{
        this,
        "Job files (*.toml)|*.toml",
        "",
        "",
        false,
        m_jobPath.empty() ? FirmwareFolder() : wxString::FromUTF8(m_jobPath.substr(0, m_jobPath.rfind('/')))};
    const std::unique_ptr<wxFileDialog> chooser = MakeFileDialog(request, wxFD_OPEN | wxFD_FILE_MUST_EXIST);
    chooser->SetTitle("Open Job");
    if (chooser->ShowModal() == wxID_OK)
        OpenJob(chooser->GetPath().ToStdString(wxConvUTF8), true);
}

// scriptedPath and scriptedForm (for tests): the form's fields as "firmware|chip|lock|serial|store|log|mode",
// saved at scriptedPath without showing the dialog.
void CBenchFrame::MakeJob(const std::string& scriptedPath, const std::string& scriptedForm) {
    if (m_run && !m_run->Ended()) {
        ShowAppMessage("Stop the bench before making another job.", AppIcon::Information, this);
        return;
    }
    CJobDialog dialog(this, m_jobOk ? &m_job : nullptr, m_jobPath);
    bool saved = false;
    if (!scriptedPath.empty()) {
        std::vector<std::string> fields;
        size_t start = 0;
        for (size_t bar; (bar = scriptedForm.find('|', start)) != std::string::npos; start = bar + 1)
            fields.push_back(scriptedForm.substr(start, bar - start));
        fields.push_back(scriptedForm.substr(start));
        fields.resize(7);
        JobForm form;
        form.firmware = fields[0];
        form.chip = fields[1];
        form.lock =
            fields[2].size() == 1 && fields[2][0] >= '1' && fields[2][0] <= '4' ? fields[2][0] - '0' : 0;
        form.serial = fields[3];
        form.serialStore = fields[4];
        form.log = fields[5];
        form.mode = fields[6] == "watch" ? JobMode::Watch : JobMode::Rounds;
        dialog.SetForm(form);
        saved = dialog.SaveAs(scriptedPath);
    } else {
        saved = dialog.ShowModal() == wxID_OK;
    }
    if (saved) {
        Report("job saved " + dialog.SavedPath());
        OpenJob(dialog.SavedPath(), true);
    }
}

void CBenchFrame::Rescan() {
    if (m_run && !m_run->Ended())
        return; // a running bench keeps its sockets
    const std::vector<std::string> locations = m_jobOk ? JobSockets(m_job) : UsableProgrammers();
    for (size_t k = 0; k < m_tiles.size();) {
        CBenchTile* tile = m_tiles[k];
        if (std::find(locations.begin(), locations.end(), tile->Location()) == locations.end()) {
            Report("tile " + tile->Location() + " gone");
            m_grid->Detach(tile);
            tile->Destroy();
            m_tiles.erase(m_tiles.begin() + static_cast<long>(k));
        } else {
            ++k;
        }
    }
    for (const std::string& location : locations)
        AddTile(location);
    ArrangeTiles();
    if (locations.empty())
        m_statusText->SetLabel("No programmer attached that this user may use: attach one, then press F5");
}

void CBenchFrame::Report(const std::string& line) {
    if (!m_options.reportStates)
        return;
    std::string flat = line; // one line each, for the tests that read them
    std::replace(flat.begin(), flat.end(), '\n', ' ');
    std::cout << flat << std::endl;
}

// For tests: "start", "stop" and "close" lines on standard input act as Space and the close box;
// "open JOB" as File > Open Job, "new-job" as the form's Save As, "rescan" as F5.
void CBenchFrame::ReadCommands() {
    std::thread([this] {
        std::string line;
        while (std::getline(std::cin, line)) {
            wxTheApp->CallAfter([this, line] {
                if (line == "start" || line == "stop")
                    StartOrStop();
                else if (line == "close")
                    Close();
                else if (line == "yes")
                    m_closeWhenEnded = true;
                else if (line == "rescan")
                    Rescan();
                else if (line.rfind("open ", 0) == 0)
                    OpenJob(line.substr(5), true);
                else if (line.rfind("new-job ", 0) == 0) {
                    // new-job PATH<TAB>FIELDS: the form filled and saved as Save As would.
                    const std::string rest = line.substr(8);
                    const size_t tab = rest.find('\t');
                    MakeJob(rest.substr(0, tab), tab == std::string::npos ? "" : rest.substr(tab + 1));
                }
            });
        }
    }).detach();
}

void CBenchFrame::StartOrStop() {
    if (m_run && !m_run->Ended() && !m_waitingForNext)
        Stop();
    else
        Start();
}

void CBenchFrame::Start() {
    if (!m_jobOk)
        return;
    if (m_run && m_waitingForNext) {
        m_waitingForNext = false;
        m_run->Decide(true);
        UpdateButtons();
        return;
    }
    if (m_run && !m_run->Ended())
        return;
    BenchJob job;
    job.program = WorkerProgram();
    job.arguments = {"--bench-worker"};
    // Every worker burns the job as this window read it and shows it, whatever its file says later.
    for (const std::string& argument : JobBurnArguments(m_job, m_jobPath))
        job.data.emplace_back("arg", argument);
    job.data.emplace_back("file-sha", m_job.sha256);
    job.more = true;
    job.workerNice = 5; // the window's thread before the workers, when all start or end at once
    job.policy = m_job.mode == JobMode::Watch ? BenchPolicy::Watch : BenchPolicy::Rounds;
    if (!m_job.allSockets)
        job.only = m_job.sockets;
    m_run = std::make_unique<CBenchRun>(*this, job);
    if (m_sessionStart == 0)
        m_sessionStart = static_cast<long>(wxGetLocalTime());
    m_statusText->SetLabel("Burning ...");
    m_run->Start();
    Report("started");
    UpdateButtons();
}

void CBenchFrame::Stop() {
    if (!m_run || m_run->Ended())
        return;
    m_waitingForNext = false;
    m_stopping = true;
    m_run->Abort();
    m_statusText->SetLabel("Stopping: every socket is powered off ...");
    Report("stopping");
}

void CBenchFrame::UpdateButtons() {
    const bool running = m_run && !m_run->Ended() && !m_waitingForNext;
    m_startButton->SetLabel(running ? "&Stop" : m_waitingForNext ? "&Next Round" : "&Start");
    m_startButton->Enable(m_jobOk);
    m_panel->Layout();
}

CBenchTile* CBenchFrame::Tile(const std::string& location) {
    for (CBenchTile* tile : m_tiles)
        if (tile->Location() == location)
            return tile;
    return nullptr;
}

void CBenchFrame::OnSocketFound(const std::string& location) {
    if (Tile(location) != nullptr)
        return;
    AddTile(location);
    ArrangeTiles();
}

void CBenchFrame::AddTile(const std::string& location) {
    if (Tile(location) != nullptr)
        return;
    auto* tile = new CBenchTile(m_tilesPanel, location);
    m_tiles.push_back(tile);
    m_grid->Add(tile, 1, wxEXPAND);
    Report("tile " + location + " waiting");
}

void CBenchFrame::ArrangeTiles() {
    const int count = static_cast<int>(m_tiles.size());
    m_grid->SetCols(count <= 1 ? 1 : count <= 4 ? 2 : count <= 9 ? 3 : 4);
    m_tilesPanel->Layout();
    m_panel->Layout();
}

void CBenchFrame::OnRoundStarted(int round, const std::vector<std::string>& locations) {
    m_statusText->SetLabel(
        wxString::Format("Round %d: %d sockets", round, static_cast<int>(locations.size())));
    for (const std::string& location : locations)
        if (CBenchTile* tile = Tile(location)) {
            tile->Reset();
            tile->SetState(TileState::Burning, "Starting ...");
        }
    Report("round " + std::to_string(round));
}

void CBenchFrame::OnRow(const std::string& location, RowKind kind, const std::string& text) {
    if (CBenchTile* tile = Tile(location)) {
        tile->SetStep(text);
        if (kind == RowKind::Error)
            tile->lastError = text;
    }
}

void CBenchFrame::OnProgress(const std::string& location, int done, int total) {
    if (CBenchTile* tile = Tile(location))
        tile->SetProgress(done, total);
}

void CBenchFrame::OnCycleStarted(const std::string& location) {
    if (CBenchTile* tile = Tile(location))
        if (tile->State() != TileState::Burning)
            tile->SetState(TileState::Burning, "Starting ...");
}

void CBenchFrame::OnIdentified(const std::string& location, const CycleReport& report) {
    if (CBenchTile* tile = Tile(location))
        tile->SetChip(report);
}

// Rounds: the socket's result waits for its worker's end (OnSocketResult). Watch: each chip's end
// is its result, held until the chip is removed.
void CBenchFrame::OnCycleEnded(const std::string& location, const CycleReport& report) {
    CBenchTile* tile = Tile(location);
    if (tile == nullptr)
        return;
    tile->SetChip(report);
    if (m_job.mode != JobMode::Watch || tile->State() != TileState::Burning)
        return;
    TileState state = TileState::Verified;
    std::string reason = "Written and verified: remove the chip";
    if (report.outcome == Result::Aborted) {
        state = TileState::Stopped;
        reason = "Stopped: the chip was powered off";
    } else if (report.outcome != Result::Done || report.powerOffFailed) {
        state = TileState::Failed;
        reason = !report.failure.empty()    ? report.failure
                 : !tile->lastError.empty() ? tile->lastError
                                            : "the chip was not verified";
    }
    tile->SetState(state, reason);
    RecordChip(location, state, report, true, reason);
}

void CBenchFrame::OnChipAwaited(const std::string& location) {
    if (CBenchTile* tile = Tile(location)) {
        tile->lastError.clear();
        // A result holds until its chip is removed.
        if (tile->State() != TileState::Verified && tile->State() != TileState::Failed) {
            tile->SetState(TileState::Waiting, "Waiting for a chip: insert one");
            Report("tile " + location + " waiting for a chip");
        }
    }
}

void CBenchFrame::OnChipRemoved(const std::string& location) {
    if (CBenchTile* tile = Tile(location)) {
        const std::string was = StateName(tile->State());
        tile->SetState(TileState::Removed, "Chip removed (" + was + "): insert the next");
        Report("tile " + location + " removed");
    }
}

void CBenchFrame::OnSocketGone(const std::string& location) {
    if (CBenchTile* tile = Tile(location)) {
        tile->SetState(TileState::Gone, "Programmer gone: unplugged or taken by another program");
        Report("tile " + location + " gone");
    }
}

void CBenchFrame::OnBenchStopping(const std::string& location, const std::string& reason) {
    m_statusText->SetLabel(wxString::FromUTF8("Bench stopping: " + location + ": " + reason +
                                              "; the other sockets end after their chip"));
    Report("bench stopping " + location + " " + reason);
}

// A socket's end: verified only when the worker found nothing else wrong (its log line, PowerOff).
void CBenchFrame::OnSocketResult(const BenchSocketResult& result) {
    CBenchTile* tile = Tile(result.location);
    if (tile == nullptr)
        return;
    if (m_job.mode == JobMode::Watch) {
        // Each chip told its result; a worker's end tells only a fault of its own.
        if (!result.failure.empty() && tile->State() != TileState::Gone) {
            tile->SetState(TileState::Failed, result.failure);
            Report("tile " + result.location + " failed - - " + result.failure);
        } else if (tile->State() == TileState::Burning || tile->State() == TileState::Waiting) {
            tile->SetState(TileState::Stopped, "Stopped");
            Report("tile " + result.location + " stopped");
        }
        return;
    }
    if (tile->State() != TileState::Burning)
        return;
    const CycleReport& report = result.report;
    if (result.cycleEnded)
        tile->SetChip(report);
    const bool clean = result.cycleEnded && report.outcome == Result::Done && result.exitStatus == 0 &&
                       result.failure.empty();
    std::string reason;
    TileState state = TileState::Verified;
    // A worker stopped before its chip cycle began (the abort came before it could take it) has
    // done nothing to the chip: stopped, not failed.
    if ((result.cycleEnded && report.outcome == Result::Aborted) || (m_stopping && !result.cycleEnded)) {
        state = TileState::Stopped;
        reason =
            result.cycleEnded ? "Stopped: the chip was powered off" : "Stopped before the chip was touched";
    } else if (!clean) {
        state = TileState::Failed;
        reason = !result.failure.empty()                        ? result.failure
                 : result.cycleEnded && !report.failure.empty() ? report.failure
                 : !tile->lastError.empty()                     ? tile->lastError
                                                                : "the worker ended early";
    } else {
        reason = "Written and verified";
    }
    tile->SetState(state, reason);
    RecordChip(result.location, state, report, result.cycleEnded, reason);
}

void CBenchFrame::RecordChip(const std::string& location, TileState state, const CycleReport& report,
                             bool known, const std::string& reason) {
    if (state == TileState::Verified)
        ++m_verified;
    else if (state == TileState::Failed)
        ++m_failed;
    if (state == TileState::Verified && report.serial >= 0) {
        m_serialLow = m_serialLow < 0 ? report.serial : std::min<long long>(m_serialLow, report.serial);
        m_serialHigh = std::max<long long>(m_serialHigh, report.serial);
    }
    const std::string chip = known && report.chip >= 0 ? ChipName(report.chip) : "-";
    const std::string serial = known && report.serial >= 0 ? std::to_string(report.serial) : "-";
    const long row = m_records->InsertItem(m_records->GetItemCount(), wxDateTime::Now().FormatISOTime());
    m_records->SetItem(row, 1, location);
    m_records->SetItem(row, 2, chip);
    m_records->SetItem(row, 3, serial);
    m_records->SetItem(row, 4, StateName(state));
    m_records->SetItem(row, 5, wxString::FromUTF8(reason));
    m_records->EnsureVisible(row);
    UpdateTotals();
    Report("tile " + location + " " + StateName(state) + " " + chip + " " + serial + " " + reason);
}

void CBenchFrame::OnRoundFinished(int round) {
    if (!m_run || m_run->Ended())
        return;
    m_waitingForNext = true;
    m_statusText->SetLabel(wxString::Format(
        "Round %d done. Change the chips, then press Space for the next round (Stop ends the bench)", round));
    UpdateButtons();
    Report("waiting");
    if (m_closeWhenEnded)
        m_run->Decide(false);
}

void CBenchFrame::OnEngineEnded(const BenchOutcome& outcome) {
    m_waitingForNext = false;
    m_stopping = false;
    if (outcome.sockets == 0) {
        m_statusText->SetLabel("No programmer to burn with: none attached that this user may use");
        Report("no programmers");
    } else {
        m_statusText->SetLabel(
            m_job.mode == JobMode::Watch
                ? wxString("Stopped watching. Press Space to start again")
                : wxString::Format("Stopped after %d rounds. Press Space to start again", outcome.rounds));
    }
    for (CBenchTile* tile : m_tiles)
        if (tile->State() == TileState::Burning)
            tile->SetState(TileState::Stopped, "Stopped");
    Report("ended");
    if (m_options.reportStates)
        Report(wxString::Format("longest-stall-ms %.1f", std::max(0.0, m_longestStallMs)).ToStdString());
    UpdateButtons();
    if (m_closeWhenEnded)
        CallAfter([this] { Close(true); });
}

void CBenchFrame::UpdateTotals() {
    const int chips = m_verified + m_failed;
    double perHour = 0;
    if (m_sessionStart > 0) {
        const long seconds = static_cast<long>(wxGetLocalTime()) - m_sessionStart;
        perHour = seconds > 0 ? m_verified * 3600.0 / seconds : 0;
    }
    wxString text = wxString::Format(
        "Verified %d    Failed %d    Yield %s    Chips per hour %.0f", m_verified, m_failed,
        chips > 0 ? wxString::Format("%.1f %%", 100.0 * m_verified / chips) : wxString("-"), perHour);
    if (m_serialLow >= 0)
        text += wxString::Format("    Serials %lld to %lld", m_serialLow, m_serialHigh);
    m_totals->SetLabel(text);
}
