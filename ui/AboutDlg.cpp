#include "ui/AboutDlg.h"

#include <vector>

#include <wx/button.h>
#include <wx/statbmp.h>
#include <wx/statbox.h>
#include <wx/stattext.h>

#include "res/DialogUnits.h"
#include "res/Ids.h"
#include "res/Resources.h"

// "Veltro 51 Version 2.4" and "Copyright (C) 2024 Mardane", scrambled.
const char* const g_scrambledVersionLine = "Yimwvp#92#Zfuwjrr!525";
const char* const g_scrambledCopyrightLine = "Fsq|vjjlu#,D,$3365#Qbuhbqi";

const char* const g_aboutDescription = "An Easy To Use USB Port Based Programmer for Popular AT89SXX MCUs\n"
                                       "\n"
                                       "Written by the Mardane firmware team <firmware@mardane.example>\n"
                                       "\n"
                                       "The programmer itself is sold in the Mardane online shop at "
                                       "https://shop.mardane.example\n"
                                       "\n"
                                       "Support:\n"
                                       "E-mail: support@mardane.example\n"
                                       "Forum: https://forum.mardane.example\n"
                                       "Telephone: +1 555 0151";

bool DescrambleText(const char* source, char* destination, std::size_t capacity) {
    if (capacity == 0)
        return true;
    static const int shifts[3] = {3, 4, 1};
    std::size_t i = 0;
    for (; source[i] != '\0' && i < capacity - 1; ++i) {
        const auto c = static_cast<signed char>(source[i]);
        destination[i] = (c >= 32 && c <= 126) ? static_cast<char>(c - shifts[i % 3]) : source[i];
    }
    destination[i] = '\0';
    return true;
}

namespace {

wxString Descrambled(const char* stored) {
    const std::size_t n = std::char_traits<char>::length(stored);
    std::vector<char> buffer(n + 1);
    DescrambleText(stored, buffer.data(), n + 1);
    return wxString::FromUTF8(buffer.data());
}

wxWindow* At(wxWindow* control, int x, int y, int w, int h) {
    control->SetSize(wxRect(DluPoint(x, y), DluSize(w, h)));
    return control;
}

} // namespace

CAboutDlg::CAboutDlg(wxWindow* parent)
    : wxDialog(parent, wxID_ANY, "About Veltro 51", wxDefaultPosition, wxDefaultSize,
               wxCAPTION | wxSYSTEM_MENU | wxCLOSE_BOX) {
    SetFont(DialogFont());
    SetClientSize(DluSize(235, 206));
    At(new wxStaticBox(this, wxID_ANY, "Veltro 51"), 7, 7, 221, 169);
    const wxIcon icon = LoadResourceIcon(IDI_CHIP);
    auto* picture = new wxStaticBitmap(this, wxID_ANY, icon.IsOk() ? wxBitmap(icon) : wxBitmap());
    picture->Move(DluPoint(14, 20));
    const long centred = wxALIGN_CENTRE_HORIZONTAL | wxST_NO_AUTORESIZE;
    At(new wxStaticText(this, IDC_ABOUT_VERSION, "Version", wxDefaultPosition, wxDefaultSize, centred), 14,
       143, 207, 8);
    At(new wxStaticText(this, IDC_ABOUT_COPYRIGHT, "Copyright", wxDefaultPosition, wxDefaultSize, centred),
       14, 154, 207, 8);
    auto* ok = new wxButton(this, wxID_OK, "OK");
    At(ok, 178, 185, 50, 14);
    ok->SetDefault();
    At(new wxStaticText(this, IDC_ABOUT_DESCRIPTION, "Description", wxDefaultPosition, wxDefaultSize,
                        wxALIGN_LEFT | wxST_NO_AUTORESIZE),
       45, 18, 174, 117);
    Bind(wxEVT_INIT_DIALOG, &CAboutDlg::OnInitDialog, this);
    CentreOnParent();
}

void CAboutDlg::OnInitDialog(wxInitDialogEvent&) {
    m_description = wxString::Format("%s", wxString::FromUTF8(g_aboutDescription));
    m_versionLine = wxString::Format("%s", Descrambled(g_scrambledVersionLine));
    m_copyrightLine = wxString::Format("%s", Descrambled(g_scrambledCopyrightLine));
    TransferDataToWindow();
    if (wxWindow* ok = FindWindow(wxID_OK))
        ok->SetFocus();
}

bool CAboutDlg::TransferDataToWindow() {
    auto set = [this](int id, const wxString& text) {
        if (auto* control = dynamic_cast<wxStaticText*>(FindWindow(id)))
            control->SetLabelText(text);
    };
    set(IDC_ABOUT_DESCRIPTION, m_description);
    set(IDC_ABOUT_COPYRIGHT, m_copyrightLine);
    set(IDC_ABOUT_VERSION, m_versionLine);
    return true;
}
