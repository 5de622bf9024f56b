// The terminal's speed: the core rendering mixed text and escape sequences headless
// (goal: at least 20 MB/s), and the shown widget on a real port keeping up with a
// continuous 1 Mbit/s stream (100 KB/s) on under a quarter of one core.
#include <benchmark/benchmark.h>
#include <time.h>

#include <QApplication>
#include <QTimer>
#include <chrono>
#include <cstdint>
#include <string>
#include <thread>

#include "com_terminal.h"
#include "comport/com_port.h"
#include "event_pump.h"
#include "process_cpu.h"
#include "pty_pair.h"
#include "terminal/com_terminal_core.h"

namespace {

using tarnwick::bench::ProcessCpuSeconds;

using namespace tarnwick;
using Clock = std::chrono::steady_clock;

// What a device's console prints: log lines with colours, a status line redrawn with
// cursor moves and erases, progress counters with CR, now and then a query.
std::string MixedStream(std::size_t Size) {
    // Appended piece by piece: GCC 12 warns falsely (-Wrestrict) on "..." + string.
    std::string text;
    int line = 0;
    while (text.size() < Size) {
        ++line;
        text.append("[").append(std::to_string(1000 + line));
        text.append("] \x1b[1;32mOK\x1b[0m sensor ").append(std::to_string(line % 17));
        text.append(" value=").append(std::to_string(line * 37 % 1000)).append(" mV\r\n");
        if (line % 5 == 0) {
            text.append("\x1b[s\x1b[1;60H\x1b[7m up ").append(std::to_string(line));
            text.append("s \x1b[m\x1b[K\x1b[u");
        }
        if (line % 7 == 0)
            text.append("progress 10%\rprogress 50%\rprogress 99%\r\x1b[2K\tdone\r\n");
        if (line % 50 == 0)
            text.append("\x1b[6n\x1b[4;1H\x1b[J");
    }
    return text;
}

void BM_CoreRendersMixedStream(benchmark::State& State) {
    const std::string stream = MixedStream(1 << 20);
    TComTerminalCore terminal;
    terminal.SetWrapLines(true);
    for (auto _ : State) {
        // In chunks as a port hands them over.
        for (std::size_t at = 0; at < stream.size(); at += 4096) {
            const std::size_t count = std::min<std::size_t>(4096, stream.size() - at);
            terminal.ReceiveBytes(reinterpret_cast<const std::uint8_t*>(stream.data() + at),
                                  static_cast<int>(count));
        }
        benchmark::DoNotOptimize(terminal.CaretRow());
    }
    State.SetBytesProcessed(static_cast<std::int64_t>(State.iterations() * stream.size()));
}
BENCHMARK(BM_CoreRendersMixedStream)->Unit(benchmark::kMillisecond);

// The shown widget, rendering and painting the stream without a port: the cost per byte
// of everything the GUI thread does for received text.
void BM_WidgetRendersAndPaints(benchmark::State& State) {
    const std::string stream = MixedStream(256 << 10);
    TComTerminal terminal;
    terminal.show();
    QApplication::processEvents();
    for (auto _ : State) {
        for (std::size_t at = 0; at < stream.size(); at += 1024) {
            const std::size_t count = std::min<std::size_t>(1024, stream.size() - at);
            terminal.ReceiveBytes(reinterpret_cast<const std::uint8_t*>(stream.data() + at),
                                  static_cast<int>(count));
            // One paint per chunk: the worst case, as if every chunk came alone.
            QApplication::processEvents();
        }
    }
    State.SetBytesProcessed(static_cast<std::int64_t>(State.iterations() * stream.size()));
}
BENCHMARK(BM_WidgetRendersAndPaints)->Unit(benchmark::kMillisecond);

// A pty's far end writes 1 KB every 10 ms for a few seconds; the shown widget, linked
// to a real port, receives and paints it. Reported: the process's CPU time as a share
// of one core over the run, and how long after the last write the last byte was shown.
void BM_WidgetKeepsUpWith1Mbit(benchmark::State& State) {
    constexpr int Seconds = 3;
    constexpr std::size_t Piece = 1000;
    const std::string stream = MixedStream(Seconds * 100 * Piece);
    ConnectDispatcherToEventLoop();
    test::TPtyPair pty;
    TComPort port;
    port.SetPort(pty.SlavePath());
    port.SetEvents({evRxChar});
    port.Buffer().SetInputSize(65536);
    double share = 0;
    double lagMs = 0;
    {
        TComTerminal terminal;
        std::size_t shown = 0;
        terminal.OnStrRecieved = [&](TComTerminalCore&, std::string& Str) { shown += Str.size(); };
        terminal.SetComPort(&port);
        port.Open();
        terminal.show();
        QApplication::processEvents();
        for (auto _ : State) {
            shown = 0;
            Clock::time_point lastWrite;
            const double cpuStart = ProcessCpuSeconds();
            const Clock::time_point start = Clock::now();
            std::thread writer([&] {
                Clock::time_point next = Clock::now();
                for (std::size_t at = 0; at < stream.size(); at += Piece) {
                    pty.Send(stream.substr(at, Piece));
                    lastWrite = Clock::now();
                    next += std::chrono::milliseconds(10);
                    std::this_thread::sleep_until(next);
                }
            });
            // Sleeps until the next event, as the application's loop does; the timer only
            // makes sure the time limit is looked at.
            QTimer tick;
            tick.start(100);
            while (shown < stream.size() && Clock::now() - start < std::chrono::seconds(30))
                QApplication::processEvents(QEventLoop::WaitForMoreEvents);
            const Clock::time_point done = Clock::now();
            writer.join();
            const double cpu = ProcessCpuSeconds() - cpuStart;
            share = cpu / std::chrono::duration<double>(done - start).count();
            lagMs = std::chrono::duration<double, std::milli>(done - lastWrite).count();
            if (shown < stream.size())
                State.SkipWithError("not all bytes were shown");
        }
        terminal.SetComPort(nullptr);
    }
    port.Close();
    State.counters["cpu_share_of_one_core"] = share;
    State.counters["lag_ms"] = lagMs;
    State.SetBytesProcessed(static_cast<std::int64_t>(State.iterations() * stream.size()));
}
BENCHMARK(BM_WidgetKeepsUpWith1Mbit)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();

}  // namespace
