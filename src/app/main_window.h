// The program's single window: connection settings, file selection, status bars,
// information and log boxes, and the program view.
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
#include <memory>
#include <string>
#include <vector>

#include "bootloader/bootloader.h"
#include "bootloader/update_owner.h"
#include "com_terminal.h"
#include "comport/com_port.h"
#include "comport/ini_file.h"
#include "firmware_image.h"
#include "group_box.h"
#include "program_grid.h"

namespace tarnwick {

inline constexpr int MainWindowClientWidth = 719;
inline constexpr int MainWindowClientHeight = 809;  // with the program view shown
inline constexpr int ProgramGroupBoxHeight = 287;

// (Outer - Inner) / 2, rounded to the nearest integer, halves to the even neighbour.
int CentredOffset(int Outer, int Inner);

// Tahoma where the wine fonts are installed, else DejaVu Sans, 11 pixels high.
QFont ControlFont();
// The blinking hint: Tahoma bold, 19 pixels high.
QFont HintFont();

// The window is also the owner of the update run: it answers the core's questions with
// its boxes, shows progress in its bars and pumps the Qt event loop while the core waits.
class TMainWindow : public QWidget, public TUpdateOwner {
    Q_OBJECT
  public:
    explicit TMainWindow(QWidget* Parent = nullptr);
    ~TMainWindow() override;
    TMainWindow(const TMainWindow&) = delete;
    TMainWindow& operator=(const TMainWindow&) = delete;

    // Appends Text to the log and/or the information box and optionally shows it in
    // a modal box titled "Tarnwick - Hinweis".
    void ReportMessage(const QString& Text, bool ShowBox, bool ToInfo, bool ToLog);
    // Shows (blinking every IntervalMs) or hides the red hint, centred in its group.
    void FlashHint(bool Show, const QString& Text, int IntervalMs);

    // ---- the update run's owner side (UTF-8 texts from the core)
    void ReportMessage(const std::string& Text, bool ShowBox, bool ToInfo, bool ToLog) override;
    void FlashHint(bool Show, const std::string& Text, int IntervalMs) override;
    void ShowNotice(const std::string& Text) override;
    bool AskYesNo(const std::string& Text) override;
    void ClearInfo() override;
    void SetProgressMax(TProgressBar Bar, int Max) override;
    void SetProgressPosition(TProgressBar Bar, int Position) override;
    // The password as the device compares it: one Windows-1252 byte per character.
    std::string PasswordText() const override;
    std::string PortText() const override;
    std::string BaudText() const override;
    bool ProgramTicked() const override;
    bool VerifyTicked() const override;
    void SetInputsEnabled(bool Enabled) override;
    void SetStartButton(bool Enabled, const std::string& Caption) override;
    void SetCancelEnabled(bool Enabled) override;
    void SetStayOnTop(bool OnTop) override;
    void BeginWaitCursor() override;
    void EndWaitCursor() override;
    void ProcessMessages() override;

    // Centres the outer window on the primary screen.
    void CentreOnScreen();
    // Refills the program view from the image (the whole image when Complete).
    void FillProgramGrid(bool Complete);

    // Handlers.
    void FormCreate();
    void FormShow();
    void StartupTimerTimer(QObject* Sender);
    bool FormCloseQuery();
    void FormClose();
    void StartBtnClick(QObject* Sender);
    void CancelButtonClick(QObject* Sender);
    void HintFlashTimerTimer(QObject* Sender);
    void ProgramChkBoxClick(QObject* Sender);
    void VerifyChkBoxClick(QObject* Sender);
    void ShowProgramChkBoxClick(QObject* Sender);
    void ShowCompleteMemoryChkBoxClick(QObject* Sender);
    void FilenameInEditChange(QObject* Sender);
    void SelectInBtnClick(QObject* Sender);

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
    // Never shown: its link makes the port read received bytes, and it answers the
    // terminal queries that may appear on the line, as the window always has.
    TComTerminal ComTerminal1{&ProgramGroupBox};

    // Non-visual parts.
    QFileDialog OpenDialog{this};
    QTimer HintFlashTimer{this};
    QTimer StartupTimer{this};

    // The firmware image and the highest address its last load wrote.
    TBuffer Image;
    std::int32_t HighestAddress = 0;

    // The port of the updates and the protocol state that drives it.
    TComPort ComPort;
    TBootloader Bootloader{*this, ComPort, /*AttachRxLink=*/false};
    bool UpdateRunning() const { return Bootloader.UpdateRunning; }

    // Read in FormShow, written and dropped in FormClose; null when the file could not be
    // read (it is then left as it is).
    std::unique_ptr<TIniFile> SettingsFile;
    // The file existed but could not be read at start: it is left as it is.
    bool SettingsUnreadable = false;
    // Set before the window is shown, or found by FormShow: Settings.ini next to the
    // program when that works, else in the user's configuration folder.
    std::filesystem::path SettingsPath;
    // The folder the settings file is looked for in first; the program's own by default.
    std::filesystem::path ExecutableFolder;
    // A firmware file named on the command line; loaded instead of the saved one.
    QString StartupFileName;
    // The serial ports offered in the port box, in list order.
    std::function<std::vector<std::string>()> PortList;

  protected:
    void showEvent(QShowEvent* Event) override;
    void closeEvent(QCloseEvent* Event) override;
    void moveEvent(QMoveEvent* Event) override;

  private:
    void SetUpControls();
    void SetUpPort();
    void SetUpTabOrder();
    void ConnectHandlers();

    // Loads and fills run with events pumped; a request that arrives meanwhile
    // (a keystroke, a ticked box) is remembered and served once the running one ends,
    // so the image is never reloaded under a running load or fill.
    void LoadFromField();
    void RefillIfLoaded();
    void RunPendingWork();
    bool Busy = false;
    bool LoadPending = false;
    bool FillPending = false;

    void RestoreSettings();
    void FillPortBox(const std::string& SavedPort);
    void WriteSettings();

    // What each progress bar was last told; a bar shows Position of Max, clamped.
    struct TBarState {
        int Max = 100;
        int Position = 0;
    };
    QProgressBar& Bar(TProgressBar Which);
    void ShowBar(TProgressBar Which);
    TBarState Bars[4];

    bool Shown = false;
    // Whether the window was centred again once the window manager's frame was known.
    bool CentredWithFrame = false;
    int WaitCursorDepth = 0;
    // Wakes the event loop about every millisecond while the core waits.
    QTimer PumpTimer{this};
};

}  // namespace tarnwick
