// tarnwick-terminal's last step: the port closed after the window, and a close that fails
// said and turned into a failing exit status instead of escaping from main.
#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "comport/com_port.h"
#include "port_closing.h"
#include "pty_pair.h"

namespace tarnwick {
namespace {

// A port on a real pseudo-terminal whose device refuses the first close, as a driver that
// fails the last purge of a pulled adapter does.
class TPortRefusingClose : public TComPort {
  public:
    bool Refuse = false;
    void CloseDevice() override {
        if (Refuse) {
            Refuse = false;
            throw EComPort("purge refused");
        }
        TComPort::CloseDevice();
    }
};

TEST(ClosePortAfterWindow, ClosesThePortAndSaysAFailedClose) {
    const struct {
        const char* Name;
        bool Refuse;
        int WindowResult;
        int Status;
        std::string Said;
    } cases[] = {
        {"closed", false, 0, 0, ""},
        {"closed after a window that failed", false, 4, 4, ""},
        {"refused", true, 0, 1, "konnte nicht geschlossen werden: purge refused\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        test::TPtyPair pty;
        TPortRefusingClose port;
        port.SetPort(pty.SlavePath());
        port.SetEvents({evRxChar});
        port.Open();
        port.Refuse = c.Refuse;
        std::ostringstream err;
        EXPECT_EQ(ClosePortAfterWindow(port, c.WindowResult, err), c.Status);
        if (c.Said.empty()) {
            EXPECT_EQ(err.str(), "");
            EXPECT_FALSE(port.Connected());
        } else {
            EXPECT_EQ(err.str(),
                      "tarnwick-terminal: Die Schnittstelle \"" + pty.SlavePath() + "\" " + c.Said);
        }
    }
}

}  // namespace
}  // namespace tarnwick
