// A power cut in the middle of programming: the emulated chip is killed while the stream
// runs and switched on again from its flash and EEPROM files. The half-written program must
// never start, and the next update must succeed.

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "chip_support.h"

namespace tarnwick {
namespace {

using namespace test;

TEST(ChipPowerCut, HalfWrittenProgramNeverStartsAndTheNextUpdateSucceeds) {
    TTempDir dir;
    const std::string image = SampleHex("blink-14k-atmega328p");
    const std::vector<std::uint8_t> expected = ExpectedFlash(dir, image, "atmega328p", 32768);
    {
        // A program that ran before: the cut must not leave a mix of it and the new one.
        TEmulatedChip chip("atmega328p", dir);
        const TProcessResult first =
            UpdateChip(chip, SampleHex("blink-atmega328p"), {"--fast", "--no-power-cycle"});
        ASSERT_EQ(first.ExitCode, 0) << first.Out;
        ASSERT_TRUE(chip.SeenBlinking(std::chrono::seconds(10)));
        chip.Stop();
    }
    {
        TEmulatedChip chip("atmega328p", dir);
        std::vector<std::string> argv = {
            "update", "--port", chip.PortPath(), "--yes", "--fast", "--no-power-cycle", image};
        TChildProcess cli(TARNWICK_CLI_PATH, argv);
        ASSERT_TRUE(cli.WaitForText("Programmiere ", std::chrono::seconds(30)));
        // A few buffer-fulls into the 1.3 s stream.
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        chip.Stop(SIGKILL);
        ASSERT_TRUE(cli.WaitExit(std::chrono::seconds(30)));
        EXPECT_EQ(cli.ExitCode(), 1);
        EXPECT_NE(chip.Flash(), expected);
    }
    {
        // Switched on again without a host: the bootloader keeps the chip.
        TEmulatedChip chip("atmega328p", dir);
        EXPECT_TRUE(chip.PortBChanges(std::chrono::milliseconds(1500)).empty());
        const TProcessResult again = UpdateChip(chip, image, {"--fast", "--no-power-cycle"});
        EXPECT_EQ(again.ExitCode, 0) << again.Out;
        EXPECT_TRUE(chip.SeenBlinking(std::chrono::seconds(10)));
        chip.Stop();
        EXPECT_EQ(chip.Flash(), expected);
    }
}

// On the ATtiny85, whose bootloader has no boot section to live in and whose page 0 holds
// the jump to it: a cut in the middle of the stream, and one while page 0 itself is
// written (its erase done), when the jump is gone.
struct TOneWireCut {
    const char* Name;
    std::vector<std::string> CutArgs;  // the chip's arguments for the run that is cut
    bool Kill;                         // cut by SIGKILL in the middle of the stream
};

std::ostream& operator<<(std::ostream& os, const TOneWireCut& c) {
    return os << c.Name;
}

class OneWirePowerCut : public ::testing::TestWithParam<TOneWireCut> {};

TEST_P(OneWirePowerCut, HalfWrittenProgramNeverStartsAndTheNextUpdateSucceeds) {
    const TOneWireCut& c = GetParam();
    TTempDir dir;
    const std::string image = SampleHex("blink-6k-attiny85");
    const std::vector<std::uint8_t> expected = ExpectedFlash(dir, image, "attiny85", 8192, true);
    const std::vector<std::string> chipArgs = OneWireChipArgs("attiny85");
    {
        TEmulatedChip chip("attiny85", dir, chipArgs);
        const TProcessResult first = UpdateChip(chip, SampleHex("blink-attiny85"), OneWireFast);
        ASSERT_EQ(first.ExitCode, 0) << first.Out;
        chip.Stop();
    }
    {
        // Switched on by the host's open: the program that ran before would start otherwise.
        std::vector<std::string> args = chipArgs;
        args.push_back("--power-on-open");
        args.insert(args.end(), c.CutArgs.begin(), c.CutArgs.end());
        TEmulatedChip chip("attiny85", dir, args);
        std::vector<std::string> argv = {"update", "--port", chip.PortPath(), "--yes"};
        argv.insert(argv.end(), OneWireFast.begin(), OneWireFast.end());
        argv.push_back(image);
        TChildProcess cli(TARNWICK_CLI_PATH, argv);
        ASSERT_TRUE(cli.WaitForText("Programmiere ", std::chrono::seconds(30)));
        if (c.Kill) {
            // Past the erasing at page 0 (0.4 s), about half of the 3 s stream.
            std::this_thread::sleep_for(std::chrono::milliseconds(1800));
            chip.Stop(SIGKILL);
        } else {
            const std::string said = chip.Stop(0);  // no signal: the chip ends at its cut
            EXPECT_NE(said.find("Stromausfall beim Schreiben der Seite 0x0000"), std::string::npos)
                << said;
        }
        ASSERT_TRUE(cli.WaitExit(std::chrono::seconds(30)));
        EXPECT_EQ(cli.ExitCode(), 1);
        EXPECT_NE(chip.Flash(), expected);
    }
    {
        TEmulatedChip chip("attiny85", dir, chipArgs);
        EXPECT_FALSE(AnyPb0High(chip.PortBChanges(std::chrono::milliseconds(1500))));
        const TProcessResult again = UpdateChip(chip, image, OneWireFast);
        EXPECT_EQ(again.ExitCode, 0) << again.Out;
        EXPECT_TRUE(chip.SeenBlinking(std::chrono::seconds(10)));
        chip.Stop();
        EXPECT_EQ(chip.Flash(), expected);
    }
}

const TOneWireCut OneWireCuts[] = {
    {"KilledInTheStream", {}, true},
    {"CutWhilePageZeroIsWritten", {"--power-cut-at-write", "0"}, false},
};

INSTANTIATE_TEST_SUITE_P(Attiny85, OneWirePowerCut, ::testing::ValuesIn(OneWireCuts),
                         [](const auto& param) { return std::string(param.param.Name); });

}  // namespace
}  // namespace tarnwick
