// The line a tool offers a host: the master side of a pseudo-terminal, and the signals that
// end the tool.
#pragma once

#include <optional>
#include <string>

namespace toolcommon {

struct TPtyLine {
    int Master = -1;  // non-blocking
    int Slave = -1;   // raw, held open for the whole run
    std::string SlavePath;
};

// Opens a pseudo-terminal pair. The slave stays open: without it the line hangs up whenever
// the host closes its port, and reads on the master fail until the next open. A failure is
// told on standard error under Program's name.
std::optional<TPtyLine> OpenPtyLine(const char* Program);
void ClosePtyLine(TPtyLine& Line);

// SIGINT and SIGTERM make the returned descriptor readable, so that a poll loop ends
// cleanly; SIGPIPE is ignored. -1 (told on standard error) when that cannot be set up.
int StopSignalDescriptor(const char* Program);

}  // namespace toolcommon
