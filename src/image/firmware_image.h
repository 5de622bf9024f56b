// Firmware image and Intel-HEX loader. No GUI dependency: the loader reaches the
// user interface (wait cursor, message pumping) only through TLoadFeedback.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tarnwick {

// The flash image: index = flash byte address, unwritten bytes hold 0xFF.
using TBuffer = std::vector<std::uint8_t>;

// Length the image gets at the start of every load; every data byte must lie below it.
inline constexpr std::int32_t MaxFlashSize = 262144;

// Result codes of LoadHexFile.
enum : int {
    HexLoaded = 1,          // end-of-file record read, no later line failed
    HexIncomplete = 0,      // no end-of-file record, or stopped on an uncoded failure
    HexNoIntelHex = -1,     // a line does not begin with ':'
    HexUnknownRecord = -2,  // record type other than 00, 01, 02
    HexBadChecksum = -3,    // checksum mismatch
    HexTooLarge = -4,       // data record reaches past the end of the image
    HexDuplicate = -5,      // byte already set to the same non-0xFF value
};

// What the loader needs from its owner while it works. Every member has a
// harmless default so the CLI and tests can pass a plain TLoadFeedback.
class TLoadFeedback {
  public:
    virtual ~TLoadFeedback() = default;
    // Show the wait cursor; EndWait restores whatever was shown before.
    virtual void BeginWait() {}
    virtual void EndWait() {}
    // Let the GUI process pending messages (called after every good record).
    virtual void ProcessMessages() {}
};

// Reads an Intel-HEX file (record types 00, 01, 02) into Image, which is resized
// to Length and filled with 0xFF first. Returns one of the result codes above.
int LoadHexFile(const std::string& FileName, TBuffer& Image, std::int32_t& HighestAddress,
                std::int32_t Length, TLoadFeedback* Feedback = nullptr);

// German message for a result code of -1 to -5; empty for 0 and 1.
std::string LoadResultMessage(int Code);

// The log line after a successful load and the message for a missing file.
std::string FileLoadedMessage(const std::string& FileName);
std::string FileNotFoundMessage(const std::string& FileName);

}  // namespace tarnwick
