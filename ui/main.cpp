// veltro51: the desktop program.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <wx/app.h>

#include "Version.h"
#include "ui/AboutDlg.h"
#include "ui/OstrelApp.h"

wxIMPLEMENT_APP_NO_MAIN(COstrelApp);

int main(int argc, char** argv) {
    // Answered before the toolkit starts, so it works without a display.
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--version") == 0) {
            // The About box's copyright line: the program holds it only scrambled.
            char copyright[128];
            DescrambleText(g_scrambledCopyrightLine, copyright, sizeof copyright);
            std::printf("Veltro 51 %s\n%s\n%s\n", VELTRO_VERSION, copyright, VELTRO_LICENCE_NOTICE);
            return 0;
        }
    }
    // The program draws no OpenGL. GTK would still open the GL driver at start to choose its visuals,
    // which on a software renderer maps about 50 MB of compiler library; a user's own choice stands.
    setenv("GDK_GL", "disable", 0);
    // Under a file-size limit (ulimit -f) Save fails with EFBIG and says "Cannot Write to file",
    // instead of the signal ending the program with the image unsaved and a temporary file left.
    std::signal(SIGXFSZ, SIG_IGN);
    return wxEntry(argc, argv);
}
