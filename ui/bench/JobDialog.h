#pragma once
// The form that makes a job for the bench: the firmware, the chip, the lock mode, the serial
// numbers and their store, the log and the mode. Save As writes it through the core (ops/Job.h):
// the firmware's SHA-256 computed, the firmware loaded as a burn would load it, paths kept relative
// to the job's folder.

#include <string>

#include <wx/dialog.h>

#include "ops/Job.h"

class wxChoice;
class wxTextCtrl;

// What the form's fields say, paths as typed (absolute, or relative to the working directory).
struct JobForm {
    std::string firmware;
    std::string chip; // empty: the signature decides
    int lock = 0;
    std::string serial;
    std::string serialStore;
    std::string log;
    JobMode mode = JobMode::Rounds;
};

// The job of the form, saved at jobPath: false with the reason (one line or a few) when the
// firmware cannot be read or loaded, or the job cannot be written as it is.
bool SaveJobOfForm(const JobForm& form, const std::string& jobPath, Job& job, std::string& error);

class CJobDialog : public wxDialog {
public:
    // The fields start from job (read from jobPath), or empty without one.
    CJobDialog(wxWindow* parent, const Job* job, const std::string& jobPath);

    JobForm Form() const;
    void SetForm(const JobForm& form);
    // Saves the form's job at path; false with a message box that tells why.
    bool SaveAs(const std::string& path);
    // The job saved last, and where.
    const std::string& SavedPath() const { return m_savedPath; }

private:
    void OnSave();
    void Browse(wxTextCtrl* field, const wxString& filter, bool save);

    wxTextCtrl* m_firmware = nullptr;
    wxChoice* m_chip = nullptr;
    wxChoice* m_lock = nullptr;
    wxTextCtrl* m_serial = nullptr;
    wxTextCtrl* m_serialStore = nullptr;
    wxTextCtrl* m_log = nullptr;
    wxChoice* m_mode = nullptr;
    std::string m_savedPath;
};
