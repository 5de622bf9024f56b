// Intel-HEX files for the window tests, built from the shared records.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "hex_record.h"

namespace tarnwick::test {

// One record as a line of a file, CR LF included.
inline std::string HexLine(std::uint8_t Type, std::uint16_t Address,
                           const std::vector<std::uint8_t>& Data, int ChecksumError = 0) {
    return HexRecord(Type, Address, Data, ChecksumError) + "\r\n";
}

inline const std::string HexEnd = EofRecord + "\r\n";

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
