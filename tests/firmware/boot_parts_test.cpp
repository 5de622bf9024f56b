// The bootloader's CRC, escape decoder and password matcher, as the chip runs them.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

extern "C" {
#include "boot_crc.h"
#include "boot_password.h"
#include "boot_stream.h"
}

namespace {

std::uint16_t Crc(const std::vector<std::uint8_t>& bytes, std::uint16_t crc = 0) {
    for (const std::uint8_t b : bytes)
        crc = boot_crc_update(crc, b);
    return crc;
}

TEST(BootCrc, IsCrc16ArcAndEndsAtZeroAfterItsOwnValue) {
    const std::string check = "123456789";
    EXPECT_EQ(Crc(std::vector<std::uint8_t>(check.begin(), check.end())), 0xBB3D);
    // The host's example: 0xA5 0x06 from 0 gives 0x52FB, sent low byte first.
    EXPECT_EQ(Crc({0xA5, 0x06}), 0x52FB);
    const std::vector<std::vector<std::uint8_t>> runs = {
        {0xA5, 0x06}, {0x4B, 0x69, 0x77, 0x75, 0xFF, 0xA5}, {0x00}, {0xFF, 0xFF, 0x13}};
    for (const auto& run : runs) {
        const std::uint16_t crc = Crc(run);
        EXPECT_EQ(Crc({static_cast<std::uint8_t>(crc), static_cast<std::uint8_t>(crc >> 8)}, crc),
                  0)
            << run.size();
    }
}

TEST(BootStream, DecodesTheThreeEscapesAndCallsAllOthersBroken) {
    for (int second = 0; second < 256; ++second) {
        int expected = BOOT_STREAM_BROKEN;
        if (second == 0x93)
            expected = 0x13;
        else if (second == 0x25)
            expected = 0xA5;
        else if (second == 0x80)
            expected = BOOT_STREAM_END;
        EXPECT_EQ(boot_unescape(static_cast<std::uint8_t>(second)), expected) << second;
    }
}

// The host's rounds, as a chip switched on at any byte of them hears them: the password
// must be recognised at the 0xFF of the first whole round heard, never earlier.
TEST(BootPassword, CatchesTheFirstWholeRoundFromEveryStartingPoint) {
    const std::vector<std::string> passwords = {
        "Kiwu", "", "x", "aab", "abab", std::string(32, 'Q'), "0123456789abcdefghijklmnopqrstuv"};
    for (const std::string& pw : passwords) {
        std::vector<std::uint8_t> round(pw.begin(), pw.end());
        round.push_back(BOOT_PASSWORD_END);
        const std::vector<std::uint8_t> text(pw.begin(), pw.end());
        for (std::size_t start = 0; start < round.size(); ++start) {
            boot_password_t m;
            boot_password_init(&m, text.data(), static_cast<std::uint8_t>(text.size()));
            // The first whole round begins at the next round start (now, if start is 0).
            const std::size_t first = start == 0 ? 0 : round.size() - start;
            const std::size_t expected = first + round.size() - 1;
            std::size_t heard = 0, matchedAt = SIZE_MAX;
            for (; heard < 3 * round.size() && matchedAt == SIZE_MAX; ++heard)
                if (boot_password_feed(&m, round[(start + heard) % round.size()]))
                    matchedAt = heard;
            EXPECT_EQ(matchedAt, expected) << '"' << pw << "\" from byte " << start;
        }
    }
}

TEST(BootPassword, RefusesNearMisses) {
    const std::vector<std::uint8_t> kiwu = {'K', 'i', 'w', 'u'};
    const std::vector<std::vector<std::uint8_t>> misses = {
        {'K', 'i', 'w', 0xFF},       {'K', 'i', 'w', 'u', 'u', 0xFF},
        {'k', 'i', 'w', 'u', 0xFF},  {'x', 'K', 'i', 'w', 'u', 0xFF},
        {0xFF, 'i', 'w', 'u', 0xFF}, {'K', 'i', 'K', 'i', 'w', 'u', 0xFF},
    };
    for (std::size_t i = 0; i < misses.size(); ++i) {
        boot_password_t m;
        boot_password_init(&m, kiwu.data(), 4);
        bool matched = false;
        for (const std::uint8_t b : misses[i])
            matched = boot_password_feed(&m, b) || matched;
        EXPECT_FALSE(matched) << i;
        // The next whole round after a miss is caught.
        for (const std::uint8_t b : kiwu)
            EXPECT_FALSE(boot_password_feed(&m, b));
        EXPECT_TRUE(boot_password_feed(&m, 0xFF)) << i;
    }
}

}  // namespace
