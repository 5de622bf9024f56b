// A whole update run by the shown window against the simulated device on a pseudo-
// terminal: the window waits out every 50 ms byte window and every reply in Qt's event
// loop. Reported: the process's CPU time (GUI and port event thread) as a share of one
// core over the run. Goal: a few percent at most.
#include <benchmark/benchmark.h>

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QTimer>
#include <chrono>
#include <fstream>

#include "devsim_process.h"
#include "hex_file.h"
#include "main_window.h"
#include "process_cpu.h"
#include "temp_dir.h"

namespace {

using tarnwick::bench::ProcessCpuSeconds;

void BM_WindowUpdateCpuShare(benchmark::State& State) {
    tarnwick::test::TTempDir dir;
    tarnwick::TMainWindow window;
    window.SettingsPath = dir.Path() / "Settings.ini";
    window.PortList = [] { return std::vector<std::string>(); };
    window.show();
    QApplication::processEvents();
    // Answers the question with Yes and the notice with OK.
    QTimer answerer;
    QObject::connect(&answerer, &QTimer::timeout, [] {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            if (auto* box = qobject_cast<QMessageBox*>(widget);
                box != nullptr && box->isVisible()) {
                box->defaultButton()->click();
            }
        }
    });
    answerer.start(20);
    const std::string hex = dir.Write("fw.hex", tarnwick::test::HexImage(40));
    window.FilenameInEdit.setText(QString::fromStdString(hex));
    double cpuShare = 0;
    for (auto _ : State) {
        tarnwick::test::TDevsim device({}, dir.Path().string());
        window.ComComboBox.setEditText(QString::fromStdString(device.PortPath()));
        const double cpu0 = ProcessCpuSeconds();
        const auto wall0 = std::chrono::steady_clock::now();
        window.StartBtn.click();
        const double wall =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - wall0).count();
        cpuShare = (ProcessCpuSeconds() - cpu0) / wall;
        State.SetIterationTime(wall);
    }
    State.counters["cpu_share"] = cpuShare;
    State.counters["succeeded"] =
        window.LogMemo.toPlainText().contains(QStringLiteral("korrekt übertragen")) ? 1 : 0;
}
BENCHMARK(BM_WindowUpdateCpuShare)->Unit(benchmark::kSecond)->Iterations(1)->UseManualTime();

}  // namespace
