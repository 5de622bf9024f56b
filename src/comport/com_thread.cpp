#include "comport/com_thread.h"

#include <array>
#include <chrono>
#include <system_error>

#include "comport/com_port_private.h"

namespace tarnwick {

TComThread::TComThread(TCustomComPort& Port)
    : OwnerPort(Port), Shared(std::make_shared<TShared>()) {
    // Without its stop event the thread could never be ended: Close would wait for ever.
    if (!Shared->QuitEvent.Valid())
        Port.RaiseExt(1, platform::LastError());
    // The thread that opens the port is the main thread unless one was named:
    // the dispatcher must know it before the event thread first asks.
    Shared->Dispatcher = TMainThreadDispatcher::SharedInstance();
    // The result is not looked at: a device that refuses the mask reports nothing.
    Port.Private->Device->SetCommMask(EventsToCommMask(Port.Events()));
}

void TComThread::Resume() {
    std::lock_guard<std::mutex> lock(Shared->ThreadMutex);
    try {
        Thread = std::thread(&TComThread::Execute, Shared, &OwnerPort);
    } catch (const std::system_error& error) {
        OwnerPort.RaiseExt(1, static_cast<std::uint32_t>(error.code().value()));
    }
}

TComThread::~TComThread() {
    SignalStop();
    {
        std::lock_guard<std::mutex> lock(Shared->ThreadMutex);
        if (!Thread.joinable())
            return;  // never resumed
        if (Shared->FiringThread.load() == std::this_thread::get_id()) {
            Shared->Abandoned.store(true);
            Thread.detach();
            return;
        }
    }
    TMainThreadDispatcher& dispatcher = *Shared->Dispatcher;
    if (dispatcher.IsMainThread()) {
        // Keep dispatching: the thread may be blocked in a hand-over to us.
        while (!Shared->Finished.load()) {
            dispatcher.WaitAndRunPending(std::chrono::milliseconds(10));
        }
    }
    Thread.join();
}

void TComThread::SignalStop() {
    Shared->QuitEvent.Set();
    std::this_thread::yield();
}

void TComThread::Execute(TSharedPtr Shared, TCustomComPort* Port) {
    bool clean = false;
    try {
        platform::TCommDevice& device = *Port->Private->Device;
        for (;;) {
            std::uint32_t mask = 0;
            const platform::TWaitResult r = device.WaitCommEvent(Shared->QuitEvent, mask);
            if (r != platform::TWaitResult::Event)
                break;
            const TComEvents pendingEvents = CommMaskToEvents(mask);
            if (!pendingEvents.Empty())
                HandOverEvents(Shared, *Port, pendingEvents);
            if (Shared->Abandoned.load())
                break;  // the port and its device are gone
        }
        clean = !Shared->Abandoned.load();
        if (clean) {
            device.SetCommMask(0);
            // Only what came in and nobody will read now. Clearing the output queue too
            // would drop the last bytes written before the Close where the system keeps
            // them in a queue of its own (Wine and POSIX flush the tty's).
            device.PurgeComm(platform::kPurgeRxClear);
        }
    } catch (...) {
        // An exception from dispatch ends the thread: the port reports nothing
        // more until it is reopened, and nobody is told (as documented).
    }
    Shared->Finished.store(true);
    Shared->Dispatcher->Wake();
}

void TComThread::HandOverEvents(const TSharedPtr& Shared, TCustomComPort& Port,
                                TComEvents PendingEvents) {
    switch (Port.SyncMethod()) {
        case smThreadSync:
            Shared->Dispatcher->Invoke(
                [Shared, &Port, PendingEvents] { FireEvents(Shared, Port, PendingEvents); });
            break;
        case smWindowSync:
            SendEventMessages(Port, PendingEvents);
            break;
        case smNone:
            FireEvents(Shared, Port, PendingEvents);
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

void TComThread::FireEvents(const TSharedPtr& Shared, TCustomComPort& Port,
                            TComEvents PendingEvents) {
    const std::thread::id previous = Shared->FiringThread.exchange(std::this_thread::get_id());
    struct TRestore {
        TShared& State;
        std::thread::id Previous;
        ~TRestore() { State.FiringThread.store(Previous); }
    } restore{*Shared, previous};
    for (TComEvent e : kFireOrder) {
        // A handler that closed the port ends the batch: the port is not ours now.
        if (Shared->Abandoned.load())
            break;
        if (!PendingEvents.Contains(e))
            continue;
        switch (e) {
            case evError:
                Port.HandleError();
                break;
            case evRxChar:
                Port.HandleRxChar();
                break;
            case evTxEmpty:
                Port.HandleTxEmpty();
                break;
            case evBreak:
                Port.HandleBreak();
                break;
            case evRing:
                Port.HandleRing();
                break;
            case evCTS:
                Port.HandleCTSChange();
                break;
            case evDSR:
                Port.HandleDSRChange();
                break;
            case evRxFlag:
                Port.HandleRxFlag();
                break;
            case evRLSD:
                Port.HandleRLSDChange();
                break;
            case evRx80Full:
                Port.HandleRx80Full();
                break;
        }
    }
}

void TComThread::SendEventMessages(TCustomComPort& Port, TComEvents PendingEvents) {
    for (TComEvent e : kFireOrder) {
        if (PendingEvents.Contains(e))
            Port.Private->EventWindow->Send(EventsToCommMask(TComEvents{e}));
    }
}

void TComEventWindow::Send(std::uint32_t EventBit) {
    Dispatcher->Send([this, EventBit] { WindowProc(EventBit); });
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
