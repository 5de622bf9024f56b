#include "text/cp1252.h"

#include <array>

namespace tarnwick {

namespace {

// Windows-1252 positions 0x80..0x9F; the five positions the code page leaves
// undefined decode to the C1 control of the same value, as Windows does.
constexpr std::array<char32_t, 32> Cp1252High = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,  // 80..87
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,  // 88..8F
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90..97
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,  // 98..9F
};

void AppendUtf8(std::string& Out, char32_t CodePoint) {
    if (CodePoint < 0x80) {
        Out += static_cast<char>(CodePoint);
    } else if (CodePoint < 0x800) {
        Out += static_cast<char>(0xC0 | (CodePoint >> 6));
        Out += static_cast<char>(0x80 | (CodePoint & 0x3F));
    } else {
        // Every Windows-1252 character lies in the Basic Multilingual Plane.
        Out += static_cast<char>(0xE0 | (CodePoint >> 12));
        Out += static_cast<char>(0x80 | ((CodePoint >> 6) & 0x3F));
        Out += static_cast<char>(0x80 | (CodePoint & 0x3F));
    }
}

}  // namespace

char32_t Cp1252ToUnicode(std::uint8_t Byte) {
    if (Byte >= 0x80 && Byte <= 0x9F) {
        return Cp1252High[Byte - 0x80u];
    }
    return Byte;
}

std::string Cp1252ToUtf8(const std::string& Bytes) {
    std::string out;
    out.reserve(Bytes.size() * 2);
    for (const char c : Bytes) {
        AppendUtf8(out, Cp1252ToUnicode(static_cast<std::uint8_t>(c)));
    }
    return out;
}

bool Utf8ToCp1252(const std::string& Utf8, std::string& Bytes) {
    Bytes.clear();
    std::size_t i = 0;
    while (i < Utf8.size()) {
        const auto lead = static_cast<std::uint8_t>(Utf8[i]);
        const int length = lead < 0x80             ? 1
                           : (lead & 0xE0) == 0xC0 ? 2
                           : (lead & 0xF0) == 0xE0 ? 3
                           : (lead & 0xF8) == 0xF0 ? 4
                                                   : 0;
        if (length == 0 || i + static_cast<std::size_t>(length) > Utf8.size()) {
            return false;
        }
        char32_t code = length == 1 ? lead : lead & (0x7F >> length);
        for (int k = 1; k < length; ++k) {
            const auto next = static_cast<std::uint8_t>(Utf8[i + static_cast<std::size_t>(k)]);
            if ((next & 0xC0) != 0x80) {
                return false;
            }
            code = (code << 6) | (next & 0x3Fu);
        }
        // Overlong forms would let one character hide behind another's bytes.
        static constexpr char32_t MinimumOfLength[] = {0, 0, 0x80, 0x800, 0x10000};
        if (code < MinimumOfLength[length]) {
            return false;
        }
        i += static_cast<std::size_t>(length);

        int byte = -1;
        if (code < 0x80 || (code >= 0xA0 && code <= 0xFF)) {
            byte = static_cast<int>(code);
        } else {
            for (std::size_t k = 0; k < Cp1252High.size(); ++k) {
                if (Cp1252High[k] == code) {
                    byte = static_cast<int>(0x80 + k);
                }
            }
        }
        if (byte < 0) {
            return false;
        }
        Bytes.push_back(static_cast<char>(byte));
    }
    return true;
}

std::string PrintableAscii(const std::string& Bytes) {
    std::string out(Bytes);
    for (char& c : out) {
        const auto byte = static_cast<std::uint8_t>(c);
        if (byte < 0x20 || byte >= 0x7F) {
            c = '.';
        }
    }
    return out;
}

}  // namespace tarnwick
