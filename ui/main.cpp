// veltro51: the desktop program.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <wx/app.h>

#include "Version.h"
#include "ui/AboutDlg.h"
#include "ui/OstrelApp.h"

wxIMPLEMENT_APP_NO_MAIN(COstrelApp);

namespace {

constexpr const char* USAGE_LINES = "Usage: veltro51 [-Embedding | -Automation] [FILE]\n"
                                    "       veltro51 --help | --version\n";

constexpr const char* USAGE =
    "Usage: veltro51 [-Embedding | -Automation] [FILE]\n"
    "       veltro51 --help | --version\n"
    "The desktop application of the Veltro-8051 USB programmer for AT89Sxx flash microcontrollers.\n"
    "\n"
    "  FILE                     load this Intel HEX (.hex, .ihx) or raw binary file at start,\n"
    "                           as File > Open HEX File would\n"
    "  -Embedding, -Automation  start without the splash picture (any case, also with /)\n"
    "  --help                   print this help and exit\n"
    "  --version                print the program's name and version and exit\n"
    "\n"
    "The Help menu looks for its pages in Help/ under the working directory, then in the installed\n"
    "data folder. veltro51-cli runs the same operations without a window.\n";

} // namespace

int main(int argc, char** argv) {
    // Answered before the toolkit starts, so they work without a display and open no window.
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0) {
            std::fputs(USAGE, stdout);
            return 0;
        }
        if (std::strcmp(argv[i], "--version") == 0) {
            // The About box's copyright line: the program holds it only scrambled.
            char copyright[128];
            DescrambleText(g_scrambledCopyrightLine, copyright, sizeof copyright);
            std::printf("Veltro 51 %s\n%s\n%s\n", VELTRO_VERSION, copyright, VELTRO_LICENCE_NOTICE);
            return 0;
        }
    }
    // An option the program does not know is refused before any window opens, as --help answers.
    const StartupOptions options = ParseStartupOptions(argc, argv);
    if (!options.unknownOption.empty()) {
        std::fprintf(stderr, "veltro51: unknown option '%s'\n", options.unknownOption.c_str());
        std::fputs(USAGE_LINES, stderr);
        std::fputs("Try 'veltro51 --help' for more information.\n", stderr);
        return 2;
    }
    // The file is taken from these bytes (see OnInit); the toolkit would drop a name that is not
    // UTF-8 with a warning, so it is not given one.
    SetRawCommandLine(argc, argv);
    std::vector<char*> toolkitArgs;
    for (int i = 0; i < argc; ++i)
        if (i == 0 || !wxString::FromUTF8(argv[i]).empty() || !*argv[i])
            toolkitArgs.push_back(argv[i]);
    int toolkitArgc = static_cast<int>(toolkitArgs.size());
    toolkitArgs.push_back(nullptr);
    // The program draws no OpenGL. GTK would still open the GL driver at start to choose its visuals,
    // which on a software renderer maps about 50 MB of compiler library; a user's own choice stands.
    setenv("GDK_GL", "disable", 0);
    // Under a file-size limit (ulimit -f) Save fails with EFBIG and says "Cannot Write to file",
    // instead of the signal ending the program with the image unsaved and a temporary file left.
    std::signal(SIGXFSZ, SIG_IGN);
    return wxEntry(toolkitArgc, toolkitArgs.data());
}
