#include "tests/dialogs/DialogTestSupport.h"

#include <wx/checkbox.h>
#include <wx/stattext.h>
#include <wx/time.h>

#include "chips/ChipCatalogue.h"
#include "ops/Burn.h"
#include "ops/FlashRead.h"
#include "ops/dlg/BurnDlg.h"
#include "ops/dlg/DialogSupport.h"
#include "ops/dlg/LockBitsDlg.h"
#include "ops/dlg/ReadFlashDlg.h"
#include "ops/dlg/SpeedDlg.h"
#include "res/GtkLook.h"
#include "res/Ids.h"
#include "ui/MainFrame.h"

void CTestSleeper::Sleep(int ms) {
    std::function<void(int, size_t)> hook;
    std::function<bool(int, size_t)> hold;
    size_t index;
    {
        std::lock_guard lock(m_mutex);
        index = m_waits.size();
        m_waits.push_back(ms);
        hook = m_onSleep;
        hold = m_hold;
    }
    if (hook)
        hook(ms, index);
    if (!hold || !hold(ms, index))
        return;
    std::unique_lock lock(m_mutex);
    if (m_free)
        return;
    m_holding = true;
    m_heldMs = ms;
    m_released.wait(lock, [this] { return !m_holding || m_free; });
    m_holding = false;
}

std::vector<int> CTestSleeper::Waits() const {
    std::lock_guard lock(m_mutex);
    return m_waits;
}

void CTestSleeper::OnSleep(std::function<void(int, size_t)> hook) {
    std::lock_guard lock(m_mutex);
    m_onSleep = std::move(hook);
}

void CTestSleeper::HoldWhen(std::function<bool(int, size_t)> hold) {
    std::lock_guard lock(m_mutex);
    m_hold = std::move(hold);
}

bool CTestSleeper::Holding() const {
    std::lock_guard lock(m_mutex);
    return m_holding;
}

int CTestSleeper::HeldMs() const {
    std::lock_guard lock(m_mutex);
    return m_holding ? m_heldMs : 0;
}

void CTestSleeper::Release() {
    std::lock_guard lock(m_mutex);
    m_holding = false;
    m_released.notify_all();
}

void CTestSleeper::ReleaseForever() {
    std::lock_guard lock(m_mutex);
    m_free = true;
    m_holding = false;
    m_released.notify_all();
}

CMessageScript::CMessageScript() {
    m_previous = SetMessageBoxHook([this](const wxString& text, const wxString& caption, long style) {
        const BoxShown box{text, caption, style};
        if (emergency)
            return static_cast<int>((style & wxYES_NO) ? wxNO : wxOK);
        shown.push_back(box);
        if (onShow)
            onShow(box);
        if (!(style & wxYES_NO))
            return static_cast<int>(wxOK);
        if (answers.empty()) {
            ADD_FAILURE() << "unexpected question: " << text.utf8_string();
            return static_cast<int>(wxNO);
        }
        const int answer = answers.front();
        answers.erase(answers.begin());
        return answer;
    });
}

CMessageScript::~CMessageScript() {
    SetMessageBoxHook(m_previous);
}

std::vector<wxString> CMessageScript::Texts() const {
    std::vector<wxString> texts;
    for (const auto& box : shown)
        texts.push_back(box.text);
    return texts;
}

CModalDriver::CModalDriver(CTestSleeper& sleeper, CMessageScript& messages, int limitMs)
    : m_sleeper(sleeper), m_messages(messages), m_limitMs(limitMs) {}

CModalDriver::~CModalDriver() {
    Stop();
}

void CModalDriver::When(std::string what, std::function<bool()> condition, std::function<void()> action) {
    m_steps.push_back({std::move(what), std::move(condition), std::move(action)});
}

void CModalDriver::Start() {
    m_deadline = wxGetLocalTimeMillis().GetValue() + m_limitMs;
    wxTimer::Start(5);
}

void CModalDriver::Notify() {
    // An action may wait inside the event loop (Abort does): no second step meanwhile.
    if (m_busy || m_gaveUp)
        return;
    if (Finished()) {
        Stop();
        return;
    }
    if (wxGetLocalTimeMillis().GetValue() > m_deadline) {
        GiveUp();
        return;
    }
    Step& step = m_steps[m_next];
    if (!step.condition())
        return;
    m_busy = true;
    ++m_next;
    step.action();
    m_busy = false;
}

void CModalDriver::GiveUp() {
    m_gaveUp = true;
    Stop();
    ADD_FAILURE() << "the dialog never reached: " << m_steps[m_next].what;
    m_messages.emergency = true;
    g_burnAbort = 1;
    g_readAbort = 1;
    m_sleeper.ReleaseForever();
    for (wxWindow* window : wxTopLevelWindows) {
        auto* dialog = dynamic_cast<wxDialog*>(window);
        const bool ours = dynamic_cast<CBurnDlg*>(window) || dynamic_cast<CReadFlashDlg*>(window) ||
                          dynamic_cast<CLockBitsDlg*>(window) || dynamic_cast<CSpeedDlg*>(window);
        if (dialog && ours && dialog->IsModal())
            dialog->EndModal(wxID_CANCEL);
    }
}

void ClickButton(wxWindow* dialog, int id) {
    wxWindow* button = dialog->FindWindow(id);
    ASSERT_TRUE(button) << "no button " << id;
    ASSERT_TRUE(button->IsEnabled()) << "button " << id << " is disabled";
    wxCommandEvent click(wxEVT_BUTTON, id);
    click.SetEventObject(button);
    button->GetEventHandler()->ProcessEvent(click);
}

void ClickCheckBox(wxWindow* dialog, int id) {
    auto* box = dynamic_cast<wxCheckBox*>(dialog->FindWindow(id));
    ASSERT_TRUE(box) << "no check box " << id;
    box->SetValue(!box->GetValue());
    wxCommandEvent click(wxEVT_CHECKBOX, id);
    click.SetInt(box->GetValue() ? 1 : 0);
    click.SetEventObject(box);
    box->GetEventHandler()->ProcessEvent(click);
}

void PressKey(wxWindow* dialog, int keyCode) {
    wxKeyEvent key(wxEVT_CHAR_HOOK);
    key.m_keyCode = keyCode;
    key.SetEventObject(dialog);
    dialog->GetEventHandler()->ProcessEvent(key);
}

bool IsEnabled(wxWindow* dialog, int id) {
    wxWindow* control = dialog->FindWindow(id);
    return control && control->IsEnabled();
}

wxString LabelOf(wxWindow* dialog, int id) {
    wxWindow* control = dialog->FindWindow(id);
    return control ? control->GetLabel() : wxString("<no control>");
}

void CDeviceDialogFixture::SetUp() {
    CAppFixture::SetUp();
    SetDeviceDialogSleeper(&m_sleeper);
}

void CDeviceDialogFixture::TearDown() {
    SetDeviceDialogSleeper(nullptr);
    CAppFixture::TearDown();
}

void CDeviceDialogFixture::Command(int id) {
    wxCommandEvent command(wxEVT_MENU, id);
    Frame()->ProcessWindowEvent(command);
}

void CDeviceDialogFixture::SelectChip(int index) {
    Command(ID_CHIP_FIRST + index);
}

int DrawnHeight(wxWindow* control) {
    const wxImage image = RenderWindow(control);
    if (!image.IsOk())
        return -1;
    const wxColour back = control->GetParent()->GetBackgroundColour();
    const int x = image.GetWidth() / 2;
    int rows = 0;
    for (int y = 0; y < image.GetHeight(); ++y) {
        const int difference = std::abs(image.GetRed(x, y) - back.Red()) +
                               std::abs(image.GetGreen(x, y) - back.Green()) +
                               std::abs(image.GetBlue(x, y) - back.Blue());
        rows += difference > 12;
    }
    return rows;
}
