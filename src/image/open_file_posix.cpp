#include "open_file.h"

namespace tarnwick {

std::FILE* OpenFileForReading(const std::filesystem::path& Name) {
    return std::fopen(Name.c_str(), "rb");
}

}  // namespace tarnwick
