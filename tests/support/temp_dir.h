// A private temporary directory for one test, removed with everything in it.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace tarnwick::test {

class TTempDir {
  public:
    TTempDir();
    ~TTempDir();
    TTempDir(const TTempDir&) = delete;
    TTempDir& operator=(const TTempDir&) = delete;

    const std::filesystem::path& Path() const { return Root; }
    // Full path of Name inside the directory (the file need not exist).
    std::string File(const std::string& Name) const;
    // Writes Content to Name (binary, as is) and returns its full path.
    std::string Write(const std::string& Name, const std::string& Content) const;
    std::string Write(const std::string& Name, const std::vector<std::uint8_t>& Content) const;

  private:
    std::filesystem::path Root;
};

// Reads a whole file as bytes; throws std::runtime_error when it cannot.
std::vector<std::uint8_t> ReadBinaryFile(const std::string& FileName);

}  // namespace tarnwick::test
