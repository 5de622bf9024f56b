// An update run whose port cannot be closed (the driver refuses the purge, as a pulled USB
// adapter can make it): the run says so and still leaves the port closed, so the next run
// opens the device anew and updates it.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "bootloader/bootloader.h"
#include "comport/com_port.h"
#include "comport/main_thread_dispatcher.h"
#include "devsim_process.h"
#include "refusing_device.h"
#include "update_run_support.h"

namespace tarnwick {
namespace {

using namespace test;

TEST(RefusedCloseRun, TheRunReportsTheCloseAndTheNextRunOpensTheDeviceAgain) {
    TMainThreadDispatcher::Instance().SetMainThread();
    TTempDir dir;
    const std::filesystem::path link = dir.Path() / "ttyUSB0";
    TRefusingLayer layer;
    TRecorder owner;
    owner.Answers = std::vector<bool>(8, true);
    owner.Port = link.string();
    TComPort port(layer.Opener());
    TBootloader bootloader(owner, port);
    const TBuffer image = FlashImage10();  // the run reads it where it is
    bootloader.SetImage(image, 9);
    bootloader.BytePacing = 0;

    // Each run has a device of its own behind the same name, as a re-plugged adapter.
    for (const bool refuse : {true, false}) {
        SCOPED_TRACE(refuse ? "purge refused" : "purge done");
        const std::string runDir = dir.Path() / (refuse ? "first" : "second");
        std::filesystem::create_directory(runDir);
        TDevsim device({}, runDir);
        std::filesystem::remove(link);
        std::filesystem::create_symlink(device.PortPath(), link);
        layer.PurgeAbortError = refuse ? 31 : 0;
        const std::size_t before = owner.Messages.size();

        const TUpdateOutcome outcome = bootloader.RunUpdate();

        EXPECT_TRUE(outcome.SuccessSent);
        EXPECT_EQ(outcome.Error, refuse);
        EXPECT_FALSE(port.Connected());
        EXPECT_EQ(layer.Live, 0) << "the device is still held";
        ASSERT_GE(owner.Messages.size(), before + 2);
        const std::string& last = owner.Messages[owner.Messages.size() - 2];
        if (refuse) {
            EXPECT_EQ(last,
                      "[B-L]Fehler: COM Port Error: PurgeComm function failed on " + link.string());
        } else {
            EXPECT_EQ(last.rfind("[B-L]Fehler", 0), std::string::npos) << last;
        }
        device.Stop();
        const TBytes flash = device.Flash();
        ASSERT_GE(flash.size(), 10u);
        EXPECT_EQ(TBytes(flash.begin(), flash.begin() + 10), Image10);
    }
    EXPECT_EQ(layer.Opened, 2);
}

}  // namespace
}  // namespace tarnwick
