#include "program_rows.h"

#include <algorithm>

namespace tarnwick {

namespace {

constexpr char HexDigits[] = "0123456789ABCDEF";
constexpr std::size_t BytesPerRow = 16;
// "XX " for eight bytes: where column 1 ends and column 3 begins.
constexpr std::size_t HalfRowHexLength = 24;

}  // namespace

std::int32_t LastShownAddress(const TBuffer& Image, bool Complete, std::int32_t HighestAddress) {
    const std::int32_t lastIndex = static_cast<std::int32_t>(Image.size()) - 1;
    const std::int32_t last = Complete ? lastIndex : std::min(HighestAddress, lastIndex);
    return std::max(last, std::int32_t{-1});
}

TProgramRow MakeProgramRow(const TBuffer& Image, std::int32_t FirstAddress, int Count) {
    TProgramRow row;
    row.Address.resize(7);
    for (int i = 0; i < 6; ++i) {
        row.Address[static_cast<std::size_t>(i)] = HexDigits[(FirstAddress >> (20 - 4 * i)) & 0xF];
    }
    row.Address[6] = ')';

    // Never read outside the image, whatever the caller asks for: a row that starts
    // before it or past its end shows no bytes. 64 bits, so no address overflows.
    const std::int64_t size = static_cast<std::int64_t>(Image.size());
    const std::int64_t available = FirstAddress < 0 ? 0 : size - FirstAddress;
    const std::size_t count = static_cast<std::size_t>(std::clamp<std::int64_t>(
        std::min(Count, static_cast<int>(BytesPerRow)), 0, std::max<std::int64_t>(available, 0)));

    char hex[BytesPerRow * 3];
    // No pointer arithmetic at all for a row without bytes (an empty image has none).
    const std::uint8_t* bytes = count > 0 ? Image.data() + FirstAddress : nullptr;
    for (std::size_t i = 0; i < count; ++i) {
        hex[3 * i] = HexDigits[bytes[i] >> 4];
        hex[3 * i + 1] = HexDigits[bytes[i] & 0xF];
        hex[3 * i + 2] = ' ';
    }
    const std::size_t hexLength = 3 * count;
    if (hexLength >= HalfRowHexLength) {
        row.Hex1.assign(hex, HalfRowHexLength);
        row.Dash.push_back('-');
        row.Hex2.assign(hex + HalfRowHexLength, hexLength - HalfRowHexLength);
    } else {
        row.Hex1.assign(hex, hexLength);
    }
    if (count > 0) {
        row.Bytes.assign(reinterpret_cast<const char*>(bytes), count);
    }
    return row;
}

std::vector<TProgramRow> BuildProgramRows(const TBuffer& Image, bool Complete,
                                          std::int32_t HighestAddress,
                                          const std::function<void(std::int32_t)>& Progress) {
    const std::int32_t last = LastShownAddress(Image, Complete, HighestAddress);
    std::vector<TProgramRow> rows;
    if (last < 0) {
        return rows;
    }
    rows.reserve(static_cast<std::size_t>(last) / BytesPerRow + 1);
    for (std::int32_t first = 0; first <= last; first += static_cast<std::int32_t>(BytesPerRow)) {
        const int count = static_cast<int>(
            std::min<std::int32_t>(static_cast<std::int32_t>(BytesPerRow), last - first + 1));
        rows.push_back(MakeProgramRow(Image, first, count));
        if (Progress && rows.size() % ProgramRowsPerProgressStep == 0) {
            Progress(first + count - 1);
        }
    }
    return rows;
}

}  // namespace tarnwick
