// The port's option objects: timeouts, flow control, parity and queue sizes. Each
// belongs to a port and reconfigures it when a field changes while it is open.
#pragma once

#include <cstdint>

#include "comport/com_port_types.h"

namespace tarnwick {

class TCustomComPort;

// Driver timeouts in milliseconds; -1 stands for the all-ones value.
class TComTimeouts {
  public:
    TComTimeouts() = default;
    explicit TComTimeouts(TCustomComPort* Port) : Owner(Port) {}
    // Copies the values, not the owner.
    TComTimeouts(const TComTimeouts& Other) { Assign(Other); }
    TComTimeouts& operator=(const TComTimeouts& Other) {
        Assign(Other);
        return *this;
    }
    void Assign(const TComTimeouts& Source);
    TCustomComPort* OwnerPort() const { return Owner; }

    std::int32_t ReadInterval() const { return FReadInterval; }
    std::int32_t ReadTotalMultiplier() const { return FReadTotalMultiplier; }
    std::int32_t ReadTotalConstant() const { return FReadTotalConstant; }
    std::int32_t WriteTotalMultiplier() const { return FWriteTotalMultiplier; }
    std::int32_t WriteTotalConstant() const { return FWriteTotalConstant; }
    void SetReadInterval(std::int32_t Value);
    void SetReadTotalMultiplier(std::int32_t Value);
    void SetReadTotalConstant(std::int32_t Value);
    void SetWriteTotalMultiplier(std::int32_t Value);
    void SetWriteTotalConstant(std::int32_t Value);

  private:
    void Set(std::int32_t& Field, std::int32_t Value);
    TCustomComPort* Owner = nullptr;
    std::int32_t FReadInterval = -1;
    std::int32_t FReadTotalMultiplier = 0;
    std::int32_t FReadTotalConstant = 0;
    std::int32_t FWriteTotalMultiplier = 100;
    std::int32_t FWriteTotalConstant = 1000;
};

class TComFlowControl {
  public:
    TComFlowControl() = default;
    explicit TComFlowControl(TCustomComPort* Port) : Owner(Port) {}
    TComFlowControl(const TComFlowControl& Other) { Assign(Other); }
    TComFlowControl& operator=(const TComFlowControl& Other) {
        Assign(Other);
        return *this;
    }
    void Assign(const TComFlowControl& Source);
    TCustomComPort* OwnerPort() const { return Owner; }

    bool OutCTSFlow() const { return FOutCTSFlow; }
    bool OutDSRFlow() const { return FOutDSRFlow; }
    TDTRFlowControl ControlDTR() const { return FControlDTR; }
    TRTSFlowControl ControlRTS() const { return FControlRTS; }
    bool XonXoffOut() const { return FXonXoffOut; }
    bool XonXoffIn() const { return FXonXoffIn; }
    bool DSRSensitivity() const { return FDSRSensitivity; }
    bool TxContinueOnXoff() const { return FTxContinueOnXoff; }
    std::uint8_t XonChar() const { return FXonChar; }
    std::uint8_t XoffChar() const { return FXoffChar; }
    void SetOutCTSFlow(bool Value);
    void SetOutDSRFlow(bool Value);
    void SetControlDTR(TDTRFlowControl Value);
    void SetControlRTS(TRTSFlowControl Value);
    void SetXonXoffOut(bool Value);
    void SetXonXoffIn(bool Value);
    void SetDSRSensitivity(bool Value);
    void SetTxContinueOnXoff(bool Value);
    void SetXonChar(std::uint8_t Value);
    void SetXoffChar(std::uint8_t Value);

    // The preset the four handshake fields amount to.
    TFlowControl FlowControl() const;
    // Sets the preset's fields (fcCustom changes none); always reconfigures.
    void SetFlowControl(TFlowControl Value);

  private:
    template <typename T>
    void Set(T& Field, T Value);
    TCustomComPort* Owner = nullptr;
    bool FOutCTSFlow = false;
    bool FOutDSRFlow = false;
    TDTRFlowControl FControlDTR = dtrDisable;
    TRTSFlowControl FControlRTS = rtsDisable;
    bool FXonXoffOut = false;
    bool FXonXoffIn = false;
    bool FDSRSensitivity = false;
    bool FTxContinueOnXoff = false;
    std::uint8_t FXonChar = 17;
    std::uint8_t FXoffChar = 19;
};

class TComParity {
  public:
    TComParity() = default;
    explicit TComParity(TCustomComPort* Port) : Owner(Port) {}
    TComParity(const TComParity& Other) { Assign(Other); }
    TComParity& operator=(const TComParity& Other) {
        Assign(Other);
        return *this;
    }
    void Assign(const TComParity& Source);
    TCustomComPort* OwnerPort() const { return Owner; }

    TParityBits Bits() const { return FBits; }
    bool Check() const { return FCheck; }
    bool Replace() const { return FReplace; }
    std::uint8_t ReplaceChar() const { return FReplaceChar; }
    void SetBits(TParityBits Value);
    void SetCheck(bool Value);
    void SetReplace(bool Value);
    void SetReplaceChar(std::uint8_t Value);

  private:
    template <typename T>
    void Set(T& Field, T Value);
    TCustomComPort* Owner = nullptr;
    TParityBits FBits = prNone;
    bool FCheck = false;
    bool FReplace = false;
    std::uint8_t FReplaceChar = 0;
};

// Driver queue sizes; a positive odd size is stored one lower.
class TComBuffer {
  public:
    TComBuffer() = default;
    explicit TComBuffer(TCustomComPort* Port) : Owner(Port) {}
    TComBuffer(const TComBuffer& Other) { Assign(Other); }
    TComBuffer& operator=(const TComBuffer& Other) {
        Assign(Other);
        return *this;
    }
    void Assign(const TComBuffer& Source);
    TCustomComPort* OwnerPort() const { return Owner; }

    std::int32_t InputSize() const { return FInputSize; }
    std::int32_t OutputSize() const { return FOutputSize; }
    void SetInputSize(std::int32_t Value);
    void SetOutputSize(std::int32_t Value);

  private:
    void Set(std::int32_t& Field, std::int32_t Value);
    TCustomComPort* Owner = nullptr;
    std::int32_t FInputSize = 1024;
    std::int32_t FOutputSize = 1024;
};

}  // namespace tarnwick
