#include "qt_dispatcher_pump.h"

#include <QCoreApplication>
#include <QMetaObject>

#include "comport/main_thread_dispatcher.h"

namespace tarnwick {

TQtDispatcherPump::TQtDispatcherPump() {
    TMainThreadDispatcher& dispatcher = TMainThreadDispatcher::Instance();
    dispatcher.SetMainThread();
    dispatcher.SetWakeHook([] {
        // Called on the queuing thread; the call itself runs on the application's thread.
        QMetaObject::invokeMethod(
            QCoreApplication::instance(), [] { TMainThreadDispatcher::Instance().RunPending(); },
            Qt::QueuedConnection);
    });
}

TQtDispatcherPump::~TQtDispatcherPump() {
    TMainThreadDispatcher::Instance().SetWakeHook(nullptr);
}

}  // namespace tarnwick
