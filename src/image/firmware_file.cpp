#include "image/firmware_file.h"

#include <cstdio>
#include <memory>

#include "image/open_file.h"

namespace tarnwick {

namespace {

// Far more than any AVR program; keeps a wrongly chosen huge file from filling memory.
constexpr std::size_t MaxFileBytes = 64u * 1024u * 1024u;

int HexDigit(char C) {
    if (C >= '0' && C <= '9')
        return C - '0';
    if (C >= 'A' && C <= 'F')
        return C - 'A' + 10;
    if (C >= 'a' && C <= 'f')
        return C - 'a' + 10;
    return -1;
}

// Stores Bytes at Address; false when they reach past the image.
bool Store(TBuffer& Image, std::int32_t& HighestAddress, std::uint64_t Address,
           std::string_view Bytes) {
    if (Address + Bytes.size() > Image.size())
        return false;
    for (std::size_t i = 0; i < Bytes.size(); ++i)
        Image[Address + i] = static_cast<std::uint8_t>(Bytes[i]);
    if (!Bytes.empty()) {
        const auto last = static_cast<std::int32_t>(Address + Bytes.size() - 1);
        if (last > HighestAddress)
            HighestAddress = last;
    }
    return true;
}

// One S-record without its line end.
int SRecordLine(std::string_view Line, TBuffer& Image, std::int32_t& HighestAddress, bool& Ended) {
    if (Line.size() < 4 || Line[0] != 'S' || Line[1] < '0' || Line[1] > '9')
        return SrecBadRecord;
    const int type = Line[1] - '0';
    std::string bytes;
    for (std::size_t i = 2; i + 1 < Line.size(); i += 2) {
        const int high = HexDigit(Line[i]);
        const int low = HexDigit(Line[i + 1]);
        if (high < 0 || low < 0)
            return SrecBadRecord;
        bytes.push_back(static_cast<char>(high * 16 + low));
    }
    const auto count = static_cast<std::uint8_t>(bytes[0]);
    if (Line.size() % 2 != 0 || bytes.size() != std::size_t{count} + 1u)
        return SrecBadRecord;
    unsigned sum = 0;
    for (const char b : bytes)
        sum += static_cast<std::uint8_t>(b);
    if ((sum & 0xFFu) != 0xFFu)
        return SrecBadChecksum;
    // Address bytes per type: S0 S1 S5 S9 two, S2 S6 S8 three, S3 S7 four; S4 is reserved.
    static constexpr int AddressBytes[10] = {2, 2, 3, 4, 0, 2, 3, 4, 3, 2};
    const int addressBytes = AddressBytes[type];
    if (addressBytes == 0 || count < addressBytes + 1)
        return SrecBadRecord;
    std::uint64_t address = 0;
    for (int i = 0; i < addressBytes; ++i)
        address = address << 8 | static_cast<std::uint8_t>(bytes[1 + static_cast<std::size_t>(i)]);
    if (type >= 1 && type <= 3) {
        const std::string_view data = std::string_view(bytes).substr(
            1 + static_cast<std::size_t>(addressBytes), count - addressBytes - 1u);
        if (!Store(Image, HighestAddress, address, data))
            return ImageOutsideFlash;
    } else if (type >= 7) {
        Ended = true;
    }
    return HexLoaded;
}

}  // namespace

TFirmwareFormat DetectFirmwareFormat(std::string_view Start) {
    if (Start.substr(0, 4) == std::string_view("\x7F"
                                               "ELF",
                                               4))
        return TFirmwareFormat::Elf;
    if (Start.size() >= 2 && Start[0] == 'S' && Start[1] >= '0' && Start[1] <= '9')
        return TFirmwareFormat::SRecord;
    return TFirmwareFormat::IntelHex;
}

int LoadSRecordText(std::string_view Text, TBuffer& Image, std::int32_t& HighestAddress) {
    bool ended = false;
    while (!Text.empty() && !ended) {
        const std::size_t lf = Text.find('\n');
        std::string_view line = Text.substr(0, lf);
        Text.remove_prefix(lf == std::string_view::npos ? Text.size() : lf + 1);
        while (!line.empty() && (line.back() == '\r' || line.back() == ' '))
            line.remove_suffix(1);
        if (line.empty())
            continue;
        const int result = SRecordLine(line, Image, HighestAddress, ended);
        if (result != HexLoaded)
            return result;
    }
    return ended ? HexLoaded : HexIncomplete;
}

int LoadFirmwareImage(const std::filesystem::path& FileName, TBuffer& Image,
                      std::int32_t& HighestAddress, std::int32_t Length, TLoadFeedback* Feedback) {
    std::string start;
    std::string content;
    {
        const std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(OpenFileForReading(FileName),
                                                                   &std::fclose);
        if (file) {
            char head[4];
            start.assign(head, std::fread(head, 1, sizeof head, file.get()));
            if (DetectFirmwareFormat(start) != TFirmwareFormat::IntelHex) {
                content = start;
                char block[65536];
                std::size_t n = 0;
                while (content.size() <= MaxFileBytes &&
                       (n = std::fread(block, 1, sizeof block, file.get())) > 0)
                    content.append(block, n);
            }
        }
    }
    const TFirmwareFormat format = DetectFirmwareFormat(start);
    if (format == TFirmwareFormat::IntelHex)
        return LoadHexFile(FileName, Image, HighestAddress, Length, Feedback);
    if (Feedback != nullptr)
        Feedback->BeginWait();
    HighestAddress = 0;
    Image.assign(static_cast<std::size_t>(Length > 0 ? Length : 0), 0xFF);
    const int result = format == TFirmwareFormat::Elf
                           ? LoadElfBytes(content, Image, HighestAddress)
                           : LoadSRecordText(content, Image, HighestAddress);
    if (Feedback != nullptr)
        Feedback->EndWait();
    return result;
}

std::string FirmwareLoadMessage(int Code) {
    switch (Code) {
        case SrecBadRecord:
            return "Ungültiger Record in S-Record-Datei";
        case SrecBadChecksum:
            return "Prüfsumme der S-Record-Datei ungültig";
        case ImageOutsideFlash:
            return "Programmdatei enthält Daten außerhalb des Flash-Speichers (" +
                   std::to_string(MaxFlashSize) + " Byte)";
        case ElfWrongMachine:
            return "ELF-Datei ist nicht für AVR-Controller übersetzt";
        case ElfUnreadable:
            return "ELF-Datei ist beschädigt oder unvollständig";
        case ElfNoFlash:
            return "ELF-Datei enthält keine Daten für den Flash-Speicher";
        case ElfNotSupported:
            return "ELF-Dateien werden unter Windows nicht gelesen; bitte mit avr-objcopy als "
                   "Intel-Hex-Datei ausgeben";
        default:
            return LoadResultMessage(Code);
    }
}

}  // namespace tarnwick
