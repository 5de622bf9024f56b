// The rows of the program view: a hex dump of the image, 16 bytes per row.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "firmware_image.h"

namespace tarnwick {

// Column widths of the program view in pixels, and the row height.
inline constexpr int ProgramColumnWidths[5] = {80, 195, 20, 210, 150};
inline constexpr int ProgramRowHeight = 18;
// Progress is reported (and messages pumped) after this many written rows.
inline constexpr int ProgramRowsPerProgressStep = 50;

struct TProgramRow {
    std::string Address;  // column 0: "0000F0)"
    std::string Hex1;     // column 1: bytes 1..8, "XX " each
    std::string Dash;     // column 2: "-" when the row has 8 bytes or more
    std::string Hex2;     // column 3: bytes 9..16, "XX " each
    std::string Bytes;    // column 4: the row's raw bytes, one char per byte
};

// Last address the view shows: the image's last index when Complete, else
// HighestAddress; never past the image's last index. -1 for an empty image.
std::int32_t LastShownAddress(const TBuffer& Image, bool Complete, std::int32_t HighestAddress);

// Builds the row of the Count (1..16) bytes starting at FirstAddress.
TProgramRow MakeProgramRow(const TBuffer& Image, std::int32_t FirstAddress, int Count);

// Builds every row from address 0 to LastShownAddress. After every
// ProgramRowsPerProgressStep rows, Progress (if set) gets the current address.
std::vector<TProgramRow> BuildProgramRows(
    const TBuffer& Image, bool Complete, std::int32_t HighestAddress,
    const std::function<void(std::int32_t Address)>& Progress = {});

}  // namespace tarnwick
