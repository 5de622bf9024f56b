// How the window ends: a close put off while work runs against the window, a logoff
// refused during an update and saving when it is not; and what both views used to do
// each on their own (command line, dialog preset, box lines, the arrow in boxes).
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "behaviour_rig.h"
#include "hex_record.h"
#include "system_text.h"
#include "window_command_line.h"

namespace tarnwick {
namespace {

using test::TBehaviourRig;

std::string Hex(int Length) {
    std::string text;
    for (int address = 0; address < Length; address += 16) {
        text += test::DataRecord(static_cast<std::uint16_t>(address),
                                 std::vector<std::uint8_t>(16, 0x5A)) +
                "\r\n";
    }
    return text + test::EofRecord + "\r\n";
}

TEST(BehaviourClosing, ACloseWhileTheWindowIsBusyWaitsForTheWorkToEnd) {
    const struct {
        const char* Name;
        bool InBox;  // asked while a box of the work is open, else while it pumps
        std::function<void(TBehaviourRig&)> Work;
    } cases[] = {
        {"DuringALoad", false,
         [](TBehaviourRig& Rig) {
             Rig.View.Type(TControl::FilenameInEdit, Rig.Dir.Write("gross.hex", Hex(0x4000)));
         }},
        {"DuringARefill", false,
         [](TBehaviourRig& Rig) { Rig.View.Tick(TControl::ShowCompleteMemoryChkBox, true); }},
        {"WhileTheLoadsBoxIsOpen", true,
         [](TBehaviourRig& Rig) { Rig.View.Type(TControl::FilenameInEdit, "fehlt.hex"); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        TBehaviourRig rig;
        rig.Start();
        rig.View.Type(TControl::FilenameInEdit, rig.Dir.Write("klein.hex", Hex(0x20)));
        int asked = 0;
        bool allowed = true;
        const auto askToClose = [&] {
            if (asked++ == 0) {
                allowed = rig.Behaviour.FormCloseQuery();
                EXPECT_EQ(rig.View.CloseRequests, 0) << "not while the work runs";
            }
        };
        (c.InBox ? rig.View.OnBox : rig.View.OnPump) = askToClose;
        c.Work(rig);
        ASSERT_GT(asked, 0);
        EXPECT_FALSE(allowed);
        EXPECT_EQ(rig.View.CloseRequests, 1) << "asked again once the work is done";
        EXPECT_TRUE(rig.Behaviour.FormCloseQuery());
    }
}

TEST(BehaviourClosing, ALogoffIsRefusedDuringAnUpdateAndSavesWhenIdle) {
    TBehaviourRig rig;
    rig.Start();
    rig.View.Type(TControl::FilenameInEdit, rig.Dir.Write("a.hex", Hex(0x20)));
    rig.View.Type(TControl::PasswordEdit, "Geheim");
    std::string blockDuringRun;
    bool mayEndDuringRun = true;
    rig.View.OnBox = [&] {
        // The warning question: the run has begun.
        mayEndDuringRun = rig.Behaviour.QueryEndSession();
        blockDuringRun = rig.View.SessionEndBlock;
        EXPECT_FALSE(rig.View.WaitCursor) << "the arrow while a box is open";
        EXPECT_EQ(rig.View.Boxes.back().find('\r'), std::string::npos);
        EXPECT_NE(rig.View.Boxes.back().find("rückgängig gemacht werden. Im Fehlerfall kann das "
                                             "Gerät beschädigt werden.\n\nUpdate wirklich"),
                  std::string::npos);
    };
    rig.Behaviour.StartBtnClick();  // answered No
    EXPECT_FALSE(mayEndDuringRun);
    EXPECT_NE(blockDuringRun.find("Firmware-Update läuft"), std::string::npos);
    EXPECT_EQ(rig.View.SessionEndBlock, "");
    EXPECT_FALSE(std::filesystem::exists(rig.Behaviour.SettingsPath));

    EXPECT_TRUE(rig.Behaviour.QueryEndSession());
    rig.Behaviour.EndSession(false);
    EXPECT_FALSE(std::filesystem::exists(rig.Behaviour.SettingsPath)) << "the session goes on";
    rig.Behaviour.EndSession(true);
    EXPECT_NE(rig.SettingsText().find("PasswordEdit=Geheim\r\n"), std::string::npos);
}

TEST(BehaviourViews, TheFileDialogGetsANameItCanTake) {
    const struct {
        const char* Field;
        const char* Preset;
    } cases[] = {
        {R"("C:\Firmware\fw.hex")", R"(C:\Firmware\fw.hex)"},  // Explorer's "Copy as path"
        {"  /tmp/fw.hex ", "/tmp/fw.hex"},
        {R"(C:\a"b.hex)", ""},
        {"fw?.hex", ""},
        {"a|b.hex", ""},
        {"", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Field);
        TBehaviourRig rig;
        rig.View.Controls[TControl::FilenameInEdit].Text = c.Field;
        rig.Behaviour.SelectInBtnClick();  // cancelled
        EXPECT_EQ(rig.View.Calls.back(), std::string("ChooseFile ") + c.Preset);
    }
}

TEST(BehaviourViews, TheCommandLineOpensAFileOrAnswersHelpAndVersion) {
    const struct {
        std::vector<std::string> Arguments;
        TWindowCommand::TAction Action;
        std::string FileName;
        std::string OutputStart;
    } cases[] = {
        {{}, TWindowCommand::Open, "", ""},
        {{"fw.hex"},
         TWindowCommand::Open,
         PathToUtf8(std::filesystem::current_path() / "fw.hex"),
         ""},
        {{"--version"}, TWindowCommand::Version, "", "tarnwick " TARNWICK_VERSION "\n"},
        {{"fw.hex", "--help"}, TWindowCommand::Help, "", "Aufruf: tarnwick [DATEI]\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Arguments.empty() ? "(none)" : c.Arguments.back());
        const TWindowCommand command = ParseWindowArguments(c.Arguments);
        EXPECT_EQ(command.Action, c.Action);
        EXPECT_EQ(command.FileName, c.FileName);
        EXPECT_EQ(command.Output.substr(0, c.OutputStart.size()), c.OutputStart);
    }
}

}  // namespace
}  // namespace tarnwick
