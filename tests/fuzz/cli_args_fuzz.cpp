// tarnwick-cli's command line: any arguments give an exit code and texts, never
// another exception. The commands' own work is left out: it would open ports.
#include <sstream>
#include <string>
#include <vector>

#include "command.h"
#include "fuzz_input.h"

using namespace tarnwick::cli;

namespace {

int Parsed(const TArguments& Arguments, TCommandContext& Context) {
    for (const auto& [name, value] : Arguments.Options) {
        Context.Out << name << '=' << value << '\n';
    }
    return static_cast<int>(Arguments.Operands.size() % 2);
}

// The real commands with their options and texts, running Parsed instead.
TCommand Stub(const TCommand& Command) {
    TCommand stub = Command;
    stub.Run = Parsed;
    return stub;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
    static const TCommand hexdump = Stub(HexdumpCommand);
    static const TCommand ports = Stub(PortsCommand);
    static const TCommand update = Stub(UpdateCommand);
    static const TCommand* const commands[] = {&hexdump, &ports, &update};

    tarnwick::fuzz::TFuzzInput input(Data, Size);
    std::vector<std::string> args;
    while (!input.Empty() && args.size() < 64) {
        args.emplace_back(input.Piece());
    }
    std::ostringstream out;
    std::ostringstream err;
    TCommandContext context{out, err};
    const int code = RunCli(commands, args, context);
    FUZZ_CHECK(code == ExitSuccess || code == ExitFailure || code == ExitUsage);
    FUZZ_CHECK(code != ExitUsage || !err.str().empty());
    return 0;
}
