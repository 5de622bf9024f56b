// In-memory INI file.
//
// The whole file is read when the object is created (a missing file is empty);
// reads and writes work on memory; UpdateFile() writes the complete content
// back. Section and key names match without regard to ASCII letter case and
// keep the spelling and order in which they were first seen. Sections and
// keys the program does not know survive a rewrite, and so do comment lines.
// Bytes are kept as they are: callers pass UTF-8.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <system_error>
#include <unordered_map>
#include <vector>

namespace tarnwick {

// Failure to read or write the file, or a name or value that the file format
// cannot hold.
class EIniFileError : public std::runtime_error {
  public:
    explicit EIniFileError(const std::string& Message, std::error_code Code = {})
        : std::runtime_error(Message), FCode(Code) {}
    // The system's reason for a failed read or write; empty for a refused name or value.
    const std::error_code& Code() const { return FCode; }

  private:
    std::error_code FCode;
};

class TIniFile {
  public:
    // An empty object that belongs to no file (UpdateFile() then fails).
    TIniFile() = default;
    // Reads FileName if it exists. Throws EIniFileError if it exists but
    // cannot be read (no permission, a folder, a pipe or device, binary data
    // with zero bytes): writing it back later would destroy its content.
    explicit TIniFile(std::filesystem::path FileName);

    const std::filesystem::path& FileName() const { return FFileName; }

    // Reads give Default when the section or key is missing.
    std::string ReadString(std::string_view Section, std::string_view Key,
                           std::string_view Default) const;
    // Decimal, or hexadecimal after "$" or "0x"/"0X", with an optional sign;
    // anything else gives Default. Hexadecimal texts up to FFFFFFFF stand for
    // that 32-bit pattern, so $FFFFFFFF reads as -1.
    std::int32_t ReadInteger(std::string_view Section, std::string_view Key,
                             std::int32_t Default) const;
    // An integer as above; any value other than 0 is true.
    bool ReadBool(std::string_view Section, std::string_view Key, bool Default) const;

    // Writes replace the value of an existing key in place, or add the key at
    // the end of its section, or add the section at the end of the file.
    // Names and values that would not read back as written are refused with
    // EIniFileError: line breaks anywhere, section and key names with blanks at
    // an end or control characters, "=" in a key, a key that would read as a
    // comment or a section. Values keep the format's trimming: blanks at their
    // ends are lost when read back.
    void WriteString(std::string_view Section, std::string_view Key, std::string_view Value);
    void WriteInteger(std::string_view Section, std::string_view Key, std::int32_t Value);
    void WriteBool(std::string_view Section, std::string_view Key, bool Value);

    bool SectionExists(std::string_view Section) const;
    bool ValueExists(std::string_view Section, std::string_view Key) const;

    // Writes the content to FileName(): first to a temporary file in the same
    // folder, then renamed over the target, so a failed write never leaves a
    // half-written file behind. Throws EIniFileError naming the path and the
    // system's reason.
    void UpdateFile() const;

    // Whether the content begins with a UTF-8 byte order mark: read from the text
    // (a mark at its start), written in front of it. The bytes after it are the
    // caller's either way.
    bool ByteOrderMark() const { return FByteOrderMark; }
    void SetByteOrderMark(bool Value) { FByteOrderMark = Value; }

    // The content in file form (CR LF line ends), and replacing the content by
    // parsing a text.
    std::string Text() const;
    void SetText(std::string_view Text);

    // The parser used for integer values; nullopt for a text that is no
    // integer.
    static std::optional<std::int32_t> ParseInteger(std::string_view Text);

  private:
    struct TLine {
        std::string Key;    // empty for a kept comment or unreadable line
        std::string Value;  // the value, or the whole kept line
        bool IsEntry = true;
    };
    struct TSection {
        std::string Name;
        std::vector<TLine> Lines;
    };

    const TSection* FindSection(std::string_view Section) const;
    TSection* FindSection(std::string_view Section);
    // The section of that name, added at the end when there is none.
    TSection& AddSection(std::string_view Section);
    static const TLine* FindEntry(const TSection& Section, std::string_view Key);

    std::filesystem::path FFileName;
    bool FByteOrderMark = false;
    std::vector<std::string> FPreamble;  // comments above the first section
    std::vector<TSection> FSections;
    std::unordered_map<std::string, std::size_t> FSectionIndex;  // upper-case name -> index
};

}  // namespace tarnwick
