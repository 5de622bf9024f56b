// The bytes a serial number takes in the image, and where it may go.

#include <gtest/gtest.h>

#include <optional>
#include <vector>

#include "station/serial_number.h"

namespace tarnwick {
namespace {

struct TBytesCase {
    const char* Format;
    std::uint64_t Number;
    std::optional<std::vector<std::uint8_t>> Bytes;  // none: does not fit
};

const TBytesCase BytesCases[] = {
    {"u16le", 0x1234, std::vector<std::uint8_t>{0x34, 0x12}},
    {"u16be", 0x1234, std::vector<std::uint8_t>{0x12, 0x34}},
    {"u16le", 0x10000, std::nullopt},
    {"u32le", 1000, std::vector<std::uint8_t>{0xE8, 0x03, 0x00, 0x00}},
    {"u32be", 0xA1B2C3D4, std::vector<std::uint8_t>{0xA1, 0xB2, 0xC3, 0xD4}},
    {"u32le", 0x100000000, std::nullopt},
    {"dec:6", 4711, std::vector<std::uint8_t>{'0', '0', '4', '7', '1', '1'}},
    {"dec:3", 1000, std::nullopt},
    {"bcd:3", 123456, std::vector<std::uint8_t>{0x12, 0x34, 0x56}},
    {"bcd:2", 987, std::vector<std::uint8_t>{0x09, 0x87}},
    {"bcd:1", 100, std::nullopt},
};

TEST(SerialNumberTest, BytesOfEachFormat) {
    for (const TBytesCase& c : BytesCases) {
        const auto layout = ParseSerialFormat(c.Format, 0);
        ASSERT_TRUE(layout) << c.Format;
        EXPECT_EQ(SerialFormatText(*layout), c.Format);
        EXPECT_EQ(SerialBytes(*layout, c.Number), c.Bytes) << c.Format << " " << c.Number;
    }
    for (const char* wrong : {"u24le", "dec:0", "dec:21", "bcd:11", "bcd:x", "dec:4x", ""})
        EXPECT_FALSE(ParseSerialFormat(wrong, 0)) << wrong;
}

TEST(SerialNumberTest, GoesOnlyOverErasedBytesInsideTheFlash) {
    TBuffer image(MaxFlashSize, 0xFF);
    image[0x100] = 0x0C;  // a program byte
    struct TPlace {
        std::int64_t Address;
        bool Overwrite;
        bool Refused;
    };
    const TPlace places[] = {
        {0x104, false, false},             // next to the program
        {0xFE, false, true},               // its last byte would cover 0x100
        {0xFE, true, false},               // unless allowed
        {MaxFlashSize - 4, false, false},  // the last four bytes
        {MaxFlashSize - 3, true, true},    // past the end, allowed or not
    };
    for (const TPlace& p : places) {
        const auto layout = ParseSerialFormat("u32le", p.Address);
        EXPECT_EQ(!SerialPlaceProblem(image, *layout, p.Overwrite).empty(), p.Refused)
            << AddressText(p.Address);
    }
    // Beyond the image's highest address the image grows to hold the number.
    TBuffer small(0x10, 0xFF);
    std::int32_t highest = 0x0F;
    PlaceSerial(small, highest, *ParseSerialFormat("u16be", 0x20), {0xAB, 0xCD});
    EXPECT_EQ(highest, 0x21);
    ASSERT_EQ(small.size(), 0x22u);
    EXPECT_EQ(small[0x20], 0xAB);
    EXPECT_EQ(small[0x1F], 0xFF);
}

}  // namespace
}  // namespace tarnwick
