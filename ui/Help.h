#pragma once
// The help pages: HTML files under Help/ of the process's current working directory, opened with the
// desktop's program for them. User-interface thread only.

#include <functional>

#include <wx/string.h>

class wxWindow;

constexpr const char* HELP_INSTALLATION = "Help/Installation.htm";
constexpr const char* HELP_TUTORIAL = "Help/Tutorial.htm";
constexpr const char* HELP_READING = "Help/Reading.htm";
constexpr const char* MSG_HELP_MISSING = "Cannot Locate Help File. Please Reinstall.";

// Starts the desktop's program for a file without waiting for it. Returns false when it could not
// be started; a program that starts and then fails calls failed() later, on the UI thread.
using DocumentLauncher = std::function<bool(const wxString& path, std::function<void()> failed)>;

// Installs a launcher; an empty function restores the default (xdg-open, no shell). Returns the
// earlier one.
DocumentLauncher SetDocumentLauncher(DocumentLauncher launcher);

// The full path of a page under the current working directory; empty when the directory cannot be
// read. Any length.
wxString HelpPagePath(const char* page);

// Opens a page, or says "Cannot Locate Help File. Please Reinstall." (stop icon) when it is missing,
// is not a readable file, or the program for it cannot be started or fails.
void OpenHelpPage(const char* page, wxWindow* parent = nullptr);
