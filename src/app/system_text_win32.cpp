// Windows: Settings.ini and the system's messages are in Windows-1252.
#include <algorithm>
#include <cstdint>

#include "settings_text.h"
#include "system_text.h"
#include "text/cp1252.h"

namespace tarnwick {

std::string Utf8ToSystemText(const std::string& Utf8) {
    std::string bytes;
    if (Utf8ToCp1252(Utf8, bytes)) {
        return bytes;
    }
    // Character by character, so that one that has no byte costs only itself.
    std::string out;
    std::size_t i = 0;
    while (i < Utf8.size()) {
        const auto lead = static_cast<std::uint8_t>(Utf8[i]);
        std::size_t length = lead < 0x80             ? 1
                             : (lead & 0xE0) == 0xC0 ? 2
                             : (lead & 0xF0) == 0xE0 ? 3
                                                     : 4;
        length = std::min(length, Utf8.size() - i);
        std::string one;
        out += Utf8ToCp1252(Utf8.substr(i, length), one) ? one : std::string("?");
        i += length;
    }
    return out;
}

TTextCodePage SystemCodePage() {
    return TTextCodePage::Windows1252;
}

std::string SystemTextToUtf8(const std::string& Text) {
    return Cp1252ToUtf8(Text);
}

}  // namespace tarnwick
