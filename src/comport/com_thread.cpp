#include "comport/com_thread.h"

#include <array>
#include <chrono>

#include "comport/main_thread_dispatcher.h"

namespace tarnwick {

TComThread::TComThread(TCustomComPort& Port) : OwnerPort(Port), QuitEvent(false) {
    // The thread that opens the port is the main thread unless one was named:
    // the dispatcher must know it before the event thread first asks.
    TMainThreadDispatcher::Instance();
    // The result is not looked at: a device that refuses the mask reports nothing.
    OwnerPort.Device->SetCommMask(EventsToCommMask(OwnerPort.Events()));
    Thread = std::thread([this] { Execute(); });
}

TComThread::~TComThread() {
    SignalStop();
    TMainThreadDispatcher& dispatcher = TMainThreadDispatcher::Instance();
    if (dispatcher.IsMainThread()) {
        // Keep dispatching: the thread may be blocked in a hand-over to us.
        while (!Finished.load())
            dispatcher.WaitAndRunPending(std::chrono::milliseconds(10));
    }
    Thread.join();
}

void TComThread::SignalStop() {
    QuitEvent.Set();
    std::this_thread::yield();
}

void TComThread::Execute() {
    try {
        platform::TCommDevice& device = *OwnerPort.Device;
        for (;;) {
            std::uint32_t mask = 0;
            const platform::TWaitResult r = device.WaitCommEvent(QuitEvent, mask);
            if (r != platform::TWaitResult::Event)
                break;
            PendingEvents = CommMaskToEvents(mask);
            if (!PendingEvents.Empty())
                HandOverEvents();
        }
        device.SetCommMask(0);
        device.PurgeComm(platform::kPurgeTxClear | platform::kPurgeRxClear);
    } catch (...) {
        // An exception from dispatch ends the thread: the port reports nothing
        // more until it is reopened, and nobody is told (as documented).
    }
    Finished.store(true);
    TMainThreadDispatcher::Instance().Wake();
}

void TComThread::HandOverEvents() {
    switch (OwnerPort.SyncMethod()) {
        case smThreadSync:
            TMainThreadDispatcher::Instance().Invoke([this] { FireEvents(); });
            break;
        case smWindowSync:
            SendEventMessages();
            break;
        case smNone:
            FireEvents();
            break;
        case smDisableEvents:
            break;
    }
}

namespace {
// Dispatch order of one batch.
constexpr std::array<TComEvent, 10> kFireOrder = {
    evError, evRxChar, evTxEmpty, evBreak, evRing, evCTS, evDSR, evRxFlag, evRLSD, evRx80Full};
}  // namespace

void TComThread::FireEvents() {
    for (TComEvent e : kFireOrder) {
        if (!PendingEvents.Contains(e))
            continue;
        switch (e) {
            case evError:
                OwnerPort.HandleError();
                break;
            case evRxChar:
                OwnerPort.HandleRxChar();
                break;
            case evTxEmpty:
                OwnerPort.HandleTxEmpty();
                break;
            case evBreak:
                OwnerPort.HandleBreak();
                break;
            case evRing:
                OwnerPort.HandleRing();
                break;
            case evCTS:
                OwnerPort.HandleCTSChange();
                break;
            case evDSR:
                OwnerPort.HandleDSRChange();
                break;
            case evRxFlag:
                OwnerPort.HandleRxFlag();
                break;
            case evRLSD:
                OwnerPort.HandleRLSDChange();
                break;
            case evRx80Full:
                OwnerPort.HandleRx80Full();
                break;
        }
    }
}

void TComThread::SendEventMessages() {
    for (TComEvent e : kFireOrder) {
        if (PendingEvents.Contains(e)) {
            OwnerPort.EventWindow->Send(EventsToCommMask(TComEvents{e}));
        }
    }
}

void TComEventWindow::Send(std::uint32_t EventBit) {
    TMainThreadDispatcher::Instance().Send([this, EventBit] { WindowProc(EventBit); });
}

void TComEventWindow::WindowProc(std::uint32_t EventBit) {
    try {
        if (OwnerPort.Connected())
            OwnerPort.HandleEventBit(EventBit);
    } catch (...) {
        HandleApplicationException(std::current_exception());
    }
}

}  // namespace tarnwick
