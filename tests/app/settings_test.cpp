// Settings.ini: what a start restores, what a close writes, where the file lives.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>
#include <QCoreApplication>
#include <QTest>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "hex_file.h"
#include "main_window.h"
#include "message_boxes.h"
#include "modal_answerer.h"
#include "settings_location.h"
#include "temp_dir.h"

namespace tarnwick {
namespace {

using test::TModalAnswerer;
using test::TTempDir;

std::string ReadFile(const std::filesystem::path& Path) {
    std::ifstream in(Path, std::ios::binary);
    std::stringstream content;
    content << in.rdbuf();
    return content.str();
}

// A window started on the settings file in Dir, with the given port list.
std::unique_ptr<TMainWindow> Start(const std::filesystem::path& SettingsPath,
                                   std::vector<std::string> Ports = {}) {
    auto window = std::make_unique<TMainWindow>();
    window->SettingsPath = SettingsPath;
    window->PortList = [Ports] { return Ports; };
    window->show();
    EXPECT_TRUE(QTest::qWaitFor([&] { return !window->StartupTimer.isActive(); }, 5000));
    QTest::qWait(20);
    return window;
}

struct TWindowState {
    QString Password;
    bool Program;
    bool Verify;
    QString Baud;
    QString Port;
    bool ShowProgram;
    bool Complete;
    QString File;
    bool operator==(const TWindowState&) const = default;
};

TWindowState StateOf(const TMainWindow& W) {
    return {W.PasswordEdit.text(),
            W.ProgramChkBox.isChecked(),
            W.VerifyChkBox.isChecked(),
            W.BaudComboBox.currentText(),
            W.ComComboBox.currentText(),
            W.ShowProgramChkBox.isChecked(),
            W.ShowCompleteMemoryChkBox.isChecked(),
            W.FilenameInEdit.text()};
}

void ExpectState(const TWindowState& Actual, const TWindowState& Expected, const char* Name) {
    EXPECT_EQ(Actual.Password, Expected.Password) << Name;
    EXPECT_EQ(Actual.Program, Expected.Program) << Name;
    EXPECT_EQ(Actual.Verify, Expected.Verify) << Name;
    EXPECT_EQ(Actual.Baud, Expected.Baud) << Name;
    EXPECT_EQ(Actual.Port, Expected.Port) << Name;
    EXPECT_EQ(Actual.ShowProgram, Expected.ShowProgram) << Name;
    EXPECT_EQ(Actual.Complete, Expected.Complete) << Name;
    EXPECT_EQ(Actual.File, Expected.File) << Name;
}

const std::vector<std::string> Ports = {"COM1: Kommunikationsanschluss (COM1) @ ACPI",
                                        "COM12: USB Serial Port (COM12) @ FTDIBUS",
                                        "COM3: Serial Adapter (COM3) @ USB"};

TEST(Settings, FirstRunShowsTheDefaultsAndClosingWritesTheFile) {
    TTempDir dir;
    const auto path = dir.Path() / "Settings.ini";
    {
        auto window = Start(path, Ports);
        ExpectState(
            StateOf(*window),
            {"Kiwu", true, true, "115200", QString::fromStdString(Ports[0]), true, false, ""},
            "first run");
        EXPECT_EQ(window->ComComboBox.currentIndex(), 0);
        EXPECT_EQ(window->ComComboBox.count(), 3);
        EXPECT_FALSE(window->StartBtn.isEnabled());
        EXPECT_FALSE(std::filesystem::exists(path));
        EXPECT_TRUE(window->close());
    }
    EXPECT_EQ(ReadFile(path),
              "[Updater]\r\nBaudComboBox=115200\r\nComComboBox=COM1\r\nPasswordEdit=Kiwu\r\n"
              "FilenameInEdit=\r\nProgramChkBox=1\r\nVerifyChkBox=1\r\nShowProgramChkBox=1\r\n"
              "ShowCompleteMemoryChkBox=0\r\nBytePacing=50\r\nPowerCycle=1\r\n"
              "AutoLineSpeed=1\r\n\r\n");
}

// A file of a version without the transfer list (no AutoLineSpeed) keeps what BytePacing
// (within 0 to 50 ms) and PowerCycle meant for every device without the Tarnwick mark, and
// the two controls show it; the keys are written back. AutoLineSpeed=0 is a choice of the
// list, a pacing set by hand with it an item of its own.
TEST(Settings, AnOlderFileKeepsItsPacingAndTheControlsShowIt) {
    struct {
        const char* Lines;
        int Pacing;
        bool Auto;
        bool PowerCycle;
        const char* Shown;
        const char* Written;
    } const cases[] = {
        {"BytePacing=0", 0, true, true, "schnell", "BytePacing=0"},
        {"BytePacing=20", 20, true, true, "automatisch", "BytePacing=20"},
        {"BytePacing=50", 50, true, true, "automatisch", "BytePacing=50"},
        {"BytePacing=99", 50, true, true, "automatisch", "BytePacing=50"},
        {"BytePacing=-5", 0, true, true, "schnell", "BytePacing=0"},
        {"BytePacing=schnell", 50, true, true, "automatisch", "BytePacing=50"},
        {"PowerCycle=0", 50, true, false, "automatisch", "PowerCycle=0"},
        {"PowerCycle=1", 50, true, true, "automatisch", "PowerCycle=1"},
        {"AutoLineSpeed=0", 50, false, true, "wie spezifiziert", "AutoLineSpeed=0"},
        {"AutoLineSpeed=0\r\nBytePacing=20", 20, false, true, "20 ms je Byte", "BytePacing=20"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Lines);
        TTempDir dir;
        const auto path =
            dir.Write("Settings.ini", std::string("[Updater]\r\n") + c.Lines + "\r\n");
        {
            const auto window = Start(path, Ports);
            EXPECT_EQ(window->Bootloader.BytePacing, c.Pacing);
            EXPECT_EQ(window->Bootloader.AutoLineSpeed, c.Auto);
            EXPECT_EQ(window->Bootloader.PowerCycle, c.PowerCycle);
            EXPECT_EQ(window->TransferComboBox.currentText().toStdString(), c.Shown);
            EXPECT_EQ(window->NoPowerCycleChkBox.isChecked(), !c.PowerCycle);
            EXPECT_TRUE(window->close());
        }
        EXPECT_NE(ReadFile(path).find(std::string(c.Written) + "\r\n"), std::string::npos);
    }
}

// What the user picks is what the next run does and what the file keeps.
TEST(Settings, TheTransferListAndThePowerCycleBoxAreRememberedAndUsed) {
    const struct {
        int Item;
        bool NoPowerCycle;
        int Pacing;
        bool Auto;
        const char* Written;
    } cases[] = {
        {0, false, 50, true, "BytePacing=50\r\nPowerCycle=1\r\nAutoLineSpeed=1\r\n"},
        {1, true, 50, false, "BytePacing=50\r\nPowerCycle=0\r\nAutoLineSpeed=0\r\n"},
        {2, false, 0, false, "BytePacing=0\r\nPowerCycle=1\r\nAutoLineSpeed=0\r\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Item);
        TTempDir dir;
        const auto path = dir.Path() / "Settings.ini";
        {
            const auto window = Start(path, Ports);
            // As the user picks: from "schnell" first, so that every pick is a change.
            for (const int item : {2, c.Item}) {
                window->TransferComboBox.setCurrentIndex(item);
                emit window->TransferComboBox.activated(item);
            }
            window->NoPowerCycleChkBox.click();
            if (!c.NoPowerCycle)
                window->NoPowerCycleChkBox.click();
            EXPECT_EQ(window->Bootloader.BytePacing, c.Pacing);
            EXPECT_EQ(window->Bootloader.AutoLineSpeed, c.Auto);
            EXPECT_EQ(window->Bootloader.PowerCycle, !c.NoPowerCycle);
            EXPECT_TRUE(window->close());
        }
        EXPECT_NE(ReadFile(path).find(c.Written), std::string::npos) << ReadFile(path);
    }
}

TEST(Settings, ReadingAFileTakesWhatItCanAndDefaultsTheRest) {
    struct {
        const char* Name;
        std::string File;
        TWindowState Expected;
    } const cases[] = {
        {"0x0 is false, yes the default",
         "[Updater]\nProgramChkBox=0x0\nVerifyChkBox=yes\nShowProgramChkBox=$0\n",
         {"Kiwu", false, true, "115200", "COM1: Kommunikationsanschluss (COM1) @ ACPI", false,
          false, ""}},
        {"blanks around the password go",
         "[Updater]\r\nPasswordEdit=  geheim  \r\nShowCompleteMemoryChkBox=7\r\n",
         {"geheim", true, true, "115200", "COM1: Kommunikationsanschluss (COM1) @ ACPI", true, true,
          ""}},
        {"a rate not in the list leaves the box empty; names in any case",
         "[updater]\nbaudcombobox=12345\nPASSWORDEDIT=x\n",
         {"x", true, true, "", "COM1: Kommunikationsanschluss (COM1) @ ACPI", true, false, ""}},
        {"a two-digit port is matched whole",
         "[Updater]\nComComboBox=COM12\nBaudComboBox=38400\n",
         {"Kiwu", true, true, "38400", "COM12: USB Serial Port (COM12) @ FTDIBUS", true, false,
          ""}},
        {"a typed port no list entry names comes back as typed",
         "[Updater]\nComComboBox=/dev/pts/7\n",
         {"Kiwu", true, true, "115200", "/dev/pts/7", true, false, ""}},
        {"another section is not ours",
         "[Other]\nPasswordEdit=nein\n",
         {"Kiwu", true, true, "115200", "COM1: Kommunikationsanschluss (COM1) @ ACPI", true, false,
          ""}},
    };
    for (const auto& c : cases) {
        TTempDir dir;
        const auto window = Start(dir.Write("Settings.ini", c.File), Ports);
        ExpectState(StateOf(*window), c.Expected, c.Name);
    }
}

TEST(Settings, EveryChoiceComesBackAndForeignContentSurvives) {
    TTempDir dir;
    const auto path = dir.Path() / "Settings.ini";
    // Outside Windows-1252 too: the file is UTF-8 here.
    const std::string folder = dir.Path().string() + "/Łódź ✓";
    std::filesystem::create_directories(folder);
    const QString hex = QString::fromStdString(folder + "/fw.hex");
    { std::ofstream(folder + "/fw.hex", std::ios::binary) << test::HexImage(32); }
    dir.Write("Settings.ini",
              "; kept\r\n[Andere]\r\nSchluessel=Wert\r\n\r\n[Updater]\r\nUnbekannt=1\r\n"
              "PasswordEdit=alt\r\n");
    {
        TModalAnswerer answerer;
        auto window = Start(path, Ports);
        window->PasswordEdit.setText(QStringLiteral("Prüf"));
        window->ProgramChkBox.setChecked(false);
        window->VerifyChkBox.setChecked(false);
        window->BaudComboBox.setCurrentText(QStringLiteral("19200"));
        window->ComComboBox.setCurrentIndex(1);  // COM12
        window->ShowProgramChkBox.setChecked(false);
        window->ShowCompleteMemoryChkBox.setChecked(true);
        window->FilenameInEdit.setText(hex);
        // Edited by hand meanwhile: the program's state wins at close.
        dir.Write("Settings.ini", "[Updater]\r\nPasswordEdit=Hand\r\n");
        EXPECT_TRUE(window->close());
        EXPECT_TRUE(answerer.Boxes().empty());
    }
    const std::string written = ReadFile(path);
    EXPECT_NE(written.find("; kept\r\n[Andere]\r\nSchluessel=Wert\r\n"), std::string::npos)
        << written;
    EXPECT_NE(written.find("Unbekannt=1\r\n"), std::string::npos) << written;
    EXPECT_NE(written.find("ComComboBox=COM12\r\n"), std::string::npos) << written;
    EXPECT_EQ(written.find("Hand"), std::string::npos) << written;

    const auto again = Start(path, Ports);
    ExpectState(StateOf(*again),
                {"Prüf", false, false, "19200", QString::fromStdString(Ports[1]), false, true, hex},
                "restart");
    EXPECT_TRUE(again->StartBtn.isEnabled()) << "the file was loaded again";
}

// XDG_CONFIG_HOME pointed at a temporary folder for the life of the object.
class TConfigHome : public TTempDir {
  public:
    TConfigHome() { setenv("XDG_CONFIG_HOME", Path().c_str(), 1); }
    ~TConfigHome() {
        if (Saved) {
            setenv("XDG_CONFIG_HOME", Saved->c_str(), 1);
        } else {
            unsetenv("XDG_CONFIG_HOME");
        }
    }

  private:
    const char* Old = std::getenv("XDG_CONFIG_HOME");
    std::optional<std::string> Saved = Old ? std::optional<std::string>(Old) : std::nullopt;
};

TEST(Settings, LiveInTheUserConfigFolderWhenTheProgramFolderTakesNoFiles) {
    const TConfigHome config;
    // /proc takes no new files, not even from the superuser.
    EXPECT_EQ(SettingsFilePath("/proc"), config.Path() / "tarnwick" / "Settings.ini");
    {
        auto window = std::make_unique<TMainWindow>();
        window->ExecutableFolder = "/proc";
        window->show();
        EXPECT_TRUE(window->close());
    }
    EXPECT_TRUE(std::filesystem::exists(config.Path() / "tarnwick" / "Settings.ini"));
    TTempDir writable;
    EXPECT_EQ(SettingsFilePath(writable.Path()), writable.Path() / "Settings.ini");
}

// /usr/bin takes files from the superuser, but an installed program must leave none there.
TEST(Settings, AnInstalledProgramKeepsThemInTheUserConfigFolderEvenWhereItCouldWrite) {
    const TConfigHome config;
    TTempDir prefix;
    std::filesystem::create_directories(prefix.Path() / "bin");
    ASSERT_TRUE(FolderTakesNewFiles(prefix.Path() / "bin"));
    // Not yet an installed layout: a bin folder of its own, as an unpacked archive has.
    EXPECT_EQ(SettingsFilePath(prefix.Path() / "bin"), prefix.Path() / "bin" / "Settings.ini");
    std::filesystem::create_directories(prefix.Path() / "share");
    prefix.Write("bin/Settings.ini", "[Updater]\r\n");
    EXPECT_EQ(SettingsFilePath(prefix.Path() / "bin"), config.Path() / "tarnwick" / "Settings.ini");
    EXPECT_FALSE(InstalledProgramFolder(prefix.Path() / "share"));
}

TEST(Settings, AFailedWriteAtCloseIsShownAndTheWindowStillCloses) {
    TTempDir dir;
    dir.Write("blocker", "a file where the folder should be");
    const auto path = dir.Path() / "blocker" / "Settings.ini";
    TModalAnswerer answerer;
    auto window = Start(path);
    EXPECT_TRUE(window->close());
    EXPECT_FALSE(window->isVisible());
    ASSERT_EQ(answerer.Boxes().size(), 1u);
    const QString text = answerer.Boxes()[0].Text;
    EXPECT_TRUE(
        text.startsWith(QStringLiteral("Die Einstellungen konnten nicht gespeichert werden.")))
        << text.toStdString();
    EXPECT_TRUE(text.contains(QString::fromStdString(path.string()))) << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("Grund: "))) << text.toStdString();
}

// What a file holds (its bytes, or that it is no regular file), to see it untouched.
std::string Snapshot(const std::filesystem::path& Path) {
    std::error_code code;
    const auto status = std::filesystem::symlink_status(Path, code);
    return std::to_string(static_cast<int>(status.type())) + ":" +
           (std::filesystem::is_regular_file(status) ? ReadFile(Path) : std::string());
}

// A start on a settings file that exists but cannot be read: a German message, the
// defaults, and at close the file left as it was and the user told so. Returns
// what went wrong, empty when all held (a child process reports it that way).
std::string StartAndCloseOnUnreadableSettings(const std::filesystem::path& Path) {
    const std::string before = Snapshot(Path);
    TModalAnswerer answerer;
    auto window = Start(Path, Ports);
    if (answerer.Boxes().size() != 1 || !answerer.Boxes()[0].Text.startsWith(QStringLiteral(
                                            "Die Einstellungen konnten nicht gelesen werden."))) {
        return "no German message at start";
    }
    if (StateOf(*window) != TWindowState{"Kiwu", true, true, "115200",
                                         QString::fromStdString(Ports[0]), true, false, ""}) {
        return "the window did not start with the defaults";
    }
    window->PasswordEdit.setText(QStringLiteral("geheim"));
    if (!window->close()) {
        return "the window did not close";
    }
    if (answerer.Boxes().size() != 2 ||
        !answerer.Boxes()[1].Text.contains(QStringLiteral("nicht gespeichert"))) {
        return "the user was not told that the choices were not saved";
    }
    return Snapshot(Path) == before ? std::string() : "the file was changed";
}

TEST(Settings, AFileThatCannotBeReadIsLeftUntouched) {
    const std::vector<std::pair<const char*, std::function<void(const std::filesystem::path&)>>>
        cases = {
            {"Folder", [](const auto& P) { std::filesystem::create_directory(P); }},
            {"BinaryGarbage",
             [](const auto& P) {
                 std::ofstream(P, std::ios::binary)
                     << std::string("[Updater]\r\nPasswordEdit=x\0\xFE\xFF", 27);
             }},
            {"Pipe", [](const auto& P) { ASSERT_EQ(::mkfifo(P.c_str(), 0600), 0); }},
        };
    for (const auto& [name, make] : cases) {
        TTempDir dir;
        make(dir.Path() / "Settings.ini");
        EXPECT_EQ(StartAndCloseOnUnreadableSettings(dir.Path() / "Settings.ini"), "") << name;
    }
}

// Root reads any file: the window runs as nobody in a child process.
[[noreturn]] void StartAsNobodyOnAFileWithoutReadPermission() {
    TTempDir dir;
    const auto path = dir.Write("Settings.ini", "[Updater]\r\nPasswordEdit=geheim\r\n");
    if (::chmod(path.c_str(), 0) != 0 || ::chmod(dir.Path().c_str(), 0755) != 0 ||
        ::setgid(65534) != 0 || ::setuid(65534) != 0) {
        std::_Exit(2);
    }
    const std::string fault = StartAndCloseOnUnreadableSettings(path);
    std::fprintf(stderr, "%s\n", fault.c_str());
    std::_Exit(fault.empty() ? 0 : 1);
}

TEST(Settings, AFileWithoutReadPermissionIsLeftUntouched) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(StartAsNobodyOnAFileWithoutReadPermission(), testing::ExitedWithCode(0), "");
}

TEST(Settings, AFileNamedOnTheCommandLineReplacesTheSavedOne) {
    TTempDir dir;
    const QString saved = QString::fromStdString(dir.Write("saved.hex", test::HexImage(16)));
    const QString given = QString::fromStdString(dir.Write("given.hex", test::HexImage(48)));
    const auto path =
        dir.Write("Settings.ini", "[Updater]\nFilenameInEdit=" + saved.toStdString() + "\n");
    TMainWindow window;
    window.SettingsPath = path;
    window.StartupFileName = given.toStdString();
    window.show();
    EXPECT_TRUE(QTest::qWaitFor([&] { return window.StartBtn.isEnabled(); }, 5000));
    EXPECT_EQ(window.FilenameInEdit.text(), given);
    EXPECT_EQ(window.HighestAddress, 47);
}

TEST(Settings, QtsOwnDialogTextsAreGerman) {
    ASSERT_TRUE(InstallGermanTranslations());
    EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "Cancel"), QStringLiteral("Abbrechen"));
}

}  // namespace
}  // namespace tarnwick
