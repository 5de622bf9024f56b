#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <vector>

#include "program_rows.h"

namespace tarnwick {
namespace {

struct TRowsCase {
    std::string Name;
    std::int32_t HighestAddress;
    bool Complete;
    std::size_t Rows;
    TProgramRow Last;
};

std::ostream& operator<<(std::ostream& Out, const TRowsCase& Case) {
    return Out << Case.Name;
}

const std::string Ff8 = "FF FF FF FF FF FF FF FF ";

class ProgramRowsTest : public ::testing::TestWithParam<TRowsCase> {};

TEST_P(ProgramRowsTest, RowCountAndLastRow) {
    const TRowsCase& c = GetParam();
    const TBuffer image(MaxFlashSize, 0xFF);
    const auto rows = BuildProgramRows(image, c.Complete, c.HighestAddress);
    ASSERT_EQ(rows.size(), c.Rows);
    const TProgramRow& last = rows.back();
    EXPECT_EQ(last.Address, c.Last.Address);
    EXPECT_EQ(last.Hex1, c.Last.Hex1);
    EXPECT_EQ(last.Dash, c.Last.Dash);
    EXPECT_EQ(last.Hex2, c.Last.Hex2);
    EXPECT_EQ(last.Bytes, c.Last.Bytes);
    // Every row but the last is full, and each starts where the one before ended.
    for (std::size_t r = 0; r + 1 < rows.size(); ++r) {
        ASSERT_EQ(rows[r].Bytes.size(), 16u) << "row " << r;
    }
    EXPECT_EQ(rows[rows.size() / 2].Address, [&] {
        char text[8];
        std::snprintf(text, sizeof text, "%06X)", static_cast<unsigned>(rows.size() / 2 * 16));
        return std::string(text);
    }());
}

INSTANTIATE_TEST_SUITE_P(
    Views, ProgramRowsTest,
    ::testing::ValuesIn(std::vector<TRowsCase>{
        {"HighestFullRow", 0x1F3F, false, 500, {"001F30)", Ff8, "-", Ff8, std::string(16, '\xFF')}},
        {"ShortLastRow",
         0x1003,
         false,
         257,
         {"001000)", "FF FF FF FF ", "", "", "\xFF\xFF\xFF\xFF"}},
        {"ExactlyEightBytes",
         0x1007,
         false,
         257,
         {"001000)", Ff8, "-", "", std::string(8, '\xFF')}},
        {"NineBytes", 0x1008, false, 257, {"001000)", Ff8, "-", "FF ", std::string(9, '\xFF')}},
        {"SevenBytes",
         0x1006,
         false,
         257,
         {"001000)", "FF FF FF FF FF FF FF ", "", "", std::string(7, '\xFF')}},
        {"NothingLoaded", 0, false, 1, {"000000)", "FF ", "", "", "\xFF"}},
        {"CompleteImage", 0x10, true, 16384, {"03FFF0)", Ff8, "-", Ff8, std::string(16, '\xFF')}},
        {"HighestPastImageClamped",
         0x7FFFFFFF,
         false,
         16384,
         {"03FFF0)", Ff8, "-", Ff8, std::string(16, '\xFF')}},
    }),
    [](const auto& Info) { return Info.param.Name; });

TEST(ProgramRows, ExampleRowWithCodeAndErasedBytes) {
    TBuffer image(MaxFlashSize, 0xFF);
    image[0xF0] = 0x0C;
    image[0xF1] = 0x94;
    image[0xF2] = 0x2A;
    image[0xF3] = 0x00;
    const TProgramRow row = MakeProgramRow(image, 0xF0, 16);
    EXPECT_EQ(row.Address, "0000F0)");
    EXPECT_EQ(row.Hex1, "0C 94 2A 00 FF FF FF FF ");
    EXPECT_EQ(row.Dash, "-");
    EXPECT_EQ(row.Hex2, Ff8);
    // Raw bytes, the zero byte included.
    EXPECT_EQ(row.Bytes, std::string("\x0C\x94\x2A\x00", 4) + std::string(12, '\xFF'));
}

TEST(ProgramRows, AddressesAndDigitsUpperCase) {
    TBuffer image(MaxFlashSize, 0xFF);
    for (std::size_t i = 0; i < 16; ++i) {
        image[0x2ABC0 + i] = static_cast<std::uint8_t>(0xA0 + i);
    }
    const auto rows = BuildProgramRows(image, false, 0x2ABCF);
    ASSERT_EQ(rows.size(), 0x2ABCu + 1);
    EXPECT_EQ(rows.back().Address, "02ABC0)");
    EXPECT_EQ(rows.back().Hex1, "A0 A1 A2 A3 A4 A5 A6 A7 ");
    EXPECT_EQ(rows.back().Hex2, "A8 A9 AA AB AC AD AE AF ");
}

TEST(ProgramRows, ProgressEveryFiftyRowsWithCurrentAddress) {
    const TBuffer image(MaxFlashSize, 0xFF);
    std::vector<std::int32_t> reported;
    const auto rows = BuildProgramRows(image, true, 0,
                                       [&](std::int32_t Address) { reported.push_back(Address); });
    ASSERT_EQ(rows.size(), 16384u);
    ASSERT_EQ(reported.size(), 16384u / 50);
    EXPECT_EQ(reported.front(), 50 * 16 - 1);
    EXPECT_EQ(reported[1], 100 * 16 - 1);
    EXPECT_EQ(reported.back(), 327 * 50 * 16 - 1);

    reported.clear();
    BuildProgramRows(image, false, 49 * 16 + 3,
                     [&](std::int32_t Address) { reported.push_back(Address); });
    EXPECT_EQ(reported, std::vector<std::int32_t>{49 * 16 + 3}) << "the 50th row is the last";
}

TEST(ProgramRows, EmptyImageHasNoRows) {
    EXPECT_TRUE(BuildProgramRows(TBuffer{}, true, 0).empty());
    EXPECT_TRUE(BuildProgramRows(TBuffer{}, false, 100).empty());
    EXPECT_EQ(LastShownAddress(TBuffer(10), false, -5), -1);
}

// Rows asked for outside the image show only their address: nothing is read before or
// after it, and no address arithmetic overflows (the sanitizer build checks that too).
TEST(ProgramRows, RowOutsideTheImageShowsNoBytes) {
    struct TCase {
        const char* Name;
        std::size_t ImageSize;
        std::int32_t First;
        int Count;
        std::string Address;
        std::string Hex1;
    };
    const std::vector<TCase> cases = {
        {"OneBeforeTheImage", 32, -1, 16, "FFFFFF)", ""},
        {"FarBeforeTheImage", 32, -255, 16, "FFFF01)", ""},
        {"MostNegativeAddress", 32, std::numeric_limits<std::int32_t>::min(), 16, "000000)", ""},
        {"PastTheEnd", 32, 32, 16, "000020)", ""},
        {"EmptyImage", 0, 0, 16, "000000)", ""},
        {"EmptyImageFurtherOn", 0, 0x40, 16, "000040)", ""},
        {"LastBytesOnly", 32, 28, 16, "00001C)", "AB AB AB AB "},
    };
    for (const TCase& c : cases) {
        const TBuffer image(c.ImageSize, 0xAB);
        const TProgramRow row = MakeProgramRow(image, c.First, c.Count);
        EXPECT_EQ(row.Address, c.Address) << c.Name;
        EXPECT_EQ(row.Hex1, c.Hex1) << c.Name;
        EXPECT_EQ(row.Bytes.size(), c.Hex1.size() / 3) << c.Name;
        EXPECT_EQ(row.Dash, "") << c.Name;
    }
}

}  // namespace
}  // namespace tarnwick
