#pragma once
// The bench window: a tile per socket, the totals and this session's chips. The bench engine runs on
// a worker thread of the window's own (CBenchRun); every event it reports is posted to the
// user-interface thread, and only there does a window change.

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include <wx/frame.h>
#include <wx/timer.h>

#include "ops/Job.h"
#include "ops/engine/Bench.h"
#include "ui/bench/BenchOptions.h"

class wxButton;
class wxGridSizer;
class wxListCtrl;
class wxPanel;
class wxStaticText;
class CBenchTile;
class CBenchRun;

// A tile's state. Watch mode adds Removed (its result held until the chip was taken out) and Gone
// (its programmer unplugged).
enum class TileState { Waiting, Burning, Verified, Failed, Stopped, Removed, Gone };

class CBenchFrame : public wxFrame {
public:
    explicit CBenchFrame(const BenchOptions& options);
    ~CBenchFrame() override;

    // The worker's events, on the user-interface thread.
    void OnSocketFound(const std::string& location);
    void OnRoundStarted(int round, const std::vector<std::string>& locations);
    void OnRow(const std::string& location, RowKind kind, const std::string& text);
    void OnProgress(const std::string& location, int done, int total);
    void OnCycleStarted(const std::string& location);
    void OnIdentified(const std::string& location, const CycleReport& report);
    void OnCycleEnded(const std::string& location, const CycleReport& report);
    void OnChipAwaited(const std::string& location);
    void OnChipRemoved(const std::string& location);
    void OnSocketGone(const std::string& location);
    void OnBenchStopping(const std::string& location, const std::string& reason);
    void OnSocketResult(const BenchSocketResult& result);
    void OnRoundFinished(int round);
    void OnEngineEnded(const BenchOutcome& outcome);

private:
    // The job at start: the one named on the command line, else the one opened last.
    void OpenStartJob();
    // Opens the job file at path (File > Open Job); false, with a message box, for one that is
    // refused. remember: keep it as the job to open at the next start.
    bool OpenJob(const std::string& path, bool remember);
    // Takes job (read from jobPath; empty: made from the command line) once its firmware loads.
    bool UseJob(const Job& job, const std::string& jobPath);
    void RefuseJob(const std::string& why);
    void ChooseJob();
    void MakeJob(const std::string& scriptedPath = "", const std::string& scriptedForm = "");
    // One tile per usable programmer; tiles of programmers gone go (only while nothing runs).
    void Rescan();
    void AddTile(const std::string& location);
    void ArrangeTiles();
    void StartOrStop();
    void Start();
    void Stop();
    // A chip's end: the totals, the list and the report.
    void RecordChip(const std::string& location, TileState state, const CycleReport& report, bool known,
                    const std::string& reason);
    void UpdateTotals();
    void UpdateButtons();
    void Report(const std::string& line);
    void ReadCommands();
    CBenchTile* Tile(const std::string& location);

    BenchOptions m_options;
    Job m_job;
    std::string m_jobPath; // empty: the job of the command line's firmware
    JobFirmware m_firmware;
    bool m_jobOk = false;

    wxPanel* m_panel = nullptr;
    wxStaticText* m_jobText = nullptr;
    wxStaticText* m_statusText = nullptr;
    wxPanel* m_tilesPanel = nullptr;
    wxGridSizer* m_grid = nullptr;
    wxStaticText* m_totals = nullptr;
    wxListCtrl* m_records = nullptr;
    wxButton* m_startButton = nullptr;
    std::vector<CBenchTile*> m_tiles;
    wxTimer m_clock;
    wxTimer m_probe;
    std::chrono::steady_clock::time_point m_lastProbe;
    double m_longestStallMs = 0;
    bool m_shownReported = false;

    std::unique_ptr<CBenchRun> m_run;
    bool m_waitingForNext = false; // a round ended: the engine waits for Start (next) or Stop
    bool m_closeWhenEnded = false;
    bool m_stopping = false; // the operator asked every socket to stop
    int m_verified = 0, m_failed = 0;
    long long m_serialLow = -1, m_serialHigh = -1;
    long m_sessionStart = 0; // wxGetLocalTime of the first round
    double m_burnSeconds = 0;
};
