#include "ops/dlg/DialogSupport.h"

#include <algorithm>

#include <wx/animate.h>
#include <wx/app.h>
#include <wx/dialog.h>
#include <wx/display.h>
#include <wx/generic/animate.h>

#include "res/DialogUnits.h"
#include "res/Resources.h"

namespace {
ISleeper* g_testSleeper = nullptr;
}

void SetUpDialogFrame(wxDialog* dialog, int w, int h) {
    dialog->SetFont(DialogFont());
    dialog->SetClientSize(DluSize(w, h));
}

void PlaceControlDlu(wxWindow* control, int x, int y, int w, int h) {
    control->SetSize(wxRect(DluPoint(x, y), DluSize(w, h)));
}

void CentreOverOwner(wxDialog* dialog) {
    wxWindow* owner = dialog->GetParent();
    if (!owner && wxTheApp)
        owner = wxTheApp->GetTopWindow();
    if (!owner || owner == dialog || !owner->IsShown()) {
        dialog->Centre();
        return;
    }
    const wxRect ownerRect = owner->GetScreenRect();
    const wxSize size = dialog->GetSize();
    wxPoint position(ownerRect.x + (ownerRect.width - size.x) / 2,
                     ownerRect.y + (ownerRect.height - size.y) / 2);
    const int display = wxDisplay::GetFromWindow(owner);
    if (display != wxNOT_FOUND) {
        const wxRect area = wxDisplay(static_cast<unsigned>(display)).GetClientArea();
        position.x = std::clamp(position.x, area.x, std::max(area.x, area.GetRight() + 1 - size.x));
        position.y = std::clamp(position.y, area.y, std::max(area.y, area.GetBottom() + 1 - size.y));
    }
    dialog->Move(position);
}

ISleeper* SetDeviceDialogSleeper(ISleeper* sleeper) {
    std::swap(sleeper, g_testSleeper);
    return sleeper;
}

ISleeper& DeviceDialogSleeper(ISleeper& fallback) {
    return g_testSleeper ? *g_testSleeper : fallback;
}

void PlayResourceAnimation(wxGenericAnimationCtrl* control, int id) {
    wxAnimation clip = control->CreateAnimation();
    if (LoadResourceAnimation(id, clip)) {
        control->SetAnimation(clip);
        control->Play(true);
    }
}
