#include "station/serial_source.h"

#include <algorithm>
#include <charconv>
#include <fstream>

#include "comport/ini_file_write.h"
#include "station/station_files.h"

namespace tarnwick {

namespace {

// Said in the first line of the state file of a list that is used up.
const std::string ListUsedUp = "aufgebraucht";

std::filesystem::path LockFileOf(const std::filesystem::path& State) {
    std::filesystem::path lock = State;
    lock += ".lock";
    return lock;
}

std::string Trimmed(std::string Text) {
    const auto blank = [](char C) { return C == ' ' || C == '\t' || C == '\r' || C == '\n'; };
    while (!Text.empty() && blank(Text.back()))
        Text.pop_back();
    std::size_t first = 0;
    while (first < Text.size() && blank(Text[first]))
        ++first;
    return Text.substr(first);
}

// The first line of the state file; none when there is no file.
std::optional<std::string> ReadStateLine(const std::filesystem::path& State) {
    std::error_code error;
    if (!std::filesystem::exists(State, error))
        return std::nullopt;
    std::ifstream in(State, std::ios::binary);
    std::string line;
    if (!in || !std::getline(in, line)) {
        if (in.eof())
            return std::string();
        throw EStation("Zustandsdatei " + QuotedName(State) + " nicht lesbar");
    }
    return Trimmed(line);
}

void WriteState(const std::filesystem::path& State, const std::string& FirstLine) {
    try {
        WriteWholeFile(State, FirstLine + "\n");
    } catch (const std::exception& e) {
        throw EStation("Zustandsdatei " + QuotedName(State) + " nicht zu schreiben (" + e.what() +
                       ")");
    }
}

}  // namespace

std::optional<std::uint64_t> ParseSerialNumber(const std::string& Text) {
    std::uint64_t value = 0;
    const auto parsed = std::from_chars(Text.data(), Text.data() + Text.size(), value);
    if (Text.empty() || parsed.ec != std::errc() || parsed.ptr != Text.data() + Text.size())
        return std::nullopt;
    return value;
}

std::vector<std::uint64_t> ReadSerialList(const std::filesystem::path& File) {
    std::ifstream in(File, std::ios::binary);
    if (!in)
        throw EStation("Seriennummernliste " + QuotedName(File) + " nicht lesbar");
    std::vector<std::uint64_t> list;
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        line = Trimmed(line);
        if (line.empty())
            continue;
        const auto value = ParseSerialNumber(line);
        if (!value)
            throw EStation("Seriennummernliste " + QuotedName(File) + ", Zeile " +
                           std::to_string(number) + ": keine Nummer: " + line);
        list.push_back(*value);
    }
    if (list.empty())
        throw EStation("Seriennummernliste " + QuotedName(File) + " ist leer");
    return list;
}

TSerialSource::TSerialSource(std::filesystem::path StateFile, std::uint64_t AStart,
                             std::uint64_t AStep)
    : State(std::move(StateFile)), Start(AStart), Step(AStep) {}

TSerialSource::TSerialSource(std::filesystem::path StateFile, std::vector<std::uint64_t> AList)
    : State(std::move(StateFile)), List(std::move(AList)) {}

std::optional<std::uint64_t> TSerialSource::NextLocked() const {
    const auto line = ReadStateLine(State);
    if (List) {
        if (!line)
            return List->front();
        if (*line == ListUsedUp)
            return std::nullopt;
        const auto value = ParseSerialNumber(*line);
        if (!value || std::find(List->begin(), List->end(), *value) == List->end())
            throw EStation("Zustandsdatei " + QuotedName(State) + ": \"" + *line +
                           "\" steht nicht in der Seriennummernliste");
        return value;
    }
    if (!line)
        return Start;
    const auto value = ParseSerialNumber(*line);
    if (!value)
        throw EStation("Zustandsdatei " + QuotedName(State) +
                       ": die erste Zeile ist keine Nummer: \"" + *line + "\"");
    return std::max(*value, Start);
}

std::optional<std::uint64_t> TSerialSource::Peek() const {
    const TFileLock lock(LockFileOf(State));
    return NextLocked();
}

std::uint64_t TSerialSource::Take() {
    const TFileLock lock(LockFileOf(State));
    const auto next = NextLocked();
    if (!next)
        throw EStation("Die Seriennummernliste ist aufgebraucht (Zustandsdatei " +
                       QuotedName(State) + ")");
    std::string after;
    if (List) {
        const auto at = std::find(List->begin(), List->end(), *next);
        after = at + 1 == List->end() ? ListUsedUp : std::to_string(*(at + 1));
    } else {
        after = std::to_string(*next + Step);
    }
    WriteState(State, after);
    return *next;
}

}  // namespace tarnwick
