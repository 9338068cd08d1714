#include "ui/AboutDlg.h"

#include <array>
#include <vector>

#include <wx/button.h>
#include <wx/statbmp.h>
#include <wx/statbox.h>
#include <wx/stattext.h>

#include "Version.h"
#include "res/DialogUnits.h"
#include "res/Ids.h"
#include "res/Resources.h"

namespace {

constexpr int SCRAMBLE_SHIFTS[3] = {3, 4, 1};

constexpr std::size_t Length(const char* text) {
    std::size_t n = 0;
    while (text[n] != '\0')
        ++n;
    return n;
}

// The inverse of DescrambleText, run by the compiler: the program holds only what it returns. A
// character that would scramble past 126 cannot be stored; it stops the build.
template <std::size_t N> constexpr std::array<char, N + 1> Scrambled(const char* first, const char* second) {
    std::array<char, N + 1> out{};
    std::size_t i = 0;
    for (const char* part : {first, second}) {
        for (; *part != '\0'; ++part, ++i) {
            const int c = static_cast<signed char>(*part);
            if (c < 32 || c > 126) {
                out[i] = *part;
                continue;
            }
            const int stored = c + SCRAMBLE_SHIFTS[i % 3];
            if (stored > 126)
                throw "a character of the About box's lines cannot be scrambled";
            out[i] = static_cast<char>(stored);
        }
    }
    return out;
}

constexpr const char* VERSION_LINE_START = "Veltro 51 Version ";
constexpr auto VERSION_LINE_STORE =
    Scrambled<Length(VERSION_LINE_START) + Length(VELTRO_VERSION)>(VERSION_LINE_START, VELTRO_VERSION);
constexpr auto COPYRIGHT_LINE_STORE = Scrambled<Length(VELTRO_COPYRIGHT)>(VELTRO_COPYRIGHT, "");

} // namespace

// "Veltro 51 Version <version>" and the copyright line, from the build's Version.h, scrambled.
const char* const g_scrambledVersionLine = VERSION_LINE_STORE.data();
const char* const g_scrambledCopyrightLine = COPYRIGHT_LINE_STORE.data();

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
    std::size_t i = 0;
    for (; source[i] != '\0' && i < capacity - 1; ++i) {
        const auto c = static_cast<signed char>(source[i]);
        destination[i] = (c >= 32 && c <= 126) ? static_cast<char>(c - SCRAMBLE_SHIFTS[i % 3]) : source[i];
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
