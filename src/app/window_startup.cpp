// Start-up and shutdown of the window: the settings it restores and writes back, the port
// box, the file named on the command line, and refusing to close during an update.
#include <algorithm>
#include <exception>
#include <string>
#include <system_error>

#include "comport/port_list.h"
#include "settings_location.h"
#include "settings_text.h"
#include "system_text.h"
#include "window_behaviour.h"

namespace tarnwick {

namespace {

constexpr const char* Section = "Updater";

std::string ReasonText(const std::exception& Error, const std::error_code& Code) {
    return SystemTextToUtf8(Code ? Code.message() : std::string(Error.what()));
}

std::string ReadText(const TIniFile& Settings, const char* Key, const char* Default) {
    return ReadSettingsText(Settings, Section, Key, Default);
}

}  // namespace

void TWindowBehaviour::FormCreate() {
    View.CentreOnScreen();
    Bootloader.ReplyState = rsIdle;
    Bootloader.TxEmpty = false;
    Bootloader.LinkCrc = 0;
}

void TWindowBehaviour::FormShow() {
    const std::vector<std::string> ports = PortList ? PortList() : std::vector<std::string>();
    if (SettingsPath.empty()) {
        SettingsPath =
            SettingsFilePath(ExecutableFolder.empty() ? View.ProgramFolder() : ExecutableFolder);
    }
    try {
        SettingsFile = std::make_unique<TIniFile>(SettingsPath);
    } catch (const EIniFileError& error) {
        // Written back at close, an unreadable file would lose what it holds.
        SettingsFile.reset();
        SettingsUnreadable = true;
        Box(TBoxKind::Hint, "Die Einstellungen konnten nicht gelesen werden.\n\nDatei: " +
                                PathToUtf8(SettingsPath) +
                                "\nGrund: " + ReasonText(error, error.Code()) +
                                "\n\nEs gelten die Vorgaben; die Datei wird beim "
                                "Beenden nicht verändert.");
    }
    const TIniFile empty;
    const TIniFile& settings = SettingsFile ? *SettingsFile : empty;
    View.SetText(TControl::PasswordEdit, ReadText(settings, "PasswordEdit", "Kiwu"));
    RestoreCheck(TControl::ProgramChkBox, settings.ReadBool(Section, "ProgramChkBox", true));
    RestoreCheck(TControl::VerifyChkBox, settings.ReadBool(Section, "VerifyChkBox", true));
    RestoreTransfer(settings);
    // Not in the window: a production line's record of every update, beside the settings
    // when the name has no folder.
    const std::string logFile = ReadText(settings, "LogFile", "");
    AttemptLog = logFile.empty() ? std::filesystem::path()
                                 : SettingsPath.parent_path() / Utf8ToPath(logFile);
    const std::string baud = ReadText(settings, "BaudComboBox", "115200");
    int baudIndex = -1;
    for (int i = 0; i < View.ItemCount(TControl::BaudComboBox); ++i) {
        if (View.ItemText(TControl::BaudComboBox, i) == baud) {
            baudIndex = i;
            break;
        }
    }
    View.SetItemIndex(TControl::BaudComboBox, baudIndex);
    FillPortBox(ports, settings);
    View.StartTimer(TViewTimer::StartupTimer, 10);
}

void TWindowBehaviour::FillPortBox(const std::vector<std::string>& Ports,
                                   const TIniFile& Settings) {
    View.SetItems(TControl::ComComboBox, Ports);
    const std::string savedPort = ReadText(Settings, "ComComboBox", "COM1");
    int selected = -1;
    for (int i = 0; i < static_cast<int>(Ports.size()); ++i) {
        if (PortNameOfEntry(Ports[static_cast<std::size_t>(i)]) == savedPort) {
            selected = i;
        }
    }
    View.SetItemIndex(TControl::ComComboBox, selected);
    if (selected < 0) {
        // A port the user chose that the list does not offer now (a path typed in, an
        // adapter unplugged) comes back as it was: offering the first entry instead could
        // update another device. Without a saved choice the first entry is offered.
        const bool chosen = Settings.ValueExists(Section, "ComComboBox") && !savedPort.empty();
        View.SetText(TControl::ComComboBox, chosen          ? savedPort
                                            : Ports.empty() ? std::string()
                                                            : Ports.front());
    }
}

void TWindowBehaviour::StartupTimerTimer() {
    View.StopTimer(TViewTimer::StartupTimer);
    const TIniFile empty;
    const TIniFile& settings = SettingsFile ? *SettingsFile : empty;
    RestoreCheck(TControl::ShowProgramChkBox,
                 settings.ReadBool(Section, "ShowProgramChkBox", true));
    RestoreCheck(TControl::ShowCompleteMemoryChkBox,
                 settings.ReadBool(Section, "ShowCompleteMemoryChkBox", false));
    const std::string name =
        StartupFileName.empty() ? ReadText(settings, "FilenameInEdit", "") : StartupFileName;
    // Only a change of the text loads.
    if (View.Text(TControl::FilenameInEdit) != name) {
        View.SetText(TControl::FilenameInEdit, name);
        FilenameInEditChange();
    }
}

bool TWindowBehaviour::FormCloseQuery() {
    // While an update runs, every attempt to close is refused without a word.
    if (UpdateRunning()) {
        return false;
    }
    // The close would run from inside the work's pumping, and the work would go on
    // against a window that is gone.
    if (BusyFlag || DialogDepth > 0) {
        CloseDeferred = true;
        return false;
    }
    return true;
}

void TWindowBehaviour::CloseIfDeferred() {
    if (CloseDeferred && !BusyFlag && DialogDepth == 0 && !UpdateRunning()) {
        CloseDeferred = false;
        View.RequestClose();
    }
}

bool TWindowBehaviour::QueryEndSession() {
    return !UpdateRunning();
}

void TWindowBehaviour::EndSession(bool Ending) {
    if (Ending && SettingsFile) {
        WriteSettings();
    }
}

void TWindowBehaviour::FormClose() {
    if (!SettingsFile) {
        if (SettingsUnreadable) {
            SettingsUnreadable = false;
            Box(TBoxKind::Hint,
                "Die Einstellungen dieses Laufs wurden nicht gespeichert: die Datei " +
                    PathToUtf8(SettingsPath) +
                    " konnte beim Start nicht gelesen werden und bleibt unverändert.");
        }
        return;
    }
    View.StopTimer(TViewTimer::StartupTimer);
    WriteSettings();
    SettingsFile.reset();
}

void TWindowBehaviour::WriteSettings() {
    std::error_code code;
    try {
        TIniFile& settings = *SettingsFile;
        const auto write = [&](const char* Key, const std::string& Text) {
            WriteSettingsText(settings, Section, Key, Text);
        };
        write("BaudComboBox", View.Text(TControl::BaudComboBox));
        write("ComComboBox", PortNameOfEntry(View.Text(TControl::ComComboBox)));
        write("PasswordEdit", View.Text(TControl::PasswordEdit));
        write("FilenameInEdit", View.Text(TControl::FilenameInEdit));
        settings.WriteBool(Section, "ProgramChkBox", View.Checked(TControl::ProgramChkBox));
        settings.WriteBool(Section, "VerifyChkBox", View.Checked(TControl::VerifyChkBox));
        settings.WriteBool(Section, "ShowProgramChkBox", View.Checked(TControl::ShowProgramChkBox));
        settings.WriteBool(Section, "ShowCompleteMemoryChkBox",
                           View.Checked(TControl::ShowCompleteMemoryChkBox));
        WriteTransfer(settings);
        // The user's configuration folder may not exist yet.
        std::filesystem::create_directories(SettingsPath.parent_path(), code);
        settings.UpdateFile();
    } catch (const EIniFileError& error) {
        Box(TBoxKind::Hint, "Die Einstellungen konnten nicht gespeichert werden.\n\nDatei: " +
                                PathToUtf8(SettingsPath) + "\nGrund: " +
                                ReasonText(error, error.Code() ? error.Code() : code));
    }
}

}  // namespace tarnwick
