// Start-up and shutdown of the window: the settings it restores and writes back, the port
// box, the file named on the command line, and refusing to close during an update.
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QMoveEvent>
#include <QShowEvent>
#include <algorithm>
#include <exception>
#include <string>
#include <system_error>

#include "comport/port_list.h"
#include "main_window.h"
#include "message_boxes.h"
#include "settings_location.h"

namespace tarnwick {

namespace {

constexpr const char* Section = "Updater";

QString FromStd(const std::string& Text) {
    return QString::fromStdString(Text);
}

// Settings.ini holds text in the system's code page: UTF-8 on Linux, the ANSI code page
// on Windows. Qt's local 8-bit encoding is exactly that.
std::string ToSettingsText(const QString& Text) {
    return Text.toLocal8Bit().toStdString();
}

QString FromSettingsText(const std::string& Text) {
    return QString::fromLocal8Bit(Text.data(), static_cast<qsizetype>(Text.size()));
}

QString PathText(const std::filesystem::path& Path) {
    return QDir::toNativeSeparators(QString::fromStdString(Path.string()));
}

QString ReasonText(const std::exception& Error, const std::error_code& Code) {
    return Code ? QString::fromLocal8Bit(Code.message().c_str())
                : QString::fromLocal8Bit(Error.what());
}

}  // namespace

void TMainWindow::FormCreate() {
    CentreOnScreen();
    Bootloader.ReplyState = rsIdle;
    Bootloader.TxEmpty = false;
    Bootloader.LinkCrc = 0;
}

void TMainWindow::showEvent(QShowEvent* Event) {
    // The form's show handler runs once, before the window first appears.
    if (!Shown && !Event->spontaneous()) {
        Shown = true;
        FormShow();
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

void TMainWindow::FormShow() {
    const std::vector<std::string> ports = PortList ? PortList() : std::vector<std::string>();
    if (SettingsPath.empty()) {
        const std::filesystem::path folder =
            ExecutableFolder.empty()
                ? std::filesystem::path(QCoreApplication::applicationDirPath().toStdString())
                : ExecutableFolder;
        SettingsPath = SettingsFilePath(folder);
    }
    try {
        SettingsFile = std::make_unique<TIniFile>(SettingsPath);
    } catch (const EIniFileError& error) {
        // Written back at close, an unreadable file would lose what it holds.
        SettingsFile.reset();
        SettingsUnreadable = true;
        ShowHintBox(this, QStringLiteral("Die Einstellungen konnten nicht gelesen werden.\n\n"
                                         "Datei: %1\nGrund: %2\n\nEs gelten die Vorgaben; "
                                         "die Datei wird beim Beenden nicht verändert.")
                              .arg(PathText(SettingsPath), ReasonText(error, error.Code())));
    }
    const TIniFile empty;
    const TIniFile& settings = SettingsFile ? *SettingsFile : empty;
    PasswordEdit.setText(FromSettingsText(settings.ReadString(Section, "PasswordEdit", "Kiwu")));
    ProgramChkBox.setChecked(settings.ReadBool(Section, "ProgramChkBox", true));
    VerifyChkBox.setChecked(settings.ReadBool(Section, "VerifyChkBox", true));
    // Not in the window: set by hand for bootloaders known to keep up with the line.
    Bootloader.BytePacing = std::clamp(
        settings.ReadInteger(Section, "BytePacing", DefaultBytePacing), 0, DefaultBytePacing);
    // Not in the window either: 0 for a device switched on or reset by other means.
    Bootloader.PowerCycle = settings.ReadBool(Section, "PowerCycle", true);
    BaudComboBox.setCurrentIndex(BaudComboBox.findText(
        FromSettingsText(settings.ReadString(Section, "BaudComboBox", "115200")),
        Qt::MatchExactly | Qt::MatchCaseSensitive));
    ComComboBox.clear();
    for (const std::string& entry : ports) {
        ComComboBox.addItem(FromStd(entry));
    }
    const QString savedPort = FromSettingsText(settings.ReadString(Section, "ComComboBox", "COM1"));
    int selected = -1;
    for (int i = 0; i < ComComboBox.count(); ++i) {
        if (FromStd(PortNameOfEntry(ComComboBox.itemText(i).toStdString())) == savedPort) {
            selected = i;
        }
    }
    ComComboBox.setCurrentIndex(selected);
    if (selected < 0) {
        // A port the user chose that the list does not offer now (a path typed in, an
        // adapter unplugged) comes back as it was: offering the first entry instead could
        // update another device. Without a saved choice the first entry is offered.
        const bool chosen = settings.ValueExists(Section, "ComComboBox") && !savedPort.isEmpty();
        ComComboBox.setEditText(chosen          ? savedPort
                                : ports.empty() ? QString()
                                                : FromStd(ports.front()));
    }
    StartupTimer.start();
}

void TMainWindow::StartupTimerTimer(QObject* /*Sender*/) {
    StartupTimer.stop();
    const TIniFile empty;
    const TIniFile& settings = SettingsFile ? *SettingsFile : empty;
    ShowProgramChkBox.setChecked(settings.ReadBool(Section, "ShowProgramChkBox", true));
    ShowCompleteMemoryChkBox.setChecked(
        settings.ReadBool(Section, "ShowCompleteMemoryChkBox", false));
    FilenameInEdit.setText(StartupFileName.isEmpty() ? FromSettingsText(settings.ReadString(
                                                           Section, "FilenameInEdit", ""))
                                                     : StartupFileName);
}

bool TMainWindow::FormCloseQuery() {
    return !UpdateRunning();
}

void TMainWindow::closeEvent(QCloseEvent* Event) {
    // While an update runs, every attempt to close is refused without a word.
    if (!FormCloseQuery()) {
        Event->ignore();
        return;
    }
    FormClose();
    Event->accept();
}

void TMainWindow::FormClose() {
    if (!SettingsFile) {
        if (SettingsUnreadable) {
            SettingsUnreadable = false;
            ShowHintBox(this, QStringLiteral("Die Einstellungen dieses Laufs wurden nicht "
                                             "gespeichert: die Datei %1 konnte beim Start nicht "
                                             "gelesen werden und bleibt unverändert.")
                                  .arg(PathText(SettingsPath)));
        }
        return;
    }
    StartupTimer.stop();
    std::error_code code;
    try {
        TIniFile& settings = *SettingsFile;
        settings.WriteString(Section, "BaudComboBox", ToSettingsText(BaudComboBox.currentText()));
        settings.WriteString(Section, "ComComboBox",
                             PortNameOfEntry(ToSettingsText(ComComboBox.currentText())));
        settings.WriteString(Section, "PasswordEdit", ToSettingsText(PasswordEdit.text()));
        settings.WriteString(Section, "FilenameInEdit", ToSettingsText(FilenameInEdit.text()));
        settings.WriteBool(Section, "ProgramChkBox", ProgramChkBox.isChecked());
        settings.WriteBool(Section, "VerifyChkBox", VerifyChkBox.isChecked());
        settings.WriteBool(Section, "ShowProgramChkBox", ShowProgramChkBox.isChecked());
        settings.WriteBool(Section, "ShowCompleteMemoryChkBox",
                           ShowCompleteMemoryChkBox.isChecked());
        settings.WriteInteger(Section, "BytePacing", Bootloader.BytePacing);
        settings.WriteBool(Section, "PowerCycle", Bootloader.PowerCycle);
        // The user's configuration folder may not exist yet.
        std::filesystem::create_directories(SettingsPath.parent_path(), code);
        settings.UpdateFile();
    } catch (const EIniFileError& error) {
        ShowHintBox(this, QStringLiteral("Die Einstellungen konnten nicht gespeichert werden.\n\n"
                                         "Datei: %1\nGrund: %2")
                              .arg(PathText(SettingsPath),
                                   ReasonText(error, error.Code() ? error.Code() : code)));
    }
    SettingsFile.reset();
}

}  // namespace tarnwick
