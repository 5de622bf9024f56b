// Pumping for the window: Windows messages and the calls that port threads hand to the
// main thread. A wait sleeps in MsgWaitForMultipleObjectsEx until a message arrives, the
// dispatcher is woken or the time is up, so no waiting loop ever spins.
#pragma once

#include <windows.h>

#include <atomic>
#include <memory>

namespace tarnwick {

// Posted to the window when the dispatcher has work; its handler runs the queued calls.
// Modal loops (message boxes, the file dialog) dispatch it too, so a port's hand-over is
// never stuck behind a box the user has not answered yet.
inline constexpr UINT WM_APP_DISPATCH = WM_APP + 1;

class TMessagePump {
  public:
    // Makes the calling thread the dispatcher's main thread and routes its wake-ups
    // here. Dialog navigation (tab, Return) goes to DialogWindow.
    explicit TMessagePump(HWND DialogWindow);
    ~TMessagePump();
    TMessagePump(const TMessagePump&) = delete;
    TMessagePump& operator=(const TMessagePump&) = delete;

    // The window's handler of WM_APP_DISPATCH.
    void OnDispatchMessage();

    // Runs what is pending; with nothing pending sleeps up to MaxWaitMs for a message
    // or a wake-up, then runs what came. False once WM_QUIT was seen (it is posted
    // again for the loop that owns it).
    bool PumpOnce(DWORD MaxWaitMs);

    // The program's message loop, until WM_QUIT; returns its exit code.
    int Run();

  private:
    // Dispatches every queued message; false on WM_QUIT.
    bool DispatchQueued();
    void Dispatch(MSG& Message);

    struct TWakeState {
        HANDLE Event = nullptr;
        std::atomic<HWND> Target{nullptr};
        std::atomic<bool> Posted{false};
    };
    std::shared_ptr<TWakeState> Wake;
    HWND DialogWindow;
    int QuitCode = 0;
    bool QuitSeen = false;
};

}  // namespace tarnwick
