// Loading on every change of the file name, the program view's refill, the file dialog,
// and the start button while a load or a refill runs, without a display.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "behaviour_rig.h"
#include "hex_record.h"

namespace tarnwick {
namespace {

using test::DataRecord;
using test::EofRecord;
using test::HexRecord;
using test::TBehaviourRig;

// Data records of 16 bytes covering 0 .. Length - 1, with the end record when Complete.
std::string HexImage(int Length, bool Complete = true) {
    std::string text;
    for (int address = 0; address < Length; address += 16) {
        std::vector<std::uint8_t> data;
        for (int i = address; i < Length && i < address + 16; ++i) {
            data.push_back(static_cast<std::uint8_t>(i));
        }
        text += DataRecord(static_cast<std::uint16_t>(address), data) + "\r\n";
    }
    return Complete ? text + EofRecord + "\r\n" : text;
}

struct TLoadCase {
    const char* Name;
    const char* Content;  // null: the file does not exist
    bool ShowProgram;
    bool LoadedBefore;             // a good file (3 rows) was loaded first
    std::vector<std::string> Log;  // "%" stands for the file name
    bool Box;
    bool StartEnabled;
    int Fills;  // refills of the view by this load
    std::size_t Rows;
};

std::string WithName(std::string Text, const std::string& Name) {
    if (const auto at = Text.find('%'); at != std::string::npos) {
        Text.replace(at, 1, Name);
    }
    return Text;
}

TEST(BehaviourLoading, EveryChangeOfTheFileNameLoads) {
    const std::string good = HexImage(0x30);
    const std::string noEnd = HexImage(0x30, false);
    const std::string badSum = HexRecord(0, 0, {1, 2}, 1) + "\r\n" + EofRecord + "\r\n";
    const TLoadCase cases[] = {
        {"Missing", nullptr, true, false, {"Datei \"%\" nicht gefunden!"}, true, false, 0, 0},
        {"MissingKeepsTheView",
         nullptr,
         true,
         true,
         {"Datei \"%\" nicht gefunden!"},
         true,
         false,
         0,
         3},
        {"NoEndRecordSaysNothing", noEnd.c_str(), true, false, {}, false, false, 0, 0},
        {"BadChecksum",
         badSum.c_str(),
         true,
         true,
         {"Prüfsumme der Hex-Datei ungültig"},
         true,
         false,
         0,
         3},
        {"NoIntelHex",
         "Hallo\r\n",
         true,
         false,
         {"Ungültiges Dateiformat (kein Intel-Hex)"},
         true,
         false,
         0,
         0},
        {"Good", good.c_str(), true, false, {"Programmdatei \"%\" geladen"}, false, true, 1, 3},
        {"GoodWithTheViewHidden",
         good.c_str(),
         false,
         false,
         {"Programmdatei \"%\" geladen"},
         false,
         true,
         0,
         0},
    };
    for (const TLoadCase& c : cases) {
        SCOPED_TRACE(c.Name);
        TBehaviourRig rig;
        rig.Start();
        if (c.LoadedBefore) {
            rig.View.Type(TControl::FilenameInEdit, rig.Dir.Write("before.hex", good));
            ASSERT_TRUE(rig.Enabled(TControl::StartBtn));
            rig.View.Log.clear();
        }
        rig.View.Tick(TControl::ShowProgramChkBox, c.ShowProgram);
        const int fillsBefore = rig.View.RowFills;
        const std::string name =
            c.Content ? rig.Dir.Write("firmware.hex", std::string(c.Content)) : rig.Dir.File("x");
        rig.View.Type(TControl::FilenameInEdit, name);
        std::vector<std::string> expected;
        for (const std::string& line : c.Log) {
            expected.push_back(WithName(line, name));
        }
        EXPECT_EQ(rig.View.Log, expected);
        EXPECT_EQ(rig.View.Boxes, c.Box ? std::vector<std::string>{"Hint: " + expected.front()}
                                        : std::vector<std::string>{});
        EXPECT_EQ(rig.Enabled(TControl::StartBtn), c.StartEnabled);
        EXPECT_EQ(rig.Behaviour.ImageLoaded(), c.StartEnabled);
        EXPECT_EQ(rig.View.RowFills - fillsBefore, c.Fills);
        EXPECT_EQ(rig.View.Rows.size(), c.Rows);
        EXPECT_FALSE(rig.View.WaitCursor);
        EXPECT_TRUE(rig.View.GridVisible);
    }
}

TEST(BehaviourLoading, TheViewFollowsTheBoxesOnlyWhileAnImageIsLoaded) {
    TBehaviourRig rig;
    rig.Start();
    rig.View.Type(TControl::FilenameInEdit, rig.Dir.Write("a.hex", HexImage(0x30)));
    const struct {
        const char* Name;
        TControl Box;
        bool Checked;
        std::size_t Rows;
        int Fills;  // the view's refills so far
        bool Shown;
    } steps[] = {
        {"CompleteMemory", TControl::ShowCompleteMemoryChkBox, true, MaxFlashSize / 16, 2, true},
        {"BackToTheImage", TControl::ShowCompleteMemoryChkBox, false, 3, 3, true},
        {"ViewHiddenNoRefill", TControl::ShowProgramChkBox, false, 3, 3, false},
        {"HiddenViewIgnoresTheOtherBox", TControl::ShowCompleteMemoryChkBox, true, 3, 3, false},
        {"ViewShownAgainIsRefilled", TControl::ShowProgramChkBox, true, MaxFlashSize / 16, 4, true},
    };
    for (const auto& s : steps) {
        SCOPED_TRACE(s.Name);
        rig.View.Calls.clear();
        rig.View.Tick(s.Box, s.Checked);
        EXPECT_EQ(rig.View.Rows.size(), s.Rows);
        EXPECT_EQ(rig.View.RowFills, s.Fills);
        EXPECT_EQ(rig.View.ProgramViewShown, s.Shown);
        EXPECT_TRUE(rig.Enabled(TControl::StartBtn));
        if (s.Box == TControl::ShowProgramChkBox) {
            // The window changes its height and is centred again.
            EXPECT_NE(std::find(rig.View.Calls.begin(), rig.View.Calls.end(), "CentreOnScreen"),
                      rig.View.Calls.end());
        }
    }
    // After a failed load the boxes refill nothing: the view keeps the last image.
    rig.View.Type(TControl::FilenameInEdit, rig.Dir.File("weg.hex"));
    rig.View.Tick(TControl::ShowCompleteMemoryChkBox, false);
    EXPECT_EQ(rig.View.RowFills, 4);
}

TEST(BehaviourLoading, TheDialogLoadsOnlyANewName) {
    TBehaviourRig rig;
    rig.Start();
    const std::string a = rig.Dir.Write("a.hex", HexImage(0x10));
    const std::string b = rig.Dir.Write("b.hex", HexImage(0x20));
    rig.View.ChosenFiles = {a, a, "", b};
    const struct {
        const char* Name;
        std::string Shown;  // the name the dialog is preset with
        std::size_t Loads;
    } steps[] = {
        {"FirstChoice", "", 1},
        {"SameFileAgain", a, 1},
        {"Cancelled", a, 1},
        {"OtherFile", a, 2},
    };
    for (const auto& s : steps) {
        SCOPED_TRACE(s.Name);
        rig.View.Calls.clear();
        rig.Behaviour.SelectInBtnClick();
        EXPECT_EQ(rig.View.Calls.front(), "ChooseFile " + s.Shown);
        EXPECT_EQ(rig.View.Log.size(), s.Loads);
    }
    EXPECT_EQ(rig.View.Text(TControl::FilenameInEdit), b);
    EXPECT_EQ(rig.Behaviour.HighestAddress, 0x1F);
}

// A click queued before the start button was disabled, or by a timer, arrives while the
// loader or the refill pumps: it must not start an update on a half-read image.
TEST(BehaviourLoading, AStartWhileALoadOrARefillRunsIsRefused) {
    const struct {
        const char* Name;
        std::function<void(TBehaviourRig&)> Work;
    } cases[] = {
        {"DuringALoad",
         [](TBehaviourRig& Rig) {
             Rig.View.Type(TControl::FilenameInEdit, Rig.Dir.Write("gross.hex", HexImage(0x8000)));
         }},
        {"DuringARefill",
         [](TBehaviourRig& Rig) { Rig.View.Tick(TControl::ShowCompleteMemoryChkBox, true); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        TBehaviourRig rig;
        rig.Start();
        rig.View.Type(TControl::FilenameInEdit, rig.Dir.Write("klein.hex", HexImage(0x20)));
        ASSERT_TRUE(rig.Enabled(TControl::StartBtn));
        rig.View.YesNoAnswers = {true};
        int clicks = 0;
        bool startEnabledMeanwhile = true;
        rig.View.OnPump = [&] {
            if (clicks == 0 && rig.Behaviour.Busy()) {
                ++clicks;
                startEnabledMeanwhile = rig.Enabled(TControl::StartBtn);
                rig.Behaviour.StartBtnClick();
            }
        };
        c.Work(rig);
        ASSERT_EQ(clicks, 1);
        EXPECT_FALSE(startEnabledMeanwhile);
        EXPECT_TRUE(rig.View.Boxes.empty()) << "the update asked its first question";
        EXPECT_FALSE(rig.Behaviour.UpdateRunning());
        EXPECT_TRUE(rig.Enabled(TControl::StartBtn));
    }
}

}  // namespace
}  // namespace tarnwick
