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

}  // namespace
}  // namespace tarnwick
