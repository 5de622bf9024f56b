#include "text/number_text.h"

#include <charconv>

namespace tarnwick {

bool ParseNumber(const std::string& Text, int Min, int Max, int& Value) {
    int value = 0;
    const char* end = Text.data() + Text.size();
    const auto [stop, error] = std::from_chars(Text.data(), end, value);
    if (Text.empty() || error != std::errc() || stop != end || value < Min || value > Max)
        return false;
    Value = value;
    return true;
}

std::string NumberOptionMessage(const std::string& Option, const std::string& Text, int Min,
                                int Max) {
    std::string message = Option;
    message += " muss eine Zahl von " + std::to_string(Min) + " bis " + std::to_string(Max);
    message += " sein, nicht \"" + Text + "\"";
    return message;
}

}  // namespace tarnwick
