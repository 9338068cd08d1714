#include "ui/bench/JobDialog.h"

#include <cstring>
#include <filesystem>

#include <wx/button.h>
#include <wx/choice.h>
#include <wx/filedlg.h>
#include <wx/sizer.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

#include "chips/ChipCatalogue.h"
#include "res/AppMessages.h"

namespace {

const wxString MODE_NAMES[] = {"Rounds: every socket one chip, then Space for the next",
                               "Watch: each socket starts when a chip is inserted"};

// Two names of one file, once made absolute with links followed where they exist.
bool SameFile(const std::string& a, const std::string& b) {
    namespace fs = std::filesystem;
    std::error_code error;
    const fs::path first = fs::weakly_canonical(fs::absolute(a, error), error);
    const fs::path second = fs::weakly_canonical(fs::absolute(b, error), error);
    return first == second;
}

std::string Text(const wxTextCtrl* field) {
    return field->GetValue().Strip(wxString::both).ToStdString(wxConvUTF8);
}

} // namespace

bool SaveJobOfForm(const JobForm& form, const std::string& jobPath, Job& job, std::string& error) {
    if (form.firmware.empty()) {
        error = "Choose the firmware to burn.";
        return false;
    }
    // The job is written over its path: never over a file of the line it describes.
    for (const std::string* file : {&form.firmware, &form.serialStore, &form.log})
        if (!file->empty() && !IsStoreUrl(*file) && SameFile(jobPath, *file)) {
            error = "The job " + jobPath + " would replace " + *file + ".";
            return false;
        }
    std::string sha256;
    int systemError = 0;
    if (!FileSha256(form.firmware, sha256, systemError)) {
        error = form.firmware + ": " + std::strerror(systemError);
        return false;
    }
    const auto place = [&](const std::string& where) {
        return where.empty() || IsStoreUrl(where) ? where : PathForJob(jobPath, where);
    };
    job = Job();
    job.firmware = PathForJob(jobPath, form.firmware);
    job.sha256 = sha256;
    job.chip = form.chip;
    job.lock = form.lock;
    job.serial = form.serial;
    job.serialStore = place(form.serialStore);
    job.log = place(form.log);
    job.allSockets = true; // the bench burns in every socket
    job.mode = form.mode;
    // A job whose firmware does not load would only fail on the line.
    const JobFirmware firmware = LoadJobFirmware(job, jobPath);
    if (!firmware.ok) {
        error = firmware.message;
        return false;
    }
    const JobSaved saved = SaveJob(job, jobPath);
    if (!saved.ok) {
        error = saved.message;
        return false;
    }
    return true;
}

CJobDialog::CJobDialog(wxWindow* parent, const Job* job, const std::string& jobPath)
    : wxDialog(parent, wxID_ANY, "New Job", wxDefaultPosition, wxDefaultSize,
               wxDEFAULT_DIALOG_STYLE | wxRESIZE_BORDER) {
    auto* grid = new wxFlexGridSizer(3, FromDIP(6), FromDIP(8));
    grid->AddGrowableCol(1, 1);
    const auto label = [&](const char* text) {
        grid->Add(new wxStaticText(this, wxID_ANY, text), 0, wxALIGN_CENTRE_VERTICAL);
    };
    const auto browse = [&](wxTextCtrl* field, const char* filter, bool save) {
        auto* button = new wxButton(this, wxID_ANY, "Browse...");
        button->Bind(wxEVT_BUTTON,
                     [this, field, filter, save](wxCommandEvent&) { Browse(field, filter, save); });
        grid->Add(button, 0);
    };
    const wxSize wide(FromDIP(360), -1);

    label("&Firmware:");
    m_firmware = new wxTextCtrl(this, wxID_ANY, "", wxDefaultPosition, wide);
    grid->Add(m_firmware, 1, wxEXPAND);
    browse(m_firmware, "Firmware files (*.hex,*.ihx,*.bin)|*.hex;*.ihx;*.bin", false);

    label("&Chip:");
    wxArrayString chips;
    chips.Add("By its signature");
    for (const ChipInfo& chip : g_chipCatalogue)
        chips.Add(chip.name);
    m_chip = new wxChoice(this, wxID_ANY, wxDefaultPosition, wxDefaultSize, chips);
    grid->Add(m_chip, 0);
    grid->AddSpacer(0);

    label("&Lock mode:");
    wxArrayString locks;
    locks.Add("None");
    for (int mode = 1; mode <= 4; ++mode)
        locks.Add(wxString::Format("Modes 1 to %d", mode));
    m_lock = new wxChoice(this, wxID_ANY, wxDefaultPosition, wxDefaultSize, locks);
    grid->Add(m_lock, 0);
    grid->AddSpacer(0);

    label("S&erial numbers:");
    m_serial = new wxTextCtrl(this, wxID_ANY, "", wxDefaultPosition, wide);
    m_serial->SetHint("ADDR[,START[,STEP[,FORMAT]]], e.g. 0x1FF0,1000");
    grid->Add(m_serial, 1, wxEXPAND);
    grid->AddSpacer(0);

    label("Serial s&tore:");
    m_serialStore = new wxTextCtrl(this, wxID_ANY, "", wxDefaultPosition, wide);
    m_serialStore->SetHint("a file, or postgresql://...");
    grid->Add(m_serialStore, 1, wxEXPAND);
    browse(m_serialStore, "All files (*)|*", true);

    label("L&og:");
    m_log = new wxTextCtrl(this, wxID_ANY, "", wxDefaultPosition, wide);
    m_log->SetHint("a file of JSON lines, or postgresql://...");
    grid->Add(m_log, 1, wxEXPAND);
    browse(m_log, "All files (*)|*", true);

    label("&Mode:");
    m_mode = new wxChoice(this, wxID_ANY, wxDefaultPosition, wxDefaultSize, wxArrayString(2, MODE_NAMES));
    grid->Add(m_mode, 0);
    grid->AddSpacer(0);

    auto* buttons = new wxBoxSizer(wxHORIZONTAL);
    auto* save = new wxButton(this, wxID_SAVEAS, "&Save As...");
    buttons->AddStretchSpacer();
    buttons->Add(save, 0, wxRIGHT, FromDIP(8));
    buttons->Add(new wxButton(this, wxID_CANCEL, "Cancel"), 0);
    save->SetDefault();
    save->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { OnSave(); });

    auto* top = new wxBoxSizer(wxVERTICAL);
    top->Add(grid, 1, wxEXPAND | wxALL, FromDIP(12));
    top->Add(buttons, 0, wxEXPAND | wxLEFT | wxRIGHT | wxBOTTOM, FromDIP(12));
    SetSizerAndFit(top);

    JobForm form;
    if (job != nullptr) {
        // A job's paths as the form shows them: as the program opens them.
        const auto place = [&](const std::string& where) {
            return IsStoreUrl(where) ? where : ResolveJobPath(jobPath, where);
        };
        form.firmware = ResolveJobPath(jobPath, job->firmware);
        form.chip = job->chip;
        form.lock = job->lock;
        form.serial = job->serial;
        form.serialStore = place(job->serialStore);
        form.log = place(job->log);
        form.mode = job->mode;
    }
    SetForm(form);
    m_firmware->SetFocus();
    CentreOnParent();
}

JobForm CJobDialog::Form() const {
    JobForm form;
    form.firmware = Text(m_firmware);
    form.chip = m_chip->GetSelection() > 0 ? m_chip->GetStringSelection().ToStdString() : "";
    form.lock = std::max(0, m_lock->GetSelection());
    form.serial = Text(m_serial);
    form.serialStore = Text(m_serialStore);
    form.log = Text(m_log);
    form.mode = m_mode->GetSelection() == 1 ? JobMode::Watch : JobMode::Rounds;
    return form;
}

void CJobDialog::SetForm(const JobForm& form) {
    m_firmware->SetValue(wxString::FromUTF8(form.firmware));
    const int chip = form.chip.empty() ? -1 : FindChipByName(form.chip);
    m_chip->SetSelection(chip + 1);
    m_lock->SetSelection(form.lock >= 0 && form.lock <= 4 ? form.lock : 0);
    m_serial->SetValue(wxString::FromUTF8(form.serial));
    m_serialStore->SetValue(wxString::FromUTF8(form.serialStore));
    m_log->SetValue(wxString::FromUTF8(form.log));
    m_mode->SetSelection(form.mode == JobMode::Watch ? 1 : 0);
}

bool CJobDialog::SaveAs(const std::string& path) {
    Job job;
    std::string error;
    if (!SaveJobOfForm(Form(), path, job, error)) {
        ShowAppMessage(wxString::FromUTF8("The job was not saved: " + error), AppIcon::Error, this);
        return false;
    }
    m_savedPath = path;
    return true;
}

void CJobDialog::OnSave() {
    wxFileDialog chooser(this, "Save Job As", "", "job.toml", "Job files (*.toml)|*.toml;*.TOML",
                         wxFD_SAVE | wxFD_OVERWRITE_PROMPT);
    if (chooser.ShowModal() != wxID_OK)
        return;
    std::string path = chooser.GetPath().ToStdString(wxConvUTF8);
    if (std::filesystem::path(path).extension().empty())
        path += ".toml";
    if (SaveAs(path))
        EndModal(wxID_OK);
}

void CJobDialog::Browse(wxTextCtrl* field, const wxString& filter, bool save) {
    wxFileDialog chooser(this, save ? "Choose File" : "Open", "", "", filter,
                         save ? wxFD_SAVE : (wxFD_OPEN | wxFD_FILE_MUST_EXIST));
    if (chooser.ShowModal() == wxID_OK)
        field->SetValue(chooser.GetPath());
}
