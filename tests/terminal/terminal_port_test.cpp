// The terminal core linked to a real port on a pseudo-terminal: queries that arrive
// on the line are answered, typed keys and cursor keys are sent, all through the output
// its owner wires (here to the port, as the widget does).
#include <gtest/gtest.h>

#include <string>

#include "comport/com_port.h"
#include "comport/main_thread_dispatcher.h"
#include "pty_pair.h"
#include "terminal/com_terminal_core.h"

namespace tarnwick {
namespace {

using namespace std::chrono_literals;
using test::PumpUntil;
using test::TPtyPair;

struct TRig {
    TPtyPair Pty;
    TComPort Port;
    TComTerminalCore Terminal;
    std::string Shown;  // every character the terminal put on its screen
    TRig() {
        TMainThreadDispatcher::Instance().SetMainThread();
        Port.SetPort(Pty.SlavePath());
        Port.SetEvents({evRxChar, evTxEmpty});
        Terminal.SetComPort(&Port);
        Terminal.OnOutput = WriteToLinkedPort;
        Terminal.OnChar = [this](TComTerminalCore&, std::uint8_t Ch) {
            Shown += static_cast<char>(Ch);
        };
        Port.Open();
    }
    // Sends Bytes from the far end and waits until the terminal has shown Marker.
    void Receive(const std::string& Bytes, const std::string& Marker) {
        Shown.clear();
        Pty.Send(Bytes + Marker);
        ASSERT_TRUE(PumpUntil([&] { return Shown.find(Marker) != std::string::npos; }));
    }
};

TEST(TerminalPort, QueriesAreAnsweredOnTheLine) {
    const struct {
        const char* Name;
        TTermEmulation Emulation;
        std::string Received;
        std::string Answer;
    } cases[] = {
        {"Identify", teVT100orANSI, "\x1b[c", "\x1b[?1;2c"},
        {"DeviceStatus", teVT100orANSI, "\x1b[5n", "\x1b[0n"},
        {"CursorPosition", teVT100orANSI, "ab\r\ncdef\x1b[6n", "\x1b[2;5R"},
        {"Vt52Identify", teVT52, "\x1bZ", "\x1b/Z"},
        {"NoEmulationNoAnswer", teNone, "\x1b[c", ""},
        {"ReportsAreNotAnswered", teVT100orANSI, "\x1b[0n\x1b[?1;2c", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        TRig rig;
        rig.Terminal.SetEmulation(c.Emulation);
        rig.Receive(c.Received, "#");
        EXPECT_EQ(rig.Pty.Receive(c.Answer.size() + 1, 300ms), c.Answer);
    }
}

TEST(TerminalPort, WhatItSendsGoesToItsOwnersOutputAndNowhereElse) {
    TRig rig;
    std::string handed;
    rig.Terminal.OnOutput = [&](TComTerminalCore& Sender, const std::string& Bytes) {
        EXPECT_EQ(&Sender, &rig.Terminal);
        handed += Bytes;
    };
    rig.Receive("ab\x1b[c\x1b[6n", "#");
    rig.Terminal.TypeChar('k');
    rig.Terminal.KeyDown(tkUp);
    EXPECT_EQ(handed, "\x1b[?1;2c\x1b[1;3Rk\x1b[A");
    // The core itself wrote nothing on the line, and without an output nothing goes out.
    rig.Terminal.OnOutput = nullptr;
    rig.Receive("\x1b[c", "#");
    rig.Terminal.TypeChar('z');
    EXPECT_EQ(rig.Pty.Receive(1, 300ms), "");
}

// Typed characters and plain cursor keys reaching the line: com_terminal_test.cpp.
TEST(TerminalPort, CursorKeysFollowTheDevicesModes) {
    TRig rig;
    // The device asks for application cursor keys, which have no Home.
    rig.Receive("\x1b[?1h", ".");
    EXPECT_TRUE(rig.Terminal.KeyDown(tkLeft));
    EXPECT_FALSE(rig.Terminal.KeyDown(tkHome));
    EXPECT_EQ(rig.Pty.Receive(4, 300ms), "\x1bOD");

    // Windows arrow keys move only the caret here; application mode still sends.
    rig.Receive("\x1b[?1l\x1b[5;5H", ".");
    rig.Terminal.SetArrowKeys(akWindows);
    EXPECT_TRUE(rig.Terminal.KeyDown(tkDown));
    EXPECT_EQ(rig.Terminal.CaretRow(), 6);
    EXPECT_EQ(rig.Pty.Receive(1, 200ms), "");
}

TEST(TerminalPort, LocalEchoShowsWhatIsTypedAndSent) {
    TRig rig;
    rig.Terminal.SetLocalEcho(true);
    rig.Terminal.TypeChar('h');
    rig.Terminal.TypeChar('i');
    rig.Terminal.KeyDown(tkRight);
    rig.Terminal.TypeChar('!');
    EXPECT_EQ(rig.Pty.Receive(6, 1s), "hi\x1b[C!");
    EXPECT_EQ(rig.Terminal.ScreenBuffer().RowText(1).substr(0, 5), "hi ! ");

    // Closed: nothing is written, the echo still shows it.
    rig.Port.Close();
    rig.Terminal.TypeChar('x');
    rig.Terminal.RenderText("\x1b[c");
    EXPECT_EQ(rig.Terminal.ScreenBuffer().RowText(1).substr(0, 5), "hi !x");
    EXPECT_FALSE(rig.Terminal.Connected());
}

TEST(TerminalPort, ConnectedOpensTheLinkedPortAndADestroyedPortIsForgotten) {
    TPtyPair pty;
    TComTerminalCore terminal;
    EXPECT_FALSE(terminal.Connected());
    terminal.SetConnected(true);  // no port: nothing happens
    {
        TComPort port;
        port.SetPort(pty.SlavePath());
        terminal.SetComPort(&port);
        terminal.OnOutput = WriteToLinkedPort;
        EXPECT_TRUE(port.LinkWantsRxData());
        terminal.SetConnected(true);
        EXPECT_TRUE(port.Connected());
        EXPECT_TRUE(terminal.Connected());
        TComPort other;
        terminal.SetComPort(&other);
        EXPECT_FALSE(port.LinkWantsRxData());
        EXPECT_TRUE(other.LinkWantsRxData());
        terminal.SetComPort(&port);
    }
    EXPECT_EQ(terminal.ComPort(), nullptr);
    terminal.TypeChar('x');  // must not touch the dead port
}

}  // namespace
}  // namespace tarnwick
