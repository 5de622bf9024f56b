// The window speaks UTF-16 with the system and UTF-8 with the rest of the program; the
// conversion happens here, at the boundary, and nowhere else.
#pragma once

#include <string>

namespace tarnwick {

std::wstring Utf8ToWide(const std::string& Utf8);
std::string WideToUtf8(const std::wstring& Wide);

}  // namespace tarnwick
