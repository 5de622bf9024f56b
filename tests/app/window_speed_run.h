// One whole update through the Qt window (offscreen) as the user starts it, for the tests
// of the transfer speed: a fresh window with default settings, optionally one item of its
// transfer list picked as the user picks it, the two first boxes answered Yes, and what the
// device received and holds afterwards. A device is anything on a pseudo-terminal that can
// tell afterwards which bytes it received, when, and what its flash holds: the simulated
// device, or the emulated chip (with its own TSpeedDevice in a target that has it).
#pragma once

#include <QComboBox>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <string>
#include <vector>

#include "modal_answerer.h"
#include "test_window.h"

namespace tarnwick::test {

struct TReceivedByte {
    double TimeMs;
    std::uint8_t Byte;
};

class TSpeedDevice {
  public:
    virtual ~TSpeedDevice() = default;
    virtual std::string PortPath() const = 0;
    // Ends the device: every byte it received from the host, in order, with its time.
    virtual std::vector<TReceivedByte> Stop() = 0;
    virtual std::vector<std::uint8_t> Flash() const = 0;
};

struct TSpeedRun {
    QStringList Info;
    QStringList Log;
    std::vector<TReceivedByte> Received;
    std::vector<std::uint8_t> Flash;
};

// TransferItem: the item of "Übertragung" to pick first, or -1 to leave the default.
inline TSpeedRun RunWindowUpdate(TSpeedDevice& Device, const std::string& HexPath,
                                 int TransferItem = -1, bool NoPowerCycle = false) {
    TSpeedRun run;
    TTestWindow window;
    if (!window.ShowStarted())
        return run;
    window.ComComboBox.setEditText(QString::fromStdString(Device.PortPath()));
    if (TransferItem >= 0) {
        window.TransferComboBox.setCurrentIndex(TransferItem);
        emit window.TransferComboBox.activated(TransferItem);
    }
    window.NoPowerCycleChkBox.setChecked(NoPowerCycle);
    window.FilenameInEdit.setText(QString::fromStdString(HexPath));
    if (!window.StartBtn.isEnabled())
        return run;
    TModalAnswerer answerer;
    answerer.YesNoAnswers = {true};
    window.StartBtn.click();  // returns when the run is over
    run.Info = window.InfoMemo.toPlainText().split(QLatin1Char('\n'));
    run.Log = window.LogMemo.toPlainText().split(QLatin1Char('\n'));
    run.Flash = Device.Flash();
    run.Received = Device.Stop();
    return run;
}

inline std::vector<std::uint8_t> BytesOf(const std::vector<TReceivedByte>& Received) {
    std::vector<std::uint8_t> bytes;
    for (const TReceivedByte& r : Received)
        bytes.push_back(r.Byte);
    return bytes;
}

// The programming stream as it arrived: the bytes after 0xA5 0x04 up to the end sequence.
inline std::vector<TReceivedByte> ProgrammingStream(const std::vector<TReceivedByte>& Received) {
    std::vector<TReceivedByte> stream;
    bool in = false;
    for (std::size_t i = 0; i + 1 < Received.size(); ++i) {
        const std::uint8_t b = Received[i].Byte;
        const std::uint8_t next = Received[i + 1].Byte;
        if (!in && b == 0xA5 && next == 0x04) {
            in = true;
            ++i;
        } else if (in && b == 0xA5 && next == 0x80) {
            break;
        } else if (in) {
            stream.push_back(Received[i]);
        }
    }
    return stream;
}

// How many bytes of Stream arrived at least a pacing window (less a little for the clock's
// steps) after the one before.
inline int PacedGaps(const std::vector<TReceivedByte>& Stream) {
    int gaps = 0;
    for (std::size_t i = 1; i < Stream.size(); ++i)
        gaps += Stream[i].TimeMs - Stream[i - 1].TimeMs >= 40.0 ? 1 : 0;
    return gaps;
}

}  // namespace tarnwick::test
