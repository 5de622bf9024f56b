// Port links, the firing of events, the handlers of the event thread's events and the
// notifications around opening and closing.
#include <algorithm>
#include <utility>

#include "comport/com_port.h"
#include "comport/com_thread.h"

namespace tarnwick {

// --------------------------------------------------------------------- links

void TCustomComPort::AttachLink(TComLink* Link) {
    if (Link == nullptr || std::find(Links.begin(), Links.end(), Link) != Links.end()) {
        throw EComPort(FPort, 18);
    }
    Links.push_back(Link);
    FLinkWantsRxData = std::any_of(Links.begin(), Links.end(), [](const TComLink* l) {
        return static_cast<bool>(l->LinkDataReceived);
    });
}

void TCustomComPort::DetachLink(TComLink* Link) {
    const auto it = std::find(Links.begin(), Links.end(), Link);
    if (it == Links.end())
        throw EComPort(FPort, 18);
    Links.erase(it);
    FLinkWantsRxData = std::any_of(Links.begin(), Links.end(), [](const TComLink* l) {
        return static_cast<bool>(l->LinkDataReceived);
    });
}

void TCustomComPort::FreeNotification(const void* Key, std::function<void()> Notify) {
    RemoveFreeNotification(Key);
    FreeNotifications.emplace_back(Key, std::move(Notify));
}

void TCustomComPort::RemoveFreeNotification(const void* Key) {
    std::erase_if(FreeNotifications, [Key](const auto& entry) { return entry.first == Key; });
}

// A handler may detach links while the fan-out runs, so it walks a snapshot and
// skips links that left meanwhile.
void TCustomComPort::NotifyLinksSignal(TLinkSignal Callback, bool OnOff) {
    const std::vector<TComLink*> snapshot = Links;
    for (TComLink* link : snapshot) {
        if (std::find(Links.begin(), Links.end(), link) == Links.end())
            continue;
        if (link->*Callback)
            (link->*Callback)(*this, OnOff);
    }
}

void TCustomComPort::NotifyLinksEvent(TLinkEvent Callback) {
    const std::vector<TComLink*> snapshot = Links;
    for (TComLink* link : snapshot) {
        if (std::find(Links.begin(), Links.end(), link) == Links.end())
            continue;
        if (link->*Callback)
            (link->*Callback)(*this);
    }
}

void TCustomComPort::NotifyLinksDataSent(const std::uint8_t* Data, int Count) {
    const std::vector<TComLink*> snapshot = Links;
    for (TComLink* link : snapshot) {
        if (std::find(Links.begin(), Links.end(), link) == Links.end())
            continue;
        if (link->LinkDataSent)
            link->LinkDataSent(*this, Data, Count);
    }
}

// ------------------------------------------------------------------- firing

void TCustomComPort::FireAfterClose() {
    if (OnAfterClose)
        OnAfterClose(*this);
}
void TCustomComPort::FireAfterOpen() {
    if (OnAfterOpen)
        OnAfterOpen(*this);
}
void TCustomComPort::FireBeforeClose() {
    if (OnBeforeClose)
        OnBeforeClose(*this);
}
void TCustomComPort::FireBeforeOpen() {
    if (OnBeforeOpen)
        OnBeforeOpen(*this);
}
void TCustomComPort::FireRxChar(int Count) {
    if (OnRxChar)
        OnRxChar(*this, Count);
}
void TCustomComPort::FireRxBuf(const std::uint8_t* Data, int Count) {
    if (OnRxBuf)
        OnRxBuf(*this, Data, Count);
}
void TCustomComPort::FireTxEmpty() {
    if (OnTxEmpty)
        OnTxEmpty(*this);
}
void TCustomComPort::FireBreak() {
    if (OnBreak)
        OnBreak(*this);
}
void TCustomComPort::FireRing() {
    if (OnRing)
        OnRing(*this);
}
void TCustomComPort::FireRxFlag() {
    if (OnRxFlag)
        OnRxFlag(*this);
}
void TCustomComPort::FireCTSChange(bool OnOff) {
    if (OnCTSChange)
        OnCTSChange(*this, OnOff);
}
void TCustomComPort::FireDSRChange(bool OnOff) {
    if (OnDSRChange)
        OnDSRChange(*this, OnOff);
}
void TCustomComPort::FireError(TComErrors Errors) {
    if (OnError)
        OnError(*this, Errors);
}
void TCustomComPort::FireRLSDChange(bool OnOff) {
    if (OnRLSDChange)
        OnRLSDChange(*this, OnOff);
}
void TCustomComPort::FireRx80Full() {
    if (OnRx80Full)
        OnRx80Full(*this);
}

// ------------------------------------------------------------------ handlers

void TCustomComPort::HandleRxChar() {
    std::int32_t count = InputQueueCount();
    if (count > 0)
        NotifyLinksSignal(&TComLink::LinkReceiving, true);
    if (count > 0 && FLinkWantsRxData) {
        std::vector<std::uint8_t> buffer;  // one block of exactly the waiting count
        bool read = false;
        const std::vector<TComLink*> snapshot = Links;
        for (TComLink* link : snapshot) {
            if (std::find(Links.begin(), Links.end(), link) == Links.end())
                continue;
            if (!link->LinkDataReceived)
                continue;
            if (!read) {
                buffer.resize(static_cast<std::size_t>(count));
                read = true;
                ReadWait(buffer.data(), count);
                FireRxBuf(buffer.data(), count);
            }
            link->LinkDataReceived(*this, buffer.data(), count);
        }
        if (read)
            count = 0;
    }
    if (count > 0)
        FireRxChar(count);
}

void TCustomComPort::HandleTxEmpty() {
    NotifyLinksSignal(&TComLink::LinkSending, false);
    NotifyLinksEvent(&TComLink::LinkTxQueueEmpty);
    FireTxEmpty();
}

void TCustomComPort::HandleRxFlag() {
    NotifyLinksEvent(&TComLink::LinkEventCharReceived);
    FireRxFlag();
}

void TCustomComPort::HandleBreak() {
    FireBreak();
}

void TCustomComPort::HandleRing() {
    NotifyLinksEvent(&TComLink::LinkRingDetected);
    FireRing();
}

void TCustomComPort::HandleCTSChange() {
    const bool on = ModemSignals().Contains(lsCTS);
    NotifyLinksSignal(&TComLink::LinkCTSChanged, on);
    FireCTSChange(on);
}

void TCustomComPort::HandleDSRChange() {
    const bool on = ModemSignals().Contains(lsDSR);
    NotifyLinksSignal(&TComLink::LinkDSRChanged, on);
    FireDSRChange(on);
}

void TCustomComPort::HandleRLSDChange() {
    const bool on = ModemSignals().Contains(lsRLSD);
    NotifyLinksSignal(&TComLink::LinkRLSDChanged, on);
    FireRLSDChange(on);
}

void TCustomComPort::HandleError() {
    const TComErrors errors = LineErrors();
    if (!errors.Empty())
        FireError(errors);
}

void TCustomComPort::HandleRx80Full() {
    FireRx80Full();
}

void TCustomComPort::HandleEventBit(std::uint32_t Bit) {
    switch (Bit) {
        case platform::kEvRxChar:
            HandleRxChar();
            break;
        case platform::kEvRxFlag:
            HandleRxFlag();
            break;
        case platform::kEvTxEmpty:
            HandleTxEmpty();
            break;
        case platform::kEvCts:
            HandleCTSChange();
            break;
        case platform::kEvDsr:
            HandleDSRChange();
            break;
        case platform::kEvRlsd:
            HandleRLSDChange();
            break;
        case platform::kEvBreak:
            HandleBreak();
            break;
        case platform::kEvErr:
            HandleError();
            break;
        case platform::kEvRing:
            HandleRing();
            break;
        case platform::kEvRx80Full:
            HandleRx80Full();
            break;
        default:
            break;
    }
}

// ------------------------------------------------------------- notifications

void TCustomComPort::NotifyBeforeOpen() {
    FireBeforeOpen();
}

void TCustomComPort::NotifyAfterOpen() {
    NotifyLinksSignal(&TComLink::LinkOpenChanged, true);
    FireAfterOpen();
    RefreshSignals(true);
}

void TCustomComPort::NotifyBeforeClose() {
    RefreshSignals(false);
    FireBeforeClose();
}

void TCustomComPort::NotifyAfterClose() {
    NotifyLinksSignal(&TComLink::LinkOpenChanged, false);
    FireAfterClose();
}

void TCustomComPort::RefreshSignals(bool OnOff) {
    if (OnOff) {
        HandleCTSChange();
        HandleDSRChange();
        HandleRLSDChange();
        return;
    }
    NotifyLinksSignal(&TComLink::LinkCTSChanged, false);
    NotifyLinksSignal(&TComLink::LinkDSRChanged, false);
    NotifyLinksSignal(&TComLink::LinkRLSDChanged, false);
    FireCTSChange(false);
    FireDSRChange(false);
    FireRLSDChange(false);
}

}  // namespace tarnwick
