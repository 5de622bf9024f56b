// Whole numbers typed by the user (command-line options).
#pragma once

#include <string>

namespace tarnwick {

// True, with Value set, when all of Text is a decimal number from Min to Max.
bool ParseNumber(const std::string& Text, int Min, int Max, int& Value);
// The German message for an option whose value ParseNumber refused.
std::string NumberOptionMessage(const std::string& Option, const std::string& Text, int Min,
                                int Max);

}  // namespace tarnwick
