// The image streams against tarnwick-devsim: at line speed (BytePacing 0) how close they
// come to the line rate of 115200 baud and what the host costs meanwhile, and at the
// default pacing how long each image byte is held.
//
// Counters: *_s the wall time of a pass (with its paced command and end bytes and its
// reply waits); *_stream_share the stream's bytes at line rate over the time the device took
// to receive them (1 is the line itself; goal: 0.8 or more); *_pass_share the same over the
// whole pass; cpu_share the process's CPU time over the wall time of the measured passes;
// *_gap_ms the time between consecutive image bytes of a paced stream, as the host sent
// them (goal: at least 50, median within 55) and as the device received them.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "bench_owner.h"
#include "bootloader/bootloader.h"
#include "bootloader/protocol_codes.h"
#include "comport/com_port.h"
#include "comport/main_thread_dispatcher.h"
#include "devsim_process.h"

namespace tarnwick {
namespace {

using bench::ProcessCpuSeconds;
using bench::TQuietOwner;
using test::TDevsim;
using test::TTempDir;
using TClock = std::chrono::steady_clock;

constexpr double LineBytesPerMs = 115200 / 10.0 / 1000;

// Image bytes of a random image with the escapes it needs: what goes on the wire.
std::size_t WireBytes(const TBuffer& Image, std::int32_t HighestAddress) {
    std::size_t wire = 0;
    for (std::int32_t a = 0; a <= HighestAddress; ++a)
        wire += static_cast<std::size_t>(DataByteOnWire(Image[static_cast<std::size_t>(a)]).Count);
    return wire;
}

// The arrival times of the Count stream bytes that follow the command Code.
std::vector<double> StreamTimes(const std::vector<TDevsim::TTraceEntry>& Trace, std::uint8_t Code,
                                std::size_t Count) {
    for (std::size_t i = 0; i + 1 < Trace.size(); ++i) {
        if (Trace[i].Byte == 0xA5 && Trace[i + 1].Byte == Code && i + 2 + Count <= Trace.size()) {
            std::vector<double> times;
            for (std::size_t k = i + 2; k < i + 2 + Count; ++k)
                times.push_back(Trace[k].TimeMs);
            return times;
        }
    }
    return {};
}

double StreamShare(const std::vector<double>& Times) {
    if (Times.size() < 2)
        return 0;
    // The first byte's own line time lies before its arrival.
    return static_cast<double>(Times.size()) / LineBytesPerMs /
           (Times.back() - Times.front() + 1 / LineBytesPerMs);
}

// A 32 KiB image programmed and verified at line speed, straight through the passes.
void BM_FastPasses32K(benchmark::State& state) {
    TMainThreadDispatcher::Instance().SetMainThread();
    TBuffer image(MaxFlashSize, 0xFF);
    std::mt19937 random(5);
    const std::int32_t highest = 32767;
    for (std::int32_t a = 0; a <= highest; ++a)
        image[static_cast<std::size_t>(a)] = static_cast<std::uint8_t>(random());
    const std::size_t wire = WireBytes(image, highest);
    for (auto _ : state) {
        TTempDir dir;
        TDevsim device({"--line-rate", "115200", "--flash", "32768", "--signature", "1E9502"},
                       dir.Path());
        TQuietOwner owner;
        double program = 0;
        double verify = 0;
        double cpu = 0;
        {
            TComPort port;
            TBootloader bootloader(owner, port);
            bootloader.SetImage(image, highest);
            bootloader.BytePacing = 0;
            port.SetPort(device.PortPath());
            port.SetBaudRate(br115200);
            port.Open();
            if (bootloader.Connect() != 1 || !bootloader.ReadDeviceInfo()) {
                state.SkipWithError("no connection to tarnwick-devsim");
                return;
            }
            const double cpu0 = ProcessCpuSeconds();
            const auto t0 = TClock::now();
            const int programmed = bootloader.ProgramFlash();
            const auto t1 = TClock::now();
            const int verified = bootloader.VerifyFlash();
            const auto t2 = TClock::now();
            cpu = ProcessCpuSeconds() - cpu0;
            port.Close();
            if (programmed != 1 || verified != 1) {
                state.SkipWithError("a pass failed");
                return;
            }
            program = std::chrono::duration<double>(t1 - t0).count();
            verify = std::chrono::duration<double>(t2 - t1).count();
        }
        const auto trace = device.Stop();
        const double lineMs = static_cast<double>(wire) / LineBytesPerMs;
        state.counters["program_s"] = program;
        state.counters["verify_s"] = verify;
        state.counters["program_stream_share"] = StreamShare(StreamTimes(trace, 0x04, wire));
        state.counters["verify_stream_share"] = StreamShare(StreamTimes(trace, 0x07, wire));
        state.counters["program_pass_share"] = lineMs / 1000 / program;
        state.counters["verify_pass_share"] = lineMs / 1000 / verify;
        state.counters["cpu_share"] = cpu / (program + verify);
    }
}
BENCHMARK(BM_FastPasses32K)->UseRealTime()->Unit(benchmark::kSecond)->Iterations(1);

// Notes when the verification pass moved its bar, once after every image byte.
class TTimingOwner : public TQuietOwner {
  public:
    void SetProgressPosition(TProgressBar Bar, int Position) override {
        if (Bar == pbVerify && Position > 0)
            Times.push_back(
                std::chrono::duration<double, std::milli>(TClock::now().time_since_epoch())
                    .count());
    }
    std::vector<double> Times;
};

struct TGaps {
    double Min;
    double Median;
    double Max;
};

TGaps Gaps(const std::vector<double>& Times) {
    std::vector<double> gaps;
    for (std::size_t i = 1; i < Times.size(); ++i)
        gaps.push_back(Times[i] - Times[i - 1]);
    std::sort(gaps.begin(), gaps.end());
    if (gaps.empty())
        return {0, 0, 0};
    return {gaps.front(), gaps[gaps.size() / 2], gaps.back()};
}

// A paced verification stream of 60 image bytes: the windows as the host kept them (load
// can only lengthen them there) and as the device received them (its own scheduling
// shifts single bytes either way).
void BM_PacedStreamGaps(benchmark::State& state) {
    TMainThreadDispatcher::Instance().SetMainThread();
    TBuffer image(MaxFlashSize, 0x55);
    const std::int32_t highest = 59;
    for (auto _ : state) {
        TTempDir dir;
        TDevsim device({}, dir.Path());
        TTimingOwner owner;
        double cpu = 0;
        double wall = 0;
        {
            TComPort port;
            TBootloader bootloader(owner, port);
            bootloader.SetImage(image, highest);
            port.SetPort(device.PortPath());
            port.SetBaudRate(br115200);
            port.Open();
            if (bootloader.Connect() != 1) {
                state.SkipWithError("no connection to tarnwick-devsim");
                return;
            }
            const double cpu0 = ProcessCpuSeconds();
            const auto t0 = TClock::now();
            bootloader.VerifyFlash();
            wall = std::chrono::duration<double>(TClock::now() - t0).count();
            cpu = ProcessCpuSeconds() - cpu0;
            port.Close();
        }
        const TGaps host = Gaps(owner.Times);
        const TGaps atDevice = Gaps(StreamTimes(device.Stop(), 0x07, highest + 1));
        if (host.Max == 0 || atDevice.Max == 0) {
            state.SkipWithError("no stream");
            return;
        }
        state.counters["host_min_gap_ms"] = host.Min;
        state.counters["host_median_gap_ms"] = host.Median;
        state.counters["host_max_gap_ms"] = host.Max;
        state.counters["device_min_gap_ms"] = atDevice.Min;
        state.counters["device_median_gap_ms"] = atDevice.Median;
        state.counters["cpu_share"] = cpu / wall;
    }
}
BENCHMARK(BM_PacedStreamGaps)->UseRealTime()->Unit(benchmark::kSecond)->Iterations(1);

// Answers yes, and pulls the adapter (ends the simulated device) once verification has sent
// its second image byte.
class TUnpluggingOwner : public TQuietOwner {
  public:
    std::unique_ptr<TDevsim> Device;
    std::string Port;
    bool AskYesNo(const std::string&) override { return true; }
    std::string PortText() const override { return Port; }
    void SetProgressPosition(TProgressBar Bar, int Position) override {
        if (Bar == pbVerify && Position == 2)
            Device.reset();
    }
};

// A whole paced run of a 10-byte image whose adapter is pulled while verifying: the run ends
// with its error and the port closed, and its waits, before and after the pull, sleep.
void BM_UnpluggedWhileVerifying(benchmark::State& state) {
    TMainThreadDispatcher::Instance().SetMainThread();
    TBuffer image(MaxFlashSize, 0xFF);
    for (std::size_t a = 0; a < 10; ++a)
        image[a] = static_cast<std::uint8_t>(a + 1);
    for (auto _ : state) {
        TTempDir dir;
        TUnpluggingOwner owner;
        owner.Device =
            std::make_unique<TDevsim>(std::vector<std::string>{"--buffer", "4"}, dir.Path());
        owner.Port = owner.Device->PortPath();
        TUpdateOutcome outcome;
        const double cpu0 = ProcessCpuSeconds();
        const auto t0 = TClock::now();
        {
            TComPort port;
            TBootloader bootloader(owner, port);
            bootloader.SetImage(image, 9);
            outcome = bootloader.RunUpdate();
        }
        const double wall = std::chrono::duration<double>(TClock::now() - t0).count();
        if (!outcome.Error || owner.Device) {
            state.SkipWithError("the run did not end in the pulled adapter");
            return;
        }
        state.counters["run_s"] = wall;
        state.counters["cpu_share"] = (ProcessCpuSeconds() - cpu0) / wall;
    }
}
BENCHMARK(BM_UnpluggedWhileVerifying)->UseRealTime()->Unit(benchmark::kSecond)->Iterations(1);

}  // namespace
}  // namespace tarnwick

BENCHMARK_MAIN();
