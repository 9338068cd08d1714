#include "ui/Help.h"

#include <filesystem>
#include <system_error>
#include <utility>

#include <unistd.h>

#include <wx/log.h>
#include <wx/process.h>
#include <wx/utils.h>

#include "res/AppMessages.h"

namespace {

DocumentLauncher g_launcher;
#ifdef VELTRO_DATA_DIR
wxString g_dataFolder = VELTRO_DATA_DIR;
#else
wxString g_dataFolder;
#endif

bool IsReadablePage(const wxString& path) {
    if (path.empty())
        return false;
    const std::string file(path.fn_str());
    std::error_code error;
    return std::filesystem::is_regular_file(file, error) && ::access(file.c_str(), R_OK) == 0;
}

// Reports a failure of the program once it has ended; deletes itself.
class CLaunchProcess : public wxProcess {
public:
    explicit CLaunchProcess(std::function<void()> failed) : m_failed(std::move(failed)) {}
    void OnTerminate(int, int status) override {
        if (status != 0 && m_failed)
            m_failed();
        delete this;
    }

private:
    std::function<void()> m_failed;
};

bool LaunchWithXdgOpen(const wxString& path, std::function<void()> failed) {
    const std::string file(path.fn_str());
    const char* argv[] = {"xdg-open", file.c_str(), nullptr};
    auto* process = new CLaunchProcess(std::move(failed));
    wxLogNull quiet; // the message box says it; no log popup
    if (wxExecute(argv, wxEXEC_ASYNC, process) == 0) {
        delete process;
        return false;
    }
    return true;
}

} // namespace

DocumentLauncher SetDocumentLauncher(DocumentLauncher launcher) {
    std::swap(launcher, g_launcher);
    return launcher;
}

wxString HelpPagePath(const char* page) {
    std::error_code error;
    const std::filesystem::path cwd = std::filesystem::current_path(error);
    if (error)
        return wxString();
    return wxString((cwd / page).string().c_str(), *wxConvFileName);
}

wxString SetInstalledDataFolder(const wxString& folder) {
    wxString previous = g_dataFolder;
    g_dataFolder = folder;
    return previous;
}

wxString InstalledDataFolder() {
    return g_dataFolder;
}

wxString FindHelpPage(const char* page) {
    const wxString here = HelpPagePath(page);
    if (IsReadablePage(here))
        return here;
    if (g_dataFolder.empty())
        return wxString();
    const std::filesystem::path installed = std::filesystem::path(std::string(g_dataFolder.fn_str())) / page;
    const wxString path(installed.string().c_str(), *wxConvFileName);
    return IsReadablePage(path) ? path : wxString();
}

void OpenHelpPage(const char* page, wxWindow* parent) {
    const wxString path = FindHelpPage(page);
    if (path.empty()) {
        ShowAppMessage(MSG_HELP_MISSING, AppIcon::Error, parent);
        return;
    }
    // The page exists: a failure is the missing program's, and the user can still open the page.
    const wxString noBrowser = wxString::FromUTF8(MSG_HELP_NO_BROWSER) + "\n" + path;
    // A late failure may come after the parent window is gone: it is shown over the main window then.
    auto failed = [noBrowser] { ShowAppMessage(noBrowser, AppIcon::Error); };
    const bool started = g_launcher ? g_launcher(path, failed) : LaunchWithXdgOpen(path, failed);
    if (!started)
        ShowAppMessage(noBrowser, AppIcon::Error, parent);
}
