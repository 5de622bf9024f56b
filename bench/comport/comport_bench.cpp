// What an open port costs: CPU while idle and after its device vanished (goal:
// well under 1 % of a core), and the time one received byte takes to reach
// OnRxBuf on the main thread, or one written byte to reach the far end.
#include <benchmark/benchmark.h>

#include <chrono>
#include <ctime>
#include <string>
#include <thread>

#include "comport/com_port.h"
#include "comport/ini_file.h"
#include "comport/main_thread_dispatcher.h"
#include "process_cpu.h"
#include "pty_pair.h"

namespace tarnwick {
namespace {

using tarnwick::bench::ProcessCpuSeconds;

using namespace std::chrono_literals;

// Share of one core the process uses while the main thread sleeps.
void MeasureIdle(benchmark::State& State, bool Vanish) {
    test::TPtyPair pty;
    TComPort port;
    port.SetPort(pty.SlavePath());  // every event watched, thread sync
    port.Open();
    if (Vanish) {
        pty.CloseMaster();
        test::PumpFor(50ms);  // let the one error report through
    }
    double cpu = 0, wall = 0;
    for (auto _ : State) {
        const double c0 = ProcessCpuSeconds();
        const auto w0 = std::chrono::steady_clock::now();
        std::this_thread::sleep_for(250ms);
        cpu += ProcessCpuSeconds() - c0;
        wall += std::chrono::duration<double>(std::chrono::steady_clock::now() - w0).count();
    }
    State.counters["cpu_percent_of_core"] = 100.0 * cpu / wall;
}

void BM_IdleOpenPortCpu(benchmark::State& State) {
    MeasureIdle(State, false);
}
BENCHMARK(BM_IdleOpenPortCpu)->Iterations(8)->Unit(benchmark::kMillisecond);

void BM_VanishedDevicePortCpu(benchmark::State& State) {
    MeasureIdle(State, true);
}
BENCHMARK(BM_VanishedDevicePortCpu)->Iterations(8)->Unit(benchmark::kMillisecond);

// One byte from the far end to the OnRxBuf handler on the pumping main thread.
void BM_ReceivedByteToOnRxBuf(benchmark::State& State) {
    TMainThreadDispatcher::Instance().SetMainThread();
    test::TPtyPair pty;
    TComPort port;
    port.SetPort(pty.SlavePath());
    port.SetEvents({evRxChar, evTxEmpty});
    int received = 0;
    port.OnRxBuf = [&](TCustomComPort&, const std::uint8_t*, int Count) { received += Count; };
    TComLink link;
    link.LinkDataReceived = [](TCustomComPort&, const std::uint8_t*, int) {};
    port.AttachLink(&link);
    port.Open();
    for (auto _ : State) {
        const int before = received;
        pty.Send("r");
        if (!test::PumpUntil([&] { return received > before; }, 5s)) {
            State.SkipWithError("byte did not arrive");
            break;
        }
    }
    port.Close();
    port.DetachLink(&link);
}
BENCHMARK(BM_ReceivedByteToOnRxBuf)->Unit(benchmark::kMicrosecond);

// WriteStr of one byte, as the bootloader link sends every command byte.
void BM_WriteStrOneByte(benchmark::State& State) {
    test::TPtyPair pty;
    TComPort port;
    port.SetPort(pty.SlavePath());
    port.SetEvents({evRxChar, evTxEmpty});
    port.Open();
    int n = 0;
    for (auto _ : State) {
        port.WriteStr("w");
        if (++n % 256 == 0)
            pty.Drain();
        // Hand-overs of transmit-empty wait for the main thread.
        TMainThreadDispatcher::Instance().RunPending();
    }
    port.Close();
}
BENCHMARK(BM_WriteStrOneByte)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace tarnwick

// A damaged settings file of 80,000 sections (about 2.5 MB) whose names differ only
// at their end: with a search per section header this took minutes.
void BM_IniReadManySections(benchmark::State& State) {
    std::string text;
    for (int i = 0; i < 80000; ++i) {
        const std::string digits = std::to_string(i);
        text += "[Section of a damaged file ";
        text.append(12 - digits.size(), '0');
        text += digits;
        text += "]\r\nk=1\r\n";
    }
    for (auto _ : State) {
        tarnwick::TIniFile ini;
        ini.SetText(text);
        benchmark::DoNotOptimize(ini.SectionExists("x"));
    }
}
BENCHMARK(BM_IniReadManySections)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
