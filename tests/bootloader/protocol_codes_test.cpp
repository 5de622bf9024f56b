#include "bootloader/protocol_codes.h"

#include <gtest/gtest.h>

#include <iterator>
#include <string>
#include <string_view>

#include "bootloader/device_info.h"

namespace tarnwick {
namespace {

TEST(CodeValue, ConvertsEveryCodeOfTheTable) {
    struct {
        std::string_view Code;
        int Value;
    } const cases[] = {
        {PrefixByte, 0xA5},      {EscapeByte, 0xA5},       {PasswordEnd, 0xFF},
        {ReplyPasswordOk, 0xA6}, {ReplyUnsupported, 0xA7}, {ReplyData, 0xA8},
        {ReplyBufferDone, 0xA9}, {ReplyOk, 0xAA},          {ReplyFailed, 0xAB},
        {EscapeOffset, 0x80},    {EndCode, 0x80},          {CmdVersion, 0x00},
        {CmdBufferSize, 0x01},   {CmdSignature, 0x02},     {CmdFlashSize, 0x03},
        {CmdProgram, 0x04},      {CmdSuccess, 0x05},       {CmdCrc, 0x06},
        {CmdVerify, 0x07},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(CodeValue(c.Code), c.Value) << c.Code;
    }
}

TEST(CodeValue, RefusesTextsThatAreNoCodes) {
    for (const std::string_view bad : {"", "$", "A5", "$a5", "$G", "#12"}) {
        EXPECT_EQ(CodeValue(bad), -1) << bad;
    }
}

TEST(HexByteText, AlwaysTwoUpperCaseDigits) {
    struct {
        std::uint8_t Value;
        const char* Text;
    } const cases[] = {{0x13, "$13"}, {0xA5, "$A5"}, {0x07, "$07"}, {0x00, "$00"}, {0xFF, "$FF"}};
    for (const auto& c : cases) {
        EXPECT_EQ(HexByteText(c.Value), c.Text);
    }
}

std::uint16_t Crc(std::string_view Bytes, std::uint16_t Start = 0) {
    std::uint16_t crc = Start;
    for (const char c : Bytes)
        crc = UpdateLinkCrc(crc, static_cast<std::uint8_t>(c));
    return crc;
}

TEST(LinkCrc, IsCrc16Arc) {
    EXPECT_EQ(Crc("123456789"), 0xBB3D);
    EXPECT_EQ(Crc(""), 0x0000);
    EXPECT_EQ(Crc(std::string_view("\xA5\x06", 2)), 0x52FB);
}

TEST(LinkCrc, RegisterIsZeroAfterSendingItsOwnValue) {
    for (const std::string_view data : {"123456789", "\xA5\x06", "Kiwu\xFF\xA5", "x"}) {
        const std::uint16_t crc = Crc(data);
        std::uint16_t after = UpdateLinkCrc(crc, static_cast<std::uint8_t>(crc & 0xFF));
        after = UpdateLinkCrc(after, static_cast<std::uint8_t>(crc >> 8));
        EXPECT_EQ(after, 0) << data;
    }
}

TEST(VersionText, ReadsTwoDecimalPairs) {
    struct {
        const char* Reply;
        std::optional<std::string> Text;
    } const cases[] = {
        {"0201", "2.1"},    {"0110", "1.10"},      {"0210", "2.10"},       {"020199", "2.1"},
        {"", std::nullopt}, {"020", std::nullopt}, {"0A01", std::nullopt}, {"02F1", std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(VersionText(c.Reply), c.Text) << c.Reply;
    }
}

TEST(DeviceName, LooksUpTheWholeSignature) {
    struct {
        const char* Reply;
        const char* Name;
    } const cases[] = {
        {"1E9307", "ATmega8"},
        {"1E9007", "ATtiny13"},
        {"1E9802", "ATmega2561"},
        {"1E930F", "ATmega88P"},
        {"1E930700", "Unbekannt"},
        {"1E93", "Unbekannt"},
        {"1e9307", "Unbekannt"},
        {"", "Unbekannt"},
        {"1E9999", "Unbekannt"},
        // The chips of the own bootloader firmware, after the original entries.
        {"1E950F", "ATmega328P"},
        {"1E960A", "ATmega644P"},
        {"1E9705", "ATmega1284P"},
        {"1E930A", "ATmega88"},
        {"1E9406", "ATmega168"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(DeviceName(c.Reply), c.Name) << c.Reply;
    }
}

TEST(DeviceTable, KeepsTheOriginalEntriesFirstAndInOrder) {
    const char* const original[] = {
        "1E9007:ATtiny13",   "1E910A:ATtiny2313", "1E9205:ATmega48",   "1E9206:ATtiny45",
        "1E9207:ATtiny44",   "1E9208:ATtiny461",  "1E9306:ATmega8515", "1E9307:ATmega8",
        "1E9308:ATmega8535", "1E930A:ATmega88",   "1E930B:ATtiny85",   "1E930C:ATtiny84",
        "1E930D:ATtiny861",  "1E930F:ATmega88P",  "1E9403:ATmega16",   "1E9404:ATmega162",
        "1E9406:ATmega168",  "1E9501:ATmega323",  "1E9502:ATmega32",   "1E9609:ATmega644",
        "1E9802:ATmega2561",
    };
    ASSERT_GE(DeviceTable.size(), std::size(original));
    for (std::size_t i = 0; i < std::size(original); ++i)
        EXPECT_EQ(DeviceTable[i], original[i]) << i;
}

TEST(HexValue, ReadsMostSignificantFirst) {
    struct {
        const char* Reply;
        std::optional<std::int64_t> Value;
    } const cases[] = {
        {"0400", 1024},       {"00008000", 32768},
        {"040000", 262144},   {"040001", 262145},
        {"0040", 64},         {"", std::nullopt},
        {"0G", std::nullopt}, {"FFFFFFFFFFFFFFFF", std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(HexValue(c.Reply), c.Value) << c.Reply;
    }
}

}  // namespace
}  // namespace tarnwick
