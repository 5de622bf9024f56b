// Code table, timing constants and the small conversions of the bootloader link.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tarnwick {

// Every code is kept in its text form ("$A5"): messages show that form, and CodeValue turns
// it into the byte that goes on the wire. Codes that share a value are separate constants
// so that each use names the role it means.
inline constexpr std::string_view PrefixByte = "$A5";
inline constexpr std::string_view EscapeByte = "$A5";
inline constexpr std::string_view PasswordEnd = "$FF";
inline constexpr std::string_view ReplyPasswordOk = "$A6";
inline constexpr std::string_view ReplyUnsupported = "$A7";
inline constexpr std::string_view ReplyData = "$A8";
inline constexpr std::string_view ReplyBufferDone = "$A9";
inline constexpr std::string_view ReplyOk = "$AA";
inline constexpr std::string_view ReplyFailed = "$AB";
inline constexpr std::string_view EscapeOffset = "$80";
inline constexpr std::string_view EndCode = "$80";
inline constexpr std::string_view CmdVersion = "$0";
inline constexpr std::string_view CmdBufferSize = "$1";
inline constexpr std::string_view CmdSignature = "$2";
inline constexpr std::string_view CmdFlashSize = "$3";
inline constexpr std::string_view CmdProgram = "$4";
inline constexpr std::string_view CmdSuccess = "$5";
inline constexpr std::string_view CmdCrc = "$6";
inline constexpr std::string_view CmdVerify = "$7";

// Times in milliseconds.
inline constexpr int ByteTimeout = 50;         // pacing window of every byte sent
inline constexpr int PasswordAckTimeout = 10;  // listening after each password byte
inline constexpr int ReplyTimeout = 500;       // confirmation, CRC verdicts, verify start
inline constexpr int QueryTimeout = 3000;      // each device query
inline constexpr int VerifyEndTimeout = 3000;  // verdict after the verification stream
inline constexpr int BufferTimeout = 5000;     // buffer processed, end of programming
inline constexpr int MaxConnectAttempts = 200;

inline constexpr int DefaultBytePacing = ByteTimeout;

// The byte after ReplyData in every query reply of Tarnwick's own bootloader: "this device
// takes the streams at line speed". The host otherwise ignores that byte, and a device
// speaking only the documented protocol sends its count or the query's command code there,
// never this.
inline constexpr std::uint8_t TarnwickMark = 0x54;

// How one image byte goes on the wire inside a data stream: 0x13 and 0xA5 as EscapeByte and
// the byte plus EscapeOffset, every other byte as itself.
struct TDataWire {
    std::uint8_t Bytes[2];
    int Count;
};
TDataWire DataByteOnWire(std::uint8_t Value);

inline constexpr std::string_view HexDigits = "0123456789ABCDEF";

// "$A5" gives 165, "$0" gives 0. Texts that are not "$" and hex digits give -1.
int CodeValue(std::string_view Code);
// The byte of a code of the table above (all of them are valid).
std::uint8_t CodeByte(std::string_view Code);

// "$" and always two digits: 0x07 gives "$07".
std::string HexByteText(std::uint8_t Value);

// One step of CRC-16/ARC (reflected polynomial 0xA001, no final XOR) over Value.
std::uint16_t UpdateLinkCrc(std::uint16_t Crc, std::uint8_t Value);

}  // namespace tarnwick
