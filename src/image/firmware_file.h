// Loading a firmware file of any format the builds make: Intel-HEX, Motorola S-records
// and ELF as avr-gcc links it. The format is told by the file's content, not its name.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "image/firmware_image.h"

namespace tarnwick {

// Result codes beyond those of LoadHexFile (which keeps 1 to -5).
enum : int {
    SrecBadRecord = -7,      // a line that is no S-record, or S4
    SrecBadChecksum = -8,    // checksum mismatch
    ImageOutsideFlash = -9,  // an S-record or ELF segment reaches past the image
    ElfWrongMachine = -10,   // an ELF for another processor
    ElfUnreadable = -11,     // an ELF the library cannot read
    ElfNoFlash = -12,        // an ELF without anything for the flash
    ElfNotSupported = -13,   // no ELF library on this system
};

enum class TFirmwareFormat { IntelHex, SRecord, Elf };

// The format by the first bytes: "\x7F" "ELF", or 'S' and a digit; anything else is read
// as Intel-HEX, whose loader says what is wrong with it.
TFirmwareFormat DetectFirmwareFormat(std::string_view Start);

// Loads FileName into Image like LoadHexFile (Image resized to Length and erased first,
// HighestAddress the last address written), whatever its format. Returns 1 when the file
// was read whole, 0 for an S-record file without end record, else a negative code.
int LoadFirmwareImage(const std::filesystem::path& FileName, TBuffer& Image,
                      std::int32_t& HighestAddress, std::int32_t Length,
                      TLoadFeedback* Feedback = nullptr);

// The same for S-records or an ELF held in memory.
int LoadSRecordText(std::string_view Text, TBuffer& Image, std::int32_t& HighestAddress);
int LoadElfBytes(std::string_view Bytes, TBuffer& Image, std::int32_t& HighestAddress);

// German message for any negative result code; empty for 0 and 1.
std::string FirmwareLoadMessage(int Code);

}  // namespace tarnwick
