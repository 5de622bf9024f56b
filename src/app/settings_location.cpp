#include "settings_location.h"

#include <cstdlib>
#include <fstream>
#include <string>
#include <system_error>

#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>
#endif

namespace tarnwick {

namespace {

std::filesystem::path UserConfigFolder() {
#ifdef _WIN32
    const char* appData = std::getenv("APPDATA");
    return appData != nullptr && *appData != '\0' ? std::filesystem::path(appData) / "Tarnwick"
                                                  : std::filesystem::path();
#else
    const char* configHome = std::getenv("XDG_CONFIG_HOME");
    // A relative value is invalid and must be ignored.
    if (configHome != nullptr && *configHome == '/') {
        return std::filesystem::path(configHome) / "tarnwick";
    }
    const char* home = std::getenv("HOME");
    return home != nullptr && *home != '\0' ? std::filesystem::path(home) / ".config" / "tarnwick"
                                            : std::filesystem::path();
#endif
}

}  // namespace

bool FolderTakesNewFiles(const std::filesystem::path& Folder) {
    std::error_code ec;
    if (!std::filesystem::is_directory(Folder, ec)) {
        return false;
    }
#ifdef _WIN32
    const std::filesystem::path probe = Folder / ".tarnwick-write-test";
    {
        std::ofstream file(probe, std::ios::binary);
        if (!file) {
            return false;
        }
    }
    std::filesystem::remove(probe, ec);
    return true;
#else
    std::string name = (Folder / ".tarnwick-write-test-").string();
    name += std::to_string(::getpid());
    const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) {
        return false;
    }
    ::close(fd);
    ::unlink(name.c_str());
    return true;
#endif
}

bool InstalledProgramFolder(const std::filesystem::path& Folder) {
    std::error_code ec;
    return Folder.filename() == "bin" &&
           std::filesystem::is_directory(Folder.parent_path() / "share", ec);
}

std::filesystem::path SettingsFilePath(const std::filesystem::path& ExecutableFolder) {
    const std::filesystem::path beside = ExecutableFolder / SettingsFileName;
    std::error_code ec;
    if (!InstalledProgramFolder(ExecutableFolder) &&
        (std::filesystem::exists(beside, ec) || FolderTakesNewFiles(ExecutableFolder))) {
        return beside;
    }
    const std::filesystem::path config = UserConfigFolder();
    return config.empty() ? beside : config / SettingsFileName;
}

}  // namespace tarnwick
