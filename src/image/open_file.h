// Opens a file for reading by its path as the system names files: on Windows by its
// UTF-16 name, so that every name the user can type or choose opens, not only those of
// the ANSI code page.
#pragma once

#include <cstdio>
#include <filesystem>

namespace tarnwick {

// fopen(Name, "rb"); null when the file cannot be opened.
std::FILE* OpenFileForReading(const std::filesystem::path& Name);

}  // namespace tarnwick
