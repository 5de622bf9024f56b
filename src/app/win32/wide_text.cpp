#include "wide_text.h"

#include <windows.h>

namespace tarnwick {

std::wstring Utf8ToWide(const std::string& Utf8) {
    if (Utf8.empty())
        return {};
    const int size = static_cast<int>(Utf8.size());
    const int length = MultiByteToWideChar(CP_UTF8, 0, Utf8.data(), size, nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, Utf8.data(), size, wide.data(), length);
    return wide;
}

std::string WideToUtf8(const std::wstring& Wide) {
    if (Wide.empty())
        return {};
    const int size = static_cast<int>(Wide.size());
    const int length =
        WideCharToMultiByte(CP_UTF8, 0, Wide.data(), size, nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<std::size_t>(length), '\0');
    WideCharToMultiByte(CP_UTF8, 0, Wide.data(), size, utf8.data(), length, nullptr, nullptr);
    return utf8;
}

}  // namespace tarnwick
