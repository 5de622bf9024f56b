// What the INI file shares with its platform's writer (ini_file_write_*.cpp).
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace tarnwick {

// Writes Content to Target whole: first to a temporary file in the same folder, then
// moved over the target, so a failed write never leaves a half-written file behind.
void WriteWholeFile(const std::filesystem::path& Target, const std::string& Content);

// "Text" in double quotes, for messages.
std::string Quoted(std::string_view Text);
// Throws EIniFileError naming the file being saved, the step that failed and the
// system's reason for Code.
[[noreturn]] void ThrowWriteError(const std::filesystem::path& Target, const std::string& Step,
                                  int Code);

}  // namespace tarnwick
