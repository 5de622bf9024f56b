// The user's configuration folder and the write test on POSIX.
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <system_error>

#include "settings_location.h"

namespace tarnwick {

std::filesystem::path UserConfigFolder() {
    const char* configHome = std::getenv("XDG_CONFIG_HOME");
    // A relative value is invalid and must be ignored.
    if (configHome != nullptr && *configHome == '/') {
        return std::filesystem::path(configHome) / "tarnwick";
    }
    const char* home = std::getenv("HOME");
    return home != nullptr && *home != '\0' ? std::filesystem::path(home) / ".config" / "tarnwick"
                                            : std::filesystem::path();
}

bool FolderTakesNewFiles(const std::filesystem::path& Folder) {
    std::error_code ec;
    if (!std::filesystem::is_directory(Folder, ec)) {
        return false;
    }
    std::string name = (Folder / ".tarnwick-write-test-").string();
    name += std::to_string(::getpid());
    const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) {
        return false;
    }
    ::close(fd);
    ::unlink(name.c_str());
    return true;
}

}  // namespace tarnwick
