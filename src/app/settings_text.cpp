#include "settings_text.h"

#include "text/cp1252.h"

namespace tarnwick {

namespace {

bool HoldsUtf8(const TIniFile& File, TTextCodePage CodePage) {
    return CodePage == TTextCodePage::Utf8 || File.ByteOrderMark();
}

}  // namespace

std::string ReadSettingsText(const TIniFile& File, std::string_view Section, std::string_view Key,
                             const std::string& Default, TTextCodePage CodePage) {
    if (!File.ValueExists(Section, Key)) {
        return Default;
    }
    const std::string text = File.ReadString(Section, Key, "");
    return HoldsUtf8(File, CodePage) ? text : Cp1252ToUtf8(text);
}

void WriteSettingsText(TIniFile& File, std::string_view Section, std::string_view Key,
                       const std::string& Utf8, TTextCodePage CodePage) {
    if (!HoldsUtf8(File, CodePage)) {
        std::string bytes;
        if (Utf8ToCp1252(Utf8, bytes)) {
            File.WriteString(Section, Key, bytes);
            return;
        }
        File.SetText(Cp1252ToUtf8(File.Text()));
        File.SetByteOrderMark(true);
    }
    File.WriteString(Section, Key, Utf8);
}

}  // namespace tarnwick
