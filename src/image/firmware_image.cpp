#include "firmware_image.h"

#include <array>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string_view>

namespace tarnwick {

namespace {

// A valid record has at most 11 + 2 * 255 characters; anything beyond that is
// ignored anyway, so a line is kept only up to this length. That bounds the
// memory a file with an endless line can take.
constexpr std::size_t MaxKeptLineLength = 1024;
constexpr std::size_t ReadChunkSize = 64 * 1024;

struct TFileCloser {
    void operator()(std::FILE* File) const { std::fclose(File); }
};
using TFileHandle = std::unique_ptr<std::FILE, TFileCloser>;

// Shows the wait cursor for its lifetime, so every way out restores the cursor.
class TWaitScope {
  public:
    explicit TWaitScope(TLoadFeedback* feedback) : Feedback(feedback) {
        if (Feedback != nullptr) {
            Feedback->BeginWait();
        }
    }
    ~TWaitScope() {
        if (Feedback != nullptr) {
            Feedback->EndWait();
        }
    }
    TWaitScope(const TWaitScope&) = delete;
    TWaitScope& operator=(const TWaitScope&) = delete;

  private:
    TLoadFeedback* Feedback;
};

// Reads a file in large blocks and hands it out line by line. Lines end at LF;
// a CR right before the LF is dropped, so CR LF and LF files read alike.
class TLineReader {
  public:
    explicit TLineReader(std::FILE* file) : File(file), Buffer(ReadChunkSize) {}

    enum class TStatus { Line, End, Error };

    TStatus Next(std::string& Line) {
        Line.clear();
        bool any = false;
        bool truncated = false;
        bool endsInCr = false;
        for (;;) {
            if (Pos == Filled && !Fill()) {
                if (std::ferror(File) != 0) {
                    return TStatus::Error;
                }
                if (!any) {
                    return TStatus::End;
                }
                break;  // last line without a line end
            }
            any = true;
            const char* begin = Buffer.data() + Pos;
            const char* end = Buffer.data() + Filled;
            const char* lf = static_cast<const char*>(std::memchr(begin, '\n', end - begin));
            const char* stop = lf != nullptr ? lf : end;
            if (stop != begin) {
                endsInCr = stop[-1] == '\r';
                const std::size_t count = static_cast<std::size_t>(stop - begin);
                const std::size_t room = MaxKeptLineLength - Line.size();
                truncated = truncated || count > room;
                Line.append(begin, count < room ? count : room);
            }
            Pos = lf != nullptr ? static_cast<std::size_t>(lf - Buffer.data()) + 1 : Filled;
            if (lf != nullptr) {
                break;
            }
        }
        if (endsInCr && !truncated) {
            Line.pop_back();
        }
        return TStatus::Line;
    }

  private:
    bool Fill() {
        Pos = 0;
        Filled = std::fread(Buffer.data(), 1, Buffer.size(), File);
        return Filled > 0;
    }

    std::FILE* File;
    std::vector<char> Buffer;
    std::size_t Pos = 0;
    std::size_t Filled = 0;
};

constexpr std::array<std::int8_t, 256> MakeHexDigitTable() {
    std::array<std::int8_t, 256> table{};
    for (auto& entry : table) {
        entry = -1;
    }
    for (int c = '0'; c <= '9'; ++c) {
        table[static_cast<std::size_t>(c)] = static_cast<std::int8_t>(c - '0');
    }
    for (int c = 'A'; c <= 'F'; ++c) {
        table[static_cast<std::size_t>(c)] = static_cast<std::int8_t>(c - 'A' + 10);
        table[static_cast<std::size_t>(c - 'A' + 'a')] = static_cast<std::int8_t>(c - 'A' + 10);
    }
    return table;
}
constexpr std::array<std::int8_t, 256> HexDigitValue = MakeHexDigitTable();

// Reads the byte whose two hex digits start at character index Index (0-based).
// False when the line ends first or a digit is not hexadecimal.
bool ReadByte(std::string_view Line, std::size_t Index, std::uint8_t& Value) {
    if (Index + 2 > Line.size()) {
        return false;
    }
    const int high = HexDigitValue[static_cast<unsigned char>(Line[Index])];
    const int low = HexDigitValue[static_cast<unsigned char>(Line[Index + 1])];
    if (high < 0 || low < 0) {
        return false;
    }
    Value = static_cast<std::uint8_t>(high * 16 + low);
    return true;
}

enum class TLineOutcome { Good, StopUncoded, StopCoded };

// Character indices (0-based) of the record fields.
constexpr std::size_t CountIndex = 1;
constexpr std::size_t AddressIndex = 3;
constexpr std::size_t TypeIndex = 7;
constexpr std::size_t DataIndex = 9;

class THexLoader {
  public:
    THexLoader(TBuffer& image, std::int32_t& highestAddress)
        : Image(image), HighestAddress(highestAddress) {}

    // Handles one line; Result is updated as the line demands.
    TLineOutcome Line(std::string_view Text, int& Result) {
        if (Text.empty()) {
            return TLineOutcome::StopUncoded;
        }
        if (Text[0] != ':') {
            Result = HexNoIntelHex;
            return TLineOutcome::StopCoded;
        }
        std::uint8_t count = 0;
        std::uint8_t addressHigh = 0;
        std::uint8_t addressLow = 0;
        std::uint8_t type = 0;
        if (!ReadByte(Text, CountIndex, count) || !ReadByte(Text, AddressIndex, addressHigh) ||
            !ReadByte(Text, AddressIndex + 2, addressLow) || !ReadByte(Text, TypeIndex, type)) {
            return TLineOutcome::StopUncoded;
        }
        unsigned sum = 0u + count + addressHigh + addressLow + type;
        // The segment offset is not folded into 16 bits: segment 0x1000 with
        // offset 0 is address 0x10000.
        const std::int32_t address = ((addressHigh << 8) | addressLow) + SegmentOffset;
        std::uint8_t checksum = 0;

        switch (type) {
            case 0x00: {
                const std::int32_t length = static_cast<std::int32_t>(Image.size());
                if (address + count > length) {
                    Result = HexTooLarge;
                    return TLineOutcome::StopCoded;
                }
                for (std::size_t j = 0; j < count; ++j) {
                    std::uint8_t value = 0;
                    if (!ReadByte(Text, DataIndex + 2 * j, value)) {
                        return TLineOutcome::StopUncoded;
                    }
                    sum += value;
                    std::uint8_t& target = Image[static_cast<std::size_t>(address) + j];
                    if (target != 0xFF && target == value) {
                        Result = HexDuplicate;
                        return TLineOutcome::StopCoded;
                    }
                    target = value;
                }
                if (!ReadByte(Text, DataIndex + 2 * std::size_t{count}, checksum)) {
                    return TLineOutcome::StopUncoded;
                }
                // Follows every stored record, also one whose checksum fails below.
                if (address + count - 1 >= HighestAddress) {
                    HighestAddress = address + count - 1;
                }
                break;
            }
            case 0x01:
                Result = HexLoaded;
                if (!ReadByte(Text, DataIndex, checksum)) {
                    return TLineOutcome::StopUncoded;
                }
                break;
            case 0x02: {
                std::uint8_t segmentHigh = 0;
                std::uint8_t segmentLow = 0;
                if (!ReadByte(Text, DataIndex, segmentHigh) ||
                    !ReadByte(Text, DataIndex + 2, segmentLow)) {
                    return TLineOutcome::StopUncoded;
                }
                sum += segmentHigh + segmentLow;
                if (!ReadByte(Text, DataIndex + 4, checksum)) {
                    return TLineOutcome::StopUncoded;
                }
                SegmentOffset = ((segmentHigh << 8) | segmentLow) * 16;
                break;
            }
            default:
                Result = HexUnknownRecord;
                return TLineOutcome::StopCoded;
        }
        sum += checksum;
        if ((sum & 0xFFu) != 0) {
            Result = HexBadChecksum;
            return TLineOutcome::StopCoded;
        }
        return TLineOutcome::Good;
    }

  private:
    TBuffer& Image;
    std::int32_t& HighestAddress;
    std::int32_t SegmentOffset = 0;
};

}  // namespace

int LoadHexFile(const std::string& FileName, TBuffer& Image, std::int32_t& HighestAddress,
                std::int32_t Length, TLoadFeedback* Feedback) {
    const TWaitScope wait(Feedback);
    HighestAddress = 0;
    int result = HexIncomplete;
    Image.assign(static_cast<std::size_t>(Length > 0 ? Length : 0), 0xFF);

    const TFileHandle file(std::fopen(FileName.c_str(), "rb"));
    if (!file) {
        return result;
    }
    TLineReader reader(file.get());
    THexLoader loader(Image, HighestAddress);
    std::string line;
    line.reserve(MaxKeptLineLength);
    while (reader.Next(line) == TLineReader::TStatus::Line) {
        if (loader.Line(line, result) != TLineOutcome::Good) {
            break;
        }
        if (Feedback != nullptr) {
            Feedback->ProcessMessages();
        }
    }
    return result;
}

std::string LoadResultMessage(int Code) {
    switch (Code) {
        case HexNoIntelHex:
            return "Ungültiges Dateiformat (kein Intel-Hex)";
        case HexUnknownRecord:
            return "Ungültiger Record in Hex-Datei (unbekannte Funktion)";
        case HexBadChecksum:
            return "Prüfsumme der Hex-Datei ungültig";
        case HexTooLarge:
            return "Hex-Datei größer als Flash-Speicher (" + std::to_string(MaxFlashSize) +
                   " Byte)";
        case HexDuplicate:
            return "Eintrag in Datei doppelt vorhanden";
        default:
            return {};
    }
}

std::string FileLoadedMessage(const std::string& FileName) {
    return "Programmdatei \"" + FileName + "\" geladen";
}

std::string FileNotFoundMessage(const std::string& FileName) {
    return "Datei \"" + FileName + "\" nicht gefunden!";
}

}  // namespace tarnwick
