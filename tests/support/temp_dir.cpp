#include "temp_dir.h"

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <system_error>

namespace tarnwick::test {

TTempDir::TTempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "tarnwick-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        throw std::system_error(errno, std::generic_category(), "mkdtemp");
    }
    Root = pattern;
}

TTempDir::~TTempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(Root, ignored);
}

std::string TTempDir::File(const std::string& Name) const {
    return (Root / Name).string();
}

std::string TTempDir::Write(const std::string& Name, const std::string& Content) const {
    const std::string fileName = File(Name);
    std::ofstream out(fileName, std::ios::binary | std::ios::trunc);
    out.write(Content.data(), static_cast<std::streamsize>(Content.size()));
    if (!out.flush()) {
        throw std::runtime_error("cannot write " + fileName);
    }
    return fileName;
}

std::string TTempDir::Write(const std::string& Name,
                            const std::vector<std::uint8_t>& Content) const {
    return Write(Name, std::string(Content.begin(), Content.end()));
}

std::vector<std::uint8_t> ReadBinaryFile(const std::string& FileName) {
    std::ifstream in(FileName, std::ios::binary);
    if (!in) {
        throw std::runtime_error("cannot read " + FileName);
    }
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace tarnwick::test
