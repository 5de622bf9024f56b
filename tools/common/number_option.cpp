#include "number_option.h"

#include <cerrno>
#include <cstdlib>

namespace toolcommon {

bool ParseNumber(const std::string& Text, long long Low, long long High, int Base, long long& Out) {
    char* end = nullptr;
    errno = 0;
    const long long v = std::strtoll(Text.c_str(), &end, Base);
    if (Text.empty() || *end != '\0' || errno != 0 || v < Low || v > High)
        return false;
    Out = v;
    return true;
}

}  // namespace toolcommon
