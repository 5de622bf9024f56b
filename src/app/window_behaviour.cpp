// The window's behaviour: the port and its hidden terminal, the two output operations,
// the check boxes' handlers, and the update run's owner side.
#include "window_behaviour.h"

#include <algorithm>
#include <initializer_list>

#include "comport/port_list.h"
#include "system_text.h"
#include "text/cp1252.h"

namespace tarnwick {

namespace {

// The update's bars, in the order of TProgressBar.
constexpr TControl UpdateBars[] = {TControl::ConnectProgressBar, TControl::ProgramProgressBar,
                                   TControl::VerifyProgressBar, TControl::BufferProgressBar};

// The inputs an update locks.
constexpr TControl Inputs[] = {
    TControl::SelectInBtn,      TControl::FilenameInEdit,    TControl::PasswordEdit,
    TControl::BaudComboBox,     TControl::ComComboBox,       TControl::ProgramChkBox,
    TControl::VerifyChkBox,     TControl::ShowProgramChkBox, TControl::ShowCompleteMemoryChkBox,
    TControl::TransferComboBox, TControl::NoPowerCycleChkBox};

// The program's paragraphs are separated Windows-style (LF CR LF CR); a box shows them
// as one empty line, and a carriage return has no meaning in it.
std::string BoxLines(const std::string& Text) {
    std::string lines;
    for (std::size_t i = 0; i < Text.size(); ++i) {
        if (Text.compare(i, 4, "\n\r\n\r") == 0) {
            lines += "\n\n";
            i += 3;
        } else if (Text[i] != '\r') {
            lines += Text[i];
        }
    }
    return lines;
}

}  // namespace

int CentredOffset(int Outer, int Inner) {
    const int difference = Outer - Inner;
    // Floor of difference / 2, also for negative differences.
    const int floorHalf = difference >= 0 ? difference / 2 : -((1 - difference) / 2);
    if (difference % 2 == 0) {
        return floorHalf;
    }
    // Exactly halfway between floorHalf and floorHalf + 1: take the even one.
    return floorHalf % 2 == 0 ? floorHalf : floorHalf + 1;
}

std::string PathToUtf8(const std::filesystem::path& Path) {
    std::filesystem::path shown = Path;
    shown.make_preferred();
    const std::u8string text = shown.u8string();
    return {text.begin(), text.end()};
}

std::filesystem::path Utf8ToPath(const std::string& Utf8) {
    return std::filesystem::path(std::u8string(Utf8.begin(), Utf8.end()));
}

TWindowBehaviour::TWindowBehaviour(TWindowView& AView, TComTerminalCore* ATerminal)
    : Bootloader(*this, ComPort, /*AttachRxLink=*/false), View(AView) {
    if (ATerminal == nullptr) {
        OwnTerminal = std::make_unique<TComTerminalCore>();
        ATerminal = OwnTerminal.get();
    }
    TerminalCore = ATerminal;
    SetUpPort();
    PortList = [] { return ListSerialPorts(); };
}

TWindowBehaviour::~TWindowBehaviour() {
    // A terminal of the view's outlives this object: it must not call back into it.
    TerminalCore->OnOutput = nullptr;
    TerminalCore->SetComPort(nullptr);
}

void TWindowBehaviour::SetUpPort() {
    ComPort.SetName("ComPort");
    ComPort.SetPort("COM1");
    ComPort.SetBaudRate(br9600);
    ComPort.SetDataBits(dbEight);
    ComPort.Parity().SetBits(prNone);
    ComPort.SetStopBits(sbOneStopBit);
    // No handshake of any kind; DTR and RTS stay inactive, the bootloader needs neither.
    ComPort.FlowControl().SetFlowControl(fcNone);
    ComPort.FlowControl().SetControlDTR(dtrDisable);
    ComPort.FlowControl().SetControlRTS(rtsDisable);
    ComPort.SetEvents(TComEvents{evRxChar, evTxEmpty});
    // The terminal's link makes the port read what arrives (the bootloader attaches
    // none of its own here).
    TerminalCore->SetEmulation(teVT100orANSI);
    TerminalCore->SetComPort(&ComPort);
    TerminalCore->OnOutput = [this](TComTerminalCore& Sender, const std::string& Bytes) {
        // During an update nothing but the protocol's bytes may go on the line: on a
        // single wire the device returns the image, and a query in it is no query.
        if (!Bootloader.UpdateRunning) {
            WriteToLinkedPort(Sender, Bytes);
        }
    };
}

// ------------------------------------------------------------------ output

void TWindowBehaviour::ReportMessage(const std::string& Text, bool ShowBox, bool ToInfo,
                                     bool ToLog) {
    if (ToLog) {
        View.AppendLog(Text);
    }
    if (ToInfo) {
        View.AppendInfo(Text);
    }
    if (ShowBox) {
        Box(TBoxKind::Hint, Text);
    }
}

void TWindowBehaviour::PlaceHint(const std::string& Text) {
    const int width = View.SetHintText(Text);
    View.SetHintLeft(CentredOffset(View.InfoGroupWidth(), width));
}

void TWindowBehaviour::FlashHint(bool Show, const std::string& Text, int IntervalMs) {
    PlaceHint(Text);
    HintShown = Show;
    View.SetHintVisible(Show);
    if (Show) {
        View.StartTimer(TViewTimer::HintFlashTimer, std::max(IntervalMs, 0));
    } else {
        View.StopTimer(TViewTimer::HintFlashTimer);
    }
}

void TWindowBehaviour::HintFlashTimerTimer() {
    HintShown = !HintShown;
    View.SetHintVisible(HintShown);
}

// -------------------------------------------------------------- check boxes

void TWindowBehaviour::ProgramChkBoxClick() {
    const bool enabled = View.Checked(TControl::ProgramChkBox);
    View.SetEnabled(TControl::ProgramProgressBar, enabled);
    View.SetEnabled(TControl::BufferProgressBar, enabled);
}

void TWindowBehaviour::VerifyChkBoxClick() {
    View.SetEnabled(TControl::VerifyProgressBar, View.Checked(TControl::VerifyChkBox));
}

void TWindowBehaviour::ShowProgramChkBoxClick() {
    const bool show = View.Checked(TControl::ShowProgramChkBox);
    View.SetProgramViewShown(show);
    View.CentreOnScreen();
    View.SetEnabled(TControl::ShowCompleteMemoryChkBox, show);
    if (show) {
        RefillIfLoaded();
    }
}

void TWindowBehaviour::ShowCompleteMemoryChkBoxClick() {
    RefillIfLoaded();
}

void TWindowBehaviour::RestoreCheck(TControl Box, bool Checked) {
    if (View.Checked(Box) == Checked) {
        return;
    }
    View.SetChecked(Box, Checked);
    switch (Box) {
        case TControl::ProgramChkBox:
            ProgramChkBoxClick();
            break;
        case TControl::VerifyChkBox:
            VerifyChkBoxClick();
            break;
        case TControl::ShowProgramChkBox:
            ShowProgramChkBoxClick();
            break;
        case TControl::ShowCompleteMemoryChkBox:
            ShowCompleteMemoryChkBoxClick();
            break;
        default:
            break;
    }
}

// ------------------------------------------------------------------ update

void TWindowBehaviour::StartBtnClick() {
    // A click queued before the button was disabled still arrives: while a file loads the
    // image is half read, and an update would flash exactly that.
    if (UpdateRunning() || BusyFlag || !Loaded) {
        return;
    }
    // Inputs the device or the port cannot take are refused before the user is asked to
    // switch anything off, but after the run's own first check: with neither box ticked
    // its notice says what is missing, whatever else is wrong.
    if (ProgramTicked() || VerifyTicked()) {
        std::string password;
        if (!Utf8ToCp1252(View.Text(TControl::PasswordEdit), password)) {
            Box(TBoxKind::Notice,
                "Das Bootloader-Passwort enthält Zeichen, die nicht übertragen werden "
                "können (nur Windows-1252).");
            return;
        }
        if (View.Text(TControl::BaudComboBox).empty()) {
            Box(TBoxKind::Notice, "Bitte eine Baudrate auswählen.");
            return;
        }
    }
    {
        // A load asked for meanwhile (by a timer of the program) waits for the end.
        const TBusyScope busy(*this, /*LockStart=*/false);
        // A logoff or shutdown now would leave the device half programmed.
        View.SetSessionEndBlock(
            "Ein Firmware-Update läuft. Bitte warten Sie, bis es beendet ist, sonst bleibt "
            "das Gerät unvollständig programmiert.");
        struct TUnblock {
            TWindowView& View;
            ~TUnblock() { View.SetSessionEndBlock(""); }
        } unblock{View};
        Bootloader.SetImage(Image, HighestAddress);
        RunRecordedUpdate();
    }
    RunPendingWork();
}

void TWindowBehaviour::CancelButtonClick() {
    Bootloader.CancelButtonClick();
}

void TWindowBehaviour::ShowNotice(const std::string& Text) {
    Box(TBoxKind::Notice, Text);
}

bool TWindowBehaviour::AskYesNo(const std::string& Text) {
    return Question(Text);
}

TWindowBehaviour::TDialogScope::TDialogScope(TWindowBehaviour& Behaviour) : Owner(Behaviour) {
    if (Owner.DialogDepth++ == 0 && Owner.WaitDepth > 0) {
        Owner.View.SetWaitCursor(false);
    }
}

TWindowBehaviour::TDialogScope::~TDialogScope() {
    if (--Owner.DialogDepth == 0) {
        if (Owner.WaitDepth > 0) {
            Owner.View.SetWaitCursor(true);
        }
        Owner.CloseIfDeferred();
    }
}

void TWindowBehaviour::Box(TBoxKind Kind, const std::string& Text) {
    const TDialogScope dialog(*this);
    View.ShowBox(Kind, BoxLines(Text));
}

bool TWindowBehaviour::Question(const std::string& Text) {
    const TDialogScope dialog(*this);
    return View.AskYesNo(BoxLines(Text));
}

void TWindowBehaviour::ClearInfo() {
    View.ClearInfo();
}

void TWindowBehaviour::SetBarClamped(TControl Bar, int Position, int Max) {
    const int max = std::max(Max, 1);
    View.SetBar(Bar, std::clamp(Position, 0, max), max);
}

void TWindowBehaviour::ShowBar(TProgressBar Which) {
    const TBarState& state = Bars[Which];
    // The core uses a maximum of 0 and positions past the maximum, both meaning "all
    // done"; a view gets a full bar for them.
    if (state.Max <= 0) {
        SetBarClamped(UpdateBars[Which], 1, 1);
        return;
    }
    SetBarClamped(UpdateBars[Which], state.Position, state.Max);
}

void TWindowBehaviour::SetProgressMax(TProgressBar Which, int Max) {
    Bars[Which].Max = Max;
    ShowBar(Which);
}

void TWindowBehaviour::SetProgressPosition(TProgressBar Which, int Position) {
    Bars[Which].Position = Position;
    ShowBar(Which);
}

std::string TWindowBehaviour::PasswordText() const {
    std::string bytes;
    // StartBtnClick refuses a password without Windows-1252 bytes.
    return Utf8ToCp1252(View.Text(TControl::PasswordEdit), bytes) ? bytes : std::string();
}

std::string TWindowBehaviour::PortText() const {
    return View.Text(TControl::ComComboBox);
}

std::string TWindowBehaviour::BaudText() const {
    return View.Text(TControl::BaudComboBox);
}

bool TWindowBehaviour::ProgramTicked() const {
    return View.Checked(TControl::ProgramChkBox);
}

bool TWindowBehaviour::VerifyTicked() const {
    return View.Checked(TControl::VerifyChkBox);
}

void TWindowBehaviour::SetInputsEnabled(bool Enabled) {
    for (const TControl input : Inputs) {
        View.SetEnabled(input, Enabled);
    }
}

void TWindowBehaviour::SetStartButton(bool Enabled, const std::string& Caption) {
    View.SetEnabled(TControl::StartBtn, Enabled);
    View.SetText(TControl::StartBtn, Caption);
    if (Enabled) {
        // The run is over: its bars go back to the range they had before it, so that an
        // empty pass (maximum 0) does not stay full once the bars are reset.
        for (TBarState& state : Bars) {
            state.Max = 100;
        }
    }
}

void TWindowBehaviour::SetCancelEnabled(bool Enabled) {
    View.SetEnabled(TControl::CancelButton, Enabled);
}

void TWindowBehaviour::SetStayOnTop(bool OnTop) {
    View.SetStayOnTop(OnTop);
}

void TWindowBehaviour::BeginWaitCursor() {
    // Inside a box the arrow stays; the hourglass comes when the box is closed.
    if (WaitDepth++ == 0 && DialogDepth == 0) {
        View.SetWaitCursor(true);
    }
}

void TWindowBehaviour::EndWaitCursor() {
    if (WaitDepth > 0 && --WaitDepth == 0 && DialogDepth == 0) {
        View.SetWaitCursor(false);
    }
}

void TWindowBehaviour::ProcessMessages() {
    View.WaitForMessages(1);
}

void TWindowBehaviour::ProcessMessagesFor(int MaxWaitMs) {
    View.WaitForMessages(std::max(MaxWaitMs, 1));
}

}  // namespace tarnwick
