// The main window as the tests use it: its settings file lives in a temporary folder of
// its own, never next to the test program, and ShowStarted shows it the way the program
// does and waits until the start-up timer has restored the rest.
#pragma once

#include <QTest>

#include "main_window.h"
#include "temp_dir.h"

namespace tarnwick::test {

class TTestWindow : public TMainWindow {
  public:
    TTestWindow() { SettingsPath = SettingsDir.Path() / "Settings.ini"; }

    [[nodiscard]] bool ShowStarted() {
        show();
        return QTest::qWaitFor([this] { return !StartupTimer.isActive(); }, 5000);
    }

    TTempDir SettingsDir;
};

}  // namespace tarnwick::test
