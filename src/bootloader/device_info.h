// The chips and bootloader version this tool can update, and the conversions of query
// replies (two upper-case hex digits per received value byte).
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tarnwick {

inline constexpr std::string_view SupportedVersion = "2.1";
inline constexpr std::string_view UnknownDevice = "Unbekannt";

// Six signature digits, a colon, the chip name. After the original 21 come the chips
// that Tarnwick's own bootloader firmware supports and the original table lacked.
inline constexpr std::array<std::string_view, 24> DeviceTable = {
    "1E9007:ATtiny13",   "1E910A:ATtiny2313", "1E9205:ATmega48",   "1E9206:ATtiny45",
    "1E9207:ATtiny44",   "1E9208:ATtiny461",  "1E9306:ATmega8515", "1E9307:ATmega8",
    "1E9308:ATmega8535", "1E930A:ATmega88",   "1E930B:ATtiny85",   "1E930C:ATtiny84",
    "1E930D:ATtiny861",  "1E930F:ATmega88P",  "1E9403:ATmega16",   "1E9404:ATmega162",
    "1E9406:ATmega168",  "1E9501:ATmega323",  "1E9502:ATmega32",   "1E9609:ATmega644",
    "1E9802:ATmega2561", "1E950F:ATmega328P", "1E960A:ATmega644P", "1E9705:ATmega1284P",
};

// Reply 0201 gives "2.1", 0110 gives "1.10"; digits after the fourth are ignored. A reply
// shorter than four digits, or with a digit above 9 in the first four, has no version.
std::optional<std::string> VersionText(std::string_view ReplyText);

// The chip name for a six-digit signature reply, or "Unbekannt".
std::string DeviceName(std::string_view ReplyText);

// The reply read as one hex number, first byte most significant. No value for an empty
// reply, a non-hex digit or a number beyond 15 digits.
std::optional<std::int64_t> HexValue(std::string_view ReplyText);

}  // namespace tarnwick
