#include "comport/ini_file.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <fstream>
#include <iterator>
#include <limits>
#include <system_error>
#include <utility>

#include "comport/ini_file_write.h"

namespace tarnwick {

namespace {

constexpr std::string_view LineEnd = "\r\n";

char AsciiUpper(char C) {
    return (C >= 'a' && C <= 'z') ? static_cast<char>(C - 'a' + 'A') : C;
}

bool SameName(std::string_view A, std::string_view B) {
    return A.size() == B.size() && std::equal(A.begin(), A.end(), B.begin(), [](char X, char Y) {
               return AsciiUpper(X) == AsciiUpper(Y);
           });
}

// Blanks and control characters, as the reader trims them.
bool IsTrimmed(char C) {
    return static_cast<unsigned char>(C) <= 0x20;
}

// Section names match in any letter case: the index keys them in upper case.
std::string UpperName(std::string_view Name) {
    std::string upper(Name);
    std::transform(upper.begin(), upper.end(), upper.begin(), AsciiUpper);
    return upper;
}

constexpr std::string_view Utf8Mark = "\xEF\xBB\xBF";

std::string_view Trim(std::string_view Text) {
    while (!Text.empty() && IsTrimmed(Text.front())) {
        Text.remove_prefix(1);
    }
    while (!Text.empty() && IsTrimmed(Text.back())) {
        Text.remove_suffix(1);
    }
    return Text;
}

// Trims a line as read. Editors put a byte order mark in front of the file, and
// files joined or edited by hand carry it further on: at the start of any line it
// is read like a blank, so a rewrite (which never writes one) reads back the same.
std::string_view TrimLine(std::string_view Text) {
    for (;;) {
        Text = Trim(Text);
        if (Text.substr(0, Utf8Mark.size()) != Utf8Mark) {
            return Text;
        }
        Text.remove_prefix(Utf8Mark.size());
    }
}

bool HasLineBreak(std::string_view Text) {
    return Text.find_first_of("\r\n") != std::string_view::npos;
}

}  // namespace

std::string Quoted(std::string_view Text) {
    std::string result = "\"";
    result += Text;
    result += '"';
    return result;
}

namespace {

// A name must read back as written: the reader trims lines and names, so a name
// with blanks or control characters at an end, or control characters anywhere,
// would come back as another name (or another line).
bool NameReadsBack(std::string_view Name) {
    return Trim(Name) == Name && std::none_of(Name.begin(), Name.end(), [](char C) {
               return static_cast<unsigned char>(C) < 0x20 || C == '\x7F';
           });
}

void CheckWritable(std::string_view Section, std::string_view Key, std::string_view Value) {
    if (!NameReadsBack(Section)) {
        throw EIniFileError("INI section name " + Quoted(Section) +
                            " has blanks at an end or control characters");
    }
    // A key starts its line, where a byte order mark reads as a blank.
    if (!NameReadsBack(Key) || Key.empty() || Key.find('=') != std::string_view::npos ||
        Key.front() == ';' || Key.front() == '[' || TrimLine(Key) != Key) {
        throw EIniFileError("INI key " + Quoted(Key) + " cannot be stored in section " +
                            Quoted(Section));
    }
    if (HasLineBreak(Value)) {
        throw EIniFileError("INI value of " + Quoted(Key) + " in section " + Quoted(Section) +
                            " contains a line break");
    }
}

[[noreturn]] void ThrowFileError(const std::string& What, const std::filesystem::path& Path,
                                 int Code) {
    // Reading goes through the C++ library, which reports errno everywhere.
    const std::error_code code(Code, std::generic_category());
    throw EIniFileError(What + " " + Quoted(Path.string()) + ": " + code.message(), code);
}

}  // namespace

void ThrowWriteError(const std::filesystem::path& Target, const std::string& Step, int Code) {
    // GetLastError on Windows, errno elsewhere: the system category reads both.
    throw EIniFileError("Cannot write INI file " + Quoted(Target.string()) + ": " + Step + ": " +
                            std::system_category().message(Code),
                        std::error_code(Code, std::system_category()));
}

TIniFile::TIniFile(std::filesystem::path FileName) : FFileName(std::move(FileName)) {
    std::error_code ec;
    const auto status = std::filesystem::status(FFileName, ec);
    if (status.type() == std::filesystem::file_type::not_found) {
        return;
    }
    if (ec) {
        throw EIniFileError(
            "Cannot read INI file " + Quoted(FFileName.string()) + ": " + ec.message(), ec);
    }
    if (std::filesystem::is_directory(status)) {
        throw EIniFileError(
            "Cannot read INI file " + Quoted(FFileName.string()) + ": it is a folder",
            std::make_error_code(std::errc::is_a_directory));
    }
    // A pipe would block the reader, a device might never end.
    if (!std::filesystem::is_regular_file(status)) {
        throw EIniFileError(
            "Cannot read INI file " + Quoted(FFileName.string()) + ": it is no regular file",
            std::make_error_code(std::errc::invalid_argument));
    }
    std::ifstream in(FFileName, std::ios::binary);
    if (!in) {
        ThrowFileError("Cannot read INI file", FFileName, errno);
    }
    std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) {
        ThrowFileError("Cannot read INI file", FFileName, errno);
    }
    // No text file holds a zero byte: this is something else, and writing settings
    // back would destroy it.
    if (content.find('\0') != std::string::npos) {
        throw EIniFileError(
            "Cannot read INI file " + Quoted(FFileName.string()) + ": it holds binary data",
            std::make_error_code(std::errc::illegal_byte_sequence));
    }
    SetText(content);
}

void TIniFile::SetText(std::string_view Text) {
    FByteOrderMark = Text.substr(0, Utf8Mark.size()) == Utf8Mark;
    FPreamble.clear();
    FSections.clear();
    FSectionIndex.clear();
    TSection* current = nullptr;
    while (!Text.empty()) {
        // CR LF, LF and a lone CR all end a line.
        const std::size_t end = Text.find_first_of("\r\n");
        std::string_view raw = Text.substr(0, end);
        if (end == std::string_view::npos) {
            Text = {};
        } else {
            const std::size_t skip =
                (Text[end] == '\r' && end + 1 < Text.size() && Text[end + 1] == '\n') ? 2 : 1;
            Text.remove_prefix(end + skip);
        }
        const std::string_view line = TrimLine(raw);
        if (line.empty()) {
            continue;
        }
        if (line.front() == '[' && line.back() == ']' && line.size() >= 2) {
            // A section that appears twice continues the first one.
            current = &AddSection(Trim(line.substr(1, line.size() - 2)));
            continue;
        }
        if (current == nullptr) {
            // Not read as settings, but kept so a rewrite loses nothing.
            FPreamble.emplace_back(line);
            continue;
        }
        const std::size_t equals = line.find('=');
        if (line.front() == ';' || equals == std::string_view::npos) {
            current->Lines.push_back(TLine{{}, std::string(line), false});
            continue;
        }
        current->Lines.push_back(TLine{std::string(Trim(line.substr(0, equals))),
                                       std::string(Trim(line.substr(equals + 1))), true});
    }
}

std::string TIniFile::Text() const {
    std::string out(FByteOrderMark ? Utf8Mark : std::string_view());
    for (const std::string& line : FPreamble) {
        out += line;
        out += LineEnd;
    }
    for (const TSection& section : FSections) {
        out += '[';
        out += section.Name;
        out += ']';
        out += LineEnd;
        for (const TLine& line : section.Lines) {
            if (line.IsEntry) {
                out += line.Key;
                out += '=';
            }
            out += line.Value;
            out += LineEnd;
        }
        out += LineEnd;
    }
    return out;
}

const TIniFile::TSection* TIniFile::FindSection(std::string_view Section) const {
    // An index, not a search: a damaged file of many thousand sections must not
    // take minutes to read.
    const auto it = FSectionIndex.find(UpperName(Section));
    return it == FSectionIndex.end() ? nullptr : &FSections[it->second];
}

TIniFile::TSection& TIniFile::AddSection(std::string_view Section) {
    const auto [it, added] = FSectionIndex.try_emplace(UpperName(Section), FSections.size());
    if (added) {
        FSections.push_back(TSection{std::string(Section), {}});
    }
    return FSections[it->second];
}

TIniFile::TSection* TIniFile::FindSection(std::string_view Section) {
    return const_cast<TSection*>(std::as_const(*this).FindSection(Section));
}

const TIniFile::TLine* TIniFile::FindEntry(const TSection& Section, std::string_view Key) {
    const auto it = std::find_if(Section.Lines.begin(), Section.Lines.end(),
                                 [&](const TLine& l) { return l.IsEntry && SameName(l.Key, Key); });
    return it == Section.Lines.end() ? nullptr : &*it;
}

std::string TIniFile::ReadString(std::string_view Section, std::string_view Key,
                                 std::string_view Default) const {
    const TSection* section = FindSection(Section);
    const TLine* entry = section != nullptr ? FindEntry(*section, Key) : nullptr;
    return entry != nullptr ? entry->Value : std::string(Default);
}

std::optional<std::int32_t> TIniFile::ParseInteger(std::string_view Text) {
    bool negative = false;
    if (!Text.empty() && (Text.front() == '-' || Text.front() == '+')) {
        negative = Text.front() == '-';
        Text.remove_prefix(1);
    }
    int base = 10;
    if (!Text.empty() && Text.front() == '$') {
        base = 16;
        Text.remove_prefix(1);
    } else if (Text.size() >= 2 && Text[0] == '0' && (Text[1] == 'x' || Text[1] == 'X')) {
        base = 16;
        Text.remove_prefix(2);
    }
    // from_chars would accept a second sign only for decimals; digits only here.
    if (Text.empty() || Text.front() == '-' || Text.front() == '+') {
        return std::nullopt;
    }
    std::uint64_t magnitude = 0;
    const auto [end, ec] = std::from_chars(Text.data(), Text.data() + Text.size(), magnitude, base);
    if (ec != std::errc() || end != Text.data() + Text.size()) {
        return std::nullopt;
    }
    // Hexadecimal is a bit pattern (up to 32 bits); decimal must fit the signed range.
    const std::uint64_t limit = base == 16 ? 0xFFFFFFFFull
                                : negative ? 0x80000000ull
                                           : 0x7FFFFFFFull;
    if (magnitude > limit) {
        return std::nullopt;
    }
    const auto pattern = static_cast<std::uint32_t>(negative ? (0 - magnitude) : magnitude);
    return static_cast<std::int32_t>(pattern);
}

std::int32_t TIniFile::ReadInteger(std::string_view Section, std::string_view Key,
                                   std::int32_t Default) const {
    const TSection* section = FindSection(Section);
    const TLine* entry = section != nullptr ? FindEntry(*section, Key) : nullptr;
    if (entry == nullptr) {
        return Default;
    }
    return ParseInteger(entry->Value).value_or(Default);
}

bool TIniFile::ReadBool(std::string_view Section, std::string_view Key, bool Default) const {
    const TSection* section = FindSection(Section);
    const TLine* entry = section != nullptr ? FindEntry(*section, Key) : nullptr;
    if (entry == nullptr) {
        return Default;
    }
    const std::optional<std::int32_t> value = ParseInteger(entry->Value);
    return value ? *value != 0 : Default;
}

void TIniFile::WriteString(std::string_view Section, std::string_view Key, std::string_view Value) {
    CheckWritable(Section, Key, Value);
    TSection* section = &AddSection(Section);
    if (const TLine* entry = FindEntry(*section, Key)) {
        const_cast<TLine*>(entry)->Value = Value;
        return;
    }
    section->Lines.push_back(TLine{std::string(Key), std::string(Value), true});
}

void TIniFile::WriteInteger(std::string_view Section, std::string_view Key, std::int32_t Value) {
    WriteString(Section, Key, std::to_string(Value));
}

void TIniFile::WriteBool(std::string_view Section, std::string_view Key, bool Value) {
    WriteString(Section, Key, Value ? "1" : "0");
}

bool TIniFile::SectionExists(std::string_view Section) const {
    return FindSection(Section) != nullptr;
}

bool TIniFile::ValueExists(std::string_view Section, std::string_view Key) const {
    const TSection* section = FindSection(Section);
    return section != nullptr && FindEntry(*section, Key) != nullptr;
}

void TIniFile::UpdateFile() const {
    if (FFileName.empty()) {
        throw EIniFileError("INI file has no file name to write to");
    }
    // Replace the file a symbolic link points to, not the link itself.
    std::filesystem::path target = FFileName;
    std::error_code ec;
    if (std::filesystem::is_symlink(target, ec)) {
        const std::filesystem::path resolved = std::filesystem::canonical(target, ec);
        if (!ec) {
            target = resolved;
        }
    }
    WriteWholeFile(target, Text());
}

}  // namespace tarnwick
