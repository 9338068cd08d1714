#include "ops/dlg/SpeedDlg.h"

#include <wx/button.h>
#include <wx/slider.h>
#include <wx/statbox.h>
#include <wx/stattext.h>

#include "ops/Programmers.h"
#include "ops/Speed.h"
#include "ops/dlg/DialogSupport.h"
#include "ops/dlg/DialogTexts.h"
#include "ops/dlg/AppMessagePort.h"

CSpeedDlg::CSpeedDlg(wxWindow* parent)
    : wxDialog(parent, wxID_ANY, FromCore(SPEED_CAPTION), wxDefaultPosition, wxDefaultSize,
               wxCAPTION | wxSYSTEM_MENU | wxCLOSE_BOX) {
    SetUpDialogFrame(this, 186, 185);
    PlaceDlu(new wxStaticBox(this, wxID_ANY, FromCore(SPEED_GROUP)), 7, 7, 172, 148);
    m_slider = PlaceDlu(new wxSlider(this, IDC_SPEED_SLIDER, 0, 0, SPEED_SLIDER_MAX, wxDefaultPosition,
                                     wxDefaultSize, wxSL_HORIZONTAL | wxSL_AUTOTICKS | wxSL_TOP),
                        13, 33, 157, 20);
    PlaceDlu(new wxStaticText(this, wxID_ANY, FromCore(SPEED_SLOW), wxDefaultPosition, wxDefaultSize,
                              wxALIGN_LEFT | wxST_NO_AUTORESIZE),
             17, 25, 21, 8);
    PlaceDlu(new wxStaticText(this, wxID_ANY, FromCore(SPEED_FAST), wxDefaultPosition, wxDefaultSize,
                              wxALIGN_RIGHT | wxST_NO_AUTORESIZE),
             145, 25, 21, 8);
    m_label = PlaceDlu(new wxStaticText(this, IDC_SPEED_LABEL, FromCore(SPEED_LABEL_START), wxDefaultPosition,
                                        wxDefaultSize, wxALIGN_CENTRE_HORIZONTAL | wxST_NO_AUTORESIZE),
                       69, 63, 48, 11);
    PlaceDlu(new wxStaticText(this, wxID_ANY, FromCore(SPEED_NOTE), wxDefaultPosition, wxDefaultSize,
                              wxALIGN_LEFT | wxST_NO_AUTORESIZE),
             17, 79, 152, 62);
    auto* ok = PlaceDlu(new wxButton(this, wxID_OK, FromCore(TEXT_OK)), 73, 164, 50, 14);
    ok->SetDefault();
    PlaceDlu(new wxButton(this, wxID_CANCEL, FromCore(TEXT_CANCEL)), 129, 164, 50, 14);

    Bind(wxEVT_SLIDER, &CSpeedDlg::OnHScroll, this, IDC_SPEED_SLIDER);
    Bind(wxEVT_BUTTON, &CSpeedDlg::OnOK, this, wxID_OK);
    CentreOverOwner(this);
}

int CSpeedDlg::ShowModal() {
    if (!OnInitDialog())
        return wxID_CANCEL;
    return wxDialog::ShowModal();
}

bool CSpeedDlg::OnInitDialog() {
    m_slider->SetRange(0, SPEED_SLIDER_MAX);
    // A tick at every position, the ends included (GTK's automatic ticks leave the ends out).
    m_slider->SetTickFreq(1);
    m_slider->SetTick(0);
    m_slider->SetTick(SPEED_SLIDER_MAX);
    m_slider->SetTick(1);
    // The dialog is not on the screen yet: its messages belong to the main window.
    CAppMessagePort messages(nullptr);
    const SpeedOpening opening =
        OpenSpeed(*COperationLink(), SpeedJob{}, messages, DeviceDialogSleeper(m_sleeper));
    if (!opening.stayOpen)
        return false;
    m_slider->SetValue(opening.position);
    ShowSpeedLabel();
    return true;
}

void CSpeedDlg::ShowSpeedLabel() {
    m_label->SetLabel(wxString::FromUTF8(SpeedLabel(m_slider->GetValue())));
}

void CSpeedDlg::OnHScroll(wxCommandEvent& event) {
    ShowSpeedLabel();
    event.Skip();
}

void CSpeedDlg::OnOK(wxCommandEvent&) {
    CAppMessagePort messages(this);
    ConfirmSpeed(*COperationLink(), SpeedJob{m_slider->GetValue(), {}}, messages,
                 DeviceDialogSleeper(m_sleeper));
    // The dialog ends after OK whether the speed changed or not.
    EndModal(wxID_OK);
}
