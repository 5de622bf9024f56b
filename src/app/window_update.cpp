// The window's side of an update: "Update starten!" runs the update of the protocol core,
// and the core reaches the user through the methods here.
#include <QApplication>
#include <QWindow>
#include <algorithm>
#include <initializer_list>
#include <string>

#include "event_pump.h"
#include "main_window.h"
#include "message_boxes.h"
#include "text/cp1252.h"

namespace tarnwick {

namespace {

QString FromStd(const std::string& Text) {
    return QString::fromStdString(Text);
}

}  // namespace

void TMainWindow::StartBtnClick(QObject* /*Sender*/) {
    if (UpdateRunning()) {
        return;
    }
    // Inputs the device or the port cannot take are refused before the user is asked to
    // switch anything off.
    std::string password;
    if (!Utf8ToCp1252(PasswordEdit.text().toStdString(), password)) {
        ShowNoticeBox(this, QStringLiteral("Das Bootloader-Passwort enthält Zeichen, die nicht "
                                           "übertragen werden können (nur Windows-1252)."));
        return;
    }
    if ((ProgramChkBox.isChecked() || VerifyChkBox.isChecked()) &&
        BaudComboBox.currentIndex() < 0) {
        ShowNoticeBox(this, QStringLiteral("Bitte eine Baudrate auswählen."));
        return;
    }
    Bootloader.SetImage(Image, HighestAddress);
    Bootloader.RunUpdate();
}

void TMainWindow::CancelButtonClick(QObject* /*Sender*/) {
    Bootloader.CancelButtonClick();
}

void TMainWindow::ReportMessage(const std::string& Text, bool ShowBox, bool ToInfo, bool ToLog) {
    ReportMessage(FromStd(Text), ShowBox, ToInfo, ToLog);
}

void TMainWindow::FlashHint(bool Show, const std::string& Text, int IntervalMs) {
    FlashHint(Show, FromStd(Text), IntervalMs);
}

void TMainWindow::ShowNotice(const std::string& Text) {
    ShowNoticeBox(this, FromStd(Text));
}

bool TMainWindow::AskYesNo(const std::string& Text) {
    return AskYesNoBox(this, FromStd(Text));
}

void TMainWindow::ClearInfo() {
    InfoMemo.clear();
}

QProgressBar& TMainWindow::Bar(TProgressBar Which) {
    switch (Which) {
        case pbConnect:
            return ConnectProgressBar;
        case pbProgram:
            return ProgramProgressBar;
        case pbVerify:
            return VerifyProgressBar;
        case pbBuffer:
        default:
            return BufferProgressBar;
    }
}

void TMainWindow::ShowBar(TProgressBar Which) {
    const TBarState& state = Bars[Which];
    QProgressBar& bar = Bar(Which);
    // A maximum of 0 would make Qt's bar a busy animation, and a position past the
    // maximum would be ignored: the core uses both, meaning "all done".
    if (state.Max <= 0) {
        bar.setRange(0, 1);
        bar.setValue(1);
        return;
    }
    bar.setRange(0, state.Max);
    bar.setValue(std::clamp(state.Position, 0, state.Max));
}

void TMainWindow::SetProgressMax(TProgressBar Which, int Max) {
    Bars[Which].Max = Max;
    ShowBar(Which);
}

void TMainWindow::SetProgressPosition(TProgressBar Which, int Position) {
    Bars[Which].Position = Position;
    ShowBar(Which);
}

std::string TMainWindow::PasswordText() const {
    std::string bytes;
    // StartBtnClick refuses a password without Windows-1252 bytes.
    return Utf8ToCp1252(PasswordEdit.text().toStdString(), bytes) ? bytes : std::string();
}

std::string TMainWindow::PortText() const {
    return ComComboBox.currentText().toStdString();
}

std::string TMainWindow::BaudText() const {
    return BaudComboBox.currentText().toStdString();
}

bool TMainWindow::ProgramTicked() const {
    return ProgramChkBox.isChecked();
}

bool TMainWindow::VerifyTicked() const {
    return VerifyChkBox.isChecked();
}

void TMainWindow::SetInputsEnabled(bool Enabled) {
    for (QWidget* input : std::initializer_list<QWidget*>{
             &SelectInBtn, &FilenameInEdit, &PasswordEdit, &BaudComboBox, &ComComboBox,
             &ProgramChkBox, &VerifyChkBox, &ShowProgramChkBox, &ShowCompleteMemoryChkBox}) {
        input->setEnabled(Enabled);
    }
}

void TMainWindow::SetStartButton(bool Enabled, const std::string& Caption) {
    StartBtn.setEnabled(Enabled);
    StartBtn.setText(FromStd(Caption));
    if (Enabled) {
        // The run is over: its bars go back to the range they had before it, so that an
        // empty pass (maximum 0) does not stay full once the bars are reset.
        for (TBarState& state : Bars) {
            state.Max = 100;
        }
    }
}

void TMainWindow::SetCancelEnabled(bool Enabled) {
    CancelButton.setEnabled(Enabled);
}

void TMainWindow::SetStayOnTop(bool OnTop) {
    // On the native window, so that the flag changes in place: setting it on the widget
    // would hide the window and show it again, possibly somewhere else.
    if (QWindow* window = windowHandle()) {
        window->setFlag(Qt::WindowStaysOnTopHint, OnTop);
    } else {
        setWindowFlag(Qt::WindowStaysOnTopHint, OnTop);
    }
}

void TMainWindow::BeginWaitCursor() {
    QApplication::setOverrideCursor(Qt::WaitCursor);
    ++WaitCursorDepth;
}

void TMainWindow::EndWaitCursor() {
    if (WaitCursorDepth > 0) {
        QApplication::restoreOverrideCursor();
        --WaitCursorDepth;
    }
}

void TMainWindow::ProcessMessages() {
    PumpEventsOnce(PumpTimer);
}

}  // namespace tarnwick
