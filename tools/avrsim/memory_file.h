// A chip memory (flash or EEPROM) kept in a file, so that a killed emulator is a power
// cut and a restarted one a chip switched on again.
//
// A whole write goes to a temporary file renamed over the old one; a page goes into the
// file in place with one pwrite, which a kill cannot tear. Either way the file always
// holds a memory that the chip could have held.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace avrsim {

class TMemoryFile {
  public:
    TMemoryFile() = default;
    explicit TMemoryFile(std::string Path);
    ~TMemoryFile();
    TMemoryFile(const TMemoryFile&) = delete;
    TMemoryFile& operator=(const TMemoryFile&) = delete;

    bool Enabled() const { return !Path.empty(); }
    const std::string& FileName() const { return Path; }
    // Reads the file into Memory (as much as fits; the rest stays). False when it does
    // not exist; Error is set when it exists but cannot be read.
    bool Load(std::uint8_t* Memory, std::size_t Size, std::string& Error) const;
    // Writes the whole memory (false with Error on failure).
    bool SaveAll(const std::uint8_t* Memory, std::size_t Size, std::string& Error);
    // Writes Size bytes at Offset (false with Error on failure).
    // Writes Size bytes from Data at Offset into a file written whole before.
    bool SaveRange(const std::uint8_t* Data, std::size_t Offset, std::size_t Size,
                   std::string& Error);

  private:
    std::string Path;
    int Fd = -1;
};

}  // namespace avrsim
