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

void OpenHelpPage(const char* page, wxWindow* parent) {
    const wxString path = HelpPagePath(page);
    const std::string file(path.fn_str());
    std::error_code error;
    const bool readable =
        !path.empty() && std::filesystem::is_regular_file(file, error) && ::access(file.c_str(), R_OK) == 0;
    if (!readable) {
        ShowAppMessage(MSG_HELP_MISSING, MsgIcon::Error, parent);
        return;
    }
    // A late failure may come after the parent window is gone: it is shown without one.
    auto failed = [] { ShowAppMessage(MSG_HELP_MISSING, MsgIcon::Error); };
    const bool started = g_launcher ? g_launcher(path, failed) : LaunchWithXdgOpen(path, failed);
    if (!started)
        ShowAppMessage(MSG_HELP_MISSING, MsgIcon::Error, parent);
}
