// Settings.ini's texts for the window, which speaks UTF-8. A file that begins with a
// UTF-8 byte order mark is UTF-8 (editors save it so); any other is in the system's code
// page, and stays so as long as that holds what is written into it. A text it cannot hold
// (a path with "Ł" where the code page is Windows-1252) would come back as "?" and name
// another file: then the whole file becomes UTF-8 with a byte order mark, so that every
// value reads back exactly and editors still show it right.
#pragma once

#include <string>
#include <string_view>

#include "comport/ini_file.h"

namespace tarnwick {

enum class TTextCodePage { Utf8, Windows1252 };

// The code page the system's programs write text files in (system_text_*.cpp).
TTextCodePage SystemCodePage();

std::string ReadSettingsText(const TIniFile& File, std::string_view Section, std::string_view Key,
                             const std::string& Default, TTextCodePage CodePage = SystemCodePage());
void WriteSettingsText(TIniFile& File, std::string_view Section, std::string_view Key,
                       const std::string& Utf8, TTextCodePage CodePage = SystemCodePage());

}  // namespace tarnwick
