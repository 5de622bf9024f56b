// The bootloader's listening window on the emulated chip with an application already in
// it: a user who switches on at any moment from the request to switch on to the first
// rounds is caught by the default update (paced, with the power cycle), and without a host
// the application starts despite what else reaches RXD, also after a run that ended
// without touching it.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "chip_support.h"

namespace tarnwick {
namespace {

using namespace test;

const std::string Mcu = "atmega168";
constexpr std::size_t FlashBytes = 16384;

std::vector<std::string> WithApplication(std::vector<std::string> More) {
    More.insert(More.begin(), {"--app", SampleHex("blink-" + Mcu)});
    return More;
}

// Milliseconds after the host opens the port: the request to switch on comes at 3000, the
// first round at 4000.
class SwitchOnTest : public ::testing::TestWithParam<int> {};

TEST_P(SwitchOnTest, DefaultUpdateCatchesTheChipAndTheNewProgramRuns) {
    TTempDir dir;
    // Another program than the one in the chip: the blink sample with a few bytes after it.
    const std::string image = SampleWith(dir, "blink-" + Mcu, 0x00A2, TBytes(6, 0x5A));
    TEmulatedChip chip(
        Mcu, dir,
        WithApplication({"--power-on-open", "--power-on-delay", std::to_string(GetParam())}));
    const TProcessResult run = UpdateChip(chip, image, {});
    EXPECT_EQ(run.ExitCode, 0) << run.Out << run.Err;
    EXPECT_NE(run.Out.find("Gespeichertes Programm korrekt übertragen"), std::string::npos)
        << run.Out;
    EXPECT_TRUE(chip.SeenBlinking(std::chrono::seconds(10)));
    chip.Stop();
    EXPECT_EQ(chip.Flash(), ExpectedFlash(dir, image, Mcu, FlashBytes));
}

INSTANTIATE_TEST_SUITE_P(Avrsim, SwitchOnTest, ::testing::Values(3100, 3500, 3900, 4300),
                         [](const auto& param) { return "At" + std::to_string(param.param); });

// What reaches RXD while nobody updates, and must not keep a valid application from
// starting.
enum class TLine { ByteEvery300Ms, HeldLow, AbortedRun };

struct TStartCase {
    const char* Name;
    TLine Line;
};

std::ostream& operator<<(std::ostream& os, const TStartCase& c) {
    return os << c.Name;
}

class ApplicationStartTest : public ::testing::TestWithParam<TStartCase> {};

TEST_P(ApplicationStartTest, ValidApplicationStarts) {
    const TStartCase& c = GetParam();
    TTempDir dir;
    TEmulatedChip chip(
        Mcu, dir,
        WithApplication(c.Line == TLine::HeldLow ? std::vector<std::string>{"--rxd-low"}
                                                 : std::vector<std::string>{}));
    std::atomic<bool> stop{false};
    std::thread talker;
    if (c.Line == TLine::ByteEvery300Ms) {
        // A PC still polling the application's protocol; 'K' even starts the password.
        talker = std::thread([&] {
            TRawHost host(chip.PortPath());
            while (!stop) {
                host.Send({'K'});
                std::this_thread::sleep_for(std::chrono::milliseconds(300));
            }
        });
    } else if (c.Line == TLine::AbortedRun) {
        // A run that connects, verifies another program, fails and closes: the
        // application was never touched.
        const std::string other = SampleWith(dir, "blink-" + Mcu, 0x00A2, TBytes(6, 0x11));
        const TProcessResult run =
            UpdateChip(chip, other, {"--no-program", "--fast", "--no-power-cycle"});
        EXPECT_NE(run.ExitCode, 0) << run.Out;
        EXPECT_NE(run.Out.find("stimmt nicht mit Datei überein"), std::string::npos) << run.Out;
    }
    const bool blinking = chip.SeenBlinking(std::chrono::seconds(10));
    stop = true;
    if (talker.joinable())
        talker.join();
    EXPECT_TRUE(blinking);
    chip.Stop();
}

INSTANTIATE_TEST_SUITE_P(Avrsim, ApplicationStartTest,
                         ::testing::Values(TStartCase{"ByteEvery300Ms", TLine::ByteEvery300Ms},
                                           TStartCase{"RxdHeldLow", TLine::HeldLow},
                                           TStartCase{"AfterAnAbortedRun", TLine::AbortedRun}),
                         [](const auto& param) { return std::string(param.param.Name); });

// On one wire the host shows a box right after connecting that a person must click away:
// the session survives seconds of silence between commands, and the application already in
// the chip (untouched) does not start meanwhile; the closing command then starts it. On one
// wire every byte the host sends comes back to it before the chip's reply.
struct TSessionCase {
    const char* Name;
    std::string Mcu;
    bool OneWire;
};

std::ostream& operator<<(std::ostream& os, const TSessionCase& c) {
    return os << c.Name;
}

class ChipSession : public ::testing::TestWithParam<TSessionCase> {};

TEST_P(ChipSession, SilenceBetweenCommandsKeepsTheSession) {
    const TSessionCase& c = GetParam();
    TTempDir dir;
    std::vector<std::string> args = {"--power-on-open"};
    if (c.OneWire) {
        // The program comes in by an update, as the bootloader keeps its first word.
        TEmulatedChip first(c.Mcu, dir, OneWireChipArgs(c.Mcu));
        ASSERT_EQ(UpdateChip(first, SampleHex("blink-" + c.Mcu), OneWireFast).ExitCode, 0);
        first.Stop();
        const std::vector<std::string> wire = OneWireChipArgs(c.Mcu);
        args.insert(args.begin(), wire.begin(), wire.end());
    } else {
        args = WithApplication(args);
    }
    TEmulatedChip chip(c.Mcu, dir, args);
    TRawHost host(chip.PortPath(), c.OneWire ? B19200 : B115200);
    const auto exchange = [&](const TBytes& Out, std::size_t Reply, std::chrono::milliseconds T) {
        host.Send(Out);
        const std::size_t echo = c.OneWire ? Out.size() : 0;
        const TBytes got = host.Read(echo + Reply, T);
        return got.size() <= echo ? TBytes{} : TBytes(got.begin() + echo, got.end());
    };
    // The rounds byte by byte, 60 ms apart as the host paces them: the one-wire chip times
    // each byte.
    TBytes answer;
    for (int round = 0; round < 40 && answer.empty(); ++round) {
        for (const std::uint8_t byte : {'K', 'i', 'w', 'u'}) {
            exchange({byte}, 0, std::chrono::milliseconds(20));
            std::this_thread::sleep_for(std::chrono::milliseconds(60));
        }
        answer = exchange({0xFF}, 1, std::chrono::milliseconds(60));
    }
    ASSERT_EQ(answer, TBytes{0xA6});
    EXPECT_EQ(exchange({0xA5}, 1, std::chrono::seconds(2)), TBytes{0xAA});
    // The box stays open for 5 s; the application must not run meanwhile.
    EXPECT_FALSE(AnyPb0High(chip.PortBChanges(std::chrono::seconds(5))));
    EXPECT_EQ(exchange({0xA5, 0x00}, 5, std::chrono::seconds(3)),
              (TBytes{0xA8, 0x54, 0x02, 0x01, 0xAA}));
    host.Send({0xA5, 0x80});
    EXPECT_TRUE(chip.SeenBlinking(std::chrono::seconds(5)));
    chip.Stop();
}

INSTANTIATE_TEST_SUITE_P(Avrsim, ChipSession,
                         ::testing::Values(TSessionCase{"Uart", Mcu, false},
                                           TSessionCase{"OneWire", "attiny85", true}),
                         [](const auto& param) { return std::string(param.param.Name); });

}  // namespace
}  // namespace tarnwick
