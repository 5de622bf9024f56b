// Whole update runs over a pseudo-terminal against the simulated device. The byte stream
// the host must send is built here from the protocol rules, with a CRC routine of the test's
// own, and compared with what the device recorded.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "bootloader/bootloader.h"
#include "comport/com_port.h"
#include "comport/main_thread_dispatcher.h"
#include "devsim_process.h"
#include "update_run_support.h"

namespace tarnwick {
namespace {

using namespace test;

enum class TClosing { None, WithoutSuccess, WithSuccess };

struct TRunCase {
    const char* Name;
    std::vector<std::string> DevsimArgs;
    std::string Password = "Kiwu";
    bool Program = true;
    bool Verify = true;
    int CancelAtProgramPosition = -1;
    std::vector<std::string> Messages;  // all but the final duration line
    TClosing Closing = TClosing::WithSuccess;
    bool Cancelled = false;
    std::vector<std::string> Dialogs = {};
    std::vector<bool> Answers = {true};
    bool DeviceOffAtFirst = false;  // the device must have missed the first bytes
    bool PreloadImage = false;      // the device starts with the image in its flash
    TBytes Sent = {};  // TClosing::None: all the device received (default: 201 rounds of 0xFF)
};

std::ostream& operator<<(std::ostream& os, const TRunCase& c) {
    return os << c.Name;
}

const std::string VerifyAsk =
    "ask: Hinweise: Um die Funktionssicherheit zu erhöhen, sollte die geschrieben Software "
    "überprüft werden.";

TBytes Join201RoundsAndConfirm() {
    TBytes bytes(201, 0xFF);
    bytes.push_back(0xA5);
    return bytes;
}

const TRunCase RunCases[] = {
    // The device comes up while the password rounds run (they start 4 s after the port
    // opened); the first CRC check covers bytes it never saw, fails, and does not matter.
    {"DeviceSwitchedOnLateConnectsOnALaterCycle",
     {"--power-on-delay", "5000"},
     "Kiwu",
     true,
     true,
     -1,
     Join({{Connected2, "[--L]Kommando \"$6\" fehlgeschlagen", CrcOn},
           DeviceInfo,
           {CrcOk, Programming, Programmed, Verifying, Verified, CrcOk}}),
     TClosing::WithSuccess,
     false,
     {},
     {true},
     true},
    {"ProgramOnlyOffersVerificationAndNoGoesStraightToTheCheck",
     {},
     "Kiwu",
     true,
     false,
     -1,
     Join({{Connected2, CrcOn}, DeviceInfo, {CrcOk, Programming, Programmed, CrcOk}}),
     TClosing::WithSuccess,
     false,
     {WarningAsk, SwitchOff, VerifyAsk},
     {true, false}},
    {"ProgramOnlyOfferAcceptedVerifiesToo",
     {},
     "Kiwu",
     true,
     false,
     -1,
     FullSuccess,
     TClosing::WithSuccess,
     false,
     {WarningAsk, SwitchOff, VerifyAsk},
     {true, true}},
    {"VerifyOnlyOfAProgrammedDeviceSucceeds",
     {},
     "Kiwu",
     false,
     true,
     -1,
     Join({{Connected2, CrcOn}, DeviceInfo, {CrcOk, Verifying, Verified, CrcOk}}),
     TClosing::WithSuccess,
     false,
     {},
     {true},
     false,
     true},
    // The simulated device starts erased, so verifying alone finds a difference.
    {"VerifyOnlySendsNoProgrammingStream",
     {},
     "Kiwu",
     false,
     true,
     -1,
     Join({{Connected2, CrcOn},
           DeviceInfo,
           {CrcOk, Verifying, "[--L]Kommando \"$7\" fehlgeschlagen",
            "[B-L]Gespeichertes Programm stimmt nicht mit Datei überein"}}),
     TClosing::WithoutSuccess},
    {"SuccessfulRunProgramsAndVerifies", {}, "Kiwu", true, true, -1, FullSuccess},
    {"VerificationRefusedStillSucceeds",
     {"--no-verify"},
     "Kiwu",
     true,
     true,
     -1,
     Join({{Connected2, CrcOn},
           DeviceInfo,
           {CrcOk, Programming, Programmed, Verifying, "[--L]Kommando \"$7\" nicht unterstützt",
            "[--L]Überprüfen nicht möglich (nicht implementiert)", CrcOk}})},
    {"CrcCheckRefusedCountsAsPassed",
     {"--no-crc"},
     "Kiwu",
     true,
     true,
     -1,
     Join({{Connected2, "[--L]Kommando \"$6\" nicht unterstützt", "[-I-]CRC-Check: deaktiviert"},
           DeviceInfo,
           {"[--L]Kommando \"$6\" nicht unterstützt", Programming, Programmed, Verifying, Verified,
            "[--L]Kommando \"$6\" nicht unterstützt"}})},
    {"UnsupportedVersion",
     {"--boot-version", "2.10"},
     "Kiwu",
     true,
     true,
     -1,
     {Connected2, CrcOn, "[-I-]Bootloader-Version: 2.10",
      "[B-L]Bootloder-Version \"2.10\" wird nicht unterstützt (unterstüzte Version: \"2.1\")",
      "[-I-]Baustein: ATmega8", "[-I-]Buffergröße: 4 Byte", "[-I-]Flash: 8192 Byte", InfoFailed},
     TClosing::WithoutSuccess},
    {"UnknownChip",
     {"--signature", "1E930700"},
     "Kiwu",
     true,
     true,
     -1,
     {Connected2, CrcOn, "[-I-]Bootloader-Version: 2.1", "[-I-]Baustein: Unbekannt",
      "[B-L]Baustein \"Unbekannt\" nicht beschreibbar", "[-I-]Buffergröße: 4 Byte",
      "[-I-]Flash: 8192 Byte", InfoFailed},
     TClosing::WithoutSuccess},
    {"FlashTooLargeForTheTool",
     {"--flash", "262145"},
     "Kiwu",
     true,
     true,
     -1,
     {Connected2, CrcOn, "[-I-]Bootloader-Version: 2.1", "[-I-]Baustein: ATmega8",
      "[-I-]Buffergröße: 4 Byte", "[-I-]Flash: 262145 Byte",
      "[B-L]Flash-Größe vom Baustein (262145 Byte) überschreitet Obergrenze von diesem Tool "
      "(262144 Byte)",
      InfoFailed},
     TClosing::WithoutSuccess},
    // The last image byte (address 9) would lie one past the end of a 9-byte flash; the
    // image spans 10 bytes.
    {"ImageEndingAtTheFlashSizeIsRefused",
     {"--flash", "9"},
     "Kiwu",
     true,
     true,
     -1,
     {Connected2, CrcOn, "[-I-]Bootloader-Version: 2.1", "[-I-]Baustein: ATmega8",
      "[-I-]Buffergröße: 4 Byte", "[-I-]Flash: 9 Byte",
      "[B-L]Die ausgewählte Datei (10 Byte) überschreitet den Speicherbereich des Controllers "
      "(9 Byte)"},
     TClosing::WithoutSuccess},
    {"ImageFillingTheWholeFlashIsProgrammed",
     {"--flash", "10"},
     "Kiwu",
     true,
     true,
     -1,
     {Connected2, CrcOn, "[-I-]Bootloader-Version: 2.1", "[-I-]Baustein: ATmega8",
      "[-I-]Buffergröße: 4 Byte", "[-I-]Flash: 10 Byte", CrcOk,
      "[-IL]Programmiere 9 von 10 Bytes Flash", Programmed, "[-IL]Überprüfe 9 von 10 Bytes Flash",
      Verified, CrcOk}},
    {"BufferNotAcknowledged",
     {"--withhold-ack", "2"},
     "Kiwu",
     true,
     true,
     -1,
     Join({{Connected2, CrcOn}, DeviceInfo, {CrcOk, Programming, "[B-L]Baustein reagiert nicht"}}),
     TClosing::WithoutSuccess},
    {"WrongVerdictIsAMismatch",
     {"--wrong-verdict"},
     "Kiwu",
     true,
     true,
     -1,
     VerifyMismatch,
     TClosing::WithoutSuccess},
    // Byte 19 after the connection is the first image byte: 4 CRC, 8 query, 4 CRC, 2 command.
    {"CorruptedImageByteFailsVerification",
     {"--corrupt-byte", "19"},
     "Kiwu",
     true,
     true,
     -1,
     VerifyMismatch,
     TClosing::WithoutSuccess},
    {"SilentDeviceUsesUpAllRounds",
     {"--silent"},
     "",
     true,
     true,
     -1,
     {"[B-L]Maximale Anzahl Verbindungsversuche (200) überschritten"},
     TClosing::None},
    // Every other result of the run, each from a device that stops answering at one point.
    {.Name = "PasswordAcceptedButNotConfirmed",
     .DevsimArgs = {"--withhold-confirm"},
     .Messages = {"[B-L]Zeitüberschreitung beim Senden"},
     .Closing = TClosing::None,
     .Sent = {'K', 'i', 'w', 'u', 0xFF, 0xA5}},
    // The 201st round is the last (200 rounds of one byte, and one more): accepted there but
    // not confirmed, the rounds were left early, not used up.
    {.Name = "AcceptedInTheLastRoundButNotConfirmed",
     .DevsimArgs = {"--withhold-confirm", "--accept-from-byte", "201"},
     .Password = "",
     .Messages = {"[B-L]Zeitüberschreitung beim Senden"},
     .Closing = TClosing::None,
     .Sent = Join201RoundsAndConfirm()},
    // The first check's verdict does not matter; the second one's does.
    {.Name = "NoVerdictAfterTheCrcBytes",
     .DevsimArgs = {"--withhold-crc-verdict", "2"},
     .Messages = Join({{Connected2, CrcOn}, DeviceInfo, {"[B-L]Prüfsummenfehler"}}),
     .Closing = TClosing::WithoutSuccess},
    {.Name = "NoAcknowledgementAfterTheEndOfProgramming",
     .DevsimArgs = {"--withhold-program-end"},
     .Messages = Join({{Connected2, CrcOn},
                       DeviceInfo,
                       {CrcOk, Programming, "[B-L]Programmieren fehlgeschlagen"}}),
     .Closing = TClosing::WithoutSuccess},
    {.Name = "NoVerdictAfterVerification",
     .DevsimArgs = {"--withhold-verdict"},
     .Messages =
         Join({{Connected2, CrcOn},
               DeviceInfo,
               {CrcOk, Programming, Programmed, Verifying, "[B-L]Baustein reagiert nicht"}}),
     .Closing = TClosing::WithoutSuccess},
    {"SingleWireEchoIsReported",
     {"--echo"},
     "Kiwu",
     true,
     true,
     -1,
     Join({{"[-I-]Verbunden: 1-Draht-Modus", CrcOn},
           DeviceInfo,
           {CrcOk, Programming, Programmed, Verifying, Verified, CrcOk}}),
     TClosing::WithSuccess,
     false,
     {WarningAsk, SwitchOff, "notice: Dieser Modus wurde noch nicht getestet!!!"}},
    {"CancelDuringProgramming",
     {},
     "Kiwu",
     true,
     true,
     2,
     Join({{Connected2, CrcOn}, DeviceInfo, {CrcOk, Programming, "[B-L]Abbruch durch Benutzer"}}),
     TClosing::WithoutSuccess,
     true},
};

class UpdateRunTest : public ::testing::TestWithParam<TRunCase> {};

TEST_P(UpdateRunTest, EndsWithItsMessagesAndClosingCommands) {
    const TRunCase& c = GetParam();
    TMainThreadDispatcher::Instance().SetMainThread();
    TTempDir dir;
    std::vector<std::string> args = {"--buffer", "4"};
    args.insert(args.end(), c.DevsimArgs.begin(), c.DevsimArgs.end());
    args.insert(args.end(), {"--password", c.Password});
    if (c.PreloadImage) {
        const std::string preload = dir.File("preload.bin");
        std::ofstream(preload, std::ios::binary)
            .write(reinterpret_cast<const char*>(Image10.data()),
                   static_cast<std::streamsize>(Image10.size()));
        args.insert(args.end(), {"--flash-in", preload});
    }
    TDevsim device(args, dir.Path());

    const TBuffer image = FlashImage10();

    TRecorder owner;
    owner.Password = c.Password;
    owner.Port = device.PortPath();
    owner.Program = c.Program;
    owner.Verify = c.Verify;
    owner.CancelAtProgramPosition = c.CancelAtProgramPosition;
    owner.Answers = c.Answers;
    TUpdateOutcome outcome;
    bool closedAfter = false;
    {
        TComPort port;
        TBootloader bootloader(owner, port);
        owner.Bootloader = &bootloader;
        bootloader.SetImage(image, static_cast<std::int32_t>(Image10.size() - 1));
        outcome = bootloader.RunUpdate();
        closedAfter = !port.Connected();
        EXPECT_FALSE(bootloader.UpdateRunning);
    }
    const auto trace = device.Stop();
    const TBytes sent = TraceBytes(trace);

    // Messages in order, the duration last.
    ASSERT_FALSE(owner.Messages.empty());
    EXPECT_EQ(owner.Messages.back().rfind("[-I-]Gesamtdauer: 00:0", 0), 0u)
        << owner.Messages.back();
    const std::vector<std::string> messages(owner.Messages.begin(), owner.Messages.end() - 1);
    EXPECT_EQ(messages, c.Messages);
    const std::vector<std::string> dialogs =
        c.Dialogs.empty() ? std::vector<std::string>{WarningAsk, SwitchOff} : c.Dialogs;
    EXPECT_EQ(owner.Dialogs, dialogs);

    // The closing steps ran whatever happened.
    EXPECT_TRUE(closedAfter);
    EXPECT_TRUE(owner.InputsEnabled);
    EXPECT_FALSE(owner.CancelEnabled);
    ASSERT_FALSE(owner.Hints.empty());
    EXPECT_EQ(owner.Hints.back(), "-");
    EXPECT_EQ(outcome.SuccessSent, c.Closing == TClosing::WithSuccess);
    EXPECT_EQ(outcome.Cancelled, c.Cancelled);
    EXPECT_TRUE(outcome.Started);
    EXPECT_FALSE(outcome.Error);

    ASSERT_FALSE(sent.empty());
    auto endsWith = [&](const TBytes& tail) {
        return sent.size() >= tail.size() &&
               std::equal(tail.begin(), tail.end(), sent.end() - static_cast<long>(tail.size()));
    };
    const bool missed =
        std::any_of(trace.begin(), trace.end(), [](const auto& e) { return e.Note == "off"; });
    EXPECT_EQ(missed, c.DeviceOffAtFirst);
    if (!c.Program) {
        const TBytes programCommand = {0xA5, 0x04};
        EXPECT_EQ(
            std::search(sent.begin(), sent.end(), programCommand.begin(), programCommand.end()),
            sent.end());
    }
    switch (c.Closing) {
        case TClosing::WithSuccess:
            EXPECT_TRUE(endsWith({0xA5, 0x80, 0xA5, 0xA5, 0xA5, 0x05}));
            break;
        case TClosing::WithoutSuccess:
            EXPECT_TRUE(endsWith({0xA5, 0x80, 0xA5, 0xA5}));
            EXPECT_FALSE(endsWith({0xA5, 0x05}));
            break;
        case TClosing::None:
            // Only connection rounds: with an empty password every byte is 0xFF.
            EXPECT_EQ(sent, c.Sent.empty() ? TBytes(201, 0xFF) : c.Sent);
            break;
    }
}

INSTANTIATE_TEST_SUITE_P(Devsim, UpdateRunTest, ::testing::ValuesIn(RunCases),
                         [](const auto& param) { return std::string(param.param.Name); });

// The exact stream of a successful run with both passes.
TEST(UpdateRun, SendsTheExactByteStreamAndLeavesTheImageInFlash) {
    TMainThreadDispatcher::Instance().SetMainThread();
    TTempDir dir;
    TDevsim device({"--buffer", "4"}, dir.Path());
    const TBuffer image = FlashImage10();
    TRecorder owner;
    owner.Port = device.PortPath();
    std::vector<double> times;
    TimeVerifyBytes(owner, times);
    TUpdateOutcome outcome;
    std::uint16_t crcAfter = 0;
    {
        TComPort port;
        TBootloader bootloader(owner, port);
        bootloader.SetImage(image, 9);
        outcome = bootloader.RunUpdate();
        crcAfter = bootloader.LinkCrc;
    }
    const auto trace = device.Stop();
    const TBytes sent = TraceBytes(trace);
    EXPECT_TRUE(outcome.SuccessSent);

    // The connection rounds: whole password cycles until the device accepted.
    const TBytes cycle = {'K', 'i', 'w', 'u', 0xFF};
    std::size_t cycles = 0;
    while ((cycles + 1) * cycle.size() <= sent.size() &&
           std::equal(cycle.begin(), cycle.end(), sent.begin() + cycles * cycle.size()))
        ++cycles;
    ASSERT_GE(cycles, 1u);

    TExpectedStream want;
    for (std::size_t i = 0; i < cycles; ++i)
        want.Add(cycle);
    want.Add({0xA5});  // confirmation
    want.CrcExchange();
    want.Add({0xA5, 0x00, 0xA5, 0x02, 0xA5, 0x01, 0xA5, 0x03});
    want.CrcExchange();
    want.Add({0xA5, 0x04});
    want.Data(Image10);
    want.Add({0xA5, 0x80});
    want.Add({0xA5, 0x07});
    want.Data(Image10);
    want.Add({0xA5, 0x80});
    want.CrcExchange();
    want.Add({0xA5, 0x80, 0xA5, 0xA5, 0xA5, 0x05});
    EXPECT_EQ(sent, want.Bytes);
    // The register keeps running over the closing commands, for the next run's first check.
    EXPECT_EQ(crcAfter, want.Crc);

    // Escapes as they must look on the wire, at the buffer-full edges.
    const TBytes program(sent.begin() + static_cast<long>(cycles * 5 + 1 + 4 + 8 + 4),
                         sent.begin() + static_cast<long>(cycles * 5 + 1 + 4 + 8 + 4 + 16));
    EXPECT_EQ(program, (TBytes{0xA5, 0x04, 0x01, 0x02, 0x11, 0xA5, 0x93, 0xA5, 0x25, 0x80, 0x25,
                               0xA5, 0x25, 0x93, 0xFF, 0xA5}));

    // Every image byte of the verification stream held its pacing window for each of its
    // bytes on the wire, timed on the host, where load only lengthens a window (the gaps
    // themselves are measured in bench/bootloader).
    ExpectVerifyWindows(times, Image10, ByteTimeout);

    const TBytes flash = device.Flash();
    ASSERT_EQ(flash.size(), 8192u);
    EXPECT_TRUE(std::equal(Image10.begin(), Image10.end(), flash.begin()));
    EXPECT_TRUE(
        std::all_of(flash.begin() + 10, flash.end(), [](std::uint8_t b) { return b == 0xFF; }));
}

// The adapter is pulled out in the middle of programming: the run must still close the
// port, give the inputs back and say what happened.
TEST(UpdateRun, DeviceVanishingDuringProgrammingIsReportedAndClosed) {
    TMainThreadDispatcher::Instance().SetMainThread();
    TTempDir dir;
    auto device = std::make_unique<TDevsim>(std::vector<std::string>{"--buffer", "4"}, dir.Path());
    const TBuffer image = FlashImage10();
    TRecorder owner;
    owner.Port = device->PortPath();
    owner.OnProgress = [&](TProgressBar Bar, int Position) {
        if (Bar == pbProgram && Position == 2 && device)
            device.reset();
    };
    TUpdateOutcome outcome;
    bool closedAfter = false;
    {
        TComPort port;
        TBootloader bootloader(owner, port);
        bootloader.SetImage(image, 9);
        outcome = bootloader.RunUpdate();
        closedAfter = !port.Connected();
        EXPECT_FALSE(bootloader.UpdateRunning);
    }
    EXPECT_TRUE(closedAfter);
    EXPECT_TRUE(owner.InputsEnabled);
    EXPECT_FALSE(owner.CancelEnabled);
    EXPECT_TRUE(outcome.Error);
    EXPECT_FALSE(outcome.SuccessSent);
    ASSERT_GE(owner.Messages.size(), 3u);
    EXPECT_EQ(owner.Messages[owner.Messages.size() - 3], Programming);
    EXPECT_EQ(owner.Messages[owner.Messages.size() - 2].rfind("[B-L]Fehler: ", 0), 0u)
        << owner.Messages[owner.Messages.size() - 2];
    EXPECT_EQ(owner.Messages.back().rfind("[-I-]Gesamtdauer: ", 0), 0u);
}

TEST(UpdateRun, NeitherBoxTickedOnlyShowsTheNotice) {
    TMainThreadDispatcher::Instance().SetMainThread();
    TRecorder owner;
    owner.Port = "/dev/null/none";
    owner.Program = false;
    owner.Verify = false;
    TComPort port;
    TBootloader bootloader(owner, port);
    const TUpdateOutcome outcome = bootloader.RunUpdate();
    EXPECT_FALSE(outcome.Started);
    EXPECT_EQ(owner.Dialogs,
              (std::vector<std::string>{"notice: Der Baustein musst mindestens programmiert oder "
                                        "überprüft werden."}));
    EXPECT_TRUE(owner.Messages.empty());
}

TEST(UpdateRun, NoToTheWarningTouchesNoPort) {
    TMainThreadDispatcher::Instance().SetMainThread();
    TRecorder owner;
    owner.Port = "/dev/null/none";
    owner.Answers = {false};
    TComPort port;
    TBootloader bootloader(owner, port);
    const TUpdateOutcome outcome = bootloader.RunUpdate();
    EXPECT_TRUE(outcome.Started);
    EXPECT_FALSE(outcome.Error);
    EXPECT_FALSE(outcome.Connected);
    EXPECT_EQ(owner.Dialogs, std::vector<std::string>{WarningAsk});
    ASSERT_EQ(owner.Messages.size(), 1u);
    EXPECT_EQ(owner.Messages[0], "[-I-]Gesamtdauer: 00:00:00");
}

TEST(UpdateRun, PortThatCannotOpenStillReachesTheClosingSteps) {
    TMainThreadDispatcher::Instance().SetMainThread();
    TRecorder owner;
    owner.Port = "/dev/tarnwick-no-such-port";
    TComPort port;
    TBootloader bootloader(owner, port);
    const TUpdateOutcome outcome = bootloader.RunUpdate();
    EXPECT_TRUE(outcome.Error);
    EXPECT_FALSE(bootloader.UpdateRunning);
    EXPECT_TRUE(owner.InputsEnabled);
    ASSERT_EQ(owner.Messages.size(), 2u);
    EXPECT_EQ(owner.Messages[0].rfind("[B-L]Fehler: Der Port \"/dev/tarnwick-no-such-port\" kann "
                                      "nicht geöffnet werden (",
                                      0),
              0u)
        << owner.Messages[0];
    EXPECT_EQ(owner.Messages[1].rfind("[-I-]Gesamtdauer: ", 0), 0u);
}

}  // namespace
}  // namespace tarnwick
