// tarnwick-cli update into the emulated chip running the project's bootloader: afterwards
// the chip's flash holds the image beside the untouched bootloader (on a chip without a boot
// section, with the bootloader's jump at 0), and the flashed program runs (the blink sample
// toggles PB0); the host names the line's kind it found. Among them the streams that once
// lost bytes where the CPU halts while a page is written: every byte escaped there, and
// pauses of the line.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "chip_support.h"

namespace tarnwick {
namespace {

using namespace test;

struct TChipCase {
    const char* Name;
    const char* Mcu;
    const char* Image;  // a sample
    std::size_t FlashBytes;
    std::vector<std::string> CliArgs;
    std::vector<std::string> ChipArgs;
    std::uint16_t A5At = 0;    // when not 0: 512 bytes of 0xA5 (each sent escaped) from there
    bool OneWire = false;      // no boot section; the line a single wire
    std::string Variant = "";  // of the bootloader's HEX
};

std::ostream& operator<<(std::ostream& os, const TChipCase& c) {
    return os << c.Name;
}

const std::vector<std::string> Quick = {"--fast", "--no-power-cycle"};

std::vector<std::string> With(std::vector<std::string> Args, const std::vector<std::string>& More) {
    Args.insert(Args.end(), More.begin(), More.end());
    return Args;
}

const TChipCase ChipCases[] = {
    // The default run as a user has it: the chip is switched on while the rounds run.
    {"Atmega8PacedWithPowerCycle",
     "atmega8",
     "blink-atmega8",
     8192,
     {},
     {"--power-on-delay", "4500"}},
    {"Atmega328pPaced", "atmega328p", "blink-atmega328p", 32768, {"--no-power-cycle"}, {}},
    {"Atmega8FastFullApplicationSection", "atmega8", "blink-7k-atmega8", 8192, Quick, {}},
    // The ATmega8's CPU halts while a page from 0x1800 on is written; eight pages there of
    // bytes that go escaped, twice as many on the wire as in the image.
    {"Atmega8FastEscapedPagesWhereTheCpuHalts",
     "atmega8",
     "blink-atmega8",
     8192,
     Quick,
     {},
     0x1800},
    {"Atmega8FastPausesOfTheLine",
     "atmega8",
     "blink-7k-atmega8",
     8192,
     Quick,
     {"--pause-every", "100:10"}},
    {"Atmega328pFast14KiB", "atmega328p", "blink-14k-atmega328p", 32768, Quick, {}},
    // At 1 Mbaud a byte takes 160 cycles: the bootloader's work between two looks at the
    // UART must not lose one (ChipUnchangedPages: also where pages are left alone).
    {"Atmega328pFast1Mbaud",
     "atmega328p",
     "blink-14k-atmega328p",
     32768,
     {"--fast", "--no-power-cycle", "--baud", "1000000"},
     {},
     0,
     false,
     "-1000000baud"},
    // Above 64 KiB: the HEX file's segment records, the loader, the stream and the chip's
    // far addresses all carry it.
    {"Atmega1284pFastAbove64KiB", "atmega1284p", "blink-96k-atmega1284p", 131072, Quick, {}},
    // The ATmega16's UBRRH shares its address with UCSRC, and its reset flags are in MCUCSR.
    {"Atmega16Fast14KiB", "atmega16", "blink-14k-atmega16", 16384, Quick, {}},
    // On one wire, the rate measured from the rounds: the default run with the chip's clock
    // 8 % slow, the whole application area with it 8 % fast, and the other families.
    {"Attiny85OneWirePacedWithPowerCycleClockSlow",
     "attiny85",
     "blink-attiny85",
     8192,
     {"--baud", "19200"},
     With(OneWireChipArgs("attiny85"), {"--power-on-delay", "4500", "--clock-error", "-8"}),
     0,
     true},
    {"Attiny85OneWireFastWholeApplicationClockFast", "attiny85", "blink-6k-attiny85", 8192,
     OneWireFast, With(OneWireChipArgs("attiny85"), {"--clock-error", "8"}), 0, true},
    {"Attiny84OneWireFast", "attiny84", "blink-attiny84", 8192, OneWireFast,
     OneWireChipArgs("attiny84"), 0, true},
    {"Atmega48OneWireFast", "atmega48", "blink-atmega48", 4096, OneWireFast,
     OneWireChipArgs("atmega48"), 0, true},
};

class ChipUpdateTest : public ::testing::TestWithParam<TChipCase> {};

TEST_P(ChipUpdateTest, FlashHoldsTheImageAndTheProgramRuns) {
    const TChipCase& c = GetParam();
    TTempDir dir;
    const std::string image =
        c.A5At != 0 ? SampleWith(dir, c.Image, c.A5At, std::vector<std::uint8_t>(512, 0xA5))
                    : SampleHex(c.Image);
    TEmulatedChip chip(c.Mcu, dir, c.ChipArgs, c.Variant);
    const TProcessResult run = UpdateChip(chip, image, c.CliArgs);
    EXPECT_EQ(run.ExitCode, 0) << run.Out << run.Err;
    EXPECT_NE(run.Out.find("Gespeichertes Programm korrekt übertragen"), std::string::npos)
        << run.Out;
    EXPECT_NE(run.Out.find(c.OneWire ? "Verbunden: 1-Draht-Modus" : "Verbunden: 2-Draht-Modus"),
              std::string::npos)
        << run.Out;
    EXPECT_TRUE(chip.SeenBlinking(std::chrono::seconds(10)));
    const std::string said = chip.Stop();
    EXPECT_NE(said.find(", 0 Zugriffe auf den Bootbereich abgewiesen"), std::string::npos) << said;
    EXPECT_NE(said.find("verloren: 0 durch Überlauf"), std::string::npos) << said;
    EXPECT_EQ(chip.Flash(), ExpectedFlash(dir, image, c.Mcu, c.FlashBytes, c.OneWire, c.Variant));
}

INSTANTIATE_TEST_SUITE_P(Avrsim, ChipUpdateTest, ::testing::ValuesIn(ChipCases),
                         [](const auto& param) { return std::string(param.param.Name); });

// The chip's count of page erases and writes from its summary ("224 Seiten
// gelöscht/geschrieben").
long PageOperations(const std::string& Said) {
    const auto at = Said.find(" Seiten gelöscht/geschrieben");
    if (at == std::string::npos)
        return -1;
    const auto from = Said.rfind(' ', at - 1) + 1;
    return std::stol(Said.substr(from, at - from));
}

// Unchanged pages are left alone: the same image a second time erases and writes nothing,
// an image that differs in one page erases and writes that page only. Each run is the
// default (automatic) update into the chip switched on again, at 1 Mbaud: with no page to
// write the bytes arrive while the bootloader works on the ones before, and none is lost.
TEST(ChipUnchangedPages, OnlyChangedPagesAreErasedAndWritten) {
    TTempDir dir;
    const std::string image = SampleHex("blink-14k-atmega328p");
    // Two bytes after the image's end, in its last page.
    const std::string changed = SampleWith(dir, "blink-14k-atmega328p", 0x37A2, {0x12, 0x34});
    struct {
        const std::string& Image;
        long Operations;  // -1: any
    } const runs[] = {{image, -1}, {image, 0}, {changed, 2}};
    for (const auto& run : runs) {
        TEmulatedChip chip("atmega328p", dir, {"--no-pins"}, "-1000000baud");
        const TProcessResult update =
            UpdateChip(chip, run.Image, {"--no-power-cycle", "--baud", "1000000"});
        EXPECT_EQ(update.ExitCode, 0) << update.Out << update.Err;
        const std::string said = chip.Stop();
        if (run.Operations >= 0) {
            EXPECT_EQ(PageOperations(said), run.Operations) << said;
        }
        EXPECT_NE(said.find("verloren: 0 durch Überlauf"), std::string::npos) << said;
        EXPECT_EQ(chip.Flash(),
                  ExpectedFlash(dir, run.Image, "atmega328p", 32768, false, "-1000000baud"));
    }
}

}  // namespace
}  // namespace tarnwick
