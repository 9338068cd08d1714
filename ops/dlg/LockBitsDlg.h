#pragma once
// The Lock Bits dialog: three lock-bit boxes kept consistent (LB3 => LB2 => LB1), Read and Write
// buttons that talk to the programmer on the user-interface thread, and the auto-lock option for
// the burn. Its four members are the boxes' states as last pulled; Close pulls them, Escape and the
// close box end the dialog without pulling. User-interface thread only.

#include <wx/dialog.h>

#include "ops/LockBits.h"

class wxCheckBox;

constexpr int IDC_LOCK_READ = 1003;
constexpr int IDC_LOCK_WRITE = 1004;
constexpr int IDC_LOCK_LB1 = 1011;
constexpr int IDC_LOCK_LB2 = 1012;
constexpr int IDC_LOCK_LB3 = 1013;
constexpr int IDC_LOCK_AFTER_BURN = 1021;

// The members m_lb1, m_lb2, m_lb3 and m_lockAfterBurn (0 or 1) come from LockBoxes.
class CLockBitsDlg : public wxDialog, public LockBoxes {
public:
    enum { IDD = 145 };

    explicit CLockBitsDlg(wxWindow* parent = nullptr);

    // The four members to the boxes, and back.
    bool TransferDataToWindow() override;
    bool TransferDataFromWindow() override;

    void OnLb1(wxCommandEvent& event);
    void OnLb2(wxCommandEvent& event);
    void OnLb3(wxCommandEvent& event);
    void OnWriteLockBits(wxCommandEvent& event);
    void OnReadLockBits(wxCommandEvent& event);

private:
    void OnCharHook(wxKeyEvent& event);
    void OnCloseWindow(wxCloseEvent& event);
    // Pulls the boxes, applies the rule to the members, pushes them back.
    void KeepBoxesConsistent(void (*rule)(LockBoxes&));

    wxCheckBox* m_boxLb1 = nullptr;
    wxCheckBox* m_boxLb2 = nullptr;
    wxCheckBox* m_boxLb3 = nullptr;
    wxCheckBox* m_boxLockAfterBurn = nullptr;
    CRealSleeper m_sleeper;
};
