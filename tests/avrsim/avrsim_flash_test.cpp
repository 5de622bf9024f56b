// The emulated chip's memories: a page written by boot-section code lands in the flash
// file after its timed erase and write, the boot section itself is never changed, a
// chip killed and started again runs what its flash file holds, and EEPROM survives.
#include <gtest/gtest.h>

#include <signal.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <regex>
#include <string>
#include <vector>

#include "avrsim_firmware.h"
#include "avrsim_process.h"
#include "temp_dir.h"

namespace tarnwick {
namespace {

using namespace std::chrono_literals;
using TBytes = std::vector<std::uint8_t>;

// The test programs answer once a byte has reached them: one is sent every 50 ms until
// the first answer byte is there (the first ones may come before the UART is set up).
TBytes Knock(test::TAvrsim& chip, std::size_t count) {
    TBytes reply;
    for (int i = 0; i < 100 && reply.empty(); ++i) {
        chip.Write({'k'});
        reply = chip.Read(1, 50ms);
    }
    const TBytes rest = chip.Read(count - std::min(count, reply.size()), 5s);
    reply.insert(reply.end(), rest.begin(), rest.end());
    return reply;
}

// Once knocked at, the spm_page program erases and writes one application page, sends how
// long that took in Timer1 ticks of 4 us and the page's first byte read before and after it
// enables the read-while-write section again (blank while RWWSB is set, as on silicon), then
// tries the last page of its own boot section, sends 'E' and sleeps for ever, which ends the
// emulator.
TEST(AvrsimFlash, WritesAPageIntoTheFlashFileAndNeverTheBootSection) {
    const struct {
        const char* Mcu;
        std::size_t FlashSize;
        std::size_t AppPage;
        std::size_t PageSize;
    } cases[] = {
        {"atmega328p", 32768, 0x1000, 128},
        {"atmega8", 8192, 0x0800, 64},
        {"atmega1284p", 131072, 0x18000, 256},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Mcu);
        test::TTempDir dir;
        const std::string flash = dir.File("flash.bin");
        test::TAvrsim chip({"--mcu", c.Mcu, "--flash", flash, "--no-pins",
                            test::FirmwareHex(std::string("spm_page_") + c.Mcu)});
        const TBytes before = test::ReadBinaryFile(flash);
        ASSERT_EQ(before.size(), c.FlashSize);
        chip.OpenPort();
        const TBytes reply = Knock(chip, 5);
        const std::string err = chip.Finish();
        EXPECT_EQ(chip.ExitCode(), 3) << err;
        EXPECT_NE(err.find("schläft mit gesperrten Interrupts"), std::string::npos) << err;
        ASSERT_EQ(reply.size(), 5u) << err;
        EXPECT_EQ(reply[2], 0xFF);
        EXPECT_EQ(reply[3], 0x10);
        EXPECT_EQ(reply[4], 'E');
        // An erase and a write of 4.5 ms each, while SPMEN stays set: at least 2250 ticks.
        const int ticks = reply[0] | (reply[1] << 8);
        EXPECT_GE(ticks, 2250);
        EXPECT_LT(ticks, 2500);

        const TBytes after = test::ReadBinaryFile(flash);
        ASSERT_EQ(after.size(), c.FlashSize);
        for (std::size_t i = 0; i < c.PageSize; ++i) {
            ASSERT_EQ(after[c.AppPage + i], static_cast<std::uint8_t>(0x10 + i % 256)) << i;
        }
        // Everything else, the whole boot section with it, is what was loaded.
        for (std::size_t a = 0; a < c.FlashSize; ++a) {
            if (a < c.AppPage || a >= c.AppPage + c.PageSize) {
                ASSERT_EQ(after[a], before[a]) << a;
            }
        }
        const std::size_t boot = c.FlashSize - 1024;
        EXPECT_NE(before[boot], 0xFF);  // the program itself lies there
        EXPECT_NE(err.find("Löschen der Seite"), std::string::npos) << err;
        EXPECT_NE(err.find("im Bootbereich abgewiesen"), std::string::npos) << err;
        EXPECT_NE(err.find("2 Seiten gelöscht/geschrieben, 2 Zugriffe auf den Bootbereich "
                           "abgewiesen"),
                  std::string::npos)
            << err;
    }
}

// A killed chip (a power cut) starts again from its flash file alone and runs the
// program it held.
TEST(AvrsimFlash, RestartedChipRunsWhatItsFlashFileHolds) {
    test::TTempDir dir;
    const std::string flash = dir.File("flash.bin");
    {
        test::TAvrsim chip({"--flash", flash, test::FirmwareHex("blink_atmega328p")});
        EXPECT_EQ(chip.ReadLine(5s), "0.0 PORTB 0x01");
        chip.Stop(SIGKILL);
    }
    test::TAvrsim chip({"--flash", flash});
    EXPECT_EQ(chip.ReadLine(5s), "0.0 PORTB 0x01");
    EXPECT_EQ(chip.ReadLine(5s), "500.0 PORTB 0x00");
}

// The program counts its starts in EEPROM byte 0 and sends the count: with an EEPROM
// file the count goes on across restarts, on both chips; without one it starts anew.
TEST(AvrsimEeprom, KeepsItsContentAcrossRestarts) {
    for (const char* mcu : {"atmega328p", "atmega8"}) {
        SCOPED_TRACE(mcu);
        test::TTempDir dir;
        const std::string program = test::FirmwareHex(std::string("eeprom_count_") + mcu);
        const struct {
            bool KeepFile;
            std::uint8_t Count;
        } starts[] = {{true, 0}, {true, 1}, {true, 2}, {false, 0}};
        for (const auto& s : starts) {
            std::vector<std::string> args = {"--mcu", mcu, "--no-pins", program};
            if (s.KeepFile)
                args.insert(args.begin(), {"--eeprom", dir.File("eeprom.bin")});
            test::TAvrsim chip(args);
            chip.OpenPort();
            EXPECT_EQ(Knock(chip, 1), TBytes{s.Count});
            // Killed: the file was written when the firmware changed the EEPROM.
            chip.Stop(SIGKILL);
        }
        EXPECT_EQ(test::ReadBinaryFile(dir.File("eeprom.bin"))[0], 2);
    }
}

// A firmware that runs into an opcode the chip does not know (0x0001 at address 0, reached
// through the blank boot section) ends the emulator with a message, once.
TEST(AvrsimStop, EndsWithAMessageAtAnInvalidOpcode) {
    test::TTempDir dir;
    const std::string hex = dir.Write("bad.hex", ":020000000100FD\n:00000001FF\n");
    test::TAvrsim chip({"--no-pins", hex});
    const std::string err = chip.Finish();
    EXPECT_EQ(chip.ExitCode(), 3) << err;
    EXPECT_NE(err.find("Firmware abgestürzt: ungültiger Befehl bei 0x0000"), std::string::npos)
        << err;
    EXPECT_LE(std::count(err.begin(), err.end(), '\n'), 2) << err;
}

}  // namespace
}  // namespace tarnwick
