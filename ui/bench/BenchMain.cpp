// veltro51-bench: the operator's bench window.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <wx/app.h>

#include "Version.h"
#include "ui/bench/BenchFrame.h"
#include "ui/bench/BenchOptions.h"

namespace {

BenchOptions g_options;

class CBenchApp : public wxApp {
public:
    bool OnInit() override {
        (new CBenchFrame(g_options))->Show();
        return true;
    }
};

} // namespace

wxIMPLEMENT_APP_NO_MAIN(CBenchApp);

int main(int argc, char** argv) {
    std::vector<std::string> arguments(argv + 1, argv + argc);
    std::string error;
    // Answered before the toolkit starts, so they work without a display.
    if (!ParseBenchOptions(arguments, g_options, error)) {
        std::fprintf(stderr, "veltro51-bench: %s\nTry 'veltro51-bench --help'.\n", error.c_str());
        return 2;
    }
    if (g_options.help) {
        std::fputs(BenchUsage(), stdout);
        return 0;
    }
    if (g_options.version) {
        std::printf("veltro51-bench %s\n%s\n%s\n", VELTRO_VERSION, VELTRO_COPYRIGHT, VELTRO_LICENCE_NOTICE);
        return 0;
    }
    setenv("GDK_GL", "disable", 0);
    int wxArgc = 1;
    return wxEntry(wxArgc, argv);
}
