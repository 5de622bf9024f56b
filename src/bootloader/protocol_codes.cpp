#include "protocol_codes.h"

namespace tarnwick {

int CodeValue(std::string_view Code) {
    if (Code.size() < 2 || Code.size() > 5 || Code[0] != '$')
        return -1;
    int value = 0;
    for (std::size_t i = 1; i < Code.size(); ++i) {
        const auto digit = HexDigits.find(Code[i]);
        if (digit == std::string_view::npos)
            return -1;
        value = value * 16 + static_cast<int>(digit);
    }
    return value;
}

std::uint8_t CodeByte(std::string_view Code) {
    return static_cast<std::uint8_t>(CodeValue(Code));
}

std::string HexByteText(std::uint8_t Value) {
    std::string text = "$";
    text += HexDigits[Value >> 4];
    text += HexDigits[Value & 0x0F];
    return text;
}

TDataWire DataByteOnWire(std::uint8_t Value) {
    if (Value == 0x13 || Value == CodeByte(EscapeByte))
        return {{CodeByte(EscapeByte), static_cast<std::uint8_t>(Value + CodeByte(EscapeOffset))},
                2};
    return {{Value, 0}, 1};
}

std::uint16_t UpdateLinkCrc(std::uint16_t Crc, std::uint8_t Value) {
    for (int bit = 0; bit < 8; ++bit) {
        if (((Value ^ Crc) & 1) != 0)
            Crc = static_cast<std::uint16_t>((Crc >> 1) ^ 0xA001);
        else
            Crc = static_cast<std::uint16_t>(Crc >> 1);
        Value = static_cast<std::uint8_t>(Value >> 1);
    }
    return Crc;
}

}  // namespace tarnwick
