#include <errno.h>
#include <gtest/gtest.h>
#include <iconv.h>

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

// Decodes one byte with the C library's Windows-1252 converter.
std::string IconvCp1252(std::uint8_t Byte) {
    iconv_t cd = iconv_open("UTF-8", "CP1252");
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        throw std::runtime_error("no CP1252 converter");
    }
    char in[1] = {static_cast<char>(Byte)};
    char out[8] = {};
    char* inPtr = in;
    char* outPtr = out;
    std::size_t inLeft = 1;
    std::size_t outLeft = sizeof out;
    const std::size_t done = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
    iconv_close(cd);
    if (done == static_cast<std::size_t>(-1)) {
        return "<undefined>";
    }
    return std::string(out, static_cast<std::size_t>(outPtr - out));
}

TEST(Cp1252, EveryDefinedByteDecodesLikeTheCLibrary) {
    int compared = 0;
    for (int b = 0; b < 256; ++b) {
        const auto byte = static_cast<std::uint8_t>(b);
        const std::string reference = IconvCp1252(byte);
        if (reference == "<undefined>") {
            continue;
        }
        EXPECT_EQ(Cp1252ToUtf8(std::string(1, static_cast<char>(byte))), reference) << "byte " << b;
        ++compared;
    }
    EXPECT_GE(compared, 251);
}

TEST(Cp1252, UndefinedPositionsBecomeC1Controls) {
    for (const std::uint8_t byte : {0x81, 0x8D, 0x8F, 0x90, 0x9D}) {
        EXPECT_EQ(Cp1252ToUnicode(byte), static_cast<char32_t>(byte));
        const std::string utf8 = Cp1252ToUtf8(std::string(1, static_cast<char>(byte)));
        EXPECT_EQ(utf8, std::string({'\xC2', static_cast<char>(byte)}));
    }
    EXPECT_EQ(Cp1252ToUnicode(0x80), U'\u20AC');
    EXPECT_EQ(Cp1252ToUtf8("\x80\x9F\xE4"), "\u20AC\u0178\u00E4");
}

TEST(PrintableAscii, ControlAndHighBytesBecomeDots) {
    const std::vector<std::pair<std::string, std::string>> table = {
        {std::string("\x00\x1F\x20\x7E\x7F\x80\xFF", 7), ".. ~..."},
        {"Tarnwick 1.0", "Tarnwick 1.0"},
        {"\t\r\n", "..."},
        {"", ""},
    };
    for (const auto& [in, out] : table) {
        EXPECT_EQ(PrintableAscii(in), out);
    }
}

TEST(Cp1252, EveryByteSurvivesTheWayToUtf8AndBack) {
    for (int b = 0; b < 256; ++b) {
        const std::string byte(1, static_cast<char>(b));
        std::string back;
        ASSERT_TRUE(Utf8ToCp1252(Cp1252ToUtf8(byte), back)) << "byte " << b;
        EXPECT_EQ(back, byte) << "byte " << b;
    }
}

TEST(Cp1252, TextWithoutAByteOrMalformedIsRefused) {
    struct {
        const char* Name;
        std::string Utf8;
        bool Ok;
        std::string Bytes;
    } const cases[] = {
        {"ascii", "Kiwu", true, "Kiwu"},
        {"umlauts", "Gr\xC3\xBC\xC3\x9F", true, "Gr\xFC\xDF"},
        {"euro",
         "\xE2\x82\xAC"
         "1",
         true,
         "\x80"
         "1"},
        {"no byte for l with stroke", "\xC5\x82", false, ""},
        {"no byte for a C1 control Windows-1252 redefines", "\xC2\x80", false, ""},
        {"cut off", "a\xC3", false, ""},
        {"stray continuation", "\xBC", false, ""},
        {"overlong slash", "\xC0\xAF", false, ""},
    };
    for (const auto& c : cases) {
        std::string bytes;
        EXPECT_EQ(Utf8ToCp1252(c.Utf8, bytes), c.Ok) << c.Name;
        if (c.Ok) {
            EXPECT_EQ(bytes, c.Bytes) << c.Name;
        }
    }
}

}  // namespace
}  // namespace tarnwick
