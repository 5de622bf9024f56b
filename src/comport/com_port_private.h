// The port's private side: the communications layer's records and the parts of an open
// port. Internal to the port component (and its white-box tests).
#pragma once

#include <memory>

#include "comport/com_port.h"
#include "comport/com_thread.h"
#include "comport/platform/comm_device.h"

namespace tarnwick {

struct TComAsync {
    platform::TOverlappedPtr OverlappedRec;
    TAsyncOperation Operation = opWrite;
    std::unique_ptr<std::uint8_t[]> DataCopy;  // private copy of a write's bytes
    std::int32_t DataSize = 0;
    bool Outstanding = false;  // a write started that WaitAsync has not seen end
};

struct TComPortPrivate {
    TCommDeviceOpener OpenDevice;
    std::unique_ptr<platform::TCommDevice> Device;
    std::unique_ptr<TComThread> EventThread;
    bool ThreadCreated = false;
    bool Closing = false;
    // Writes started and not yet ended: only those may Close abort.
    int OutstandingWrites = 0;
    std::unique_ptr<TComEventWindow> EventWindow;
};

// The device control block and the driver timeouts the port's current settings make.
platform::TDcb BuildDcb(const TCustomComPort& Port);
platform::TCommTimeouts BuildCommTimeouts(const TCustomComPort& Port);

}  // namespace tarnwick
