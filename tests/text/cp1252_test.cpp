#include "text/cp1252.h"

#include <gtest/gtest.h>
#include <iconv.h>

#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace tarnwick {
namespace {

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
