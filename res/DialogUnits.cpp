#include "res/DialogUnits.h"

#include <wx/fontenum.h>

wxFont DialogFont() {
    static const wxString face =
        wxFontEnumerator::IsValidFacename("Liberation Sans") ? "Liberation Sans" : "";
    return wxFont(wxFontInfo(8).Family(wxFONTFAMILY_SWISS).FaceName(face));
}
