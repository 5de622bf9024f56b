#include "bootloader/line_rates.h"

#include <algorithm>
#include <cstdint>

namespace tarnwick {

namespace {

bool InTable(const std::string& Text) {
    return Text != "Custom" && BaudRateToText(BaudRateFromText(Text)) == Text;
}

}  // namespace

bool IsLineRateText(const std::string& Text) {
    return InTable(Text) || std::find(LineRates.begin(), LineRates.end(), Text) != LineRates.end();
}

void SetLineRate(TCustomComPort& Port, const std::string& Text) {
    std::int64_t rate = 0;
    const bool number =
        !Text.empty() && Text.size() <= 9 &&
        std::all_of(Text.begin(), Text.end(), [](char c) { return c >= '0' && c <= '9'; });
    if (InTable(Text) || !number) {
        Port.SetBaudRate(BaudRateFromText(Text));
        return;
    }
    for (const char c : Text)
        rate = rate * 10 + (c - '0');
    // The custom rate first: switching to brCustom applies it to an open port at once.
    Port.SetCustomBaudRate(static_cast<std::int32_t>(rate));
    Port.SetBaudRate(brCustom);
}

}  // namespace tarnwick
