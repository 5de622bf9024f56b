// The port settings' text conversions, and loading them from an INI section: each
// text converts or raises the component's own error, nothing else, and what is
// saved loads back to the same settings. The port is never opened.
#include "comport/com_port.h"
#include "comport/ini_file.h"
#include "fuzz_input.h"

using namespace tarnwick;

namespace {

// Every stored setting, in the file form.
std::string Saved(const TComPort& Port) {
    TIniFile ini;
    Port.SaveToIni(ini);
    return ini.Text();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
    fuzz::TFuzzInput input(Data, Size);
    const auto groups = TStoredGroups::FromBits(input.Byte());
    const std::string text(input.Piece());

    // Each conversion back gives a value whose text converts to itself.
    FUZZ_CHECK(BaudRateFromText(BaudRateToText(BaudRateFromText(text))) == BaudRateFromText(text));
    FUZZ_CHECK(StopBitsFromText(StopBitsToText(StopBitsFromText(text))) == StopBitsFromText(text));
    FUZZ_CHECK(DataBitsFromText(DataBitsToText(DataBitsFromText(text))) == DataBitsFromText(text));
    FUZZ_CHECK(ParityFromText(ParityToText(ParityFromText(text))) == ParityFromText(text));
    FUZZ_CHECK(FlowControlFromText(FlowControlToText(FlowControlFromText(text))) ==
               FlowControlFromText(text));
    FUZZ_CHECK(DTRFromText(DTRToText(DTRFromText(text))) == DTRFromText(text));
    FUZZ_CHECK(RTSFromText(RTSToText(RTSFromText(text))) == RTSFromText(text));
    FUZZ_CHECK(BoolFromText(BoolToText(BoolFromText(text))) == BoolFromText(text));
    FUZZ_CHECK(CharFromText(CharToText(CharFromText(text))) == CharFromText(text));

    TIniFile ini;
    ini.SetText(input.All());
    TComPort port;
    port.SetName("ComPort");
    port.SetStoredGroups(groups);
    try {
        port.LoadFromIni(ini);
    } catch (const EComPort&) {
        return 0;  // the component's own error: allowed
    }
    const std::string saved = Saved(port);
    TIniFile savedIni;
    savedIni.SetText(saved);
    TComPort again;
    again.SetName("ComPort");
    again.SetStoredGroups(groups);
    again.LoadFromIni(savedIni);
    FUZZ_CHECK(Saved(again) == saved);
    return 0;
}
