// tarnwick-cli update with one device and with eight at once, against tarnwick-devsim
// keeping the line time of 115200 baud: eight should take at most 1.2 times as long as one,
// and the tool under 10 % of one core in all.
//
// Counters: wall_s the run of the tool, from start to exit; cpu_share its CPU time (all its
// threads) over that, as wait4 reports it; per_device_cpu_share the same per device. The
// simulated devices run in processes of their own and are not counted.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "devsim_process.h"
#include "hex_record.h"

namespace tarnwick {
namespace {

using test::TDevsim;
using test::TTempDir;

// A random image of Length bytes from address 0 as an Intel-HEX file.
std::string WriteImage(const TTempDir& Dir, int Length) {
    std::mt19937 random(3);
    std::string text;
    for (int address = 0; address < Length; address += 16) {
        std::vector<std::uint8_t> data;
        for (int i = address; i < Length && i < address + 16; ++i)
            data.push_back(static_cast<std::uint8_t>(random()));
        text += test::DataRecord(static_cast<std::uint16_t>(address), data) + "\n";
    }
    return Dir.Write("image.hex", text + test::EofRecord + "\n");
}

struct TRun {
    double WallSeconds = 0;
    double CpuSeconds = 0;
    int ExitCode = -1;
};

// Runs the tool with Args to its end, its output read and thrown away.
TRun RunCli(const std::vector<std::string>& Args) {
    const auto start = std::chrono::steady_clock::now();
    test::TChildProcess cli(TARNWICK_CLI_PATH, Args, true);
    cli.ReadAll(std::chrono::minutes(10));
    TRun run;
    if (!cli.WaitExit(std::chrono::seconds(30)))
        return run;
    run.WallSeconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    run.CpuSeconds = cli.CpuSeconds();
    run.ExitCode = cli.ExitCode();
    return run;
}

// Arguments: number of devices; image bytes; 1 for --fast.
void BM_UpdateDevices(benchmark::State& state) {
    const auto devices = static_cast<std::size_t>(state.range(0));
    const auto length = static_cast<int>(state.range(1));
    const bool fast = state.range(2) != 0;
    for (auto _ : state) {
        TTempDir dir;
        const std::string hex = WriteImage(dir, length);
        std::vector<std::unique_ptr<TTempDir>> dirs;
        std::vector<std::unique_ptr<TDevsim>> sims;
        std::vector<std::string> args = {"update", "--yes"};
        if (fast)
            args.push_back("--fast");
        for (std::size_t i = 0; i < devices; ++i) {
            dirs.push_back(std::make_unique<TTempDir>());
            sims.push_back(std::make_unique<TDevsim>(
                std::vector<std::string>{"--line-rate", "115200"}, dirs.back()->Path()));
            args.insert(args.end(), {"--port", sims.back()->PortPath()});
        }
        args.push_back(hex);
        const TRun run = RunCli(args);
        if (run.ExitCode != 0) {
            state.SkipWithError("the update failed");
            return;
        }
        state.counters["wall_s"] = run.WallSeconds;
        state.counters["cpu_share"] = run.CpuSeconds / run.WallSeconds;
        state.counters["per_device_cpu_share"] =
            run.CpuSeconds / run.WallSeconds / static_cast<double>(devices);
    }
}
BENCHMARK(BM_UpdateDevices)
    ->ArgNames({"devices", "bytes", "fast"})
    ->Args({1, 8192, 1})
    ->Args({8, 8192, 1})
    ->Args({1, 96, 0})
    ->Args({8, 96, 0})
    ->Args({1, 96, 1})
    ->UseRealTime()
    ->Unit(benchmark::kSecond)
    ->Iterations(1);

// Three devices at once, the middle one hanging in the middle of programming (it withholds
// its first acknowledgement, and the tool waits the specified 5 s for it): when each device's
// run ended (its "Gesamtdauer" line), from the tool's start. Goal: the other two end as soon
// as a device alone does, before the hanging one.
void BM_OneOfThreeHangs(benchmark::State& state) {
    for (auto _ : state) {
        TTempDir dir;
        const std::string hex = WriteImage(dir, 96);
        std::vector<std::unique_ptr<TTempDir>> dirs;
        std::vector<std::unique_ptr<TDevsim>> sims;
        std::vector<std::string> args = {"update", "--yes", "--fast"};
        for (int i = 0; i < 3; ++i) {
            std::vector<std::string> deviceArgs = {"--line-rate", "115200", "--buffer", "16"};
            if (i == 1)
                deviceArgs.insert(deviceArgs.end(), {"--withhold-ack", "1"});
            dirs.push_back(std::make_unique<TTempDir>());
            sims.push_back(std::make_unique<TDevsim>(deviceArgs, dirs.back()->Path()));
            args.insert(args.end(), {"--port", sims.back()->PortPath()});
        }
        args.push_back(hex);
        const auto start = std::chrono::steady_clock::now();
        test::TChildProcess cli(TARNWICK_CLI_PATH, args, true);
        std::vector<double> ended(3, 0);
        for (std::string line = cli.ReadLine(std::chrono::minutes(2)); !line.empty();
             line = cli.ReadLine(std::chrono::minutes(2))) {
            for (int i = 0; i < 3; ++i) {
                if (line.rfind("[" + sims[i]->PortPath() + "] Gesamtdauer", 0) == 0)
                    ended[i] =
                        std::chrono::duration<double>(std::chrono::steady_clock::now() - start)
                            .count();
            }
        }
        if (!cli.WaitExit(std::chrono::seconds(30)) || cli.ExitCode() != 1 || ended[0] == 0 ||
            ended[1] == 0 || ended[2] == 0) {
            state.SkipWithError("the runs did not end as they should");
            return;
        }
        state.counters["others_s"] = std::max(ended[0], ended[2]);
        state.counters["hanging_s"] = ended[1];
    }
}
BENCHMARK(BM_OneOfThreeHangs)->UseRealTime()->Unit(benchmark::kSecond)->Iterations(1);

}  // namespace
}  // namespace tarnwick

BENCHMARK_MAIN();
