// The program's single window: connection settings, file selection, status bars,
// information and log boxes, and the program view. This is the Qt view: what the window
// does lives in TWindowBehaviour.
#pragma once

#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QString>
#include <QTimer>
#include <QWidget>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "com_terminal.h"
#include "group_box.h"
#include "program_grid.h"
#include "window_behaviour.h"
#include "window_view.h"

namespace tarnwick {

inline constexpr int MainWindowClientWidth = 719;
inline constexpr int MainWindowClientHeight = 809;  // with the program view shown
inline constexpr int ProgramGroupBoxHeight = 287;

// Tahoma where the wine fonts are installed, else DejaVu Sans, 11 pixels high.
QFont ControlFont();
// The blinking hint: Tahoma bold, 19 pixels high.
QFont HintFont();

// The Qt view of the window: it lays the controls out, draws what the behaviour tells it
// and hands the user's actions to the behaviour, which decides everything.
class TMainWindow : public QWidget, public TWindowView {
    Q_OBJECT
  public:
    explicit TMainWindow(QWidget* Parent = nullptr);
    ~TMainWindow() override;
    TMainWindow(const TMainWindow&) = delete;
    TMainWindow& operator=(const TMainWindow&) = delete;

    // The window's two output operations, for Qt texts.
    void ReportMessage(const QString& Text, bool ShowBox, bool ToInfo, bool ToLog);
    void FlashHint(bool Show, const QString& Text, int IntervalMs);
    void HintFlashTimerTimer(QObject* Sender);
    // Refills the program view from the image (the whole image when Complete).
    void FillProgramGrid(bool Complete);
    bool UpdateRunning() const { return Behaviour.UpdateRunning(); }

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

    // Controls, parents before their children.
    TGroupBox SettingsGroupBox{this};
    QLabel PasswordEditLabel{&SettingsGroupBox};
    QLineEdit PasswordEdit{&SettingsGroupBox};
    QLabel Label2{&SettingsGroupBox};
    QComboBox BaudComboBox{&SettingsGroupBox};
    QLabel Label1{&SettingsGroupBox};
    QComboBox ComComboBox{&SettingsGroupBox};

    TGroupBox UpdateGroupBox{this};
    QPushButton SelectInBtn{&UpdateGroupBox};
    QLabel FilenameInEditLabel{&UpdateGroupBox};
    QLineEdit FilenameInEdit{&UpdateGroupBox};
    QPushButton StartBtn{&UpdateGroupBox};
    QCheckBox ProgramChkBox{&UpdateGroupBox};
    QCheckBox VerifyChkBox{&UpdateGroupBox};
    QCheckBox ShowProgramChkBox{&UpdateGroupBox};
    QCheckBox ShowCompleteMemoryChkBox{&UpdateGroupBox};
    QPushButton CancelButton{&UpdateGroupBox};
    // Beside the specified controls, in the group's free right column.
    QCheckBox NoPowerCycleChkBox{&UpdateGroupBox};
    QLabel TransferLabel{&UpdateGroupBox};
    QComboBox TransferComboBox{&UpdateGroupBox};

    TGroupBox StatusGroupBox{this};
    QLabel Label3{&StatusGroupBox};
    QProgressBar ConnectProgressBar{&StatusGroupBox};
    QLabel Label4{&StatusGroupBox};
    QProgressBar ProgramProgressBar{&StatusGroupBox};
    QLabel Label6{&StatusGroupBox};
    QProgressBar VerifyProgressBar{&StatusGroupBox};
    QLabel Label5{&StatusGroupBox};
    QProgressBar BufferProgressBar{&StatusGroupBox};

    TGroupBox InfoGroupBox{this};
    QLabel HintLabel{&InfoGroupBox};
    QPlainTextEdit InfoMemo{&InfoGroupBox};
    QPlainTextEdit LogMemo{&InfoGroupBox};

    TGroupBox ProgramGroupBox{this};
    TProgramGrid ProgramGrid{&ProgramGroupBox};
    QProgressBar ShowProgramProgressBar{&ProgramGroupBox};
    // Never shown: the behaviour links it to the port, and its link makes the port read
    // received bytes.
    TComTerminal ComTerminal1{&ProgramGroupBox};

    // Non-visual parts.
    QFileDialog OpenDialog{this};
    QTimer HintFlashTimer{this};
    QTimer StartupTimer{this};

    // What the window does. After the controls: it links the hidden terminal to its port.
    TWindowBehaviour Behaviour{*this, &ComTerminal1};

    // The behaviour's state under the names the window always had.
    TBuffer& Image = Behaviour.Image;
    std::int32_t& HighestAddress = Behaviour.HighestAddress;
    TComPort& ComPort = Behaviour.ComPort;
    TBootloader& Bootloader = Behaviour.Bootloader;
    std::filesystem::path& SettingsPath = Behaviour.SettingsPath;
    std::filesystem::path& ExecutableFolder = Behaviour.ExecutableFolder;
    std::function<std::vector<std::string>()>& PortList = Behaviour.PortList;
    std::string& StartupFileName = Behaviour.StartupFileName;

  protected:
    void showEvent(QShowEvent* Event) override;
    void closeEvent(QCloseEvent* Event) override;
    void moveEvent(QMoveEvent* Event) override;

  private:
    void SetUpControls();
    void SetUpTabOrder();
    void ConnectHandlers();
    void ConnectSessionManager();
    QWidget* Widget(TControl Control) const;
    QTimer& Timer(TViewTimer Which);

    bool FormShown = false;
    // Whether the window was centred again once the window manager's frame was known.
    bool CentredWithFrame = false;
    bool WaitCursorShown = false;
    // Wakes the event loop about every millisecond while the behaviour waits.
    QTimer PumpTimer{this};
};

}  // namespace tarnwick
