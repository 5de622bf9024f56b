#include "firmware_image.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string_view>

#include "open_file.h"

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

// Character indices (0-based) of the record fields.
constexpr std::size_t CountIndex = 1;
constexpr std::size_t AddressIndex = 3;
constexpr std::size_t TypeIndex = 7;
constexpr std::size_t DataIndex = 9;

}  // namespace

THexReader::THexReader(TBuffer& image, std::int32_t& highestAddress, std::int32_t Length,
                       TLoadFeedback* feedback)
    : Image(image), HighestAddress(highestAddress), Feedback(feedback) {
    if (Feedback != nullptr) {
        Feedback->BeginWait();
        Waiting = true;
    }
    HighestAddress = 0;
    Result = HexIncomplete;
    Image.assign(static_cast<std::size_t>(Length > 0 ? Length : 0), 0xFF);
    Pending.reserve(MaxKeptLineLength);
}

THexReader::~THexReader() {
    EndWait();
}

void THexReader::EndWait() {
    if (Waiting) {
        Waiting = false;
        Feedback->EndWait();
    }
}

bool THexReader::Feed(std::string_view Piece) {
    while (!Stopped && !Piece.empty()) {
        const std::size_t lf = Piece.find('\n');
        if (lf == std::string_view::npos) {
            // Only the part of a line that can matter is kept.
            const std::size_t room = MaxKeptLineLength + 1 - Pending.size();
            Pending.append(Piece.substr(0, std::min(room, Piece.size())));
            return true;
        }
        std::string_view line = Piece.substr(0, lf);
        Piece.remove_prefix(lf + 1);
        if (!Pending.empty()) {
            const std::size_t room = MaxKeptLineLength + 1 - Pending.size();
            Pending.append(line.substr(0, std::min(room, line.size())));
            line = Pending;
        }
        const bool good = Line(line);
        Pending.clear();
        if (!good) {
            Stopped = true;
        } else if (Feedback != nullptr) {
            Feedback->ProcessMessages();
        }
    }
    return !Stopped;
}

int THexReader::Finish(bool TextComplete) {
    if (TextComplete && !Stopped && !Pending.empty()) {
        Stopped = !Line(Pending);
        if (!Stopped && Feedback != nullptr) {
            Feedback->ProcessMessages();
        }
    }
    Pending.clear();
    Stopped = true;
    EndWait();
    return Result;
}

// Handles one line without its LF; false when reading stops here.
bool THexReader::Line(std::string_view Text) {
    // CR LF and LF files read alike.
    if (!Text.empty() && Text.back() == '\r') {
        Text.remove_suffix(1);
    }
    Text = Text.substr(0, MaxKeptLineLength);
    if (Text.empty()) {
        return false;
    }
    if (Text[0] != ':') {
        Result = HexNoIntelHex;
        return false;
    }
    std::uint8_t count = 0;
    std::uint8_t addressHigh = 0;
    std::uint8_t addressLow = 0;
    std::uint8_t type = 0;
    if (!ReadByte(Text, CountIndex, count) || !ReadByte(Text, AddressIndex, addressHigh) ||
        !ReadByte(Text, AddressIndex + 2, addressLow) || !ReadByte(Text, TypeIndex, type)) {
        return false;
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
                return false;
            }
            for (std::size_t j = 0; j < count; ++j) {
                std::uint8_t value = 0;
                if (!ReadByte(Text, DataIndex + 2 * j, value)) {
                    return false;
                }
                sum += value;
                std::uint8_t& target = Image[static_cast<std::size_t>(address) + j];
                if (target != 0xFF && target == value) {
                    Result = HexDuplicate;
                    return false;
                }
                target = value;
            }
            if (!ReadByte(Text, DataIndex + 2 * std::size_t{count}, checksum)) {
                return false;
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
                return false;
            }
            break;
        case 0x02: {
            std::uint8_t segmentHigh = 0;
            std::uint8_t segmentLow = 0;
            if (!ReadByte(Text, DataIndex, segmentHigh) ||
                !ReadByte(Text, DataIndex + 2, segmentLow)) {
                return false;
            }
            sum += segmentHigh + segmentLow;
            if (!ReadByte(Text, DataIndex + 4, checksum)) {
                return false;
            }
            SegmentOffset = ((segmentHigh << 8) | segmentLow) * 16;
            break;
        }
        default:
            Result = HexUnknownRecord;
            return false;
    }
    sum += checksum;
    if ((sum & 0xFFu) != 0) {
        Result = HexBadChecksum;
        return false;
    }
    return true;
}

int LoadHexText(std::string_view Text, TBuffer& Image, std::int32_t& HighestAddress,
                std::int32_t Length, TLoadFeedback* Feedback) {
    THexReader reader(Image, HighestAddress, Length, Feedback);
    reader.Feed(Text);
    return reader.Finish();
}

int LoadHexFile(const std::filesystem::path& FileName, TBuffer& Image, std::int32_t& HighestAddress,
                std::int32_t Length, TLoadFeedback* Feedback) {
    THexReader reader(Image, HighestAddress, Length, Feedback);
    const TFileHandle file(OpenFileForReading(FileName));
    if (!file) {
        return reader.Finish();
    }
    std::vector<char> block(ReadChunkSize);
    for (;;) {
        const std::size_t filled = std::fread(block.data(), 1, block.size(), file.get());
        if (filled == 0) {
            if (std::ferror(file.get()) != 0) {
                // The text broke off: a line cut short by the error is not read.
                return reader.Finish(false);
            }
            break;
        }
        if (!reader.Feed(std::string_view(block.data(), filled))) {
            break;
        }
    }
    return reader.Finish();
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
