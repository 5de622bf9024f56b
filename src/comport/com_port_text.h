// The texts of the port's settings, both ways (INI and registry storage, the CLI).
#pragma once

#include <cstdint>
#include <string>

#include "comport/com_port_types.h"

namespace tarnwick {

std::string BaudRateToText(TBaudRate Value);
TBaudRate BaudRateFromText(const std::string& Text);
std::string StopBitsToText(TStopBits Value);
TStopBits StopBitsFromText(const std::string& Text);
std::string DataBitsToText(TDataBits Value);
TDataBits DataBitsFromText(const std::string& Text);
std::string ParityToText(TParityBits Value);
TParityBits ParityFromText(const std::string& Text);
std::string FlowControlToText(TFlowControl Value);
TFlowControl FlowControlFromText(const std::string& Text);
std::string DTRToText(TDTRFlowControl Value);
TDTRFlowControl DTRFromText(const std::string& Text);
std::string RTSToText(TRTSFlowControl Value);
TRTSFlowControl RTSFromText(const std::string& Text);
std::string BoolToText(bool Value);
bool BoolFromText(const std::string& Text);
// Codes 33..127 as the character itself, every other code as "#<decimal>".
std::string CharToText(std::uint8_t Value);
// "#<number>" (decimal or $hex, low 8 bits), else the first character, #0 if empty.
std::uint8_t CharFromText(const std::string& Text);

// The number a baud-rate member stands for (0 for brCustom).
std::uint32_t BaudRateValue(TBaudRate Value);

// Event set <-> the driver's event mask.
std::uint32_t EventsToCommMask(TComEvents Events);
TComEvents CommMaskToEvents(std::uint32_t Mask);

}  // namespace tarnwick
