// Intel-HEX records for the tests, checksum included, without line end.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace tarnwick::test {

// ChecksumError is added to the correct checksum, to build a record the loader must refuse.
inline std::string HexRecord(std::uint8_t Type, std::uint16_t Address,
                             const std::vector<std::uint8_t>& Data, int ChecksumError = 0) {
    std::string line = ":";
    unsigned sum = 0;
    auto put = [&](std::uint8_t Byte) {
        char digits[3];
        std::snprintf(digits, sizeof digits, "%02X", Byte);
        line += digits;
        sum += Byte;
    };
    put(static_cast<std::uint8_t>(Data.size()));
    put(static_cast<std::uint8_t>(Address >> 8));
    put(static_cast<std::uint8_t>(Address & 0xFF));
    put(Type);
    for (const std::uint8_t byte : Data) {
        put(byte);
    }
    put(static_cast<std::uint8_t>((0x100 - (sum & 0xFF) + ChecksumError) & 0xFF));
    return line;
}

inline std::string DataRecord(std::uint16_t Address, const std::vector<std::uint8_t>& Data) {
    return HexRecord(0x00, Address, Data);
}

inline std::string SegmentRecord(std::uint16_t Segment) {
    return HexRecord(
        0x02, 0,
        {static_cast<std::uint8_t>(Segment >> 8), static_cast<std::uint8_t>(Segment & 0xFF)});
}

inline const std::string EofRecord = ":00000001FF";

}  // namespace tarnwick::test
