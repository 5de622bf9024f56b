// A USB adapter pulled out while connecting, while verifying, and between two runs:
// each run ends with a message, the port closed and the inputs back, without
// hanging; with the adapter back the next run of the same window works. (That its waits
// sleep meanwhile is measured in bench/bootloader.)
// The adapter is a link with a fixed name, like /dev/ttyUSB0, that points at the
// simulated device's pty; unplugging ends the device, plugging starts a new one.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "bootloader/bootloader.h"
#include "comport/com_port.h"
#include "comport/main_thread_dispatcher.h"
#include "devsim_process.h"
#include "update_run_support.h"

namespace tarnwick {
namespace {

using namespace test;

// One window's update side, kept over several runs as the program keeps it, and the
// adapter its port names.
struct TRig {
    TRig() {
        TMainThreadDispatcher::Instance().SetMainThread();
        Owner.Answers = std::vector<bool>(8, true);
        Owner.Port = Link.string();
        Bootloader.SetImage(Firmware, 9);
    }
    void Plug(std::vector<std::string> Args = {}) {
        Device = std::make_unique<TDevsim>(std::move(Args), Dir.Path());
        std::filesystem::remove(Link);
        std::filesystem::create_symlink(Device->PortPath(), Link);
    }
    void Unplug() { Device.reset(); }

    // One run; checks how it ended.
    void Run(bool Fails) {
        const std::size_t messagesBefore = Owner.Messages.size();
        const TUpdateOutcome outcome = Bootloader.RunUpdate();
        std::string shown;
        for (std::size_t i = messagesBefore; i < Owner.Messages.size(); ++i) {
            shown += "\n  " + Owner.Messages[i];
        }
        SCOPED_TRACE("the run showed:" + shown);

        EXPECT_EQ(outcome.Error, Fails);
        EXPECT_EQ(outcome.SuccessSent, !Fails);
        EXPECT_FALSE(Port.Connected());
        EXPECT_FALSE(Bootloader.UpdateRunning);
        EXPECT_TRUE(Owner.InputsEnabled);
        EXPECT_FALSE(Owner.CancelEnabled);
        if (Fails) {
            // The failure is named, then the run's closing line.
            EXPECT_GE(Owner.Messages.size(), messagesBefore + 2);
            EXPECT_EQ(Owner.Messages[Owner.Messages.size() - 2].rfind("[B-L]Fehler: ", 0), 0u)
                << Owner.Messages[Owner.Messages.size() - 2];
        }
        EXPECT_EQ(Owner.Messages.back().rfind("[-I-]Gesamtdauer: ", 0), 0u)
            << Owner.Messages.back();
    }

    TTempDir Dir;
    std::filesystem::path Link = Dir.Path() / "ttyUSB0";
    std::unique_ptr<TDevsim> Device;  // none while unplugged
    TRecorder Owner;
    TComPort Port;
    TBootloader Bootloader{Owner, Port};
    const TBuffer Firmware = FlashImage10();
};

struct TUnplugCase {
    const char* Name;
    std::vector<std::string> Device;
    TProgressBar Bar;  // the adapter goes when this bar reaches Position; with -1 it goes
    int Position;      // after a successful run, before the next
};

// Names the case in test output instead of dumping its bytes.
void PrintTo(const TUnplugCase& Case, std::ostream* Os) {
    *Os << Case.Name;
}

class UnplugTest : public testing::TestWithParam<TUnplugCase> {};

TEST_P(UnplugTest, RunEndsCleanlyAndTheNextRunWorks) {
    const TUnplugCase& c = GetParam();
    TRig rig;
    rig.Plug(c.Device);
    if (c.Position < 0) {
        rig.Run(false);
        rig.Unplug();
    }
    rig.Owner.OnProgress = [&](TProgressBar Bar, int Position) {
        if (Bar == c.Bar && Position == c.Position)
            rig.Unplug();
    };
    rig.Run(true);
    rig.Owner.OnProgress = nullptr;
    rig.Plug();
    rig.Run(false);
}

INSTANTIATE_TEST_SUITE_P(
    Adapter, UnplugTest,
    testing::Values(
        // The device ignores the password for a while, so the rounds go on until it goes.
        TUnplugCase{"WhileConnecting", {"--power-on-delay", "60000"}, pbConnect, 3},
        TUnplugCase{"WhileVerifying", {"--buffer", "4"}, pbVerify, 2},
        TUnplugCase{"BetweenTwoRuns", {}, pbConnect, -1}),
    [](const testing::TestParamInfo<TUnplugCase>& Info) { return std::string(Info.param.Name); });

}  // namespace
}  // namespace tarnwick
