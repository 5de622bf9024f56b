// Cross-checks the loader against HEX files written by real tools (srec_cat,
// avr-objcopy, avr-gcc) and against srec_cat's own reading of the same file.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "firmware_image.h"
#include "child_process.h"
#include "temp_dir.h"

namespace tarnwick {
namespace {

using test::RunTool;
using test::ToolAvailable;

#define REQUIRE_TOOL(Name)                                                         \
    do {                                                                           \
        if (!ToolAvailable(Name)) {                                                \
            GTEST_SKIP() << Name << " is not installed (Debian packages srecord, " \
                         << "binutils-avr, gcc-avr, avr-libc)";                    \
        }                                                                          \
    } while (false)

std::vector<std::uint8_t> RandomBlob(std::size_t Size, unsigned Seed) {
    std::mt19937 random(Seed);
    std::uniform_int_distribution<int> byte(0, 255);
    std::vector<std::uint8_t> blob(Size);
    for (auto& b : blob) {
        b = static_cast<std::uint8_t>(byte(random));
    }
    return blob;
}

std::string Hex(std::int32_t Value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%X", static_cast<unsigned>(Value));
    return text;
}

void Substitute(std::string& Text, const std::string& Placeholder, const std::string& Value) {
    const auto at = Text.find(Placeholder);
    if (at != std::string::npos) {
        Text.replace(at, Placeholder.size(), Value);
    }
}

// The image srec_cat reads from the file: the reference for the loader.
TBuffer ReferenceImage(const test::TTempDir& Dir, const std::string& HexFile) {
    const std::string out = Dir.File("reference.bin");
    RunTool({"srec_cat", HexFile, "-Intel", "-fill", "0xFF", "0", std::to_string(MaxFlashSize),
             "-o", out, "-Binary"});
    return test::ReadBinaryFile(out);
}

struct TToolCase {
    std::string Name;
    std::int32_t Offset;  // flash address of the blob's first byte
    std::size_t Size;
    // Command that turns {blob} into {hex}; {offset} is the offset in hex.
    std::vector<std::string> Command;
    int Result;
};

std::ostream& operator<<(std::ostream& Out, const TToolCase& Case) {
    return Out << Case.Name;
}

const std::vector<std::string> SrecSegmented = {
    "srec_cat", "{blob}", "-Binary", "-offset",           "{offset}",
    "-o",       "{hex}",  "-Intel",  "-address-length=3", "-Output_Block_Size",
    "16"};
const std::vector<std::string> SrecSegmentedLong = {
    "srec_cat", "{blob}", "-Binary", "-offset",           "{offset}",
    "-o",       "{hex}",  "-Intel",  "-address-length=3", "-Output_Block_Size",
    "32",       "-CRLF"};
const std::vector<std::string> SrecShortAddresses = {
    "srec_cat", "{blob}", "-Binary", "-offset",           "{offset}",
    "-o",       "{hex}",  "-Intel",  "-address-length=2", "-Output_Block_Size",
    "255"};
const std::vector<std::string> SrecLinear = {"srec_cat", "{blob}", "-Binary", "-offset",
                                             "{offset}", "-o",     "{hex}",   "-Intel"};
const std::vector<std::string> ObjcopySection = {
    "avr-objcopy",    "-I",     "binary", "-O", "ihex", "--change-section-address",
    ".data={offset}", "{blob}", "{hex}"};
// Moving the start address too makes objcopy add a start-segment record (type 03).
const std::vector<std::string> ObjcopyWithStart = {"avr-objcopy", "-I",     "binary",
                                                   "-O",          "ihex",   "--change-addresses",
                                                   "{offset}",    "{blob}", "{hex}"};

class HexToolTest : public ::testing::TestWithParam<TToolCase> {};

TEST_P(HexToolTest, LoadsLikeSrecCatReadsIt) {
    const TToolCase& c = GetParam();
    REQUIRE_TOOL("srec_cat");
    REQUIRE_TOOL(c.Command.front());
    const test::TTempDir dir;
    const std::string blob = dir.Write("blob.bin", RandomBlob(c.Size, c.Size + 7u));
    const std::string hex = dir.File("blob.hex");
    std::vector<std::string> command;
    for (std::string arg : c.Command) {
        Substitute(arg, "{blob}", blob);
        Substitute(arg, "{hex}", hex);
        Substitute(arg, "{offset}", Hex(c.Offset));
        command.push_back(arg);
    }
    RunTool(command);

    TBuffer image;
    std::int32_t highest = 0;
    ASSERT_EQ(LoadHexFile(hex, image, highest, MaxFlashSize), c.Result);
    if (c.Result != HexLoaded) {
        return;
    }
    EXPECT_EQ(highest, c.Offset + static_cast<std::int32_t>(c.Size) - 1);
    const TBuffer reference = ReferenceImage(dir, hex);
    ASSERT_EQ(reference.size(), image.size());
    EXPECT_TRUE(reference == image) << "image differs from srec_cat's reading";
}

INSTANTIATE_TEST_SUITE_P(
    Tools, HexToolTest,
    ::testing::ValuesIn(std::vector<TToolCase>{
        {"SrecSmallAtZero", 0, 1000, SrecSegmented, HexLoaded},
        {"SrecAcross128KiB", 0x1FFA0, 300, SrecSegmented, HexLoaded},
        {"SrecWholeFlashCrLf", 0, 262144, SrecSegmentedLong, HexLoaded},
        {"SrecEndsAtLastByte", 0x3FF00, 256, SrecSegmented, HexLoaded},
        {"SrecOneBytePastFlash", 0x3FF01, 256, SrecSegmented, HexTooLarge},
        {"SrecLongRecords", 0x100, 5000, SrecShortAddresses, HexLoaded},
        // srec_cat's default output always starts with a linear address record (type 04).
        {"SrecLinearBelow64KiBRefused", 0x4000, 600, SrecLinear, HexUnknownRecord},
        {"SrecLinearAbove64KiBRefused", 0x12340, 600, SrecLinear, HexUnknownRecord},
        {"ObjcopyAtZero", 0, 8000, ObjcopySection, HexLoaded},
        {"ObjcopyAbove64KiB", 0x12340, 70000, ObjcopySection, HexLoaded},
        {"ObjcopyStartRecordRefused", 0x100, 64, ObjcopyWithStart, HexUnknownRecord},
    }),
    [](const auto& Info) { return Info.param.Name; });

const std::string SamplesDir = TARNWICK_SAMPLES_DIR;

TEST(HexTools, ShippedSampleLoadsLikeSrecCatReadsIt) {
    REQUIRE_TOOL("srec_cat");
    const test::TTempDir dir;
    const std::string hex = SamplesDir + "/blink.hex";
    TBuffer image;
    std::int32_t highest = 0;
    ASSERT_EQ(LoadHexFile(hex, image, highest, MaxFlashSize), HexLoaded);
    // The simulated device has 8 KiB of flash; the sample must fit it.
    EXPECT_GT(highest, 0);
    EXPECT_LT(highest, 8192);
    EXPECT_TRUE(ReferenceImage(dir, hex) == image);
}

TEST(HexTools, FreshlyCompiledSampleLoadsLikeSrecCatReadsIt) {
    REQUIRE_TOOL("avr-gcc");
    REQUIRE_TOOL("avr-objcopy");
    REQUIRE_TOOL("srec_cat");
    const test::TTempDir dir;
    const std::string elf = dir.File("blink.elf");
    const std::string hex = dir.File("blink.hex");
    RunTool({"avr-gcc", "-mmcu=atmega8", "-DF_CPU=1000000UL", "-Os", "-o", elf,
             SamplesDir + "/blink.c"});
    RunTool({"avr-objcopy", "-O", "ihex", "-R", ".eeprom", elf, hex});
    TBuffer image;
    std::int32_t highest = 0;
    ASSERT_EQ(LoadHexFile(hex, image, highest, MaxFlashSize), HexLoaded);
    EXPECT_GT(highest, 0x26) << "at least the vector table";
    EXPECT_TRUE(ReferenceImage(dir, hex) == image);

    // The commands in samples/README.md make the shipped file (with Debian 12's avr-gcc).
    TBuffer shipped;
    std::int32_t shippedHighest = 0;
    ASSERT_EQ(LoadHexFile(SamplesDir + "/blink.hex", shipped, shippedHighest, MaxFlashSize),
              HexLoaded);
    EXPECT_EQ(shippedHighest, highest);
    EXPECT_TRUE(shipped == image) << "samples/blink.hex differs from a fresh build of blink.c";
}

}  // namespace
}  // namespace tarnwick
