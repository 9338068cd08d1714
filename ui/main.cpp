// veltro51: the desktop program.
#include <cstdio>
#include <cstring>

#include <wx/app.h>

#include "ui/OstrelApp.h"

wxIMPLEMENT_APP_NO_MAIN(COstrelApp);

int main(int argc, char** argv) {
    // Answered before the toolkit starts, so it works without a display.
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("Veltro 51 2.4.0\n");
            return 0;
        }
    }
    return wxEntry(argc, argv);
}
