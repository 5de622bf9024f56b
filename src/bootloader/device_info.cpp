#include "device_info.h"

namespace tarnwick {

namespace {

std::optional<int> DecimalPair(std::string_view digits) {
    int value = 0;
    for (const char c : digits) {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + (c - '0');
    }
    return value;
}

}  // namespace

std::optional<std::string> VersionText(std::string_view ReplyText) {
    if (ReplyText.size() < 4)
        return std::nullopt;
    const auto major = DecimalPair(ReplyText.substr(0, 2));
    const auto minor = DecimalPair(ReplyText.substr(2, 2));
    if (!major || !minor)
        return std::nullopt;
    return std::to_string(*major) + "." + std::to_string(*minor);
}

std::string DeviceName(std::string_view ReplyText) {
    for (const std::string_view entry : DeviceTable) {
        if (entry.substr(0, 6) == ReplyText)
            return std::string(entry.substr(7));
    }
    return std::string(UnknownDevice);
}

std::optional<std::int64_t> HexValue(std::string_view ReplyText) {
    if (ReplyText.empty() || ReplyText.size() > 15)
        return std::nullopt;
    std::int64_t value = 0;
    for (const char c : ReplyText) {
        int digit = 0;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        else
            return std::nullopt;
        value = value * 16 + digit;
    }
    return value;
}

}  // namespace tarnwick
