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

class TMainWindow : public QWidget {
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

    // Centres the outer window on the primary screen.
    void CentreOnScreen();
    // Refills the program view from the image (the whole image when Complete).
    void FillProgramGrid(bool Complete);

    // Handlers.
    void FormCreate();
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
    // Place of the hidden terminal view that keeps the port's receive link alive.
    QWidget ComTerminal1{&ProgramGroupBox};

    // Non-visual parts.
    QFileDialog OpenDialog{this};
    QTimer HintFlashTimer{this};
    QTimer StartupTimer{this};

    // The firmware image and the highest address its last load wrote.
    TBuffer Image;
    std::int32_t HighestAddress = 0;

  private:
    void SetUpControls();
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
};

}  // namespace tarnwick
