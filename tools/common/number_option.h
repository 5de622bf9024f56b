// A number on a tool's command line.
#pragma once

#include <string>

namespace toolcommon {

// Reads all of Text as a number from Low to High in Base (0: 0x... is hex, 0... octal);
// false, and Out untouched, for anything else.
bool ParseNumber(const std::string& Text, long long Low, long long High, int Base, long long& Out);

}  // namespace toolcommon
