#include "open_file.h"

namespace tarnwick {

std::FILE* OpenFileForReading(const std::filesystem::path& Name) {
    return _wfopen(Name.c_str(), L"rb");
}

}  // namespace tarnwick
