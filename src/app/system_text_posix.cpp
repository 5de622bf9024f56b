// Linux: the system's code page is UTF-8, so texts pass as they are.
#include "settings_text.h"
#include "system_text.h"

namespace tarnwick {

std::string Utf8ToSystemText(const std::string& Utf8) {
    return Utf8;
}

TTextCodePage SystemCodePage() {
    return TTextCodePage::Utf8;
}

std::string SystemTextToUtf8(const std::string& Text) {
    return Text;
}

}  // namespace tarnwick
