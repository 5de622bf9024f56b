// One program as the build makes it (ELF from avr-gcc), as avr-objcopy writes it in
// Motorola S-records and in Intel-HEX: the same image, the same program view and the same
// flash in the emulated chip, judged by srec_cat. And what the loader refuses, in German.

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <tuple>
#include <vector>

#include "chip_support.h"
#include "image/firmware_file.h"
#include "image/program_rows.h"

namespace tarnwick {
namespace {

using namespace test;

const std::string Elf = std::string(TARNWICK_DATA_SAMPLE) + ".elf";
const std::string Hex = std::string(TARNWICK_DATA_SAMPLE) + ".hex";

std::string MakeSRecords(const TTempDir& Dir) {
    const std::string srec = Dir.File("program.s19");
    RunTool({"avr-objcopy", "-O", "srec", "-R", ".eeprom", Elf, srec});
    return srec;
}

struct TLoaded {
    int Result = 0;
    TBuffer Image;
    std::int32_t Highest = 0;
};

TLoaded Load(const std::string& File) {
    TLoaded loaded;
    loaded.Result = LoadFirmwareImage(File, loaded.Image, loaded.Highest, MaxFlashSize);
    return loaded;
}

TEST(FirmwareFormatsTest, ElfSRecordsAndHexGiveOneImageAndOneView) {
    TTempDir dir;
    const TLoaded hex = Load(Hex);
    ASSERT_EQ(hex.Result, HexLoaded);
    // The initialised data follows the code: without it the program would not run.
    ASSERT_GT(hex.Highest, 0);
    for (const std::string& file : {Elf, MakeSRecords(dir)}) {
        SCOPED_TRACE(file);
        const TLoaded other = Load(file);
        ASSERT_EQ(other.Result, HexLoaded) << FirmwareLoadMessage(other.Result);
        EXPECT_EQ(other.Highest, hex.Highest);
        EXPECT_TRUE(other.Image == hex.Image);
        for (const bool complete : {false, true}) {
            const auto rows = BuildProgramRows(other.Image, complete, other.Highest);
            const auto hexRows = BuildProgramRows(hex.Image, complete, hex.Highest);
            ASSERT_EQ(rows.size(), hexRows.size());
            for (std::size_t i = 0; i < rows.size(); ++i) {
                const auto& a = rows[i];
                const auto& b = hexRows[i];
                EXPECT_EQ(std::tie(a.Address, a.Hex1, a.Dash, a.Hex2, a.Bytes),
                          std::tie(b.Address, b.Hex1, b.Dash, b.Hex2, b.Bytes));
            }
        }
    }
}

TEST(FirmwareFormatsTest, EachFormatGivesTheFlashSrecCatExpects) {
    TTempDir dir;
    const std::string srec = MakeSRecords(dir);
    // srec_cat reads the S-records avr-objcopy wrote; the bootloader's HEX joins them.
    const std::string expectedFile = dir.File("expected.bin");
    RunTool({"srec_cat", "(", srec, "-motorola", BootHex("atmega328p"), "-intel", ")", "-fill",
             "0xFF", "0", "32768", "-o", expectedFile, "-binary"});
    const std::vector<std::uint8_t> expected = ReadBinaryFile(expectedFile);
    for (const std::string& file : {Elf, srec, Hex}) {
        SCOPED_TRACE(file);
        TTempDir chipDir;
        TEmulatedChip chip("atmega328p", chipDir, {"--no-pins"});
        const TProcessResult run = UpdateChip(chip, file, {"--fast", "--no-power-cycle"});
        EXPECT_EQ(run.ExitCode, 0) << run.Describe();
        chip.Stop();
        EXPECT_TRUE(chip.Flash() == expected);
    }
}

TEST(FirmwareFormatsTest, RefusesWhatIsNoFlashImageForAnAvr) {
    TTempDir dir;
    const std::string srec = MakeSRecords(dir);
    std::ifstream in(srec);
    std::string first;
    std::string second;
    std::getline(in, first);
    std::getline(in, second);
    // The second line is a data record: its last digit changed breaks its checksum.
    std::string badSum = second.substr(0, second.find_last_not_of('\r') + 1);
    badSum.back() = badSum.back() == '0' ? '1' : '0';
    struct TCase {
        std::string Name;
        std::string File;
        std::string Message;
    };
    const TCase cases[] = {
        // This test program itself: an ELF for another processor.
        {"host ELF", "/proc/self/exe", "ELF-Datei ist nicht für AVR-Controller übersetzt"},
        {"checksum", dir.Write("sum.s19", first + "\n" + badSum + "\n"),
         "Prüfsumme der S-Record-Datei ungültig"},
        {"S4", dir.Write("s4.s19", "S4030000FC\n"), "Ungültiger Record in S-Record-Datei"},
        {"past the flash", dir.Write("far.s28", "S2060400000102F2\nS804000000FB\n"),
         "Programmdatei enthält Daten außerhalb des Flash-Speichers (262144 Byte)"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        const TLoaded loaded = Load(c.File);
        EXPECT_LT(loaded.Result, 0);
        EXPECT_EQ(FirmwareLoadMessage(loaded.Result), c.Message);
    }
}

}  // namespace
}  // namespace tarnwick
