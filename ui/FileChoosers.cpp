#include "ui/FileChoosers.h"

#include <utility>

#include <wx/filedlg.h>
#include <wx/filename.h>
#include <wx/msgdlg.h>

namespace {

FileChooser g_openChooser;
FileChooser g_saveChooser;

wxString RealOpenDialog(const FileChooserRequest& request) {
    wxFileDialog dialog(request.parent, wxFileSelectorPromptStr, wxEmptyString, request.initialName,
                        request.filter, wxFD_OPEN);
    return dialog.ShowModal() == wxID_OK ? dialog.GetPath() : wxString();
}

wxString RealSaveDialog(const FileChooserRequest& request) {
    // The dialog asks about the name as typed; when the default extension is added afterwards, the
    // question about the name that will really be written is asked here.
    for (;;) {
        wxFileDialog dialog(request.parent, wxFileSelectorPromptStr, wxEmptyString, request.initialName,
                            request.filter,
                            wxFD_SAVE | (request.confirmOverwrite ? wxFD_OVERWRITE_PROMPT : 0));
        if (dialog.ShowModal() != wxID_OK)
            return {};
        const wxString typed = dialog.GetPath();
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

wxString ChooseFileToOpen(wxWindow* parent) {
    const FileChooserRequest request{parent, OPEN_FILTER, wxString(), wxString(), false};
    return g_openChooser ? g_openChooser(request) : RealOpenDialog(request);
}

wxString ChooseFileToSave(wxWindow* parent) {
    const FileChooserRequest request{parent, SAVE_FILTER, SAVE_DEFAULT_NAME, SAVE_DEFAULT_EXTENSION, true};
    if (!g_saveChooser)
        return RealSaveDialog(request);
    const wxString path = g_saveChooser(request);
    return path.empty() ? path : WithDefaultExtension(path, request.defaultExtension);
}

wxString WithDefaultExtension(const wxString& path, const wxString& extension) {
    if (path.empty() || extension.empty())
        return path;
    const wxFileName name(path);
    if (name.HasExt() || name.GetFullName().empty())
        return path;
    return path + "." + extension;
}
