// Where Settings.ini goes, alike on every system; what differs is in
// settings_location_posix.cpp and settings_location_win32.cpp.
#include "settings_location.h"

#include <system_error>

namespace tarnwick {

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
