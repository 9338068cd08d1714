// Measures the desktop program: start-up to the shown main window beyond the 3800 ms hold, a full
// repaint of the hex view at 640 x 480 and at 1920 x 1080, and the program's peak memory.
// Run it on a display: xvfb-run -a -s "-screen 0 2000x1200x24" build/bench/ui/ui_bench
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <wx/app.h>
#include <wx/dcclient.h>
#include <wx/dcmemory.h>
#include <wx/init.h>
#include <wx/utils.h>

#include "ui/MainFrame.h"
#include "ui/OstrelApp.h"
#include "ui/OstrelView.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

struct RunResult {
    double shownMs = -1;
    long peakKb = 0;
};

// Starts the program with the hold set to zero; it prints "shown" after the main window's first
// paint and closes itself.
RunResult RunProgram(const std::vector<std::string>& args, const std::string& configDir) {
    std::vector<std::string> env = {"VELTRO_TEST_HOLD_MS=0", "VELTRO_TEST_REPORT_SHOWN=exit",
                                    "XDG_CONFIG_HOME=" + configDir};
    for (char** e = environ; *e; ++e)
        env.emplace_back(*e);
    std::vector<char*> envp, argv;
    for (auto& s : env)
        envp.push_back(s.data());
    envp.push_back(nullptr);
    std::vector<std::string> argStore = args;
    for (auto& s : argStore)
        argv.push_back(s.data());
    argv.push_back(nullptr);

    int pipeFds[2];
    if (pipe(pipeFds) != 0)
        return {};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
    posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
    pid_t pid = 0;
    const auto start = Clock::now();
    const int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    close(pipeFds[1]);
    RunResult result;
    if (rc != 0) {
        close(pipeFds[0]);
        return result;
    }
    std::string out;
    char buffer[64];
    for (ssize_t n; (n = read(pipeFds[0], buffer, sizeof buffer)) > 0;) {
        out.append(buffer, static_cast<size_t>(n));
        if (out.find("shown") != std::string::npos && result.shownMs < 0)
            result.shownMs = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    }
    close(pipeFds[0]);
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    result.peakKb = usage.ru_maxrss;
    return result;
}

void MeasureStartUp(const char* program) {
    char dirTemplate[] = "/tmp/veltro-bench-XXXXXX";
    const std::string configDir = mkdtemp(dirTemplate) ? dirTemplate : "/tmp";
    for (const bool splash : {true, false}) {
        std::vector<double> times;
        long peak = 0;
        for (int i = 0; i < 7; ++i) {
            std::vector<std::string> args = {program};
            if (!splash)
                args.push_back("-Embedding");
            const RunResult r = RunProgram(args, configDir);
            if (r.shownMs < 0) {
                std::printf("start-up: the program did not report its window\n");
                return;
            }
            times.push_back(r.shownMs);
            peak = std::max(peak, r.peakKb);
        }
        std::printf("start-up to the shown main window beyond the hold (%s): median %.1f ms, best %.1f ms\n",
                    splash ? "with splash" : "-Embedding, no splash", Median(times),
                    *std::min_element(times.begin(), times.end()));
        std::printf("peak memory of the program (%s): %.1f MB\n", splash ? "with splash" : "no splash",
                    peak / 1024.0);
    }
}

void MeasureRepaint() {
    SetStartupSleeper([](int) {});
    StartupOptions options;
    options.showSplash = false;
    auto& app = *static_cast<COstrelApp*>(wxTheApp);
    if (!app.StartUp(options))
        return;
    CMainFrame* frame = app.MainFrame();
    COstrelView* view = frame->View();
    auto& image = view->Buffer().m_image;
    for (size_t i = 0; i < image.size(); ++i)
        image[i] = (i % 7 == 0) ? 0xFF : static_cast<uint8_t>(i * 37);
    wxCommandEvent chip(wxEVT_MENU, 36869); // the AT89S8253: 768 rows, more than any window shows
    frame->ProcessWindowEvent(chip);
    for (const wxSize size : {wxSize(640, 480), wxSize(1920, 1080)}) {
        frame->SetSize(size);
        for (int i = 0; i < 20; ++i)
            wxTheApp->Yield(true);
        const wxSize client = view->GetClientSize();
        // The drawing alone, onto a bitmap of the view's size.
        wxBitmap bitmap(client);
        std::vector<double> draw;
        for (int i = 0; i < 50; ++i) {
            wxMemoryDC dc(bitmap);
            const auto t0 = Clock::now();
            view->OnDraw(dc);
            draw.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
        }
        // A whole repaint of the window: invalidate and paint now.
        std::vector<double> repaint;
        for (int i = 0; i < 50; ++i) {
            const auto t0 = Clock::now();
            view->Refresh(false);
            view->Update();
            repaint.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
        }
        // The toolkit's own share: the same repaint of an empty window of the view's size.
        auto* empty = new wxWindow(frame, wxID_ANY, view->GetPosition(), client);
        empty->SetBackgroundColour(view->GetBackgroundColour());
        for (int i = 0; i < 20; ++i)
            wxTheApp->Yield(true);
        std::vector<double> baseline;
        for (int i = 0; i < 50; ++i) {
            const auto t0 = Clock::now();
            empty->Refresh(false);
            empty->Update();
            baseline.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
        }
        empty->Destroy();
        std::printf(
            "full repaint at %dx%d (view %dx%d, %d rows): OnDraw median %.2f ms, Refresh+Update median "
            "%.2f ms (an empty window of that size: %.2f ms)\n",
            size.x, size.y, client.x, client.y, view->VisibleRows(), Median(draw), Median(repaint),
            Median(baseline));
    }
    frame->Destroy();
    wxTheApp->Yield(true);
}

} // namespace

int main(int argc, char** argv) {
    // First, while this process is still small: a child's peak memory counts the memory it shared
    // with its parent until it started the program.
    MeasureStartUp(VELTRO51_PROGRAM);
    wxApp::SetInstance(new COstrelApp);
    if (!wxEntryStart(argc, argv)) {
        std::fprintf(stderr, "ui_bench needs a display (run it under xvfb-run)\n");
        return 1;
    }
    char dirTemplate[] = "/tmp/veltro-bench-XXXXXX";
    if (mkdtemp(dirTemplate))
        setenv("XDG_CONFIG_HOME", dirTemplate, 1);
    MeasureRepaint();
    rusage self{};
    getrusage(RUSAGE_SELF, &self);
    std::printf("peak memory of this measuring process: %.1f MB\n", self.ru_maxrss / 1024.0);
    wxEntryCleanup();
    return 0;
}
