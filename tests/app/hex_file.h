// Intel-HEX text for the tests, checksums included.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace tarnwick::test {

inline std::string HexLine(std::uint8_t Type, std::uint16_t Address,
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
    return line + "\r\n";
}

inline const std::string HexEnd = ":00000001FF\r\n";

// Data records of 16 bytes covering addresses 0 .. Length - 1, byte value = low
// address byte plus Seed; with the end record when Complete.
inline std::string HexImage(int Length, std::uint8_t Seed = 0, bool Complete = true) {
    std::string text;
    for (int address = 0; address < Length; address += 16) {
        std::vector<std::uint8_t> data;
        for (int i = address; i < Length && i < address + 16; ++i) {
            data.push_back(static_cast<std::uint8_t>((i & 0xFF) + Seed));
        }
        text += HexLine(0x00, static_cast<std::uint16_t>(address), data);
    }
    return Complete ? text + HexEnd : text;
}

}  // namespace tarnwick::test
