// A view without a display for the window's behaviour: it keeps every control's state as
// a toolkit would, notes every call in order, answers the questions and the file dialog
// from lists the test fills, and pumps the port's hand-overs through the dispatcher.
#pragma once

#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "window_behaviour.h"
#include "window_view.h"

namespace tarnwick::test {

const char* ControlName(TControl Control);

struct TControlState {
    std::string Text;
    bool Checked = false;
    bool Enabled = true;
    std::vector<std::string> Items;
    int ItemIndex = -1;
    int Position = 0;
    int Max = 100;
};

class TRecordingView final : public TWindowView {
  public:
    // The form's initial state: the four boxes as the form ticks them, StartBtn and
    // CancelButton disabled, the baud list filled, nothing selected.
    TRecordingView();

    // ---- TWindowView
    std::string Text(TControl Control) const override;
    void SetText(TControl Control, const std::string& Text) override;
    bool Checked(TControl Control) const override;
    void SetChecked(TControl Control, bool Checked) override;
    void SetEnabled(TControl Control, bool Enabled) override;
    int ItemCount(TControl Control) const override;
    std::string ItemText(TControl Control, int Index) const override;
    void SetItems(TControl Control, const std::vector<std::string>& Items) override;
    void SetItemIndex(TControl Control, int Index) override;
    void SetBar(TControl Bar, int Position, int Max) override;
    void AppendLog(const std::string& Line) override;
    void AppendInfo(const std::string& Line) override;
    void ClearInfo() override;
    int SetHintText(const std::string& Text) override;
    int InfoGroupWidth() const override { return 371; }
    void SetHintLeft(int Left) override { HintLeft = Left; }
    void SetHintVisible(bool Visible) override;
    void ShowBox(TBoxKind Kind, const std::string& Text) override;
    bool AskYesNo(const std::string& Text) override;
    bool ChooseFile(const std::string& Current, std::string& Chosen) override;
    void CentreOnScreen() override;
    void SetProgramViewShown(bool Shown) override;
    void SetStayOnTop(bool OnTop) override;
    void SetWaitCursor(bool Wait) override;
    void RequestClose() override;
    void SetSessionEndBlock(const std::string& Reason) override { SessionEndBlock = Reason; }
    void SetProgramGridVisible(bool Visible) override;
    void SetProgramRows(std::vector<TProgramRow> Rows) override;
    void StartTimer(TViewTimer Timer, int IntervalMs) override;
    void StopTimer(TViewTimer Timer) override;
    void ProcessPendingMessages() override;
    void WaitForMessages(int MaxWaitMs) override;
    std::filesystem::path ProgramFolder() const override;

    // ---- what the user does: the state changes, then the behaviour's handler runs
    void Type(TControl Edit, const std::string& Text);
    void Tick(TControl Box, bool Checked);

    // ---- the test's side
    TWindowBehaviour* Behaviour = nullptr;
    std::map<TControl, TControlState> Controls;
    // Every call, in order, e.g. "SetEnabled StartBtn 0", "ShowBox Hint Text".
    std::vector<std::string> Calls;
    std::vector<std::string> Log;
    std::vector<std::string> Info;
    // Boxes and questions as "Hint: text", "Notice: text", "Question: text".
    std::vector<std::string> Boxes;
    std::vector<bool> YesNoAnswers;        // in order; a question beyond them gets No
    std::vector<std::string> ChosenFiles;  // in order; an empty entry cancels the dialog
    std::string HintText;
    int HintLeft = 16;
    // Closes the behaviour asked for (RequestClose), and the reason given to the system.
    int CloseRequests = 0;
    std::string SessionEndBlock;
    bool HintVisible = false;
    bool ProgramViewShown = true;
    bool StayOnTop = false;
    bool WaitCursor = false;
    bool GridVisible = true;
    int RowFills = 0;
    std::vector<TProgramRow> Rows;
    std::map<TViewTimer, int> ActiveTimers;  // timer -> interval
    std::filesystem::path Folder;
    // Runs inside every pump, as a timer or a queued click would.
    std::function<void()> OnPump;
    // Runs while a box or question is open (before it is answered), as the user's
    // actions on the window behind it would.
    std::function<void()> OnBox;

  private:
    void Note(const std::string& Call);
    void RunPump();
    std::size_t Answered = 0;
    std::size_t FilesGiven = 0;
    bool InPump = false;
};

}  // namespace tarnwick::test
