// tarnwick-cli update with one device and with eight at once, against tarnwick-devsim
// keeping the line time of 115200 baud: eight should take at most 1.2 times as long as one,
// and the tool under 10 % of one core in all.
//
// Counters: wall_s the run of the tool, from start to exit; cpu_share its CPU time (all its
// threads) over that; per_device_cpu_share the same per device. The simulated devices run in
// processes of their own and are not counted.

#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdint>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "devsim_process.h"
#include "hex_record.h"

extern char** environ;

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

// Runs the tool with Args, its output thrown away; its own CPU time from wait4.
TRun RunCli(const std::vector<std::string>& Args) {
    std::vector<std::string> all{TARNWICK_CLI_PATH};
    all.insert(all.end(), Args.begin(), Args.end());
    std::vector<char*> argv;
    for (auto& a : all)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    TRun run;
    pid_t pid = -1;
    const auto start = std::chrono::steady_clock::now();
    const int rc = posix_spawn(&pid, all[0].c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0)
        return run;
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    run.WallSeconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    run.CpuSeconds = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                     static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    run.ExitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
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
    ->UseRealTime()
    ->Unit(benchmark::kSecond)
    ->Iterations(1);

}  // namespace
}  // namespace tarnwick

BENCHMARK_MAIN();
