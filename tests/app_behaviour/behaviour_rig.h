// The window's behaviour on a recording view, its settings file in a folder of the test's
// own, the port list given by the test.
#pragma once

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "comport/main_thread_dispatcher.h"
#include "recording_view.h"
#include "temp_dir.h"
#include "window_behaviour.h"

namespace tarnwick::test {

struct TBehaviourRig {
    explicit TBehaviourRig(std::vector<std::string> Ports = {},
                           const std::optional<std::string>& Settings = std::nullopt) {
        TMainThreadDispatcher::Instance().SetMainThread();
        View.Behaviour = &Behaviour;
        View.Folder = Dir.Path();
        Behaviour.SettingsPath = Dir.Path() / "Settings.ini";
        Behaviour.PortList = [Ports] { return Ports; };
        if (Settings) {
            Dir.Write("Settings.ini", *Settings);
        }
        Behaviour.FormCreate();
    }

    // The first show and the start-up timer, as a view runs them.
    void Start() {
        Behaviour.FormShow();
        ASSERT_EQ(View.ActiveTimers.count(TViewTimer::StartupTimer), 1u);
        EXPECT_EQ(View.ActiveTimers[TViewTimer::StartupTimer], 10);
        Behaviour.StartupTimerTimer();
        EXPECT_EQ(View.ActiveTimers.count(TViewTimer::StartupTimer), 0u);
    }

    std::string SettingsText() const {
        const std::vector<std::uint8_t> bytes = ReadBinaryFile(Behaviour.SettingsPath.string());
        return {bytes.begin(), bytes.end()};
    }

    bool Enabled(TControl Control) { return View.Controls[Control].Enabled; }

    TTempDir Dir;
    TRecordingView View;
    TWindowBehaviour Behaviour{View};
};

}  // namespace tarnwick::test
