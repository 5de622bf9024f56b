// Firmware image and Intel-HEX loader. No GUI dependency: the loader reaches the
// user interface (wait cursor, message pumping) only through TLoadFeedback.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
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

// Reads Intel-HEX text (record types 00, 01, 02) handed over in pieces of any size,
// so a file need not be held in memory whole. The constructor shows the wait cursor,
// resizes Image to Length and fills it with 0xFF.
class THexReader {
  public:
    THexReader(TBuffer& Image, std::int32_t& HighestAddress, std::int32_t Length,
               TLoadFeedback* Feedback = nullptr);
    ~THexReader();
    THexReader(const THexReader&) = delete;
    THexReader& operator=(const THexReader&) = delete;

    // Takes the next piece of the text. False once reading has stopped: the rest of
    // the text cannot change the result, so the caller need not read it.
    bool Feed(std::string_view Piece);
    // Ends the text and returns the result code; the wait cursor is restored. A last
    // line without line end counts unless the text broke off (TextComplete false).
    int Finish(bool TextComplete = true);

  private:
    bool Line(std::string_view Text);
    void EndWait();

    TBuffer& Image;
    std::int32_t& HighestAddress;
    TLoadFeedback* Feedback;
    std::string Pending;  // the start of a line that the next piece continues
    std::int32_t SegmentOffset = 0;
    int Result = 0;
    bool Stopped = false;
    bool Waiting = false;
};

// Reads Intel-HEX text held in memory into Image, as LoadHexFile reads a file.
int LoadHexText(std::string_view Text, TBuffer& Image, std::int32_t& HighestAddress,
                std::int32_t Length, TLoadFeedback* Feedback = nullptr);

// Reads an Intel-HEX file into Image, block by block, and stops reading at the
// first line that decides the result. Returns one of the result codes above.
int LoadHexFile(const std::filesystem::path& FileName, TBuffer& Image, std::int32_t& HighestAddress,
                std::int32_t Length, TLoadFeedback* Feedback = nullptr);

// German message for a result code of -1 to -5; empty for 0 and 1.
std::string LoadResultMessage(int Code);

// The log line after a successful load and the message for a missing file.
std::string FileLoadedMessage(const std::string& FileName);
std::string FileNotFoundMessage(const std::string& FileName);

}  // namespace tarnwick
