// veltro51: the desktop program.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <wx/app.h>

#include "ui/OstrelApp.h"

#ifndef VELTRO_VERSION
#error "VELTRO_VERSION is set by the build"
#endif

wxIMPLEMENT_APP_NO_MAIN(COstrelApp);

namespace {

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
    "The Help menu looks for its pages in Help/ under the working directory; the menu entry starts\n"
    "the program in its data folder. veltro51-cli runs the same operations without a window.\n";

} // namespace

int main(int argc, char** argv) {
    // Answered before the toolkit starts, so they work without a display and open no window.
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0) {
            std::fputs(USAGE, stdout);
            return 0;
        }
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("Veltro 51 %s\n", VELTRO_VERSION);
            return 0;
        }
    }
    // The program draws no OpenGL. GTK would still open the GL driver at start to choose its visuals,
    // which on a software renderer maps about 50 MB of compiler library; a user's own choice stands.
    setenv("GDK_GL", "disable", 0);
    return wxEntry(argc, argv);
}
