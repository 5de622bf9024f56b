// tarnwick-cli screen: a captured serial log through the terminal core, as if it had
// been received, and the final screen printed as text.
#include <fstream>
#include <iostream>
#include <istream>
#include <string>

#include "command.h"
#include "firmware_image.h"
#include "terminal/com_terminal_core.h"
#include "text/cp1252.h"

namespace tarnwick::cli {

namespace {

// Feeds In through Terminal in chunks, as a port would hand them over.
bool Feed(std::istream& In, TComTerminalCore& Terminal) {
    char chunk[4096];
    while (In.read(chunk, sizeof chunk) || In.gcount() > 0) {
        Terminal.ReceiveBytes(reinterpret_cast<const std::uint8_t*>(chunk),
                              static_cast<int>(In.gcount()));
    }
    return In.eof();
}

int RunScreen(const TArguments& Arguments, TCommandContext& Context) {
    if (Arguments.Operands.size() > 1)
        throw EUsage("nur eine Datei erlaubt");
    if (Arguments.Has("vt52") && Arguments.Has("no-emulation"))
        throw EUsage("--vt52 und --no-emulation schließen sich aus");
    TComTerminalCore terminal;
    terminal.SetColumns(Arguments.NumberOption("columns", 80, MinColumns, MaxColumns));
    terminal.SetRows(Arguments.NumberOption("rows", 24, MinRows, MaxRows));
    terminal.SetEmulation(Arguments.Has("vt52")           ? teVT52
                          : Arguments.Has("no-emulation") ? teNone
                                                          : teVT100orANSI);
    terminal.SetWrapLines(Arguments.Has("wrap"));
    terminal.SetAppendLF(Arguments.Has("append-lf"));
    terminal.SetForce7Bit(Arguments.Has("force-7bit"));

    const std::string fileName = Arguments.Operands.empty() ? "-" : Arguments.Operands.front();
    bool complete = false;
    if (fileName == "-") {
        complete = Feed(std::cin, terminal);
    } else {
        if (!FileExists(fileName)) {
            Context.Err << FileNotFoundMessage(fileName) << "\n";
            return ExitFailure;
        }
        std::ifstream in(fileName, std::ios::binary);
        complete = in.is_open() && Feed(in, terminal);
    }
    if (!complete) {
        Context.Err << "Fehler beim Lesen von \"" << fileName << "\"\n";
        return ExitFailure;
    }

    std::string text;
    for (int row = 1; row <= terminal.Rows(); ++row) {
        std::string line = terminal.ScreenBuffer().RowText(row);
        line.erase(line.find_last_not_of(' ') + 1);
        text += Cp1252ToUtf8(line);
        text += '\n';
    }
    text += "Schreibmarke: " + std::to_string(terminal.CaretRow()) + ";" +
            std::to_string(terminal.CaretCol()) + "\n";
    Context.Out << text;
    return ExitSuccess;
}

}  // namespace

const TCommand ScreenCommand{
    "screen",
    "[DATEI]",
    "Mitschnitt einer seriellen Ausgabe durch das Terminal schicken und den Bildschirm ausgeben",
    {
        {"vt52", "", "VT52-Steuerfolgen statt VT100/ANSI"},
        {"no-emulation", "", "keine Steuerfolgen auswerten, jedes Byte als Zeichen zeigen"},
        {"columns", "N", "Spalten (2 bis 256, Vorgabe 80)"},
        {"rows", "N", "Zeilen (2 bis 100, Vorgabe 24)"},
        {"wrap", "", "nach der letzten Spalte in der nächsten Zeile weiterschreiben"},
        {"append-lf", "", "nach jedem CR ein LF einfügen"},
        {"force-7bit", "", "Bit 7 jedes Bytes löschen"},
    },
    RunScreen,
};

}  // namespace tarnwick::cli
