// The terminal core linked to a real port on a pseudo-terminal: queries that arrive
// on the line are answered on it, typed keys and cursor keys go out on it.
#include <gtest/gtest.h>

#include <memory>
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

struct TQueryCase {
    const char* Name;
    TTermEmulation Emulation;
    std::string Received;
    std::string Answer;
};

void PrintTo(const TQueryCase& Case, std::ostream* Out) {
    *Out << Case.Name;
}

class QueryOverPty : public testing::TestWithParam<TQueryCase> {};

TEST_P(QueryOverPty, IsAnsweredOnTheLine) {
    const TQueryCase& c = GetParam();
    TRig rig;
    rig.Terminal.SetEmulation(c.Emulation);
    rig.Receive(c.Received, "#");
    EXPECT_EQ(rig.Pty.Receive(c.Answer.size() + 1, 300ms), c.Answer);
}

INSTANTIATE_TEST_SUITE_P(
    Queries, QueryOverPty,
    testing::Values(TQueryCase{"Identify", teVT100orANSI, "\x1b[c", "\x1b[?1;2c"},
                    TQueryCase{"IdentifyZero", teVT100orANSI, "\x1b[0c", "\x1b[?1;2c"},
                    TQueryCase{"DeviceStatus", teVT100orANSI, "\x1b[5n", "\x1b[0n"},
                    TQueryCase{"CursorPosition", teVT100orANSI, "\x1b[3;7H\x1b[6n", "\x1b[3;7R"},
                    TQueryCase{"CursorAfterText", teVT100orANSI, "ab\r\ncdef\x1b[6n", "\x1b[2;5R"},
                    TQueryCase{"Vt52Identify", teVT52, "\x1bZ", "\x1b/Z"},
                    TQueryCase{"NoEmulationNoAnswer", teNone, "\x1b[c", ""},
                    TQueryCase{"ReportsAreNotAnswered", teVT100orANSI, "\x1b[0n\x1b[?1;2c", ""}),
    [](const auto& Info) { return std::string(Info.param.Name); });

TEST(TerminalPort, TypedCharactersAndCursorKeysGoOutOnTheLine) {
    TRig rig;
    rig.Terminal.TypeChar('a');
    rig.Terminal.SetSendLF(true);
    rig.Terminal.TypeChar('\r');
    EXPECT_EQ(rig.Pty.Receive(3, 1s), "a\r\n");

    EXPECT_TRUE(rig.Terminal.KeyDown(tkUp));
    EXPECT_TRUE(rig.Terminal.KeyDown(tkHome));
    EXPECT_EQ(rig.Pty.Receive(6, 1s), "\x1b[A\x1b[H");

    // The device asks for application cursor keys.
    rig.Receive("\x1b[?1h", ".");
    EXPECT_TRUE(rig.Terminal.KeyDown(tkLeft));
    EXPECT_FALSE(rig.Terminal.KeyDown(tkHome));
    EXPECT_EQ(rig.Pty.Receive(4, 300ms), "\x1bOD");

    // Windows arrow keys move only the caret here; application mode still sends.
    rig.Receive("\x1b[?1l\x1b[5;5H", ".");
    rig.Terminal.SetArrowKeys(akWindows);
    rig.Terminal.KeyDown(tkDown);
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
