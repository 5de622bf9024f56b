// Where serial numbers come from: counting from a start, or a list used in order. The
// next number lives in a state file, so that a number is handed out once, ever: across
// restarts, crashes and stations that share the file.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace tarnwick {

class TSerialSource {
  public:
    // Start, Start + Step, ...; a state file that is further on wins.
    TSerialSource(std::filesystem::path StateFile, std::uint64_t Start, std::uint64_t Step);
    // The entries of List in order, from the one the state file names.
    TSerialSource(std::filesystem::path StateFile, std::vector<std::uint64_t> List);

    // Takes the next number: under the lock, the state file is replaced (temporary file,
    // sync, rename) with the one after it before the number is returned. Throws EStation
    // when the state cannot be read or written or the list is used up.
    std::uint64_t Take();
    // The number Take would give now; none when the list is used up. Throws as Take.
    std::optional<std::uint64_t> Peek() const;

    const std::filesystem::path& StateFile() const { return State; }

  private:
    std::optional<std::uint64_t> NextLocked() const;

    std::filesystem::path State;
    std::uint64_t Start = 0;
    std::uint64_t Step = 1;
    std::optional<std::vector<std::uint64_t>> List;
};

// The numbers of a list file, one a line (blank lines skipped); throws EStation naming the
// first line that holds no number.
std::vector<std::uint64_t> ReadSerialList(const std::filesystem::path& File);

// A whole decimal number without sign; none for anything else.
std::optional<std::uint64_t> ParseSerialNumber(const std::string& Text);

}  // namespace tarnwick
