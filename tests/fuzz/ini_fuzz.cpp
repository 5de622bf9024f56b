// The INI reader and writer: whatever is read writes out as a text that reads
// back to the same; a write that is accepted reads back.
#include "comport/ini_file.h"
#include "fuzz_input.h"

using namespace tarnwick;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
    fuzz::TFuzzInput input(Data, Size);
    const std::string_view section = input.Piece();
    const std::string_view key = input.Piece();
    const std::string_view value = input.Piece();
    const std::string_view text = input.All();

    TIniFile ini;
    ini.SetText(text);
    const std::string written = ini.Text();
    TIniFile again;
    again.SetText(written);
    FUZZ_CHECK(again.Text() == written);

    try {
        ini.WriteString(section, key, value);
    } catch (const EIniFileError&) {
        FUZZ_CHECK(ini.Text() == written);  // a refused write changes nothing
        return 0;
    }
    FUZZ_CHECK(ini.ReadString(section, key, "") == value);
    // Read back from the file form: the same value, less the blanks at its ends.
    TIniFile reread;
    reread.SetText(ini.Text());
    const std::string stored = reread.ReadString(section, key, "\x01missing");
    std::string_view trimmed = value;
    while (!trimmed.empty() && static_cast<unsigned char>(trimmed.front()) <= 0x20) {
        trimmed.remove_prefix(1);
    }
    while (!trimmed.empty() && static_cast<unsigned char>(trimmed.back()) <= 0x20) {
        trimmed.remove_suffix(1);
    }
    FUZZ_CHECK(stored == trimmed);
    TIniFile third;
    third.SetText(reread.Text());
    FUZZ_CHECK(third.Text() == reread.Text());
    return 0;
}
