#include "recording_view.h"

#include <algorithm>
#include <chrono>

#include "bootloader/line_rates.h"
#include "comport/main_thread_dispatcher.h"

namespace tarnwick::test {

const char* ControlName(TControl Control) {
    switch (Control) {
        case TControl::PasswordEdit:
            return "PasswordEdit";
        case TControl::BaudComboBox:
            return "BaudComboBox";
        case TControl::ComComboBox:
            return "ComComboBox";
        case TControl::SelectInBtn:
            return "SelectInBtn";
        case TControl::FilenameInEdit:
            return "FilenameInEdit";
        case TControl::StartBtn:
            return "StartBtn";
        case TControl::ProgramChkBox:
            return "ProgramChkBox";
        case TControl::VerifyChkBox:
            return "VerifyChkBox";
        case TControl::ShowProgramChkBox:
            return "ShowProgramChkBox";
        case TControl::ShowCompleteMemoryChkBox:
            return "ShowCompleteMemoryChkBox";
        case TControl::CancelButton:
            return "CancelButton";
        case TControl::ConnectProgressBar:
            return "ConnectProgressBar";
        case TControl::ProgramProgressBar:
            return "ProgramProgressBar";
        case TControl::VerifyProgressBar:
            return "VerifyProgressBar";
        case TControl::BufferProgressBar:
            return "BufferProgressBar";
        case TControl::ShowProgramProgressBar:
            return "ShowProgramProgressBar";
        case TControl::TransferComboBox:
            return "TransferComboBox";
        case TControl::NoPowerCycleChkBox:
            return "NoPowerCycleChkBox";
    }
    return "?";
}

TRecordingView::TRecordingView() {
    for (const TControl box :
         {TControl::ProgramChkBox, TControl::VerifyChkBox, TControl::ShowProgramChkBox}) {
        Controls[box].Checked = true;
    }
    Controls[TControl::ShowCompleteMemoryChkBox].Checked = false;
    Controls[TControl::StartBtn].Enabled = false;
    Controls[TControl::StartBtn].Text = "Update starten!";
    Controls[TControl::CancelButton].Enabled = false;
    Controls[TControl::BaudComboBox].Items.assign(LineRates.begin(), LineRates.end());
}

void TRecordingView::Note(const std::string& Call) {
    Calls.push_back(Call);
}

std::string TRecordingView::Text(TControl Control) const {
    const auto found = Controls.find(Control);
    if (found == Controls.end()) {
        return {};
    }
    const TControlState& state = found->second;
    if (Control == TControl::BaudComboBox || Control == TControl::TransferComboBox) {
        return state.ItemIndex < 0 ? std::string()
                                   : state.Items[static_cast<std::size_t>(state.ItemIndex)];
    }
    return state.Text;
}

void TRecordingView::SetText(TControl Control, const std::string& Value) {
    Note(std::string("SetText ") + ControlName(Control) + " " + Value);
    Controls[Control].Text = Value;
}

bool TRecordingView::Checked(TControl Control) const {
    const auto found = Controls.find(Control);
    return found != Controls.end() && found->second.Checked;
}

void TRecordingView::SetChecked(TControl Control, bool Value) {
    Note(std::string("SetChecked ") + ControlName(Control) + " " + (Value ? "1" : "0"));
    Controls[Control].Checked = Value;
}

void TRecordingView::SetEnabled(TControl Control, bool Enabled) {
    Note(std::string("SetEnabled ") + ControlName(Control) + " " + (Enabled ? "1" : "0"));
    Controls[Control].Enabled = Enabled;
}

int TRecordingView::ItemCount(TControl Control) const {
    const auto found = Controls.find(Control);
    return found == Controls.end() ? 0 : static_cast<int>(found->second.Items.size());
}

std::string TRecordingView::ItemText(TControl Control, int Index) const {
    return Controls.at(Control).Items.at(static_cast<std::size_t>(Index));
}

void TRecordingView::SetItems(TControl Control, const std::vector<std::string>& Items) {
    Note(std::string("SetItems ") + ControlName(Control));
    Controls[Control].Items = Items;
    Controls[Control].ItemIndex = -1;
}

void TRecordingView::SetItemIndex(TControl Control, int Index) {
    Note(std::string("SetItemIndex ") + ControlName(Control) + " " + std::to_string(Index));
    TControlState& state = Controls[Control];
    state.ItemIndex = Index;
    state.Text = Index < 0 ? std::string() : state.Items.at(static_cast<std::size_t>(Index));
}

void TRecordingView::SetBar(TControl Bar, int Position, int Max) {
    TControlState& state = Controls[Bar];
    state.Position = Position;
    state.Max = Max;
}

void TRecordingView::AppendLog(const std::string& Line) {
    Log.push_back(Line);
}

void TRecordingView::AppendInfo(const std::string& Line) {
    Info.push_back(Line);
}

void TRecordingView::ClearInfo() {
    Note("ClearInfo");
    Info.clear();
}

int TRecordingView::SetHintText(const std::string& Value) {
    HintText = Value;
    // One pixel a byte stands in for the text's width.
    return static_cast<int>(Value.size());
}

void TRecordingView::SetHintVisible(bool Visible) {
    HintVisible = Visible;
}

void TRecordingView::ShowBox(TBoxKind Kind, const std::string& Value) {
    const std::string entry = (Kind == TBoxKind::Hint ? "Hint: " : "Notice: ") + Value;
    Note("ShowBox " + entry);
    Boxes.push_back(entry);
    if (OnBox) {
        OnBox();
    }
}

bool TRecordingView::AskYesNo(const std::string& Value) {
    Note("AskYesNo " + Value);
    Boxes.push_back("Question: " + Value);
    if (OnBox) {
        OnBox();
    }
    return Answered < YesNoAnswers.size() && YesNoAnswers[Answered++];
}

bool TRecordingView::ChooseFile(const std::string& Current, std::string& Chosen) {
    Note("ChooseFile " + Current);
    if (FilesGiven >= ChosenFiles.size() || ChosenFiles[FilesGiven].empty()) {
        ++FilesGiven;
        return false;
    }
    Chosen = ChosenFiles[FilesGiven++];
    return true;
}

void TRecordingView::CentreOnScreen() {
    Note("CentreOnScreen");
}

void TRecordingView::SetProgramViewShown(bool Shown) {
    Note(std::string("SetProgramViewShown ") + (Shown ? "1" : "0"));
    ProgramViewShown = Shown;
}

void TRecordingView::SetStayOnTop(bool OnTop) {
    Note(std::string("SetStayOnTop ") + (OnTop ? "1" : "0"));
    StayOnTop = OnTop;
}

void TRecordingView::SetWaitCursor(bool Wait) {
    Note(std::string("SetWaitCursor ") + (Wait ? "1" : "0"));
    WaitCursor = Wait;
}

void TRecordingView::RequestClose() {
    Note("RequestClose");
    ++CloseRequests;
}

void TRecordingView::SetProgramGridVisible(bool Visible) {
    GridVisible = Visible;
}

void TRecordingView::SetProgramRows(std::vector<TProgramRow> NewRows) {
    Note("SetProgramRows " + std::to_string(NewRows.size()));
    ++RowFills;
    Rows = std::move(NewRows);
}

void TRecordingView::StartTimer(TViewTimer Timer, int IntervalMs) {
    ActiveTimers[Timer] = IntervalMs;
}

void TRecordingView::StopTimer(TViewTimer Timer) {
    ActiveTimers.erase(Timer);
}

void TRecordingView::RunPump() {
    // Like a queued call, it runs once per pump and never inside itself.
    if (OnPump && !InPump) {
        InPump = true;
        OnPump();
        InPump = false;
    }
}

void TRecordingView::ProcessPendingMessages() {
    TMainThreadDispatcher::Instance().RunPending();
    RunPump();
}

void TRecordingView::WaitForMessages(int MaxWaitMs) {
    TMainThreadDispatcher::Instance().WaitAndRunPending(
        std::chrono::milliseconds(std::clamp(MaxWaitMs, 1, 5)));
    RunPump();
}

std::filesystem::path TRecordingView::ProgramFolder() const {
    return Folder;
}

void TRecordingView::Type(TControl Edit, const std::string& Value) {
    TControlState& state = Controls[Edit];
    if (state.Text == Value) {
        return;
    }
    state.Text = Value;
    if (Edit == TControl::FilenameInEdit && Behaviour != nullptr) {
        Behaviour->FilenameInEditChange();
    }
}

void TRecordingView::Tick(TControl Box, bool Value) {
    TControlState& state = Controls[Box];
    if (state.Checked == Value || Behaviour == nullptr) {
        state.Checked = Value;
        return;
    }
    state.Checked = Value;
    switch (Box) {
        case TControl::ProgramChkBox:
            Behaviour->ProgramChkBoxClick();
            break;
        case TControl::VerifyChkBox:
            Behaviour->VerifyChkBoxClick();
            break;
        case TControl::ShowProgramChkBox:
            Behaviour->ShowProgramChkBoxClick();
            break;
        case TControl::ShowCompleteMemoryChkBox:
            Behaviour->ShowCompleteMemoryChkBoxClick();
            break;
        case TControl::NoPowerCycleChkBox:
            Behaviour->NoPowerCycleChkBoxClick();
            break;
        default:
            break;
    }
}

}  // namespace tarnwick::test
