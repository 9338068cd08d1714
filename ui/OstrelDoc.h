#pragma once
// The document: it holds no data, only the title that the main window's caption shows as
// "<title> - Veltro 51". User-interface thread only.

#include <wx/string.h>

class wxTopLevelWindow;

class COstrelDoc {
public:
    COstrelDoc();

    // Resets the title to "Untitled" (the New command); the image is left alone. Always succeeds.
    bool OnNewDocument();

    void SetTitle(const wxString& title);
    const wxString& GetTitle() const { return m_title; }

    // The window whose caption follows the title; may be null.
    void SetFrame(wxTopLevelWindow* frame);
    wxString Caption() const;

private:
    wxString m_title;
    wxTopLevelWindow* m_frame = nullptr;
};
