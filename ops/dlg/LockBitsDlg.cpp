#include "ops/dlg/LockBitsDlg.h"

#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/statbox.h>
#include <wx/stattext.h>

#include "ops/Programmers.h"
#include "ops/dlg/DialogSupport.h"
#include "ops/dlg/DialogTexts.h"
#include "ops/dlg/AppMessagePort.h"

CLockBitsDlg::CLockBitsDlg(wxWindow* parent)
    : wxDialog(parent, wxID_ANY, FromCore(LOCK_CAPTION), wxDefaultPosition, wxDefaultSize,
               wxCAPTION | wxSYSTEM_MENU | wxCLOSE_BOX) {
    SetUpDialogFrame(this, 210, 169);
    PlaceDlu(new wxStaticBox(this, wxID_ANY, FromCore(LOCK_GROUP)), 7, 7, 196, 106);
    m_boxLb1 = PlaceDlu(new wxCheckBox(this, IDC_LOCK_LB1, FromCore(LOCK_LB1)), 21, 26, 98, 17);
    m_boxLb2 = PlaceDlu(new wxCheckBox(this, IDC_LOCK_LB2, FromCore(LOCK_LB2)), 21, 42, 98, 17);
    m_boxLb3 = PlaceDlu(new wxCheckBox(this, IDC_LOCK_LB3, FromCore(LOCK_LB3)), 21, 58, 98, 17);
    PlaceDlu(new wxButton(this, IDC_LOCK_READ, FromCore(LOCK_BUTTON_READ)), 126, 20, 67, 17);
    PlaceDlu(new wxButton(this, IDC_LOCK_WRITE, FromCore(LOCK_BUTTON_WRITE)), 126, 45, 67, 17);
    m_boxLockAfterBurn =
        PlaceDlu(new wxCheckBox(this, IDC_LOCK_AFTER_BURN, FromCore(LOCK_AFTER_BURN)), 7, 116, 196, 13);
    PlaceDlu(new wxStaticText(this, wxID_ANY, FromCore(LOCK_NOTE), wxDefaultPosition, wxDefaultSize,
                              wxALIGN_LEFT | wxST_NO_AUTORESIZE),
             7, 132, 140, 30);
    // Close is the dialog's OK (id 1 of old): the framework pulls the members and ends the dialog.
    auto* close = PlaceDlu(new wxButton(this, wxID_OK, FromCore(TEXT_CLOSE)), 152, 148, 50, 14);
    close->SetDefault();

    // Escape and the close box cancel without pulling the boxes (wx would press Close for them).
    SetEscapeId(wxID_NONE);
    Bind(wxEVT_CHECKBOX, &CLockBitsDlg::OnLb1, this, IDC_LOCK_LB1);
    Bind(wxEVT_CHECKBOX, &CLockBitsDlg::OnLb2, this, IDC_LOCK_LB2);
    Bind(wxEVT_CHECKBOX, &CLockBitsDlg::OnLb3, this, IDC_LOCK_LB3);
    Bind(wxEVT_BUTTON, &CLockBitsDlg::OnWriteLockBits, this, IDC_LOCK_WRITE);
    Bind(wxEVT_BUTTON, &CLockBitsDlg::OnReadLockBits, this, IDC_LOCK_READ);
    Bind(wxEVT_CHAR_HOOK, &CLockBitsDlg::OnCharHook, this);
    Bind(wxEVT_CLOSE_WINDOW, &CLockBitsDlg::OnCloseWindow, this);
    CentreOverOwner(this);
}

bool CLockBitsDlg::TransferDataToWindow() {
    m_boxLb1->SetValue(m_lb1 != 0);
    m_boxLb2->SetValue(m_lb2 != 0);
    m_boxLb3->SetValue(m_lb3 != 0);
    m_boxLockAfterBurn->SetValue(m_lockAfterBurn != 0);
    return true;
}

bool CLockBitsDlg::TransferDataFromWindow() {
    m_lb1 = m_boxLb1->GetValue() ? 1 : 0;
    m_lb2 = m_boxLb2->GetValue() ? 1 : 0;
    m_lb3 = m_boxLb3->GetValue() ? 1 : 0;
    m_lockAfterBurn = m_boxLockAfterBurn->GetValue() ? 1 : 0;
    return true;
}

void CLockBitsDlg::KeepBoxesConsistent(void (*rule)(LockBoxes&)) {
    TransferDataFromWindow();
    rule(*this);
    TransferDataToWindow();
}

void CLockBitsDlg::OnLb1(wxCommandEvent&) {
    KeepBoxesConsistent(::OnLb1);
}

void CLockBitsDlg::OnLb2(wxCommandEvent&) {
    KeepBoxesConsistent(::OnLb2);
}

void CLockBitsDlg::OnLb3(wxCommandEvent&) {
    KeepBoxesConsistent(::OnLb3);
}

void CLockBitsDlg::OnWriteLockBits(wxCommandEvent&) {
    TransferDataFromWindow();
    CAppMessagePort messages(this);
    WriteLockBitsToChip(*COperationLink(), LockJob{*this, {}}, messages, DeviceDialogSleeper(m_sleeper));
}

void CLockBitsDlg::OnReadLockBits(wxCommandEvent&) {
    TransferDataFromWindow();
    CAppMessagePort messages(this);
    static_cast<LockBoxes&>(*this) =
        ReadLockBitsFromChip(*COperationLink(), LockJob{*this, {}}, messages, DeviceDialogSleeper(m_sleeper))
            .boxes;
    TransferDataToWindow();
}

void CLockBitsDlg::OnCharHook(wxKeyEvent& event) {
    if (event.GetKeyCode() == WXK_ESCAPE && IsModal()) {
        EndModal(wxID_CANCEL);
        return;
    }
    event.Skip();
}

void CLockBitsDlg::OnCloseWindow(wxCloseEvent&) {
    if (IsModal())
        EndModal(wxID_CANCEL);
    else
        Hide();
}
