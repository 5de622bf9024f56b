#include "event_pump.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QTimer>
#include <atomic>
#include <memory>

#include "comport/main_thread_dispatcher.h"

namespace tarnwick {

void ConnectDispatcherToEventLoop() {
    static const bool connected = [] {
        TMainThreadDispatcher& dispatcher = TMainThreadDispatcher::Instance();
        dispatcher.SetMainThread();
        // One posted run at a time is enough: it takes everything queued until then. The
        // flag is shared, not owned by anything that may die before a worker's last call.
        auto posted = std::make_shared<std::atomic<bool>>(false);
        dispatcher.SetWakeHook([posted] {
            QCoreApplication* application = QCoreApplication::instance();
            if (application == nullptr || posted->exchange(true)) {
                return;
            }
            QMetaObject::invokeMethod(
                application,
                [posted] {
                    posted->store(false);
                    TMainThreadDispatcher::Instance().RunPending();
                },
                Qt::QueuedConnection);
        });
        return true;
    }();
    static_cast<void>(connected);
}

void PumpEventsOnce(QTimer& Tick) {
    TMainThreadDispatcher::Instance().RunPending();
    if (!Tick.isActive()) {
        Tick.setTimerType(Qt::PreciseTimer);
        Tick.setSingleShot(true);
        Tick.start(1);
    }
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
}

}  // namespace tarnwick
