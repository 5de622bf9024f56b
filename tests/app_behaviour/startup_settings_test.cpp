// Start-up and shutdown without a display: what the settings file restores, in which
// order, what their handlers do to the view, and what closing writes back.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "behaviour_rig.h"

namespace tarnwick {
namespace {

using test::TBehaviourRig;

struct TRestoreCase {
    const char* Name;
    std::optional<std::string> Settings;  // none: no file
    std::vector<std::string> Ports;
    std::string Password;
    bool Program, Verify;
    std::string Baud, Port;
    bool ShowProgram, ShowComplete;
};

const std::vector<std::string> TwoPorts = {"COM1: Adapter A @ USB", "COM3: Adapter B @ USB"};

TEST(BehaviourStartup, RestoresTheSavedChoices) {
    const TRestoreCase cases[] = {
        {"FirstRunDefaults", std::nullopt, TwoPorts, "Kiwu", true, true, "115200",
         "COM1: Adapter A @ USB", true, false},
        {"SavedChoices",
         "[Updater]\r\nPasswordEdit=Geheim\r\nProgramChkBox=0\r\nVerifyChkBox=1\r\n"
         "BaudComboBox=38400\r\nComComboBox=COM3\r\nShowProgramChkBox=0\r\n"
         "ShowCompleteMemoryChkBox=1\r\n",
         TwoPorts, "Geheim", false, true, "38400", "COM3: Adapter B @ USB", false, true},
        {"BooleansThatAreNoIntegersGiveTheirDefault",
         "[updater]\r\nprogramchkbox=0x0\r\nVerifyChkBox=yes\r\nShowProgramChkBox=$0\r\n", TwoPorts,
         "Kiwu", false, true, "115200", "COM1: Adapter A @ USB", false, false},
        {"UnknownBaudRateLeavesTheBoxEmpty", "[Updater]\r\nBaudComboBox=12345\r\n", TwoPorts,
         "Kiwu", true, true, "", "COM1: Adapter A @ USB", true, false},
        {"SavedPortNotListedComesBackAsItWas", "[Updater]\r\nComComboBox=/dev/ttyUSB7\r\n",
         TwoPorts, "Kiwu", true, true, "115200", "/dev/ttyUSB7", true, false},
        {"NoPortsNoSavedPort", std::nullopt, {}, "Kiwu", true, true, "115200", "", true, false},
    };
    for (const TRestoreCase& c : cases) {
        SCOPED_TRACE(c.Name);
        TBehaviourRig rig(c.Ports, c.Settings);
        rig.Behaviour.FormShow();
        // The first five before the window appears; the view options only at the timer.
        EXPECT_EQ(rig.View.Text(TControl::PasswordEdit), c.Password);
        EXPECT_EQ(rig.View.Checked(TControl::ProgramChkBox), c.Program);
        EXPECT_EQ(rig.View.Checked(TControl::VerifyChkBox), c.Verify);
        EXPECT_EQ(rig.View.Text(TControl::BaudComboBox), c.Baud);
        EXPECT_EQ(rig.View.Text(TControl::ComComboBox), c.Port);
        EXPECT_EQ(rig.View.Controls[TControl::ComComboBox].Items, c.Ports);
        EXPECT_TRUE(rig.View.Checked(TControl::ShowProgramChkBox));
        ASSERT_EQ(rig.View.ActiveTimers.count(TViewTimer::StartupTimer), 1u);

        rig.Behaviour.StartupTimerTimer();
        EXPECT_EQ(rig.View.ActiveTimers.count(TViewTimer::StartupTimer), 0u);
        EXPECT_EQ(rig.View.Checked(TControl::ShowProgramChkBox), c.ShowProgram);
        EXPECT_EQ(rig.View.Checked(TControl::ShowCompleteMemoryChkBox), c.ShowComplete);
        // The restored boxes ran their handlers.
        EXPECT_EQ(rig.Enabled(TControl::ProgramProgressBar), c.Program);
        EXPECT_EQ(rig.Enabled(TControl::BufferProgressBar), c.Program);
        EXPECT_EQ(rig.Enabled(TControl::VerifyProgressBar), c.Verify);
        EXPECT_EQ(rig.View.ProgramViewShown, c.ShowProgram);
        EXPECT_EQ(rig.Enabled(TControl::ShowCompleteMemoryChkBox), c.ShowProgram);
        // No file named: nothing loaded, nothing said.
        EXPECT_FALSE(rig.Enabled(TControl::StartBtn));
        EXPECT_TRUE(rig.View.Log.empty());
        EXPECT_TRUE(rig.View.Boxes.empty());
    }
}

TEST(BehaviourStartup, CentresTheWindowAndResetsTheLinkWhenCreated) {
    TBehaviourRig rig;
    EXPECT_EQ(rig.View.Calls, std::vector<std::string>{"CentreOnScreen"});
    EXPECT_EQ(rig.Behaviour.Bootloader.ReplyState, rsIdle);
    EXPECT_FALSE(rig.Behaviour.Bootloader.TxEmpty);
    EXPECT_EQ(rig.Behaviour.Bootloader.LinkCrc, 0);
}

struct TSaveCase {
    const char* Name;
    std::optional<std::string> Settings;
    std::function<void(test::TRecordingView&)> Change;
    std::string Expected;
};

TEST(BehaviourShutdown, ClosingWritesTheEightSettingsBack) {
    const TSaveCase cases[] = {
        {"FirstRunCreatesTheFile", std::nullopt, [](test::TRecordingView&) {},
         "[Updater]\r\nBaudComboBox=115200\r\nComComboBox=COM1\r\nPasswordEdit=Kiwu\r\n"
         "FilenameInEdit=\r\nProgramChkBox=1\r\nVerifyChkBox=1\r\nShowProgramChkBox=1\r\n"
         "ShowCompleteMemoryChkBox=0\r\nBytePacing=50\r\nPowerCycle=1\r\nAutoLineSpeed=1\r\n\r\n"},
        {"ChangedChoicesAndOtherSectionsSurvive",
         "[Andere]\r\nSchluessel=Wert\r\n\r\n[Updater]\r\nPasswordEdit=Alt\r\n",
         [](test::TRecordingView& View) {
             View.Type(TControl::PasswordEdit, "Käse");
             View.SetItemIndex(TControl::BaudComboBox, 2);
             View.Type(TControl::ComComboBox, "COM3: Adapter B @ USB");
             View.Tick(TControl::VerifyChkBox, false);
             View.Tick(TControl::ShowCompleteMemoryChkBox, true);
         },
         "[Andere]\r\nSchluessel=Wert\r\n\r\n[Updater]\r\nPasswordEdit=Käse\r\n"
         "BaudComboBox=9600\r\nComComboBox=COM3\r\nFilenameInEdit=\r\nProgramChkBox=1\r\n"
         "VerifyChkBox=0\r\nShowProgramChkBox=1\r\nShowCompleteMemoryChkBox=1\r\n"
         "BytePacing=50\r\nPowerCycle=1\r\nAutoLineSpeed=1\r\n\r\n"},
    };
    for (const TSaveCase& c : cases) {
        SCOPED_TRACE(c.Name);
        TBehaviourRig rig(TwoPorts, c.Settings);
        rig.Start();
        c.Change(rig.View);
        // A change made by hand meanwhile is overwritten.
        rig.Dir.Write("Settings.ini", std::string("[Updater]\r\nPasswordEdit=vonHand\r\n"));
        EXPECT_TRUE(rig.Behaviour.FormCloseQuery());
        rig.Behaviour.FormClose();
        EXPECT_EQ(rig.SettingsText(), c.Expected);
        EXPECT_TRUE(rig.View.Boxes.empty());
    }
}

TEST(BehaviourShutdown, AnUnreadableSettingsFileIsSaidAndLeftAsItIs) {
    TBehaviourRig rig;
    // A folder where the file should be: it cannot be read, and must not be replaced.
    std::filesystem::create_directory(rig.Behaviour.SettingsPath);
    rig.Start();
    ASSERT_EQ(rig.View.Boxes.size(), 1u);
    EXPECT_EQ(rig.View.Boxes[0].rfind("Hint: Die Einstellungen konnten nicht gelesen werden.", 0),
              0u);
    EXPECT_EQ(rig.View.Text(TControl::PasswordEdit), "Kiwu");
    rig.Behaviour.FormClose();
    ASSERT_EQ(rig.View.Boxes.size(), 2u);
    EXPECT_EQ(rig.View.Boxes[1].rfind("Hint: Die Einstellungen dieses Laufs wurden nicht", 0), 0u);
    EXPECT_TRUE(std::filesystem::is_directory(rig.Behaviour.SettingsPath));
}

TEST(BehaviourStartup, AFileNamedOnTheCommandLineIsLoadedInsteadOfTheSavedOne) {
    TBehaviourRig rig({}, "[Updater]\r\nFilenameInEdit=/nirgends/alt.hex\r\n");
    const std::string given =
        rig.Dir.Write("given.hex", std::string(":0400000001020304F2\r\n:00000001FF\r\n"));
    rig.Behaviour.StartupFileName = given;
    rig.Start();
    EXPECT_EQ(rig.View.Text(TControl::FilenameInEdit), given);
    EXPECT_EQ(rig.View.Log, std::vector<std::string>{"Programmdatei \"" + given + "\" geladen"});
    EXPECT_TRUE(rig.Enabled(TControl::StartBtn));
    EXPECT_EQ(rig.Behaviour.HighestAddress, 3);
}

}  // namespace
}  // namespace tarnwick
