// The command line of tarnwick-devsim.
#pragma once

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace devsim {

struct TOptions {
    std::string Password = "Kiwu";
    std::uint8_t VersionMajor = 2;
    std::uint8_t VersionMinor = 1;
    std::vector<std::uint8_t> Signature = {0x1E, 0x93, 0x07};
    std::uint32_t BufferSize = 64;
    std::uint32_t FlashSize = 8192;
    bool Echo = false;
    bool NoCrc = false;
    bool NoVerify = false;
    bool WrongVerdict = false;
    bool Silent = false;
    int PowerOnDelayMs = 0;
    long DropByte = 0;
    long CorruptByte = 0;
    long WithholdAck = 0;
    bool WithholdConfirm = false;
    long AcceptFromByte = 0;
    long WithholdCrcVerdict = 0;
    bool WithholdProgramEnd = false;
    bool WithholdVerdict = false;
    std::string TraceFile;
    std::string FlashOut;
    std::string FlashIn;
    bool ExitAfterSuccess = false;
    bool ExitAfterClose = false;  // after 0xA5 0xA5, whatever the update's outcome
    double MaxTimeS = 0;
    long LineRate = 0;
    bool TarnwickMark = false;
};

void Usage(std::ostream& Out);
// The options, or nothing after a message on standard error for a bad command line.
// --help prints the usage and ends the program.
std::optional<TOptions> ParseOptions(int argc, char** argv);

}  // namespace devsim
