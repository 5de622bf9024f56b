// Where the window keeps its Settings.ini. No Qt: the rule is plain file-system logic.
#pragma once

#include <filesystem>
#include <string>

namespace tarnwick {

inline constexpr const char* SettingsFileName = "Settings.ini";

// Settings.ini in ExecutableFolder when the file exists there or the folder takes new
// files (a program unpacked into a folder of its own keeps its settings with it).
// Otherwise, for a program installed where the user cannot write or an installed one
// (InstalledProgramFolder), in the user's configuration folder:
// ConfigHome/tarnwick/Settings.ini, with ConfigHome from XDG_CONFIG_HOME or else
// HOME/.config (on Windows APPDATA, folder "Tarnwick").
std::filesystem::path SettingsFilePath(const std::filesystem::path& ExecutableFolder);

// True for the bin folder of an installed layout (PREFIX/bin beside PREFIX/share), as
// /usr/bin or /usr/local/bin: the superuser could write there, but the folder belongs to
// the package manager, so settings never go there.
bool InstalledProgramFolder(const std::filesystem::path& Folder);

// The user's configuration folder for the program: ConfigHome/tarnwick (XDG_CONFIG_HOME,
// else HOME/.config), on Windows APPDATA/Tarnwick; empty when the variables are unset.
std::filesystem::path UserConfigFolder();

// True when a new file can be created in Folder: tried, not guessed from permission bits,
// which say nothing for the superuser, access control lists or read-only mounts.
bool FolderTakesNewFiles(const std::filesystem::path& Folder);

}  // namespace tarnwick
