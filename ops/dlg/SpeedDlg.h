#pragma once
// The Programming Speed dialog: reads the programmer's speed code before it appears, lets the user
// move a slider from "Slow" to "Fast", and writes the new code on OK. Everything runs on the
// user-interface thread, which the programmer's waits block (about half a second each way).

#include <wx/dialog.h>

#include "ops/Sleeper.h"

class wxSlider;
class wxStaticText;

constexpr int IDC_SPEED_SLIDER = 1022;
constexpr int IDC_SPEED_LABEL = 1023;

class CSpeedDlg : public wxDialog {
public:
    enum { IDD = 154 };

    explicit CSpeedDlg(wxWindow* parent = nullptr);

    // Reads the speed first (OnInitDialog); when that fails the message has been shown and the
    // dialog ends with wxID_CANCEL without appearing.
    int ShowModal() override;

    // Sets the slider from the programmer's code and the label; false when the programmer could not
    // be reached or read (its message shown), and the dialog is to end with Cancel.
    bool OnInitDialog();
    void OnHScroll(wxCommandEvent& event);
    void OnOK(wxCommandEvent& event);

private:
    void ShowSpeedLabel();

    wxSlider* m_slider = nullptr;
    wxStaticText* m_label = nullptr;
    CRealSleeper m_sleeper;
};
