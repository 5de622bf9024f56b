// A device's serial number in its image: where it goes, in which bytes, and the copy of
// the image that carries it. The file's own image is never changed.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "image/firmware_image.h"

namespace tarnwick {

enum class TSerialFormat { U16Le, U16Be, U32Le, U32Be, Decimal, Bcd };

struct TSerialLayout {
    std::int64_t Address = 0;
    TSerialFormat Format = TSerialFormat::U32Le;
    int Width = 4;  // bytes in the image: N of dec:N and bcd:N, else that of the type
};

// "u16le", "u16be", "u32le", "u32be", "dec:N" (N ASCII digits, 1 to 20) or "bcd:N" (N bytes
// of two digits each, 1 to 10); no value for anything else.
std::optional<TSerialLayout> ParseSerialFormat(std::string_view Text, std::int64_t Address);
std::string SerialFormatText(const TSerialLayout& Layout);

// The bytes of Number in Layout; no value when it does not fit.
std::optional<std::vector<std::uint8_t>> SerialBytes(const TSerialLayout& Layout,
                                                     std::uint64_t Number);

// Why the number cannot go where Layout puts it in Image (German), empty when it can: it
// must lie inside the largest image and, unless Overwrite, only over erased bytes (0xFF).
std::string SerialPlaceProblem(const TBuffer& Image, const TSerialLayout& Layout, bool Overwrite);

// Writes Bytes at Layout's address into Image; HighestAddress grows to cover them.
void PlaceSerial(TBuffer& Image, std::int32_t& HighestAddress, const TSerialLayout& Layout,
                 const std::vector<std::uint8_t>& Bytes);

// "0x1F00".
std::string AddressText(std::int64_t Address);

}  // namespace tarnwick
