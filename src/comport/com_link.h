// The port's event handler types, and TComLink, another component's tap on a port.
#pragma once

#include <cstdint>
#include <functional>

#include "comport/com_port_types.h"

namespace tarnwick {

class TCustomComPort;

using TNotifyEvent = std::function<void(TCustomComPort& Sender)>;
using TRxCharEvent = std::function<void(TCustomComPort& Sender, int Count)>;
using TRxBufEvent =
    std::function<void(TCustomComPort& Sender, const std::uint8_t* Buffer, int Count)>;
using TComSignalEvent = std::function<void(TCustomComPort& Sender, bool OnOff)>;
using TComErrorEvent = std::function<void(TCustomComPort& Sender, TComErrors Errors)>;

// Another component's tap on a port: the port calls every set callback of every
// attached link (in attach order). The port keeps only a pointer; detach the
// link before destroying it.
class TComLink {
  public:
    TComSignalEvent LinkOpenChanged;
    TRxBufEvent LinkDataReceived;
    TRxBufEvent LinkDataSent;
    TNotifyEvent LinkTxQueueEmpty;
    TNotifyEvent LinkEventCharReceived;
    TComSignalEvent LinkCTSChanged;
    TComSignalEvent LinkDSRChanged;
    TComSignalEvent LinkRLSDChanged;
    TNotifyEvent LinkRingDetected;
    TComSignalEvent LinkSending;
    TComSignalEvent LinkReceiving;
};

}  // namespace tarnwick
