// The baud rates an update is offered at: the window's list and what tarnwick-cli update
// takes. Beyond the specified seven come the rates a 16 MHz chip divides exactly, which
// Tarnwick's own bootloader can be built for.
#pragma once

#include <array>
#include <string>
#include <string_view>

#include "comport/com_port.h"

namespace tarnwick {

inline constexpr std::array<std::string_view, 10> LineRates = {
    "2400", "4800", "9600", "19200", "38400", "57600", "115200", "250000", "500000", "1000000"};

// A rate the port's table names (Text as BaudRateToText writes it), or one of LineRates.
bool IsLineRateText(const std::string& Text);

// Sets Port's rate from Text: a rate of the port's table as that member, any other whole
// number of baud as a custom rate, and anything else as BaudRateFromText reads it.
void SetLineRate(TCustomComPort& Port, const std::string& Text);

}  // namespace tarnwick
