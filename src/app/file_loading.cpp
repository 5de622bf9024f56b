// Loading the firmware file named in the file-name field, the "Auswählen" dialog, and
// how loads and refills of the program view keep out of each other's way.
#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QStringList>
#include <exception>
#include <string>

#include "main_window.h"
#include "program_rows.h"

namespace tarnwick {

namespace {

QString FromStd(const std::string& Text) {
    return QString::fromStdString(Text);
}

// Clears a flag however the guarded work ends.
class TBusyScope {
  public:
    explicit TBusyScope(bool& BusyFlag) : Flag(BusyFlag) { Flag = true; }
    ~TBusyScope() { Flag = false; }
    TBusyScope(const TBusyScope&) = delete;
    TBusyScope& operator=(const TBusyScope&) = delete;

  private:
    bool& Flag;
};

// Wait cursor and event pumping for the HEX loader.
class TGuiLoadFeedback final : public TLoadFeedback {
  public:
    TGuiLoadFeedback() = default;
    TGuiLoadFeedback(const TGuiLoadFeedback&) = delete;
    TGuiLoadFeedback& operator=(const TGuiLoadFeedback&) = delete;
    ~TGuiLoadFeedback() override {
        // A load that ended by an exception must not leave the wait cursor behind.
        while (WaitDepth > 0) {
            EndWait();
        }
    }
    void BeginWait() override {
        QApplication::setOverrideCursor(Qt::WaitCursor);
        ++WaitDepth;
    }
    void EndWait() override {
        if (WaitDepth > 0) {
            QApplication::restoreOverrideCursor();
            --WaitDepth;
        }
    }
    void ProcessMessages() override { QCoreApplication::processEvents(); }

  private:
    int WaitDepth = 0;
};

}  // namespace

void TMainWindow::FillProgramGrid(bool Complete) {
    tarnwick::FillProgramGrid(ProgramGrid, Image, Complete, HighestAddress,
                              &ShowProgramProgressBar);
}

void TMainWindow::RefillIfLoaded() {
    if (Busy) {
        FillPending = true;
        return;
    }
    {
        TBusyScope busy(Busy);
        // An enabled start button means an image is loaded.
        if (ShowProgramChkBox.isChecked() && StartBtn.isEnabled()) {
            FillProgramGrid(ShowCompleteMemoryChkBox.isChecked());
        }
    }
    RunPendingWork();
}

void TMainWindow::FilenameInEditChange(QObject* /*Sender*/) {
    if (Busy) {
        // Served with the field's latest text once the running work is done.
        LoadPending = true;
        return;
    }
    {
        TBusyScope busy(Busy);
        LoadFromField();
    }
    RunPendingWork();
}

void TMainWindow::RunPendingWork() {
    while (LoadPending || FillPending) {
        TBusyScope busy(Busy);
        if (LoadPending) {
            LoadPending = false;
            LoadFromField();
        } else {
            FillPending = false;
            if (ShowProgramChkBox.isChecked() && StartBtn.isEnabled()) {
                FillProgramGrid(ShowCompleteMemoryChkBox.isChecked());
            }
        }
    }
}

void TMainWindow::LoadFromField() {
    const QString text = FilenameInEdit.text();
    const std::string typedName = text.toStdString();
    if (!QFileInfo(text).isFile()) {
        StartBtn.setEnabled(false);
        ReportMessage(FromStd(FileNotFoundMessage(typedName)), true, false, true);
        return;
    }
    int result = HexIncomplete;
    try {
        TGuiLoadFeedback feedback;
        result = LoadHexFile(QFile::encodeName(text).toStdString(), Image, HighestAddress,
                             MaxFlashSize, &feedback);
    } catch (const std::exception& error) {
        // The image may be half written: treat it as not loaded and say why.
        StartBtn.setEnabled(false);
        ReportMessage(QString::fromLocal8Bit(error.what()), true, false, true);
        return;
    }
    if (result == HexLoaded) {
        if (ShowProgramChkBox.isChecked()) {
            // A refill asked for before this fill is served by it; one asked for while
            // it runs (a box ticked meanwhile) stays pending and runs after it.
            FillPending = false;
            FillProgramGrid(ShowCompleteMemoryChkBox.isChecked());
        }
        StartBtn.setEnabled(true);
        ReportMessage(FromStd(FileLoadedMessage(typedName)), false, false, true);
        return;
    }
    StartBtn.setEnabled(false);
    if (result >= HexDuplicate && result <= HexNoIntelHex) {
        ReportMessage(FromStd(LoadResultMessage(result)), true, false, true);
    }
}

void TMainWindow::SelectInBtnClick(QObject* /*Sender*/) {
    // A fresh dialog with OpenDialog's settings: a reused one brings back the file
    // selected the time before instead of the preset name.
    QFileDialog dialog(this, OpenDialog.windowTitle(), OpenDialog.directory().absolutePath());
    dialog.setObjectName(OpenDialog.objectName());
    dialog.setOptions(OpenDialog.options());
    dialog.setAcceptMode(OpenDialog.acceptMode());
    dialog.setFileMode(OpenDialog.fileMode());
    dialog.setNameFilters(OpenDialog.nameFilters());
    dialog.setDefaultSuffix(OpenDialog.defaultSuffix());
    const QString current = FilenameInEdit.text();
    if (!current.isEmpty()) {
        const QFileInfo info(current);
        dialog.setDirectory(info.absolutePath());
        dialog.selectFile(info.absoluteFilePath());
    }
    if (dialog.exec() != QDialog::Accepted) {
        return;
    }
    OpenDialog.setDirectory(dialog.directory());
    const QStringList chosen = dialog.selectedFiles();
    if (chosen.isEmpty()) {
        return;
    }
    const QString path = QDir::toNativeSeparators(chosen.first());
    // The same name again must not reload.
    if (path != FilenameInEdit.text()) {
        FilenameInEdit.setText(path);
    }
}

}  // namespace tarnwick
