#include "message_pump.h"

#include "comport/main_thread_dispatcher.h"

namespace tarnwick {

TMessagePump::TMessagePump(HWND ADialogWindow)
    : Wake(std::make_shared<TWakeState>()), DialogWindow(ADialogWindow) {
    Wake->Event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    Wake->Target.store(ADialogWindow);
    TMainThreadDispatcher& dispatcher = TMainThreadDispatcher::Instance();
    dispatcher.SetMainThread();
    // The hook runs on the queuing thread and may outlive this object: it holds the
    // shared state, never the pump.
    dispatcher.SetWakeHook([wake = Wake] {
        SetEvent(wake->Event);
        const HWND target = wake->Target.load();
        if (target != nullptr && !wake->Posted.exchange(true)) {
            if (!PostMessageW(target, WM_APP_DISPATCH, 0, 0))
                wake->Posted.store(false);
        }
    });
}

TMessagePump::~TMessagePump() {
    Wake->Target.store(nullptr);
    TMainThreadDispatcher::Instance().SetWakeHook({});
    CloseHandle(Wake->Event);
}

void TMessagePump::OnDispatchMessage() {
    Wake->Posted.store(false);
    TMainThreadDispatcher::Instance().RunPending();
}

void TMessagePump::Dispatch(MSG& Message) {
    if (DialogWindow != nullptr && IsDialogMessageW(DialogWindow, &Message))
        return;
    TranslateMessage(&Message);
    DispatchMessageW(&Message);
}

bool TMessagePump::DispatchQueued() {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) {
            QuitSeen = true;
            QuitCode = static_cast<int>(message.wParam);
            PostQuitMessage(QuitCode);
            return false;
        }
        Dispatch(message);
    }
    return true;
}

bool TMessagePump::PumpOnce(DWORD MaxWaitMs) {
    TMainThreadDispatcher& dispatcher = TMainThreadDispatcher::Instance();
    if (dispatcher.RunPending() == 0) {
        // MWMO_INPUTAVAILABLE: also wake for messages that were already queued.
        MsgWaitForMultipleObjectsEx(1, &Wake->Event, MaxWaitMs, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    }
    const bool running = DispatchQueued();
    dispatcher.RunPending();
    return running;
}

int TMessagePump::Run() {
    MSG message;
    while (!QuitSeen) {
        const BOOL got = GetMessageW(&message, nullptr, 0, 0);
        if (got == 0 || got == -1) {
            QuitCode = got == 0 ? static_cast<int>(message.wParam) : 1;
            break;
        }
        Dispatch(message);
    }
    return QuitCode;
}

}  // namespace tarnwick
