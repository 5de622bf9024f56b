#include "bootloader/reply_reception.h"

#include <gtest/gtest.h>

#include <functional>
#include <ostream>
#include <string>
#include <vector>

namespace tarnwick {

void PrintTo(const TReplyFields& f, std::ostream* os) {
    *os << "{state " << f.ReplyState << " rx " << f.ByteReceived << " pw " << f.PasswordAccepted
        << " 1w " << f.OneWireMode << " conf " << f.Confirmed << " crc " << f.CrcResult
        << " active " << f.ReplyActive << " skip " << f.SkipCount << " mark " << f.ReplyMark
        << " text '" << f.ReplyText << "' query " << f.QueryResult << " complete "
        << f.ReplyComplete << " buf " << f.BufferDone << " prog " << f.ProgramDone << " vsup "
        << f.VerifySupported << " vres " << f.VerifyResult << "}";
}

namespace {

using TBytes = std::vector<std::uint8_t>;

const std::string Failed = "Kommando \"$4\" fehlgeschlagen";
const std::string Unsupported = "Kommando \"$4\" nicht unterstützt";

struct TCase {
    const char* Name;
    TReplyState State;
    std::string Password;
    TBytes Bytes;
    std::function<void(TReplyFields&)> Expect;  // changes beyond ReplyState and ByteReceived
    std::vector<std::string> Warnings;
};

std::ostream& operator<<(std::ostream& os, const TCase& c) {
    return os << c.Name;
}

struct TRun {
    TReplyFields Fields;
    std::vector<std::string> Warnings;
};

// Feeds Bytes in blocks of at most BlockSize (0: all in one block).
TRun Feed(const TCase& c, std::size_t BlockSize) {
    TRun run;
    run.Fields.ReplyState = c.State;
    auto log = [&](const std::string& t) { run.Warnings.push_back(t); };
    std::size_t step = BlockSize == 0 ? c.Bytes.size() : BlockSize;
    for (std::size_t i = 0; i < c.Bytes.size(); i += step) {
        const std::size_t n = std::min(step, c.Bytes.size() - i);
        ReceiveReplyBytes(run.Fields, std::span(c.Bytes.data() + i, n), c.Password, "$4", log);
    }
    return run;
}

class ReplyReceptionTest : public ::testing::TestWithParam<TCase> {};

TEST_P(ReplyReceptionTest, SetsExactlyTheFieldsOfItsStateWhateverTheBlocks) {
    const TCase& c = GetParam();
    TReplyFields expected;
    expected.ReplyState = c.State;
    expected.ByteReceived = !c.Bytes.empty();
    if (c.Expect)
        c.Expect(expected);
    // One block, byte by byte and in pairs must all come out the same: the port hands
    // over whatever the driver had collected.
    for (const std::size_t block : {std::size_t{0}, std::size_t{1}, std::size_t{2}}) {
        SCOPED_TRACE("block size " + std::to_string(block));
        const TRun run = Feed(c, block);
        EXPECT_EQ(run.Fields, expected);
        EXPECT_EQ(run.Warnings, c.Warnings);
    }
}

const TCase Cases[] = {
    {"EmptyBlockChangesNothing", rsPassword, "Kiwu", {}, nullptr, {}},
    {"IdleOnlyNotesTheByte", rsIdle, "Kiwu", {0xA6, 0xAA, 0xA9, 0xA8, 'K'}, nullptr, {}},
    {"IdleStillWarnsOfFailure", rsIdle, "Kiwu", {0xAB}, nullptr, {Failed}},
    {"IdleStillWarnsOfUnsupported", rsIdle, "Kiwu", {0xA7}, nullptr, {Unsupported}},
    {"PasswordAccepted",
     rsPassword,
     "Kiwu",
     {0xA6},
     [](TReplyFields& f) { f.PasswordAccepted = true; },
     {}},
    {"PasswordEchoMeansSingleWire",
     rsPassword,
     "Kiwu",
     {'K'},
     [](TReplyFields& f) { f.OneWireMode = true; },
     {}},
    {"PasswordEchoAndAcceptanceTogether",
     rsPassword,
     "Kiwu",
     {'K', 0xA6},
     [](TReplyFields& f) {
         f.OneWireMode = true;
         f.PasswordAccepted = true;
     },
     {}},
    {"OnlyTheFirstPasswordCharacterMarksSingleWire",
     rsPassword,
     "Kiwu",
     {'i', 'w', 'u', 0xFF},
     nullptr,
     {}},
    {"EmptyPasswordNeverSingleWire", rsPassword, "", {'K', 0x00, 0xFF}, nullptr, {}},
    {"EmptyPasswordStillAccepted",
     rsPassword,
     "",
     {0xA6},
     [](TReplyFields& f) { f.PasswordAccepted = true; },
     {}},
    {"PasswordStateIgnoresOk", rsPassword, "Kiwu", {0xAA, 0xA9}, nullptr, {}},
    {"Confirmed", rsConfirm, "Kiwu", {0xAA}, [](TReplyFields& f) { f.Confirmed = true; }, {}},
    {"ConfirmIgnoresOthers", rsConfirm, "Kiwu", {0xA6, 'K', 0xA9}, nullptr, {}},
    {"CrcOk", rsCrc, "Kiwu", {0xAA}, [](TReplyFields& f) { f.CrcResult = 1; }, {}},
    {"CrcFailed", rsCrc, "Kiwu", {0xAB}, [](TReplyFields& f) { f.CrcResult = -1; }, {Failed}},
    {"CrcUnsupported",
     rsCrc,
     "Kiwu",
     {0xA7},
     [](TReplyFields& f) { f.CrcResult = -2; },
     {Unsupported}},
    {"CrcLastVerdictWins",
     rsCrc,
     "Kiwu",
     {0xAA, 0xAB},
     [](TReplyFields& f) { f.CrcResult = -1; },
     {Failed}},
    {"CrcOtherBytesIgnored", rsCrc, "Kiwu", {0xA5, 0x06, 0xA9}, nullptr, {}},
    {"QueryValue",
     rsQuery,
     "Kiwu",
     {0xA8, 0x00, 0x02, 0x01, 0xAA},
     [](TReplyFields& f) {
         f.ReplyMark = 0x00;
         f.ReplyText = "0201";
         f.QueryResult = 1;
         f.ReplyComplete = true;
         f.SkipCount = 0;
     },
     {}},
    // The byte after 0xA8 is kept: Tarnwick's own bootloader sends its mark there.
    {"QueryTarnwickMark",
     rsQuery,
     "Kiwu",
     {0xA8, 0x54, 0x02, 0x01, 0xAA},
     [](TReplyFields& f) {
         f.ReplyMark = 0x54;
         f.ReplyText = "0201";
         f.QueryResult = 1;
         f.ReplyComplete = true;
     },
     {}},
    {"QuerySignature",
     rsQuery,
     "Kiwu",
     {0xA8, 0x02, 0x1E, 0x93, 0x07, 0xAA},
     [](TReplyFields& f) {
         f.ReplyMark = 0x02;
         f.ReplyText = "1E9307";
         f.QueryResult = 1;
         f.ReplyComplete = true;
     },
     {}},
    {"QueryEmptyValue",
     rsQuery,
     "Kiwu",
     {0xA8, 0xAA},
     [](TReplyFields& f) {
         f.ReplyMark = 0xAA;
         f.QueryResult = 1;
         f.ReplyComplete = true;
     },
     {}},
    {"QueryEndedByFailure",
     rsQuery,
     "Kiwu",
     {0xA8, 0x00, 0x12, 0xAB},
     [](TReplyFields& f) {
         f.ReplyMark = 0x00;
         f.ReplyText = "12";
         f.QueryResult = -2;
         f.ReplyComplete = true;
     },
     {Failed}},
    {"QueryIgnoresEverythingBeforeReplyData",
     rsQuery,
     "Kiwu",
     {0xA5, 0x00, 0xAA, 0xAB, 0x12},
     nullptr,
     {Failed}},
    {"QueryEchoThenValue",
     rsQuery,
     "Kiwu",
     {0xA5, 0x03, 0xA8, 0x04, 0x00, 0x00, 0x20, 0x00, 0xAA},
     [](TReplyFields& f) {
         f.ReplyMark = 0x04;
         f.ReplyText = "00002000";
         f.QueryResult = 1;
         f.ReplyComplete = true;
     },
     {}},
    {"QueryReplyDataRestartsSkipping",
     rsQuery,
     "Kiwu",
     {0xA8, 0x01, 0xA8, 0x02, 0x05, 0xAA},
     [](TReplyFields& f) {
         f.ReplyMark = 0x02;
         f.ReplyText = "05";
         f.QueryResult = 1;
         f.ReplyComplete = true;
     },
     {}},
    {"QueryCollectsUnsupportedAsValue",
     rsQuery,
     "Kiwu",
     {0xA8, 0x01, 0xA7, 0xAA},
     [](TReplyFields& f) {
         f.ReplyMark = 0x01;
         f.ReplyText = "A7";
         f.QueryResult = 1;
         f.ReplyComplete = true;
     },
     {Unsupported}},
    {"QueryUnfinishedValueStaysActive",
     rsQuery,
     "Kiwu",
     {0xA8, 0x02, 0x1E, 0x93},
     [](TReplyFields& f) {
         f.ReplyMark = 0x02;
         f.ReplyText = "1E93";
         f.ReplyActive = true;
     },
     {}},
    {"QueryBytesAfterTheEndAreIgnored",
     rsQuery,
     "Kiwu",
     {0xA8, 0x02, 0x07, 0xAA, 0x09, 0xAB},
     [](TReplyFields& f) {
         f.ReplyMark = 0x02;
         f.ReplyText = "07";
         f.QueryResult = 1;
         f.ReplyComplete = true;
     },
     {Failed}},
    {"BufferDone", rsProgram, "Kiwu", {0xA9}, [](TReplyFields& f) { f.BufferDone = true; }, {}},
    {"ProgramIgnoresOk", rsProgram, "Kiwu", {0xAA}, nullptr, {}},
    {"ProgramWarnsOfFailure", rsProgram, "Kiwu", {0xAB}, nullptr, {Failed}},
    {"ProgramDone",
     rsProgramEnd,
     "Kiwu",
     {0xAA},
     [](TReplyFields& f) { f.ProgramDone = true; },
     {}},
    {"ProgramEndIgnoresBufferDone", rsProgramEnd, "Kiwu", {0xA9}, nullptr, {}},
    {"VerifyUnsupported",
     rsVerify,
     "Kiwu",
     {0xA7},
     [](TReplyFields& f) { f.VerifySupported = false; },
     {Unsupported}},
    {"VerifyStreamIgnoresVerdicts", rsVerify, "Kiwu", {0xAA, 0xAB}, nullptr, {Failed}},
    {"VerifyEqual", rsVerifyEnd, "Kiwu", {0xAA}, [](TReplyFields& f) { f.VerifyResult = 1; }, {}},
    {"VerifyDifferent",
     rsVerifyEnd,
     "Kiwu",
     {0xAB},
     [](TReplyFields& f) { f.VerifyResult = -1; },
     {Failed}},
    {"VerifyEndIgnoresUnsupported", rsVerifyEnd, "Kiwu", {0xA7}, nullptr, {Unsupported}},
};

INSTANTIATE_TEST_SUITE_P(AllStates, ReplyReceptionTest, ::testing::ValuesIn(Cases),
                         [](const auto& param) { return std::string(param.param.Name); });

TEST(ReplyReception, QueryTextUsesTwoUpperCaseDigitsPerByte) {
    TReplyFields f;
    f.ReplyState = rsQuery;
    const TBytes bytes = {0xA8, 0x00, 0x0A, 0xFE, 0x00, 0xAA};
    ReceiveReplyBytes(f, bytes, "", "$0", nullptr);
    EXPECT_EQ(f.ReplyText, "0AFE00");
}

TEST(ReplyReception, WarningNamesTheLastCommand) {
    TReplyFields f;
    std::vector<std::string> log;
    const TBytes bytes = {0xAB, 0xA7};
    ReceiveReplyBytes(f, bytes, "", "$7", [&](const std::string& t) { log.push_back(t); });
    EXPECT_EQ(log, (std::vector<std::string>{"Kommando \"$7\" fehlgeschlagen",
                                             "Kommando \"$7\" nicht unterstützt"}));
}

}  // namespace
}  // namespace tarnwick
