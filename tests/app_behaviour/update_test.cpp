// "Update starten!" through the behaviour, against the simulated device on a
// pseudo-terminal, with the recording view: the window's states during and after the
// run, and the device's flash and trace afterwards.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "behaviour_rig.h"
#include "devsim_process.h"
#include "hex_record.h"

namespace tarnwick {
namespace {

using test::TBehaviourRig;
using test::TDevsim;

using TBytes = std::vector<std::uint8_t>;

std::string HexOf(const TBytes& Image) {
    return test::DataRecord(0, Image) + "\r\n" + test::EofRecord + "\r\n";
}

bool EndsWith(const TBytes& Bytes, const TBytes& Tail) {
    return Bytes.size() >= Tail.size() &&
           std::equal(Tail.begin(), Tail.end(), Bytes.end() - static_cast<long>(Tail.size()));
}

// What the window looked like at one pump of the run.
struct TSample {
    bool Running, CloseAllowed, StartEnabled, AnyInputEnabled, OnTop, Hourglass, Cancel;
    std::string StartCaption;
};

struct TUpdateCase {
    const char* Name;
    std::vector<std::string> DeviceArgs;
    TBytes Image;
    std::string ModeLine;
};

TEST(BehaviourUpdate, UpdatesTheDeviceAndGivesTheWindowBack) {
    const TUpdateCase cases[] = {
        {"TwoWires",
         {},
         {0x0C, 0x94, 0x13, 0x00, 0xA5, 0x11, 0x24, 0xFF},
         "Verbunden: 2-Draht-Modus"},
        // The device returns every byte the host sends, so the hidden terminal reads the
        // image: its identify, status and cursor queries must go unanswered meanwhile.
        {"OneWireWithTerminalQueriesInTheImage",
         {"--echo"},
         {0x0C, 0x1B, '[', 'c', 0x94, 0x1B, '[', '6', 'n', 0x11, 0x1B, '[', '5', 'n', 0x24},
         "Verbunden: 1-Draht-Modus"},
    };
    for (const TUpdateCase& c : cases) {
        SCOPED_TRACE(c.Name);
        TBehaviourRig rig;
        rig.Start();
        TDevsim device(c.DeviceArgs, rig.Dir.Path().string());
        rig.View.Type(TControl::ComComboBox, device.PortPath());
        rig.View.Type(TControl::FilenameInEdit, rig.Dir.Write("firmware.hex", HexOf(c.Image)));
        ASSERT_TRUE(rig.Enabled(TControl::StartBtn));
        int terminalChars = 0;
        rig.Behaviour.Terminal().OnChar = [&](TComTerminalCore&, std::uint8_t) { ++terminalChars; };
        std::vector<TSample> samples;
        rig.View.OnPump = [&] {
            const auto& controls = rig.View.Controls;
            bool anyInput = false;
            for (const TControl input :
                 {TControl::SelectInBtn, TControl::FilenameInEdit, TControl::PasswordEdit,
                  TControl::BaudComboBox, TControl::ComComboBox, TControl::ProgramChkBox,
                  TControl::VerifyChkBox, TControl::ShowProgramChkBox,
                  TControl::ShowCompleteMemoryChkBox}) {
                anyInput = anyInput || controls.at(input).Enabled;
            }
            samples.push_back({rig.Behaviour.UpdateRunning(), rig.Behaviour.FormCloseQuery(),
                               controls.at(TControl::StartBtn).Enabled, anyInput,
                               rig.View.StayOnTop, rig.View.WaitCursor,
                               controls.at(TControl::CancelButton).Enabled,
                               controls.at(TControl::StartBtn).Text});
        };
        rig.View.YesNoAnswers = {true};
        rig.Behaviour.StartBtnClick();  // returns when the run is over
        rig.View.OnPump = nullptr;

        const std::vector<TDevsim::TTraceEntry> trace = device.Stop();
        const TBytes flash = device.Flash();
        ASSERT_GE(flash.size(), c.Image.size());
        EXPECT_EQ(TBytes(flash.begin(), flash.begin() + static_cast<long>(c.Image.size())),
                  c.Image);
        EXPECT_TRUE(EndsWith(test::TraceBytes(trace), {0xA5, 0x80, 0xA5, 0xA5, 0xA5, 0x05}))
            << "the success command must end the run";
        EXPECT_NE(std::find(rig.View.Log.begin(), rig.View.Log.end(),
                            "Gespeichertes Programm korrekt übertragen"),
                  rig.View.Log.end());
        ASSERT_FALSE(rig.View.Info.empty());
        EXPECT_EQ(rig.View.Info.front(), c.ModeLine);
        EXPECT_EQ(rig.View.Info.back().rfind("Gesamtdauer: 00:00:", 0), 0u);
        EXPECT_GT(terminalChars, 0) << "the hidden terminal keeps the port reading";

        // Meanwhile: locked, on top, under the hourglass, and not to be closed.
        ASSERT_FALSE(samples.empty());
        bool cancelSeen = false;
        for (const TSample& s : samples) {
            if (!s.Running) {
                continue;
            }
            EXPECT_FALSE(s.CloseAllowed);
            EXPECT_FALSE(s.StartEnabled);
            EXPECT_EQ(s.StartCaption, "Bitte warten!");
            EXPECT_FALSE(s.AnyInputEnabled);
            EXPECT_TRUE(s.OnTop);
            EXPECT_TRUE(s.Hourglass);
            cancelSeen = cancelSeen || s.Cancel;
        }
        EXPECT_TRUE(cancelSeen);
        // Afterwards: everything back, the bars empty, the hint gone.
        EXPECT_TRUE(rig.Behaviour.FormCloseQuery());
        EXPECT_TRUE(rig.Enabled(TControl::StartBtn));
        EXPECT_EQ(rig.View.Text(TControl::StartBtn), "Update starten");
        EXPECT_TRUE(rig.Enabled(TControl::FilenameInEdit));
        EXPECT_TRUE(rig.Enabled(TControl::ShowCompleteMemoryChkBox));
        EXPECT_FALSE(rig.Enabled(TControl::CancelButton));
        EXPECT_FALSE(rig.View.StayOnTop);
        EXPECT_FALSE(rig.View.WaitCursor);
        EXPECT_FALSE(rig.View.HintVisible);
        EXPECT_EQ(rig.View.ActiveTimers.count(TViewTimer::HintFlashTimer), 0u);
        for (const TControl bar : {TControl::ConnectProgressBar, TControl::ProgramProgressBar,
                                   TControl::VerifyProgressBar, TControl::BufferProgressBar}) {
            EXPECT_EQ(rig.View.Controls[bar].Position, 0) << test::ControlName(bar);
        }
        EXPECT_FALSE(rig.Behaviour.ComPort.Connected());
    }
}

TEST(BehaviourUpdate, BarsShowEmptyPassesAndPositionsPastTheEndAsFull) {
    TBehaviourRig rig;
    const struct {
        const char* Name;
        int Max, Position;
        int ShownPosition, ShownMax;
    } cases[] = {
        {"Half", 200, 100, 100, 200},
        {"APassOfOneByte", 0, 0, 1, 1},
        {"PastItsMaximum", 1000, 1005, 1000, 1000},
        {"BelowZero", 10, -1, 0, 10},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        rig.Behaviour.SetProgressMax(pbVerify, c.Max);
        rig.Behaviour.SetProgressPosition(pbVerify, c.Position);
        const test::TControlState& bar = rig.View.Controls[TControl::VerifyProgressBar];
        EXPECT_EQ(bar.Position, c.ShownPosition);
        EXPECT_EQ(bar.Max, c.ShownMax);
    }
}

TEST(BehaviourUpdate, NeitherBoxTickedShowsOnlyTheNotice) {
    // The notice comes first, whatever else the inputs lack.
    const struct {
        const char* Name;
        const char* Password;
        int Baud;
    } cases[] = {{"GoodInputs", "Kiwu", 6},
                 {"PasswordOutsideWindows1252", "Łukasz", 6},
                 {"NoBaudRate", "Kiwu", -1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        TBehaviourRig rig;
        rig.Start();
        rig.View.Type(TControl::FilenameInEdit, rig.Dir.Write("a.hex", HexOf({1, 2, 3})));
        rig.View.Type(TControl::PasswordEdit, c.Password);
        rig.View.SetItemIndex(TControl::BaudComboBox, c.Baud);
        rig.View.Tick(TControl::ProgramChkBox, false);
        rig.View.Tick(TControl::VerifyChkBox, false);
        rig.View.Calls.clear();
        rig.Behaviour.StartBtnClick();
        EXPECT_EQ(rig.View.Boxes, std::vector<std::string>{"Notice: Der Baustein musst mindestens "
                                                           "programmiert oder überprüft werden."});
        EXPECT_TRUE(rig.View.Info.empty());
        EXPECT_FALSE(rig.View.StayOnTop);
        EXPECT_EQ(std::count(rig.View.Calls.begin(), rig.View.Calls.end(), "SetStayOnTop 1"), 0);
    }
}

}  // namespace
}  // namespace tarnwick
