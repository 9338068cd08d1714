#include "ui/OstrelDoc.h"

#include <wx/toplevel.h>

#include "ops/FileCommands.h"
#include "res/AppMessages.h"

COstrelDoc::COstrelDoc() : m_title(UNTITLED) {}

bool COstrelDoc::OnNewDocument() {
    SetTitle(UNTITLED);
    return true;
}

void COstrelDoc::SetTitle(const wxString& title) {
    m_title = title;
    if (m_frame)
        m_frame->SetTitle(Caption());
}

void COstrelDoc::SetFrame(wxTopLevelWindow* frame) {
    m_frame = frame;
    if (m_frame)
        m_frame->SetTitle(Caption());
}

wxString COstrelDoc::Caption() const {
    return m_title + " - " + wxString::FromUTF8(APP_NAME);
}
