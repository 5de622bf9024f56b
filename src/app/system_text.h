// Text the operating system hands over or takes in its own code page: Settings.ini and
// the system's error messages. The window's texts are UTF-8; on Linux the system's
// code page is UTF-8 too, on Windows it is Windows-1252.
#pragma once

#include <filesystem>
#include <string>

namespace tarnwick {

// A character the system's code page has no byte for becomes "?".
std::string Utf8ToSystemText(const std::string& Utf8);
std::string SystemTextToUtf8(const std::string& Text);

// Paths as the window shows and takes them: UTF-8, the system's separators.
std::string PathToUtf8(const std::filesystem::path& Path);
std::filesystem::path Utf8ToPath(const std::string& Utf8);

}  // namespace tarnwick
