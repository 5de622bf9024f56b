// The program's single window on Windows: plain Win32 controls laid out as the form
// gives them, drawn and passed on to the window's behaviour, which decides everything.
#pragma once

#include <windows.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "message_pump.h"
#include "program_view.h"
#include "window_layout.h"
#include "window_view.h"

namespace tarnwick {

class TWindowBehaviour;

enum : UINT_PTR { HintFlashTimerId = 1, StartupTimerId = 2 };

// The extent of Text in Font, and a label sized to its own text (as the form's labels
// size themselves).
SIZE TextSize(HWND Control, HFONT Font, const std::wstring& Text);
void FitToText(HWND Label, HFONT Font);

class TWin32MainWindow : public TWindowView {
  public:
    explicit TWin32MainWindow(HINSTANCE Instance);
    ~TWin32MainWindow() override;
    TWin32MainWindow(const TWin32MainWindow&) = delete;
    TWin32MainWindow& operator=(const TWin32MainWindow&) = delete;

    // The behaviour the user's actions go to; it must outlive the window's messages.
    void SetBehaviour(TWindowBehaviour* Behaviour);
    HWND Handle() const { return Window; }
    // The first show: the behaviour's FormShow, then the window appears.
    void Show(int ShowCommand);
    // The message loop until the window has closed.
    int Run() { return Pump->Run(); }

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
    int InfoGroupWidth() const override;
    void SetHintLeft(int Left) override;
    void SetHintVisible(bool Visible) override;
    void ShowBox(TBoxKind Kind, const std::string& Text) override;
    bool AskYesNo(const std::string& Text) override;
    bool ChooseFile(const std::string& Current, std::string& Chosen) override;
    void CentreOnScreen() override;
    void SetProgramViewShown(bool Shown) override;
    void SetStayOnTop(bool OnTop) override;
    void SetWaitCursor(bool Wait) override;
    void RequestClose() override;
    void SetSessionEndBlock(const std::string& Reason) override;
    void SetProgramGridVisible(bool Visible) override;
    void SetProgramRows(std::vector<TProgramRow> Rows) override;
    void StartTimer(TViewTimer Timer, int IntervalMs) override;
    void StopTimer(TViewTimer Timer) override;
    void ProcessPendingMessages() override;
    void WaitForMessages(int MaxWaitMs) override;
    std::filesystem::path ProgramFolder() const override;

  private:
    static LRESULT CALLBACK Procedure(HWND Window, UINT Message, WPARAM W, LPARAM L);
    LRESULT HandleMessage(UINT Message, WPARAM W, LPARAM L);
    void CreateControls();
    void OnCommand(int Id, int Code);
    HWND Item(TControlId Id) const { return GetDlgItem(Window, Id); }
    HWND ControlWindow(TControl Control) const;
    int RunMessageBox(const std::string& Text, const wchar_t* Title, UINT Style);
    // Keyboard focus: kept while another window is active and given back on return (as a
    // dialog does), and moved on when the focused control is disabled.
    void SaveFocus();
    void RestoreFocus();
    void AppendLine(HWND Memo, const std::string& Line);
    void SetClientHeight(int Height);

    HINSTANCE Instance;
    HWND Window = nullptr;
    HFONT ControlFont = nullptr;
    HFONT HintFont = nullptr;
    HBRUSH FaceBrush = nullptr;
    std::unique_ptr<TProgramView> ProgramGrid;
    std::unique_ptr<TMessagePump> Pump;
    TWindowBehaviour* Behaviour = nullptr;
    // Above zero while the view itself changes a control: the change is not the user's.
    int Quiet = 0;
    bool WaitCursor = false;
    HWND FocusedControl = nullptr;
    bool SessionEndBlocked = false;
};

}  // namespace tarnwick
