// Settings.ini and text outside the system's code page: what cannot be held in
// Windows-1252 turns the file into UTF-8 with a byte order mark, and such a file, saved
// so by an editor too, reads right. Windows' code page is chosen here explicitly, so the
// rule is tested on every system.
#include <gtest/gtest.h>

#include <string>

#include "settings_text.h"
#include "temp_dir.h"

namespace tarnwick {
namespace {

const char* const Bom = "\xEF\xBB\xBF";

TEST(SettingsText, ValuesOutsideTheCodePageComeBackExactly) {
    const struct {
        const char* Name;
        std::string Before;  // the file as found (bytes)
        const char* Key;
        std::string Value;  // UTF-8
        std::string After;  // the file as written (bytes)
    } cases[] = {
        {"Windows1252StaysWhileItHoldsTheValue",
         "[Updater]\r\nPasswordEdit=Gr\xFC\xDF"
         "e\r\n",
         "FilenameInEdit", "C:\\Prüfstand\\fw.hex",
         "[Updater]\r\nPasswordEdit=Gr\xFC\xDF"
         "e\r\nFilenameInEdit=C:\\Pr\xFC"
         "fstand\\fw.hex\r\n\r\n"},
        {"AFileNameOutsideTurnsTheFileIntoUtf8",
         "; Gr\xFC\xDF"
         "e\r\n[Updater]\r\nPasswordEdit=Gr\xFC\xDF"
         "e\r\n",
         "FilenameInEdit", "C:\\Users\\Łukasz\\fw.hex",
         std::string(Bom) + "; Grüße\r\n[Updater]\r\nPasswordEdit=Grüße\r\n"
                            "FilenameInEdit=C:\\Users\\Łukasz\\fw.hex\r\n\r\n"},
        {"APasswordOutside", "", "PasswordEdit", "Żółw€",
         std::string(Bom) + "[Updater]\r\nPasswordEdit=Żółw€\r\n\r\n"},
        {"AUtf8FileStaysUtf8", std::string(Bom) + "[Updater]\r\nPasswordEdit=Überprüfen\r\n",
         "FilenameInEdit", "ä.hex",
         std::string(Bom) + "[Updater]\r\nPasswordEdit=Überprüfen\r\nFilenameInEdit=ä.hex\r\n\r\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        test::TTempDir dir;
        const std::string path = dir.Write("Settings.ini", c.Before);
        std::string before;
        {
            TIniFile file{std::filesystem::path(path)};
            before = ReadSettingsText(file, "Updater", "PasswordEdit", "Kiwu",
                                      TTextCodePage::Windows1252);
            WriteSettingsText(file, "Updater", c.Key, c.Value, TTextCodePage::Windows1252);
            file.UpdateFile();
        }
        const std::vector<std::uint8_t> bytes = test::ReadBinaryFile(path);
        EXPECT_EQ(std::string(bytes.begin(), bytes.end()), c.After);
        const TIniFile again{std::filesystem::path(path)};
        EXPECT_EQ(ReadSettingsText(again, "Updater", c.Key, "", TTextCodePage::Windows1252),
                  c.Value);
        if (std::string(c.Key) != "PasswordEdit") {
            EXPECT_EQ(ReadSettingsText(again, "Updater", "PasswordEdit", "Kiwu",
                                       TTextCodePage::Windows1252),
                      before)
                << "what was there before reads the same";
        }
    }
}

}  // namespace
}  // namespace tarnwick
