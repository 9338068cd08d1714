// Burns an AT89S8253 (12288 bytes, every block written) in the burn dialog against the simulated
// programmer with its real waits and a delay per transfer, and measures how long the user-interface
// thread could not handle an event meanwhile: a 10 ms timer runs through the whole burn and the
// longest gap between two of its ticks is the figure, with the processor time the UI thread used in it
// (little of it: the thread was kept from running by other load, not blocked by its own work). Target: under
// 50 ms (aim: 16 ms, one frame). It also counts the task list's repaints, the costly drawing: a few per row,
// not one per step of the bar or frame of the animation. Prints the figures; exit status 1 when the target is
// missed or the burn fails. Needs a display (xvfb-run).
//
//   dialogs_bench [DELAY_MS]    default 1.2

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <vector>

#include <wx/app.h>
#include <wx/button.h>
#include <wx/timer.h>

#include "chips/ChipCatalogue.h"
#include "ops/Texts.h"
#include "ops/dlg/BurnDlg.h"
#include "sim/SimApi.h"
#include "res/AppMessages.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int AT89S8253 = 4;
constexpr int PROBE_PERIOD_MS = 10;
constexpr double TARGET_GAP_MS = 50.0;

double Ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

// Ticks every 10 ms on the UI thread and keeps the gaps between ticks.
class CProbe : public wxTimer {
public:
    void Notify() override {
        const Clock::time_point now = Clock::now();
        const double cpu = ThreadCpuMs();
        if (m_ticks > 0) {
            m_gaps.push_back({Ms(now - m_last), Ms(m_last - m_first)});
            m_cpu.emplace_back(Ms(now - m_last), cpu - m_lastCpu);
        } else {
            m_first = now;
        }
        m_last = now;
        m_lastCpu = cpu;
        ++m_ticks;
    }
    // Longest first: the gap and when it began, in ms since the first tick.
    std::vector<std::pair<double, double>> Sorted() const {
        std::vector<std::pair<double, double>> sorted = m_gaps;
        std::sort(sorted.rbegin(), sorted.rend());
        return sorted;
    }
    double Longest() const { return m_gaps.empty() ? 0.0 : Sorted().front().first; }
    double Percentile(double p) const {
        if (m_gaps.empty())
            return 0.0;
        const auto sorted = Sorted();
        return sorted[static_cast<size_t>((1.0 - p) * static_cast<double>(sorted.size() - 1))].first;
    }
    size_t Ticks() const { return m_ticks; }
    // The UI thread's processor time within the longest gap, and the most it used in any gap.
    double CpuInLongest() const {
        return m_cpu.empty() ? 0.0 : std::max_element(m_cpu.begin(), m_cpu.end())->second;
    }
    double MostCpuInAGap() const {
        double most = 0;
        for (const auto& [wall, cpu] : m_cpu)
            most = std::max(most, cpu);
        return most;
    }

private:
    static double ThreadCpuMs() {
        timespec t{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
        return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
    }
    Clock::time_point m_first;
    Clock::time_point m_last;
    size_t m_ticks = 0;
    std::vector<std::pair<double, double>> m_gaps;
    std::vector<std::pair<double, double>> m_cpu; // wall time of each gap, the UI thread's time in it
    double m_lastCpu = 0;
};

// Presses Close as soon as the burn has ended.
class CCloser : public wxTimer {
public:
    void Notify() override {
        CBurnDlg* dlg = nullptr;
        for (wxWindow* window : wxTopLevelWindows)
            if ((dlg = dynamic_cast<CBurnDlg*>(window)) != nullptr)
                break;
        wxWindow* close = dlg ? dlg->FindWindow(IDC_BURN_CLOSE) : nullptr;
        if (!close || !close->IsEnabled())
            return;
        m_end = Clock::now();
        Stop();
        wxCommandEvent click(wxEVT_BUTTON, IDC_BURN_CLOSE);
        click.SetEventObject(close);
        close->GetEventHandler()->ProcessEvent(click);
    }
    Clock::time_point m_end;
};

class CBenchApp : public wxApp {
public:
    bool OnInit() override {
        // The toolkit's own command-line parsing would refuse the delay.
        m_delayMs = argc > 1 ? std::atof(argv[1].utf8_str()) : 1.2;
        CallAfter(&CBenchApp::Run);
        return true;
    }

    // Counts the paints of the task list and its inner windows.
    int FilterEvent(wxEvent& event) override {
        if (event.GetEventType() == wxEVT_PAINT && m_taskList) {
            for (auto* w = dynamic_cast<wxWindow*>(event.GetEventObject()); w; w = w->GetParent())
                if (w == m_taskList) {
                    ++m_listPaints;
                    break;
                }
        }
        return Event_Skip;
    }

    int OnRun() override {
        wxApp::OnRun();
        return m_status;
    }

private:
    void Run() {
        const int size = g_chipCatalogue[AT89S8253].flashSize;
        sim::CSimBus bus;
        sim::DeviceConfig config;
        config.chip = AT89S8253;
        config.delayMs = m_delayMs;
        bus.Add(config);

        std::vector<uint8_t> image(static_cast<size_t>(size));
        uint32_t x = 0x2545F491u;
        for (auto& b : image) {
            x = x * 1664525u + 1013904223u;
            b = static_cast<uint8_t>(x >> 24);
        }
        for (int a = 0; a < size; a += 8)
            image[static_cast<size_t>(a)] = 0x00; // no blank block: every one is written

        int questions = 0;
        SetMessageBoxHook([&questions](const wxString& text, const wxString&, long style) {
            if (text == ASK_WRITE_MORE)
                ++questions;
            else
                std::fprintf(stderr, "message: %s\n", static_cast<const char*>(text.utf8_str()));
            return static_cast<int>((style & wxYES_NO) ? wxNO : wxOK);
        });

        CProbe probe;
        CCloser closer;
        const Clock::time_point start = Clock::now();
        {
            CBurnDlg dlg(nullptr);
            g_burnLastAddress = size - 1;
            dlg.CopyImage(image.data(), size);
            m_taskList = dlg.FindWindow(IDC_BURN_TASK_LIST);
            probe.Start(PROBE_PERIOD_MS);
            closer.Start(20);
            dlg.ShowModal();
            probe.Stop();
            m_taskList = nullptr;
        }
        const double wall = Ms(closer.m_end - start);
        const bool burned = questions == 1 && bus.State(0).flash == image;

        std::printf("burn dialog, AT89S8253 (%d bytes, %d blocks written and read), %.1f ms per transfer\n",
                    size, size / 8, m_delayMs);
        std::printf("  burn in the dialog:           %8.0f ms  (%s)\n", wall, burned ? "verified" : "FAILED");
        std::printf("  probe ticks (every %d ms):    %8zu\n", PROBE_PERIOD_MS, probe.Ticks());
        std::printf("  gap between ticks, median:    %8.1f ms\n", probe.Percentile(0.5));
        std::printf("  gap between ticks, 99th pct:  %8.1f ms\n", probe.Percentile(0.99));
        std::printf("  task list repaints:           %8d\n", m_listPaints);
        std::printf("  longest gaps (ms, at ms):    ");
        const auto sorted = probe.Sorted();
        for (size_t k = 0; k < sorted.size() && k < 5; ++k)
            std::printf(" %.1f@%.0f", sorted[k].first, sorted[k].second);
        std::printf("\n  UI thread's own time in the longest gap: %.1f ms (most in any gap: %.1f ms)\n",
                    probe.CpuInLongest(), probe.MostCpuInAGap());
        std::printf("  longest the UI thread could not handle an event: %.1f ms  (target under %.0f ms)\n",
                    probe.Longest(), TARGET_GAP_MS);
        m_status = (burned && probe.Longest() < TARGET_GAP_MS) ? 0 : 1;
        SetMessageBoxHook({});
        ExitMainLoop();
    }

    double m_delayMs = 1.2;
    wxWindow* m_taskList = nullptr;
    int m_listPaints = 0;
    int m_status = 1;
};

} // namespace

wxIMPLEMENT_APP(CBenchApp);
