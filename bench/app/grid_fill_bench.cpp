// The complete program view (16,384 rows) filled in the real, shown window.
// Goal: under 150 ms per fill in a Release build.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <cstdint>

#include "main_window.h"

namespace {

void BM_FillCompleteProgramGrid(benchmark::State& State) {
    tarnwick::TMainWindow window;
    window.Image.assign(static_cast<std::size_t>(tarnwick::MaxFlashSize), 0xFF);
    for (std::size_t i = 0; i < 0x2000; ++i) {
        window.Image[i] = static_cast<std::uint8_t>(i * 7);
    }
    window.HighestAddress = 0x1FFF;
    window.show();
    QApplication::processEvents();
    for (auto _ : State) {
        window.FillProgramGrid(true);
        // Includes painting the refilled view, as the user sees it.
        window.ProgramGrid.viewport()->repaint();
    }
    State.counters["rows"] = window.ProgramGrid.Model().rowCount();
}
BENCHMARK(BM_FillCompleteProgramGrid)->Unit(benchmark::kMillisecond);

}  // namespace
