#include "station/serial_number.h"

#include <charconv>
#include <cstdio>

namespace tarnwick {

namespace {

std::uint64_t PowerOfTen(int Exponent) {
    std::uint64_t value = 1;
    for (int i = 0; i < Exponent; ++i)
        value *= 10;
    return value;
}

}  // namespace

std::optional<TSerialLayout> ParseSerialFormat(std::string_view Text, std::int64_t Address) {
    TSerialLayout layout;
    layout.Address = Address;
    struct TFixed {
        std::string_view Name;
        TSerialFormat Format;
        int Width;
    };
    static constexpr TFixed Fixed[] = {{"u16le", TSerialFormat::U16Le, 2},
                                       {"u16be", TSerialFormat::U16Be, 2},
                                       {"u32le", TSerialFormat::U32Le, 4},
                                       {"u32be", TSerialFormat::U32Be, 4}};
    for (const TFixed& fixed : Fixed) {
        if (Text == fixed.Name) {
            layout.Format = fixed.Format;
            layout.Width = fixed.Width;
            return layout;
        }
    }
    const std::size_t colon = Text.find(':');
    if (colon == std::string_view::npos)
        return std::nullopt;
    const std::string_view kind = Text.substr(0, colon);
    const std::string_view count = Text.substr(colon + 1);
    int width = 0;
    const auto parsed = std::from_chars(count.data(), count.data() + count.size(), width);
    if (parsed.ec != std::errc() || parsed.ptr != count.data() + count.size())
        return std::nullopt;
    if (kind == "dec" && width >= 1 && width <= 20) {
        layout.Format = TSerialFormat::Decimal;
    } else if (kind == "bcd" && width >= 1 && width <= 10) {
        layout.Format = TSerialFormat::Bcd;
    } else {
        return std::nullopt;
    }
    layout.Width = width;
    return layout;
}

std::string SerialFormatText(const TSerialLayout& Layout) {
    switch (Layout.Format) {
        case TSerialFormat::U16Le:
            return "u16le";
        case TSerialFormat::U16Be:
            return "u16be";
        case TSerialFormat::U32Le:
            return "u32le";
        case TSerialFormat::U32Be:
            return "u32be";
        case TSerialFormat::Decimal:
            return "dec:" + std::to_string(Layout.Width);
        case TSerialFormat::Bcd:
            return "bcd:" + std::to_string(Layout.Width);
    }
    return {};
}

std::optional<std::vector<std::uint8_t>> SerialBytes(const TSerialLayout& Layout,
                                                     std::uint64_t Number) {
    const auto width = static_cast<std::size_t>(Layout.Width);
    std::vector<std::uint8_t> bytes(width);
    switch (Layout.Format) {
        case TSerialFormat::U16Le:
        case TSerialFormat::U16Be:
        case TSerialFormat::U32Le:
        case TSerialFormat::U32Be: {
            if (width < 8 && Number >> (8 * width) != 0)
                return std::nullopt;
            const bool little =
                Layout.Format == TSerialFormat::U16Le || Layout.Format == TSerialFormat::U32Le;
            for (std::size_t i = 0; i < width; ++i) {
                const auto byte = static_cast<std::uint8_t>(Number >> (8 * i));
                bytes[little ? i : width - 1 - i] = byte;
            }
            return bytes;
        }
        case TSerialFormat::Decimal:
            if (Layout.Width < 20 && Number >= PowerOfTen(Layout.Width))
                return std::nullopt;
            for (std::size_t i = width; i-- > 0; Number /= 10)
                bytes[i] = static_cast<std::uint8_t>('0' + Number % 10);
            return bytes;
        case TSerialFormat::Bcd:
            if (Layout.Width < 10 && Number >= PowerOfTen(2 * Layout.Width))
                return std::nullopt;
            for (std::size_t i = width; i-- > 0; Number /= 100)
                bytes[i] = static_cast<std::uint8_t>((Number / 10 % 10) << 4 | Number % 10);
            return bytes;
    }
    return std::nullopt;
}

std::string AddressText(std::int64_t Address) {
    char text[24];
    std::snprintf(text, sizeof text, "0x%llX", static_cast<long long>(Address));
    return text;
}

std::string SerialPlaceProblem(const TBuffer& Image, const TSerialLayout& Layout, bool Overwrite) {
    const std::int64_t end = Layout.Address + Layout.Width;
    if (Layout.Address < 0 || end > MaxFlashSize) {
        return "Die Seriennummer bei Adresse " + AddressText(Layout.Address) +
               " liegt außerhalb des Flash-Speichers (" + std::to_string(MaxFlashSize) + " Byte)";
    }
    if (Overwrite)
        return {};
    for (std::int64_t a = Layout.Address; a < end; ++a) {
        const auto index = static_cast<std::size_t>(a);
        if (index < Image.size() && Image[index] != 0xFF) {
            char value[8];
            std::snprintf(value, sizeof value, "0x%02X", Image[index]);
            return "Die Seriennummer bei Adresse " + AddressText(Layout.Address) +
                   " würde Programmbytes überschreiben (Adresse " + AddressText(a) + " enthält " +
                   value + "); --serial-overwrite erlaubt es";
        }
    }
    return {};
}

void PlaceSerial(TBuffer& Image, std::int32_t& HighestAddress, const TSerialLayout& Layout,
                 const std::vector<std::uint8_t>& Bytes) {
    const auto start = static_cast<std::size_t>(Layout.Address);
    if (Image.size() < start + Bytes.size())
        Image.resize(start + Bytes.size(), 0xFF);
    for (std::size_t i = 0; i < Bytes.size(); ++i)
        Image[start + i] = Bytes[i];
    const auto last = static_cast<std::int32_t>(start + Bytes.size() - 1);
    if (last > HighestAddress)
        HighestAddress = last;
}

}  // namespace tarnwick
