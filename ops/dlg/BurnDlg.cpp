#include "ops/dlg/BurnDlg.h"

#include <algorithm>
#include <cstring>

#include <wx/button.h>
#include <wx/gauge.h>
#include <wx/animate.h>
#include <wx/generic/animate.h>
#include <wx/listctrl.h>
#include <wx/settings.h>
#include <wx/statbmp.h>
#include <wx/statbox.h>
#include <wx/stattext.h>

#include "ops/Format.h"
#include "ops/Texts.h"
#include "ops/dlg/DialogSupport.h"
#include "ops/dlg/DialogTexts.h"
#include "ops/dlg/AppMessagePort.h"
#include "res/GtkLook.h"
#include "res/DialogUnits.h"
#include "res/Ids.h"
#include "res/Resources.h"

int32_t g_elapsedHours = 0;
int32_t g_elapsedMinutes = 0;
int32_t g_elapsedSeconds = 0;

namespace {

constexpr int ROW_ICON_SIZE = 16;
constexpr int COLUMN_WIDTHS[3] = {24, 96, 480}; // pixels

int ImageFor(RowKind kind) {
    switch (kind) {
    case RowKind::Error:
        return ROW_IMAGE_ERROR;
    case RowKind::Success:
        return ROW_IMAGE_SUCCESS;
    case RowKind::Information:
        break;
    }
    return ROW_IMAGE_INFORMATION;
}

wxString RowTime(std::time_t when) {
    return wxString::FromUTF8(RowTimeText(when));
}

} // namespace

// Runs on the worker thread: every event becomes a post to the UI thread, which makes the wx strings
// and touches the windows; nothing here touches a window or a member the UI thread writes.
class CBurnDlg::CWorkerLink : public IOperationPort {
public:
    explicit CWorkerLink(CBurnDlg& dlg) : m_dlg(dlg) {}

    void Row(RowKind kind, const std::string& text) override {
        const std::time_t when = std::time(nullptr);
        m_dlg.Post([dlg = &m_dlg, kind, text, when] {
            dlg->AddRowAt(ImageFor(kind), wxString::FromUTF8(text), when);
        });
    }
    void Progress(int done, int total) override {
        m_dlg.Post([dlg = &m_dlg, done, total] { dlg->ShowProgress(done, total); });
    }
    // The elapsed-time tick counts while a chip cycle runs.
    void CycleStarted(int) override {
        m_dlg.Post([dlg = &m_dlg] { dlg->m_timer.Start(BURN_ELAPSED_PERIOD_MS); });
    }
    void ChipVerified(int chipsWritten) override {
        const std::string text = FormatText(LABEL_CHIPS_WRITTEN, chipsWritten);
        m_dlg.Post([dlg = &m_dlg, text] { dlg->m_chipsWrittenLabel->SetLabel(wxString::FromUTF8(text)); });
    }
    void CycleEnded(const CycleReport&) override {
        m_dlg.Post([dlg = &m_dlg] { dlg->m_timer.Stop(); });
    }
    void Ended(Result ending) override {
        m_dlg.Post([dlg = &m_dlg, ending] {
            dlg->FinishTask();
            // An abort leaves the bar at 2L, near its end; the percentage keeps what it read.
            if (ending == Result::Aborted) {
                dlg->m_bar.SetPos(2 * dlg->m_job.lastAddress);
                dlg->ShowBarPosition();
            }
        });
    }
    void Message(const std::string& text, MsgIcon icon) override { m_dlg.ShowMessageFromWorker(text, icon); }
    // Close stays disabled while the question is open: only the ending enables it. A dialog being
    // destroyed answers No.
    bool Ask(Question question) override {
        return m_dlg.Ask(
            [dlg = &m_dlg, question] { return AskAppYesNo(FromCore(QuestionText(question)), dlg); }, false);
    }

private:
    CBurnDlg& m_dlg;
};

CBurnDlg::CBurnDlg(wxWindow* parent)
    : CWorkerDlg(parent, wxEmptyString, g_burnAbort), m_strElapsed(FromCore(BURN_ELAPSED_START)),
      m_timer(this, BURN_ELAPSED_TIMER), m_workerPort(std::make_unique<CWorkerLink>(*this)) {
    SetUpDialogFrame(this, 402, 310);
    // The group box first, so that the controls inside it lie above it.
    PlaceDlu(new wxStaticBox(this, wxID_ANY, FromCore(BURN_GROUP_PROGRESS)), 7, 219, 388, 54);
    m_taskList = PlaceDlu(new wxListCtrl(this, IDC_BURN_TASK_LIST, wxDefaultPosition, wxDefaultSize,
                                         wxLC_REPORT | wxLC_SINGLE_SEL | wxBORDER_SUNKEN),
                          7, 7, 388, 152);
    m_progress = PlaceDlu(new wxGauge(this, IDC_BURN_PROGRESS, 100, wxDefaultPosition, wxDefaultSize,
                                      wxGA_HORIZONTAL | wxGA_SMOOTH),
                          15, 243, 328, 18);
    FillGaugeHeight(m_progress);
    const long centred = wxALIGN_CENTRE_HORIZONTAL | wxST_NO_AUTORESIZE;
    m_percentLabel = PlaceDlu(new wxStaticText(this, IDC_BURN_PERCENT, FromCore(BURN_PERCENT_START),
                                               wxDefaultPosition, wxDefaultSize, centred),
                              349, 248, 24, 10);
    PlaceDlu(new wxStaticText(this, wxID_ANY, FromCore(BURN_PERCENT_SIGN), wxDefaultPosition, wxDefaultSize,
                              centred),
             374, 248, 12, 10);
    m_elapsedLabel = PlaceDlu(new wxStaticText(this, IDC_BURN_ELAPSED, wxEmptyString, wxDefaultPosition,
                                               wxDefaultSize, wxALIGN_RIGHT | wxST_NO_AUTORESIZE),
                              253, 230, 90, 8);
    m_chipsWrittenLabel =
        PlaceDlu(new wxStaticText(this, IDC_BURN_CHIPS_WRITTEN, FromCore(BURN_CHIPS_WRITTEN_START),
                                  wxDefaultPosition, wxDefaultSize, wxST_NO_AUTORESIZE),
                 17, 230, 119, 8);
    // The clip keeps its own size (208 x 40) at the control's place; its background is the dialog's.
    m_animation =
        PlaceDlu(new wxGenericAnimationCtrl(this, IDC_BURN_ANIMATION, wxNullAnimation), 39, 178, 129, 29);
    m_animation->SetUseWindowBackgroundColour(true);
    for (const auto& [id, x, y] : {std::tuple{IDI_PROGRAMMER, 17, 181}, std::tuple{IDI_CHIP, 178, 184}}) {
        const wxIcon icon = LoadResourceIcon(id);
        auto* picture = new wxStaticBitmap(this, wxID_ANY, icon.IsOk() ? wxBitmap(icon) : wxBitmap());
        picture->Move(DluPoint(x, y));
    }
    m_abortButton = PlaceDlu(new wxButton(this, IDC_BURN_ABORT, FromCore(TEXT_ABORT)), 267, 286, 59, 17);
    m_closeButton = PlaceDlu(new wxButton(this, IDC_BURN_CLOSE, FromCore(TEXT_CLOSE)), 336, 286, 59, 17);

    SetCloseButton(m_closeButton);
    Bind(wxEVT_INIT_DIALOG, &CBurnDlg::OnInitDialog, this);
    Bind(wxEVT_BUTTON, &CBurnDlg::OnAbortButton, this, IDC_BURN_ABORT);
    Bind(wxEVT_TIMER, &CBurnDlg::OnTimer, this);
    CentreOverOwner(this);
}

// The worker goes before the members it uses; the timer first, so that no tick comes between.
CBurnDlg::~CBurnDlg() {
    m_timer.Stop();
    ShutdownWorker();
}

void CBurnDlg::CopyImage(const uint8_t* data, int length) {
    const int n = std::clamp(length, 0, BURN_BUFFER_SIZE);
    if (n > 0)
        std::memcpy(g_burnImage.data(), data, static_cast<size_t>(n));
}

bool CBurnDlg::TransferDataToWindow() {
    m_elapsedLabel->SetLabel(m_strElapsed);
    return true;
}

void CBurnDlg::OnInitDialog(wxInitDialogEvent&) {
    if (m_initialised)
        return; // shown once more: the worker runs only once
    m_initialised = true;
    TransferDataToWindow();
    LoadRowIcons();
    m_taskList->SetImageList(&m_imageList, wxIMAGE_LIST_SMALL);
    m_taskList->InsertColumn(0, FromCore(BURN_COLUMN_ICON));
    m_taskList->InsertColumn(1, FromCore(BURN_COLUMN_TIME));
    m_taskList->InsertColumn(2, FromCore(BURN_COLUMN_TASKS));
    for (int c = 0; c < 3; ++c)
        m_taskList->SetColumnWidth(c, COLUMN_WIDTHS[c]);

    m_job = BurnJob{};
    m_job.lastAddress = g_burnLastAddress;
    m_job.autoLock = m_autoLock;
    m_job.lockLevel = m_lockLevel;

    // 0 .. 2N: the write phase fills the first half, the read-back the second.
    m_bar = BurnProgressModel(m_job.lastAddress);
    m_progress->SetRange(std::max(1, m_bar.Upper()));
    m_progress->SetValue(0);
    ShutCloseGate();

    PlayResourceAnimation(m_animation, IDR_BURN_ANIMATION);

    g_burnAbort = 0;
    g_burnRunning = 1;
    g_elapsedHours = g_elapsedMinutes = g_elapsedSeconds = 0;

    m_link = std::make_unique<COperationLink>();
    ISleeper& sleeper = DeviceDialogSleeper(m_sleeper);
    // Once shown: the list then repaints for its rows only, not for every step of the bar.
    CallAfter([this] { DrawOnOwnSurface(m_taskList); });
    StartWorker([this, &sleeper] { BurnThreadProc(**m_link, m_job, *m_workerPort, sleeper); });
}

void CBurnDlg::ShowProgress(int done, int total) {
    if (done == 0) {
        // A phase starts: the bar keeps where it stands, over the range of the blocks to come.
        const int upper = BurnProgressUpper(total);
        if (upper != m_bar.Upper()) {
            m_bar.SetRange(0, upper);
            m_progress->SetRange(std::max(1, upper));
            ShowBarPosition();
        }
        return;
    }
    m_bar.StepIt();
    ShowBarPosition();
    const wxString percent = wxString::FromUTF8(m_bar.PercentText());
    if (m_percentLabel->GetLabel() != percent)
        m_percentLabel->SetLabel(percent);
}

void CBurnDlg::ShowBarPosition() {
    m_progress->SetValue(std::clamp(m_bar.Pos(), 0, m_progress->GetRange()));
}

void CBurnDlg::LoadRowIcons() {
    wxImage strip = LoadResourceImage(IDB_ROW_ICONS);
    const wxColour window = wxSystemSettings::GetColour(wxSYS_COLOUR_WINDOW);
    if (!strip.IsOk() || strip.GetWidth() < 3 * ROW_ICON_SIZE || strip.GetHeight() < ROW_ICON_SIZE) {
        // Rows without a picture rather than rows without their place.
        strip = wxImage(3 * ROW_ICON_SIZE, ROW_ICON_SIZE);
        strip.SetRGB(wxRect(0, 0, 3 * ROW_ICON_SIZE, ROW_ICON_SIZE), window.Red(), window.Green(),
                     window.Blue());
    }
    MapMagentaTo(strip, window);
    m_imageList.Create(ROW_ICON_SIZE, ROW_ICON_SIZE, false, 3);
    for (int k = 0; k < 3; ++k)
        m_imageList.Add(
            wxBitmap(strip.GetSubImage(wxRect(k * ROW_ICON_SIZE, 0, ROW_ICON_SIZE, ROW_ICON_SIZE))));
}

void CBurnDlg::AddRowAt(int image, const wxString& text, std::time_t when) {
    const long index = m_taskList->InsertItem(m_rowCount, " ", image);
    m_taskList->SetItem(index, 1, RowTime(when));
    m_taskList->SetItem(index, 2, text);
    m_taskList->EnsureVisible(index);
    ++m_rowCount;
}

void CBurnDlg::AddInfoRow(const wxString& text) {
    AddRowAt(ROW_IMAGE_INFORMATION, text, std::time(nullptr));
}

void CBurnDlg::AddErrorRow(const wxString& text) {
    AddRowAt(ROW_IMAGE_ERROR, text, std::time(nullptr));
}

void CBurnDlg::AddSuccessRow(const wxString& text) {
    AddRowAt(ROW_IMAGE_SUCCESS, text, std::time(nullptr));
}

void CBurnDlg::AddRowAfterPosted(RowKind kind, const wxString& text) {
    const std::time_t when = std::time(nullptr);
    ServePosted();
    AddRowAt(ImageFor(kind), text, when);
}

void CBurnDlg::FinishTask() {
    m_abortButton->Disable();
    OpenCloseGate();
    m_animation->Stop();
    m_animation->Hide();
}

void CBurnDlg::OnAbortButton(wxCommandEvent&) {
    // The abort is an operation of the UI thread: its question, message and rows, the rows after
    // what the worker has posted so far.
    class CAbortPort : public CAppMessagePort {
    public:
        explicit CAbortPort(CBurnDlg& dlg) : CAppMessagePort(&dlg), m_dlg(dlg) {}
        void Row(RowKind kind, const std::string& text) override {
            m_dlg.AddRowAfterPosted(kind, wxString::FromUTF8(text));
        }

    private:
        CBurnDlg& m_dlg;
    };
    RunAbort([this] {
        CAbortPort port(*this);
        // The worker has ended: the buttons as its ending leaves them, whatever was served yet.
        if (AbortBurn(port, *this, g_burnRunning, g_burnAbort) == Result::Aborted) {
            OpenCloseGate();
            m_abortButton->Disable();
        }
    });
}

void CBurnDlg::EndWithClose() {
    m_timer.Stop();
    if (IsModal())
        EndModal(1);
    else
        Hide();
}

void CBurnDlg::OnTimer(wxTimerEvent& event) {
    if (g_burnRunning) {
        if (++g_elapsedSeconds == 60) {
            g_elapsedSeconds = 0;
            if (++g_elapsedMinutes == 60) {
                g_elapsedMinutes = 0;
                ++g_elapsedHours;
            }
        }
        m_strElapsed = wxString::Format(FromCore(LABEL_TIME_ELAPSED), g_elapsedHours, g_elapsedMinutes,
                                        g_elapsedSeconds);
        TransferDataToWindow();
    }
    event.Skip();
}
