// The parsers fed sequence by sequence: every code they send reads back as that code,
// the sequences no code stands for, the parameter splitting and ParamValue. What the
// terminal does with the codes is judged in terminal_core_test.cpp.
#include <gtest/gtest.h>

#include <string>
#include <type_traits>
#include <vector>

#include "terminal/escape_codes.h"

namespace tarnwick {
namespace {

// Feeds Text (ESC and the rest) to a new parser: pending until the last character,
// which completes Code; the next characters, controls too, are plain again. Gives the
// parameters.
template <class TParser>
TParamList ExpectCompletes(const std::string& Text, TEscapeCode Code) {
    SCOPED_TRACE(testing::PrintToString(Text));
    TParser parser;
    for (std::size_t i = 0; i + 1 < Text.size(); ++i)
        EXPECT_EQ(parser.FeedChar(static_cast<std::uint8_t>(Text[i])), psPending) << i;
    EXPECT_EQ(parser.FeedChar(static_cast<std::uint8_t>(Text.back())), psCode);
    EXPECT_STREQ(EscapeCodeName(parser.LastCode), EscapeCodeName(Code));
    EXPECT_EQ(parser.SeqText, Text.substr(1));
    for (const std::uint8_t c : {0x78, 0x00, 0x07, 0x0D, 0x9B, 0xFF}) {  // 'x', controls, 8 bit
        EXPECT_EQ(parser.FeedChar(c), psChar);
        EXPECT_EQ(parser.PlainChar, c);
    }
    EXPECT_FALSE(parser.InEscape);
    if constexpr (std::is_same_v<TParser, TEscapeCodesVT100>) {
        EXPECT_FALSE(parser.InCsi);
    }
    return parser.ParamList;
}

// How many codes TParser can send; each text reads back as its code.
template <class TParser>
int ReadBackEveryCode() {
    int sendable = 0;
    for (int i = 0; i < EscapeCodeCount; ++i) {
        const auto code = static_cast<TEscapeCode>(i);
        const std::string text = TParser().CodeToText(code, {"12", "40"});
        if (text.empty())
            continue;
        ++sendable;
        const TParamList params = ExpectCompletes<TParser>(text, code);
        if (code == ecCursorMove || code == ecReportCursorPos) {
            EXPECT_EQ(params, (TParamList{"12", "40"})) << EscapeCodeName(code);
        }
    }
    return sendable;
}

TEST(Parsers, EveryCodeTheySendReadsBackAsThatCode) {
    EXPECT_EQ(ReadBackEveryCode<TEscapeCodesVT52>(), 11);
    EXPECT_EQ(ReadBackEveryCode<TEscapeCodesVT100>(), 33);
    EXPECT_EQ(TEscapeCodesVT100().CodeToText(ecReportCursorPos, {}), "\x1b[1;1R");
}

TEST(Parsers, SequencesNoCodeStandsForCompleteAsUnknown) {
    for (const char* rest : {"/x", "q"})
        ExpectCompletes<TEscapeCodesVT52>(std::string("\x1b") + rest, ecUnknown);
    for (const char* rest : {"#3", "OP", "(", "[1J", "[2g", "[n", "[7n"})
        ExpectCompletes<TEscapeCodesVT100>(std::string("\x1b") + rest, ecUnknown);
}

TEST(Parsers, SplitTheParameters) {
    EXPECT_EQ(ExpectCompletes<TEscapeCodesVT52>("\x1bY  ", ecCursorMove), (TParamList{"1", "1"}));
    const struct {
        std::string Sequence;  // after ESC
        TEscapeCode Code;
        TParamList Params;
    } cases[] = {
        {"[0g", ecClearTab, {}},
        {"[0c", ecIdentify, {"0"}},
        {"[?1;2c", ecIdentResponse, {"?1", "2"}},
        {"[?6c", ecUnknown, {"?6"}},
        {"[4z", ecUnknown, {"4"}},
        // A ";" at the start of a parameter belongs to it.
        {"[;5H", ecCursorHome, {";5"}},
        {"[1;;2H", ecCursorHome, {"1", ";2"}},
        {"[4;m", ecAttributes, {"4"}},
        {"[1\r5A", ecCursorUp, {"1\r5"}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ExpectCompletes<TEscapeCodesVT100>("\x1b" + c.Sequence, c.Code), c.Params)
            << testing::PrintToString(c.Sequence);
    }
}

TEST(Vt100Parser, EndsASequenceAfter256Characters) {
    TEscapeCodesVT100 parser;
    const std::string text = "\x1b[" + std::string(1000, '1');
    for (std::size_t i = 0; i < text.size(); ++i) {
        const TParseResult expected = i < 256 ? psPending : i == 256 ? psCode : psChar;
        ASSERT_EQ(parser.FeedChar(static_cast<std::uint8_t>(text[i])), expected) << i;
    }
    EXPECT_EQ(parser.LastCode, ecUnknown);
}

TEST(ParamValue, MissingOrNonDecimalParametersCountAsOne) {
    const TParamList params = {"12", "", "?1", ";5", "0", "-3", "99999999999", "7x"};
    const int expected[] = {12, 1, 1, 1, 0, -3, 1, 1};
    for (int i = 1; i <= 8; ++i)
        EXPECT_EQ(ParamValue(i, params), expected[i - 1]) << "parameter " << i;
    EXPECT_EQ(ParamValue(9, params), 1);
    EXPECT_EQ(ParamValue(0, params), 1);
    EXPECT_EQ(ParamValue(1, {}), 1);
}

}  // namespace
}  // namespace tarnwick
