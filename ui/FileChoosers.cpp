#include "ui/FileChoosers.h"

#include <utility>

#include <wx/filedlg.h>
#include <wx/filename.h>
#include <wx/msgdlg.h>
#include <wx/utils.h>

#include "res/GtkLook.h"

namespace {

FileChooser g_openChooser;
FileChooser g_saveChooser;
wxString g_firmwareFolder; // empty: none used yet in this run

wxString RealOpenDialog(const FileChooserRequest& request) {
    const auto dialog = MakeFileDialog(request, wxFD_OPEN);
    return dialog->ShowModal() == wxID_OK ? dialog->GetPath() : wxString();
}

wxString RealSaveDialog(const FileChooserRequest& request) {
    // The dialog asks about the name as typed; when the default extension is added afterwards, the
    // question about the name that will really be written is asked here.
    for (;;) {
        const auto dialog =
            MakeFileDialog(request, wxFD_SAVE | (request.confirmOverwrite ? wxFD_OVERWRITE_PROMPT : 0));
        if (dialog->ShowModal() != wxID_OK)
            return {};
        const wxString typed = dialog->GetPath();
        const wxString path = WithDefaultExtension(typed, request.defaultExtension);
        if (!request.confirmOverwrite || path == typed || !wxFileName::Exists(path))
            return path;
        const wxString question = wxString::Format(
            "A file named \"%s\" already exists. Do you want to replace it?", wxFileName(path).GetFullName());
        if (wxMessageBox(question, wxFileName(path).GetFullName(), wxYES_NO | wxICON_WARNING,
                         request.parent) == wxYES)
            return path;
    }
}

} // namespace

FileChooser SetOpenFileChooser(FileChooser chooser) {
    std::swap(chooser, g_openChooser);
    return chooser;
}

FileChooser SetSaveFileChooser(FileChooser chooser) {
    std::swap(chooser, g_saveChooser);
    return chooser;
}

wxString FirmwareFolder() {
    return g_firmwareFolder.empty() ? wxGetHomeDir() : g_firmwareFolder;
}

void RememberFirmwareFile(const wxString& path) {
    if (path.empty()) {
        g_firmwareFolder.clear();
        return;
    }
    wxFileName name(path);
    name.MakeAbsolute();
    g_firmwareFolder = name.GetPath();
}

std::unique_ptr<wxFileDialog> MakeFileDialog(const FileChooserRequest& request, long style) {
    // Titled as the desktop's own Open and Save dialogs are, not wx's "Select a file".
    const wxString title = (style & wxFD_SAVE) ? FILE_SAVE_TITLE : FILE_OPEN_TITLE;
    auto dialog = std::make_unique<wxFileDialog>(request.parent, title, request.initialFolder,
                                                 request.initialName, request.filter, style);
    MatchFilterPatternsInAnyCase(*dialog);
    CentreOnParentWindow(*dialog);
    return dialog;
}

wxString ChooseFileToOpen(wxWindow* parent) {
    const FileChooserRequest request{parent, OPEN_FILTER, wxString(), wxString(), false, FirmwareFolder()};
    const wxString path = g_openChooser ? g_openChooser(request) : RealOpenDialog(request);
    if (!path.empty())
        RememberFirmwareFile(path);
    return path;
}

wxString ChooseFileToSave(wxWindow* parent) {
    const FileChooserRequest request{parent, SAVE_FILTER,     SAVE_DEFAULT_NAME, SAVE_DEFAULT_EXTENSION,
                                     true,   FirmwareFolder()};
    wxString path = g_saveChooser ? g_saveChooser(request) : RealSaveDialog(request);
    if (path.empty())
        return path;
    path = WithDefaultExtension(path, request.defaultExtension);
    RememberFirmwareFile(path);
    return path;
}

wxString WithDefaultExtension(const wxString& path, const wxString& extension) {
    if (path.empty() || extension.empty())
        return path;
    const wxFileName name(path);
    if (name.HasExt() || name.GetFullName().empty())
        return path;
    return path + "." + extension;
}
