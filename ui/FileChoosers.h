#pragma once
// The Open and Save file choosers of the view's file commands. Tests replace them with functions
// that return a scripted path. User-interface thread only.

#include <functional>
#include <memory>

#include <wx/string.h>

class wxFileDialog;
class wxWindow;

constexpr const char* OPEN_FILTER =
    "Intel HEX files (*.hex,*.ihx)|*.hex;*.ihx|Raw Binary Files (*.bin)|*.bin";
constexpr const char* SAVE_FILTER = "Intel HEX file (*.hex)|*.hex";
constexpr const char* SAVE_DEFAULT_NAME = "myFirmware";
constexpr const char* FILE_OPEN_TITLE = "Open";
constexpr const char* FILE_SAVE_TITLE = "Save As";
constexpr const char* SAVE_DEFAULT_EXTENSION = "hex";

struct FileChooserRequest {
    wxWindow* parent;
    wxString filter;           // wx filter text: "description|patterns|description|patterns"
    wxString initialName;      // empty: none
    wxString defaultExtension; // appended when the chosen name has none; empty: none
    bool confirmOverwrite;     // ask before an existing file is replaced
    wxString initialFolder;    // where the dialog starts: FirmwareFolder()
};

// Returns the chosen full path, or an empty string when the user cancelled.
using FileChooser = std::function<wxString(const FileChooserRequest& request)>;

// Install a chooser; an empty function restores the platform's dialog. Returns the earlier one.
FileChooser SetOpenFileChooser(FileChooser chooser);
FileChooser SetSaveFileChooser(FileChooser chooser);

wxString ChooseFileToOpen(wxWindow* parent);
wxString ChooseFileToSave(wxWindow* parent);

// The folder of the firmware file last used in this run (chosen to open or save, or named on the
// command line), else the user's home folder; never the working directory, which the menu entry
// sets to the data folder for the help pages.
wxString FirmwareFolder();
// Remembers the folder of path (made absolute) for the next dialog; an empty path forgets it.
void RememberFirmwareFile(const wxString& path);

// The platform's dialog for request, as the Open (wxFD_OPEN) or Save (wxFD_SAVE) chooser shows it:
// starting in the request's folder, its filters matching extensions in any case.
std::unique_ptr<wxFileDialog> MakeFileDialog(const FileChooserRequest& request, long style);

// Appends "." + extension when the file name of path has no extension of its own.
wxString WithDefaultExtension(const wxString& path, const wxString& extension);
