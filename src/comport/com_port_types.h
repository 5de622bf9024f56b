// The serial port component's enumerations and the sets made of them.
#pragma once

#include <cstdint>
#include <initializer_list>

namespace tarnwick {

enum TBaudRate : std::uint8_t {
    brCustom,
    br110,
    br300,
    br600,
    br1200,
    br2400,
    br4800,
    br9600,
    br14400,
    br19200,
    br38400,
    br56000,
    br57600,
    br115200,
    br128000,
    br256000
};
enum TStopBits : std::uint8_t { sbOneStopBit, sbOne5StopBits, sbTwoStopBits };
enum TDataBits : std::uint8_t { dbFive, dbSix, dbSeven, dbEight };
enum TParityBits : std::uint8_t { prNone, prOdd, prEven, prMark, prSpace };
enum TDTRFlowControl : std::uint8_t { dtrDisable, dtrEnable, dtrHandshake };
enum TRTSFlowControl : std::uint8_t { rtsDisable, rtsEnable, rtsHandshake, rtsToggle };
enum TFlowControl : std::uint8_t { fcHardware, fcSoftware, fcNone, fcCustom };
enum TComEvent : std::uint8_t {
    evRxChar,
    evTxEmpty,
    evRxFlag,
    evRing,
    evBreak,
    evCTS,
    evDSR,
    evError,
    evRLSD,
    evRx80Full
};
enum TComError : std::uint8_t {
    ceFrame,
    ceRxParity,
    ceOverrun,
    ceBreak,
    ceIO,
    ceMode,
    ceRxOver,
    ceTxFull
};
enum TSyncMethod : std::uint8_t { smThreadSync, smWindowSync, smNone, smDisableEvents };
enum TStoredGroup : std::uint8_t {
    sgBasic,
    sgFlowControl,
    sgBuffer,
    sgTimeouts,
    sgParity,
    sgOthers
};
enum TLineSignal : std::uint8_t { lsCTS, lsDSR, lsRing, lsRLSD };
enum TAsyncOperation : std::uint8_t { opWrite, opRead };

// A set of enumeration members; bit n stands for the member with ordinal n.
template <typename TEnum, typename TBits>
class TEnumSet {
  public:
    constexpr TEnumSet() = default;
    constexpr TEnumSet(std::initializer_list<TEnum> Members) {
        for (TEnum m : Members)
            Include(m);
    }
    static constexpr TEnumSet FromBits(TBits Value) {
        TEnumSet s;
        s.Bits = Value;
        return s;
    }
    constexpr TBits ToBits() const { return Bits; }
    constexpr bool Contains(TEnum Member) const { return (Bits & Mask(Member)) != 0; }
    constexpr bool Empty() const { return Bits == 0; }
    constexpr TEnumSet& Include(TEnum Member) {
        Bits = static_cast<TBits>(Bits | Mask(Member));
        return *this;
    }
    constexpr TEnumSet& Exclude(TEnum Member) {
        Bits = static_cast<TBits>(Bits & ~Mask(Member));
        return *this;
    }
    friend constexpr bool operator==(TEnumSet, TEnumSet) = default;

  private:
    static constexpr TBits Mask(TEnum Member) {
        return static_cast<TBits>(TBits{1} << static_cast<unsigned>(Member));
    }
    TBits Bits = 0;
};

using TComEvents = TEnumSet<TComEvent, std::uint16_t>;
using TComErrors = TEnumSet<TComError, std::uint8_t>;
using TStoredGroups = TEnumSet<TStoredGroup, std::uint8_t>;
using TLineSignals = TEnumSet<TLineSignal, std::uint8_t>;

inline constexpr TComEvents kAllComEvents = TComEvents::FromBits(0x03FF);

}  // namespace tarnwick
