// The user's configuration folder and the write test on Windows.
#include <cstdlib>
#include <fstream>
#include <system_error>

#include "settings_location.h"

namespace tarnwick {

std::filesystem::path UserConfigFolder() {
    const char* appData = std::getenv("APPDATA");
    return appData != nullptr && *appData != '\0' ? std::filesystem::path(appData) / "Tarnwick"
                                                  : std::filesystem::path();
}

bool FolderTakesNewFiles(const std::filesystem::path& Folder) {
    std::error_code ec;
    if (!std::filesystem::is_directory(Folder, ec)) {
        return false;
    }
    const std::filesystem::path probe = Folder / ".tarnwick-write-test";
    {
        std::ofstream file(probe, std::ios::binary);
        if (!file) {
            return false;
        }
    }
    std::filesystem::remove(probe, ec);
    return true;
}

}  // namespace tarnwick
