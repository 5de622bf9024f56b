// Lets the Qt event loop run the port's hand-overs to the main thread: a worker
// thread's queued call wakes the loop, which runs it. Without this, a port's received
// data waits until someone pumps the dispatcher by hand.
#pragma once

namespace tarnwick {

// One per application, made on the main thread after the QApplication.
class TQtDispatcherPump {
  public:
    TQtDispatcherPump();
    ~TQtDispatcherPump();
    TQtDispatcherPump(const TQtDispatcherPump&) = delete;
    TQtDispatcherPump& operator=(const TQtDispatcherPump&) = delete;
};

}  // namespace tarnwick
