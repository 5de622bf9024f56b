// The Qt window as the behaviour's view: its controls by name, the boxes and the file
// dialog, the program view, timers, cursor, stay-on-top and pumping, and the form's
// show and close events passed on to the behaviour.
#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QMetaObject>
#include <QMoveEvent>
#include <QScrollBar>
#include <QShowEvent>
#include <QSignalBlocker>
#include <QStringList>
#include <QWindow>
#include <algorithm>

#include "event_pump.h"
#include "main_window.h"
#include "message_boxes.h"
#include "system_text.h"

namespace tarnwick {

namespace {

QString FromStd(const std::string& Text) {
    return QString::fromStdString(Text);
}

}  // namespace

QWidget* TMainWindow::Widget(TControl Control) const {
    // The controls are the window's own members; the view hands them out by name.
    auto* self = const_cast<TMainWindow*>(this);
    switch (Control) {
        case TControl::PasswordEdit:
            return &self->PasswordEdit;
        case TControl::BaudComboBox:
            return &self->BaudComboBox;
        case TControl::ComComboBox:
            return &self->ComComboBox;
        case TControl::SelectInBtn:
            return &self->SelectInBtn;
        case TControl::FilenameInEdit:
            return &self->FilenameInEdit;
        case TControl::StartBtn:
            return &self->StartBtn;
        case TControl::ProgramChkBox:
            return &self->ProgramChkBox;
        case TControl::VerifyChkBox:
            return &self->VerifyChkBox;
        case TControl::ShowProgramChkBox:
            return &self->ShowProgramChkBox;
        case TControl::ShowCompleteMemoryChkBox:
            return &self->ShowCompleteMemoryChkBox;
        case TControl::CancelButton:
            return &self->CancelButton;
        case TControl::ConnectProgressBar:
            return &self->ConnectProgressBar;
        case TControl::ProgramProgressBar:
            return &self->ProgramProgressBar;
        case TControl::VerifyProgressBar:
            return &self->VerifyProgressBar;
        case TControl::BufferProgressBar:
            return &self->BufferProgressBar;
        case TControl::ShowProgramProgressBar:
            return &self->ShowProgramProgressBar;
        case TControl::TransferComboBox:
            return &self->TransferComboBox;
        case TControl::NoPowerCycleChkBox:
            return &self->NoPowerCycleChkBox;
    }
    return nullptr;
}

QTimer& TMainWindow::Timer(TViewTimer Which) {
    return Which == TViewTimer::HintFlashTimer ? HintFlashTimer : StartupTimer;
}

// ------------------------------------------------------------------ controls

std::string TMainWindow::Text(TControl Control) const {
    QWidget* widget = Widget(Control);
    if (const auto* edit = qobject_cast<QLineEdit*>(widget)) {
        return edit->text().toStdString();
    }
    if (const auto* combo = qobject_cast<QComboBox*>(widget)) {
        return combo->currentText().toStdString();
    }
    if (const auto* button = qobject_cast<QAbstractButton*>(widget)) {
        return button->text().toStdString();
    }
    return {};
}

void TMainWindow::SetText(TControl Control, const std::string& Text) {
    QWidget* widget = Widget(Control);
    const QSignalBlocker quiet(widget);
    if (auto* edit = qobject_cast<QLineEdit*>(widget)) {
        edit->setText(FromStd(Text));
    } else if (auto* combo = qobject_cast<QComboBox*>(widget)) {
        combo->setEditText(FromStd(Text));
    } else if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
        button->setText(FromStd(Text));
    }
}

bool TMainWindow::Checked(TControl Control) const {
    const auto* box = qobject_cast<QAbstractButton*>(Widget(Control));
    return box != nullptr && box->isChecked();
}

void TMainWindow::SetChecked(TControl Control, bool Checked) {
    if (auto* box = qobject_cast<QAbstractButton*>(Widget(Control))) {
        const QSignalBlocker quiet(box);
        box->setChecked(Checked);
    }
}

void TMainWindow::SetEnabled(TControl Control, bool Enabled) {
    Widget(Control)->setEnabled(Enabled);
}

int TMainWindow::ItemCount(TControl Control) const {
    const auto* combo = qobject_cast<QComboBox*>(Widget(Control));
    return combo == nullptr ? 0 : combo->count();
}

std::string TMainWindow::ItemText(TControl Control, int Index) const {
    const auto* combo = qobject_cast<QComboBox*>(Widget(Control));
    return combo == nullptr ? std::string() : combo->itemText(Index).toStdString();
}

void TMainWindow::SetItems(TControl Control, const std::vector<std::string>& Items) {
    auto* combo = qobject_cast<QComboBox*>(Widget(Control));
    if (combo == nullptr) {
        return;
    }
    const QSignalBlocker quiet(combo);
    const QString editText = combo->currentText();
    combo->clear();
    for (const std::string& item : Items) {
        combo->addItem(FromStd(item));
    }
    // Adding to an empty box selects its first item.
    combo->setCurrentIndex(-1);
    if (combo->isEditable()) {
        combo->setEditText(editText);
    }
}

void TMainWindow::SetItemIndex(TControl Control, int Index) {
    if (auto* combo = qobject_cast<QComboBox*>(Widget(Control))) {
        const QSignalBlocker quiet(combo);
        combo->setCurrentIndex(Index);
    }
}

void TMainWindow::SetBar(TControl Bar, int Position, int Max) {
    if (auto* bar = qobject_cast<QProgressBar*>(Widget(Bar))) {
        bar->setRange(0, Max);
        bar->setValue(Position);
    }
}

// ------------------------------------------------------------- memos, hint

void TMainWindow::AppendLog(const std::string& Line) {
    LogMemo.appendPlainText(FromStd(Line));
    LogMemo.moveCursor(QTextCursor::End);
    LogMemo.ensureCursorVisible();
    QScrollBar* bar = LogMemo.verticalScrollBar();
    bar->setValue(bar->maximum());
}

void TMainWindow::AppendInfo(const std::string& Line) {
    InfoMemo.appendPlainText(FromStd(Line));
    InfoMemo.moveCursor(QTextCursor::Start);
    InfoMemo.ensureCursorVisible();
    InfoMemo.verticalScrollBar()->setValue(0);
}

void TMainWindow::ClearInfo() {
    InfoMemo.clear();
}

int TMainWindow::SetHintText(const std::string& Text) {
    HintLabel.setText(FromStd(Text));
    HintLabel.adjustSize();
    return HintLabel.width();
}

int TMainWindow::InfoGroupWidth() const {
    return InfoGroupBox.width();
}

void TMainWindow::SetHintLeft(int Left) {
    HintLabel.move(Left, HintLabel.y());
}

void TMainWindow::SetHintVisible(bool Visible) {
    HintLabel.setVisible(Visible);
}

// ------------------------------------------------------------------ dialogs

void TMainWindow::ShowBox(TBoxKind Kind, const std::string& Text) {
    if (Kind == TBoxKind::Hint) {
        ShowHintBox(this, FromStd(Text));
    } else {
        ShowNoticeBox(this, FromStd(Text));
    }
}

bool TMainWindow::AskYesNo(const std::string& Text) {
    return AskYesNoBox(this, FromStd(Text));
}

bool TMainWindow::ChooseFile(const std::string& Current, std::string& Chosen) {
    // A fresh dialog with OpenDialog's settings: a reused one brings back the file
    // selected the time before instead of the preset name.
    QFileDialog dialog(this, OpenDialog.windowTitle(), OpenDialog.directory().absolutePath());
    dialog.setObjectName(OpenDialog.objectName());
    dialog.setOptions(OpenDialog.options());
    dialog.setAcceptMode(OpenDialog.acceptMode());
    dialog.setFileMode(OpenDialog.fileMode());
    dialog.setNameFilters(OpenDialog.nameFilters());
    dialog.setDefaultSuffix(OpenDialog.defaultSuffix());
    if (!Current.empty()) {
        const QFileInfo info(FromStd(Current));
        dialog.setDirectory(info.absolutePath());
        dialog.selectFile(info.absoluteFilePath());
    }
    if (dialog.exec() != QDialog::Accepted) {
        return false;
    }
    OpenDialog.setDirectory(dialog.directory());
    const QStringList chosen = dialog.selectedFiles();
    if (chosen.isEmpty()) {
        return false;
    }
    Chosen = QDir::toNativeSeparators(chosen.first()).toStdString();
    return true;
}

// ------------------------------------------------------------------- window

void TMainWindow::SetProgramViewShown(bool Shown) {
    ProgramGroupBox.setVisible(Shown);
    // Absolute heights rather than +/- the group height, so repeated calls cannot drift.
    setFixedSize(MainWindowClientWidth,
                 Shown ? MainWindowClientHeight : MainWindowClientHeight - ProgramGroupBoxHeight);
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

void TMainWindow::SetWaitCursor(bool Wait) {
    if (Wait == WaitCursorShown) {
        return;
    }
    WaitCursorShown = Wait;
    if (Wait) {
        QApplication::setOverrideCursor(Qt::WaitCursor);
    } else {
        QApplication::restoreOverrideCursor();
    }
}

void TMainWindow::RequestClose() {
    QMetaObject::invokeMethod(
        this, [this] { close(); }, Qt::QueuedConnection);
}

void TMainWindow::SetSessionEndBlock(const std::string& /*Reason*/) {
    // Nothing to register: a session manager asks (commitDataRequest), and the answer
    // comes from the behaviour then.
}

void TMainWindow::SetProgramGridVisible(bool Visible) {
    ProgramGrid.setVisible(Visible);
}

void TMainWindow::SetProgramRows(std::vector<TProgramRow> Rows) {
    ProgramGrid.ApplyColumnWidths();
    // Like a grid cut down to one row and grown again: back at the top, the selected
    // cell in the first row of its column.
    const int column = std::max(ProgramGrid.currentIndex().column(), 0);
    ProgramGrid.Model().SetRows(std::move(Rows));
    ProgramGrid.setCurrentIndex(ProgramGrid.Model().index(0, column));
    ProgramGrid.scrollToTop();
}

void TMainWindow::StartTimer(TViewTimer Which, int IntervalMs) {
    QTimer& timer = Timer(Which);
    timer.setInterval(IntervalMs);
    timer.start();
}

void TMainWindow::StopTimer(TViewTimer Which) {
    Timer(Which).stop();
}

void TMainWindow::ProcessPendingMessages() {
    QCoreApplication::processEvents();
}

void TMainWindow::WaitForMessages(int /*MaxWaitMs*/) {
    // Hand-overs wake the loop at once; the timer caps the sleep at about 1 ms.
    PumpEventsOnce(PumpTimer);
}

std::filesystem::path TMainWindow::ProgramFolder() const {
    return Utf8ToPath(QCoreApplication::applicationDirPath().toStdString());
}

// ------------------------------------------------------------------- events

void TMainWindow::showEvent(QShowEvent* Event) {
    // The form's show handler runs once, before the window first appears.
    if (!FormShown && !Event->spontaneous()) {
        FormShown = true;
        Behaviour.FormShow();
    }
    QWidget::showEvent(Event);
}

void TMainWindow::moveEvent(QMoveEvent* Event) {
    QWidget::moveEvent(Event);
    // The first centring happens before the window manager has put its frame around the
    // window, so it centres the bare client area. Centre the outer window once the frame
    // is known; otherwise the first toggle of the program view would move the window by
    // half the title bar.
    if (!CentredWithFrame && isVisible() && frameGeometry().size() != size()) {
        CentredWithFrame = true;
        CentreOnScreen();
    }
}

void TMainWindow::closeEvent(QCloseEvent* Event) {
    if (!Behaviour.FormCloseQuery()) {
        Event->ignore();
        return;
    }
    Behaviour.FormClose();
    Event->accept();
}

}  // namespace tarnwick
