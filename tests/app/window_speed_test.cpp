// The window's default transfer speed ("automatisch") over whole runs: a device that says in
// every query reply that it is a Tarnwick bootloader gets the streams at line speed, any
// other the specified pacing; either way it receives the bytes of a paced run. The emulated
// chip with the project's bootloader has its own row in window_chip_test.cpp (the target
// with the emulator).
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "devsim_process.h"
#include "hex_file.h"
#include "window_speed_run.h"

namespace tarnwick {
namespace {

using namespace test;

constexpr int ImageLength = 40;
const QString LineSpeedLine = QStringLiteral("Übertragung: schnell (Tarnwick-Bootloader)");

class TDevsimDevice : public TSpeedDevice {
  public:
    TDevsimDevice(const std::vector<std::string>& Args, const TTempDir& Dir)
        : Devsim(Args, Dir.Path().string()) {}
    std::string PortPath() const override { return Devsim.PortPath(); }
    std::vector<TReceivedByte> Stop() override {
        std::vector<TReceivedByte> received;
        for (const TDevsim::TTraceEntry& e : Devsim.Stop())
            received.push_back({e.TimeMs, e.Byte});
        return received;
    }
    std::vector<std::uint8_t> Flash() const override { return Devsim.Flash(); }

  private:
    TDevsim Devsim;
};

struct TSpeedCase {
    const char* Name;
    std::vector<std::string> DeviceArgs;
    bool LineSpeed;  // the streams and later commands go at line speed
};

const TSpeedCase SpeedCases[] = {
    {"DocumentedDevice", {}, false},
    {"TarnwickMark", {"--tarnwick-mark"}, true},
};

QStringList WithoutDuration(QStringList Info) {
    if (!Info.isEmpty() && Info.last().startsWith(QStringLiteral("Gesamtdauer: ")))
        Info.removeLast();
    return Info;
}

TEST(WindowSpeed, DefaultTakesLineSpeedOnlyForATarnwickBootloaderWithThePacedRunsBytes) {
    TTempDir dir;
    const std::string hex = dir.Write("firmware.hex", HexImage(ImageLength, 3));

    // The reference: "wie spezifiziert" picked in the list, the documented device.
    TSpeedRun paced;
    {
        TTempDir deviceDir;
        TDevsimDevice device({}, deviceDir);
        paced = RunWindowUpdate(device, hex, /*TransferItem=*/1);
    }
    ASSERT_TRUE(paced.Log.contains(QStringLiteral("Gespeichertes Programm korrekt übertragen")))
        << paced.Log.join(QLatin1Char('\n')).toStdString();
    const std::vector<TReceivedByte> pacedStream = ProgrammingStream(paced.Received);
    ASSERT_GT(pacedStream.size(), static_cast<std::size_t>(ImageLength));

    for (const TSpeedCase& c : SpeedCases) {
        SCOPED_TRACE(c.Name);
        TTempDir deviceDir;
        TDevsimDevice device(c.DeviceArgs, deviceDir);
        const TSpeedRun run = RunWindowUpdate(device, hex);

        ASSERT_GE(run.Flash.size(), static_cast<std::size_t>(ImageLength));
        for (int i = 0; i < ImageLength; ++i)
            EXPECT_EQ(run.Flash[static_cast<std::size_t>(i)], static_cast<std::uint8_t>(i + 3));
        EXPECT_EQ(BytesOf(run.Received), BytesOf(paced.Received));
        EXPECT_EQ(run.Log, paced.Log);
        QStringList expectedInfo = WithoutDuration(paced.Info);
        if (c.LineSpeed)
            expectedInfo.insert(expectedInfo.indexOf(QStringLiteral("Flash: 8192 Byte")) + 1,
                                LineSpeedLine);
        EXPECT_EQ(WithoutDuration(run.Info), expectedInfo);

        // Paced, every byte of the stream holds its window, so the stream spans at least the
        // windows of all but its last byte (less a second for a device read late at the start);
        // at line speed it arrives in one piece.
        const std::vector<TReceivedByte> stream = ProgrammingStream(run.Received);
        ASSERT_EQ(stream.size(), pacedStream.size());
        const double span = stream.back().TimeMs - stream.front().TimeMs;
        if (c.LineSpeed) {
            EXPECT_LT(PacedGaps(stream), static_cast<int>(stream.size()) / 4);
        } else {
            EXPECT_GE(span, (static_cast<double>(stream.size()) - 1) * 50 - 1000);
        }
    }
}

}  // namespace
}  // namespace tarnwick
