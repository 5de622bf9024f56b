// How much of one core the protocol's waits cost, and what reception costs per byte.
//
// Every byte sent holds a 50 ms pacing window and every reply wait lasts up to seconds;
// the goal is that such waits cost a few percent of one core, not a spinning loop. The
// "cpu_share" counter is process CPU time divided by wall time over the measured waits
// (goal: below 0.05).

#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <chrono>
#include <string>
#include <vector>

#include "bench_owner.h"
#include "bootloader/bootloader.h"
#include "bootloader/protocol_codes.h"
#include "bootloader/reply_reception.h"
#include "comport/com_port.h"
#include "comport/main_thread_dispatcher.h"
#include "process_cpu.h"

namespace tarnwick {
namespace {

using bench::ProcessCpuSeconds;
using bench::TQuietOwner;

// A reply wait that runs into its time-out (100 ms here; the protocol's are 10 ms to 5 s).
void BM_WaitForFlagTimeout(benchmark::State& state) {
    TMainThreadDispatcher::Instance().SetMainThread();
    TQuietOwner owner;
    TComPort port;
    TBootloader bootloader(owner, port);
    const double cpu0 = ProcessCpuSeconds();
    const auto wall0 = std::chrono::steady_clock::now();
    for (auto _ : state)
        bootloader.WaitForFlag([] { return false; }, 100);
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - wall0).count();
    state.counters["cpu_share"] = (ProcessCpuSeconds() - cpu0) / wall;
}
BENCHMARK(BM_WaitForFlagTimeout)->UseRealTime()->Unit(benchmark::kMillisecond)->Iterations(20);

// One paced byte over a real port (a pseudo-terminal; the far side just drains).
void BM_SendBytePaced(benchmark::State& state) {
    TMainThreadDispatcher::Instance().SetMainThread();
    int master = -1;
    int slave = -1;
    if (openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) {
        state.SkipWithError("openpty failed");
        return;
    }
    const std::string path = ttyname(slave);
    TQuietOwner owner;
    TComPort port;
    TBootloader bootloader(owner, port);
    port.SetPort(path);
    port.SetBaudRate(br115200);
    port.Open();
    int sent = 0;
    const double cpu0 = ProcessCpuSeconds();
    const auto wall0 = std::chrono::steady_clock::now();
    for (auto _ : state) {
        if (bootloader.SendByte(0x55, ByteTimeout))
            ++sent;
        char drain[64];
        [[maybe_unused]] auto n = read(master, drain, sizeof drain);
    }
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - wall0).count();
    state.counters["cpu_share"] = (ProcessCpuSeconds() - cpu0) / wall;
    state.counters["reported_sent"] = sent;
    port.Close();
    close(slave);
    close(master);
}
BENCHMARK(BM_SendBytePaced)->UseRealTime()->Unit(benchmark::kMillisecond)->Iterations(40);

// Reception of a query reply, byte by byte of interpretation.
void BM_ReceiveQueryReply(benchmark::State& state) {
    const std::vector<std::uint8_t> reply = {0xA8, 0x04, 0x00, 0x00, 0x20, 0x00, 0xAA};
    for (auto _ : state) {
        TReplyFields fields;
        fields.ReplyState = rsQuery;
        ReceiveReplyBytes(fields, reply, "Kiwu", "$3", nullptr);
        benchmark::DoNotOptimize(fields.ReplyText);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * reply.size()));
}
BENCHMARK(BM_ReceiveQueryReply);

}  // namespace
}  // namespace tarnwick

BENCHMARK_MAIN();
