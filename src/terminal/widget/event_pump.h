// The port component hands its events to the main thread through a dispatcher of its
// own; these tie it to Qt's event loop.
#pragma once

class QTimer;

namespace tarnwick {

// Makes the calling thread the dispatcher's main thread and lets every hand-over queued by
// a port's event thread run from Qt's event loop, wherever that loop runs: idle, in a
// modal box, or in a wait of the update. Call once the QApplication exists; repeated
// calls do nothing.
void ConnectDispatcherToEventLoop();

// One wait step of a job that runs on the main thread: runs queued hand-overs and Qt's
// events, and when there are none sleeps until one arrives or about a millisecond
// passes, using Tick (a timer of the caller's) as the alarm. Never spins.
void PumpEventsOnce(QTimer& Tick);

}  // namespace tarnwick
