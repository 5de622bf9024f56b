// A hostile host before a normal one: it connects, then streams far past the application
// section without waiting for an acknowledgement, breaks escapes, sends a success command
// after the bad stream and goes silent in the middle of an escape. The bootloader must
// refuse every byte aimed at its own section, start again after the silence and take the
// next normal update.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <initializer_list>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "chip_support.h"

namespace tarnwick {
namespace {

using namespace test;

TBytes EveryByte(std::size_t Times, bool WithEscaped) {
    TBytes bytes;
    for (std::size_t t = 0; t < Times; ++t) {
        for (unsigned v = 0; v < 256; ++v) {
            const bool escaped = v == 0xA5 || v == 0x13;
            bytes.push_back(static_cast<std::uint8_t>(escaped && !WithEscaped ? 0 : v));
        }
    }
    return bytes;
}

TBytes Join(std::initializer_list<TBytes> Parts) {
    TBytes all;
    for (const TBytes& part : Parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

TEST(ChipHostileHost, BootSectionUntouchedAndTheNextUpdateSucceeds) {
    TTempDir dir;
    const std::string image = SampleHex("blink-14k-atmega328p");
    TEmulatedChip chip("atmega328p", dir);
    {
        TRawHost host(chip.PortPath());
        for (int round = 0; round < 3; ++round) {
            host.Send({'K', 'i', 'w', 'u', 0xFF});
            std::this_thread::sleep_for(std::chrono::milliseconds(60));
        }
        host.Send({0xA5});
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        // 40 KiB of programming: past the 31 KiB application section into the bootloader's.
        host.Send(Join({{0xA5, 0x04}, EveryByte(160, false)}));
        // A broken escape, the end, and the success command after the bad stream.
        host.Send(Join(
            {{0xA5, 0x05, 0xA5, 0xA5, 0xA5, 0x13}, EveryByte(4, true), {0xA5, 0x80, 0xA5, 0x05}}));
        // A stream cut off in an escape, then silence: the bootloader starts again.
        host.Send({0xA5, 0x04, 0xA5});
        // The bytes queued above take their line time (10 bits a byte at 115200 baud) to
        // reach the chip; the silence that restarts the bootloader begins after them.
        const std::size_t queued = 2 + 160 * 256 + 6 + 4 * 256 + 4 + 3;
        std::this_thread::sleep_for(std::chrono::microseconds(queued * 87) +
                                    std::chrono::seconds(3));
    }
    const TProcessResult run = UpdateChip(chip, image, {"--fast"});
    EXPECT_EQ(run.ExitCode, 0) << run.Out << run.Err;
    EXPECT_TRUE(chip.SeenBlinking(std::chrono::seconds(10)));
    const std::string said = chip.Stop();
    EXPECT_NE(said.find(", 0 Zugriffe auf den Bootbereich abgewiesen"), std::string::npos) << said;
    // The image's pages and the boot section as flashed; the application section beyond
    // the image keeps what the hostile stream wrote there, as on a chip.
    const auto flash = chip.Flash();
    const auto expected = ExpectedFlash(dir, image, "atmega328p", 32768);
    constexpr std::size_t BootStart = 0x7C00, Page = 128;
    std::size_t imageEnd = BootStart;
    while (imageEnd > 0 && expected[imageEnd - 1] == 0xFF)
        --imageEnd;
    imageEnd = (imageEnd + Page - 1) / Page * Page;
    ASSERT_EQ(flash.size(), expected.size());
    EXPECT_TRUE(std::equal(expected.begin(), expected.begin() + imageEnd, flash.begin()));
    EXPECT_TRUE(
        std::equal(expected.begin() + BootStart, expected.end(), flash.begin() + BootStart));
}

// A broken escape (0xA5 followed by a byte no escape has) in the middle of a programming
// stream: the pair counts as the one image byte the host counts it as, so every 0xA9 comes
// where the host waits for it, and the stream is answered 0xAB at its end.
TEST(ChipHostileHost, BrokenEscapeIsAcknowledgedInPlaceAndAnsweredFailed) {
    TTempDir dir;
    TEmulatedChip chip("atmega8", dir);
    TRawHost host(chip.PortPath());
    const auto reply = std::chrono::seconds(3);
    TBytes answer;
    for (int round = 0; round < 5 && answer.empty(); ++round) {
        host.Send({'K', 'i', 'w', 'u', 0xFF});
        answer = host.Read(1, std::chrono::milliseconds(300));
    }
    ASSERT_EQ(answer, TBytes{0xA6});
    host.Send({0xA5});
    ASSERT_EQ(host.Read(1, reply), TBytes{0xAA});
    // The buffer-full, as the host learns it: 0xA8, the skipped byte, two bytes, 0xAA.
    host.Send({0xA5, 0x01});
    const TBytes size = host.Read(5, reply);
    ASSERT_EQ(size.size(), 5u);
    const std::size_t buffer = static_cast<std::size_t>(size[2] << 8 | size[3]);
    ASSERT_GT(buffer, 2u);
    host.Send({0xA5, 0x04});
    for (int full = 0; full < 3; ++full) {
        TBytes bytes(buffer, 0x00);
        if (full == 1)
            bytes[buffer / 2] = 0xA5, bytes.insert(bytes.begin() + buffer / 2 + 1, 0x05);
        host.Send(bytes);
        EXPECT_EQ(host.Read(1, reply), TBytes{0xA9}) << "buffer-full " << full;
    }
    host.Send({0xA5, 0x80});
    EXPECT_EQ(host.Read(1, reply), TBytes{0xAB});
}

}  // namespace
}  // namespace tarnwick
