// tarnwick-cli hexdump: loads a HEX file as the window does and prints the rows
// of its program view.
#include "command.h"
#include "firmware_image.h"
#include "program_rows.h"
#include "text/cp1252.h"

namespace tarnwick::cli {

namespace {

int RunHexdump(const TArguments& Arguments, TCommandContext& Context) {
    if (Arguments.Operands.empty()) {
        throw EUsage("keine Datei angegeben");
    }
    if (Arguments.Operands.size() > 1) {
        throw EUsage("nur eine Datei erlaubt");
    }
    TBuffer image;
    std::int32_t highestAddress = 0;
    if (!LoadFirmwareFile(Arguments.Operands.front(), image, highestAddress, Context)) {
        return ExitFailure;
    }

    const auto rows = BuildProgramRows(image, Arguments.Has("complete"), highestAddress);
    std::string text;
    text.reserve(rows.size() * 80);
    for (const TProgramRow& row : rows) {
        text += row.Address;
        text += '\t';
        text += row.Hex1;
        text += '\t';
        text += row.Dash;
        text += '\t';
        text += row.Hex2;
        text += '\t';
        text += PrintableAscii(row.Bytes);
        text += '\n';
    }
    Context.Out << text;
    return ExitSuccess;
}

}  // namespace

const TCommand HexdumpCommand{
    "hexdump",
    "DATEI",
    "Intel-HEX-Datei laden und als Hex-Dump ausgeben (16 Byte je Zeile)",
    {{"complete", "", "den ganzen Speicher zeigen, nicht nur bis zur höchsten Adresse"}},
    RunHexdump,
};

}  // namespace tarnwick::cli
