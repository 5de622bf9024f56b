// Windows-1252, the code page of the device's world: one byte per character, both ways.
// Used wherever bytes are shown as text (program view, terminal, CLI) and wherever text
// goes to the device byte by byte (the bootloader password).
#pragma once

#include <cstdint>
#include <string>

namespace tarnwick {

// Windows-1252 decoding, one character per byte: the Unicode code point of a
// byte (undefined positions map to the C1 control of the same value).
char32_t Cp1252ToUnicode(std::uint8_t Byte);
// The same as UTF-8 text.
std::string Cp1252ToUtf8(const std::string& Bytes);
// The reverse: UTF-8 text as Windows-1252 bytes, for text that the device compares
// byte by byte (the bootloader password). False, with Bytes unspecified, for malformed
// UTF-8 or a character that Windows-1252 has no byte for.
bool Utf8ToCp1252(const std::string& Utf8, std::string& Bytes);
// Printable form for a terminal: bytes below 0x20 and from 0x7F up become '.'.
std::string PrintableAscii(const std::string& Bytes);

}  // namespace tarnwick
