#pragma once
// The help pages: HTML files under Help/ of the process's current working directory, else under
// Help/ of the installed data folder, opened with the desktop's program for them. User-interface
// thread only.

#include <functional>

#include <wx/string.h>

class wxWindow;

constexpr const char* HELP_INSTALLATION = "Help/Installation.htm";
constexpr const char* HELP_TUTORIAL = "Help/Tutorial.htm";
constexpr const char* HELP_READING = "Help/Reading.htm";
constexpr const char* MSG_HELP_MISSING = "Cannot Locate Help File. Please Reinstall.";
// The page is there, but no program could show it.
constexpr const char* MSG_HELP_NO_BROWSER =
    "Cannot Show Help File. No Web Browser Could Be Started; the page is at:";

// Starts the desktop's program for a file without waiting for it. Returns false when it could not
// be started; a program that starts and then fails calls failed() later, on the UI thread.
using DocumentLauncher = std::function<bool(const wxString& path, std::function<void()> failed)>;

// Installs a launcher; an empty function restores the default (xdg-open, no shell). Returns the
// earlier one.
DocumentLauncher SetDocumentLauncher(DocumentLauncher launcher);

// The full path of a page under the current working directory; empty when the directory cannot be
// read. Any length.
wxString HelpPagePath(const char* page);

// The installed data folder (holding Help/); tests put another in its place. Returns the earlier.
wxString SetInstalledDataFolder(const wxString& folder);
wxString InstalledDataFolder();

// The page to open: under the working directory when it is a readable file there, else under the
// installed data folder when it is one there; empty when neither.
wxString FindHelpPage(const char* page);

// Opens a page. Says "Cannot Locate Help File. Please Reinstall." (stop icon) when it is found in
// neither place, and MSG_HELP_NO_BROWSER with the page's path when the program for it cannot be
// started or fails.
void OpenHelpPage(const char* page, wxWindow* parent = nullptr);
