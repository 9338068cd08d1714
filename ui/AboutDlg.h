#pragma once
// The About box: the application's icon, a description, and the version and copyright lines, which
// the program holds only in scrambled form and descrambles each time the box opens.

#include <cstddef>

#include <wx/dialog.h>

constexpr int IDC_ABOUT_DESCRIPTION = 1017;
constexpr int IDC_ABOUT_VERSION = 1018;
constexpr int IDC_ABOUT_COPYRIGHT = 1019;

// Lowers every printable character (32..126) by 3, 4, 1, 3, 4, 1, ... by its position; other bytes
// pass unchanged but still count. Writes at most capacity bytes including the terminator; with
// capacity 0 it writes nothing. Returns true.
bool DescrambleText(const char* source, char* destination, std::size_t capacity);

// The stored (scrambled) lines.
extern const char* const g_scrambledVersionLine;
extern const char* const g_scrambledCopyrightLine;
extern const char* const g_aboutDescription;

class CAboutDlg : public wxDialog {
public:
    explicit CAboutDlg(wxWindow* parent = nullptr);

    bool TransferDataToWindow() override;

    wxString m_description;
    wxString m_copyrightLine;
    wxString m_versionLine;

private:
    void OnInitDialog(wxInitDialogEvent& event);
};
