// Saving and loading the port's settings in an INI section or a registry key.
//
// Both forms walk the same groups and keys in the same order; they differ only
// in how a value is written and read. Nothing here catches: an error of the
// store or of a setter ends the operation, and what was loaded before it stays.

#include <cstdint>
#include <string>

#include "comport/com_port.h"
#include "comport/ini_file.h"
#include "comport/registry_key.h"

namespace tarnwick {

namespace {

class TSettingsStore {
  public:
    virtual ~TSettingsStore() = default;
    virtual void WriteText(const char* Key, const std::string& Value) = 0;
    virtual void WriteInteger(const char* Key, std::int32_t Value) = 0;
    virtual std::string ReadText(const char* Key, const std::string& Default) = 0;
    virtual std::int32_t ReadInteger(const char* Key, std::int32_t Default) = 0;
};

class TIniStore final : public TSettingsStore {
  public:
    TIniStore(TIniFile& Ini, const std::string& Section) : FIni(Ini), FSection(Section) {}
    void WriteText(const char* Key, const std::string& Value) override {
        FIni.WriteString(FSection, Key, Value);
    }
    void WriteInteger(const char* Key, std::int32_t Value) override {
        FIni.WriteInteger(FSection, Key, Value);
    }
    std::string ReadText(const char* Key, const std::string& Default) override {
        return FIni.ReadString(FSection, Key, Default);
    }
    std::int32_t ReadInteger(const char* Key, std::int32_t Default) override {
        return FIni.ReadInteger(FSection, Key, Default);
    }

  private:
    TIniFile& FIni;
    const std::string& FSection;
};

// Registry reads know no defaults: a missing string reads as the empty text
// (which the text conversions turn into their fallbacks), a missing integer
// is the registry layer's error.
class TRegistryStore final : public TSettingsStore {
  public:
    explicit TRegistryStore(TRegistryKey& Reg) : FReg(Reg) {}
    void WriteText(const char* Key, const std::string& Value) override {
        FReg.WriteString(Key, Value);
    }
    void WriteInteger(const char* Key, std::int32_t Value) override {
        FReg.WriteInteger(Key, Value);
    }
    std::string ReadText(const char* Key, const std::string& /*Default*/) override {
        return FReg.ReadString(Key);
    }
    std::int32_t ReadInteger(const char* Key, std::int32_t /*Default*/) override {
        return FReg.ReadInteger(Key);
    }

  private:
    TRegistryKey& FReg;
};

// The value of a key when loading a custom rate that was never saved.
constexpr std::int32_t DefaultCustomBaudRate = 9600;

void Save(const TCustomComPort& Port, TSettingsStore& Store) {
    const TStoredGroups groups = Port.StoredGroups();
    if (groups.Contains(sgBasic)) {
        Store.WriteText("Port", Port.Port());
        Store.WriteText("BaudRate", BaudRateToText(Port.BaudRate()));
        if (Port.BaudRate() == brCustom) {
            Store.WriteInteger("CustomBaudRate", Port.CustomBaudRate());
        }
        Store.WriteText("StopBits", StopBitsToText(Port.StopBits()));
        Store.WriteText("DataBits", DataBitsToText(Port.DataBits()));
        Store.WriteText("Parity", ParityToText(Port.Parity().Bits()));
        Store.WriteText("FlowControl", FlowControlToText(Port.FlowControl().FlowControl()));
    }
    if (groups.Contains(sgOthers)) {
        Store.WriteText("EventChar", CharToText(Port.EventChar()));
        Store.WriteText("DiscardNull", BoolToText(Port.DiscardNull()));
    }
    if (groups.Contains(sgParity)) {
        const TComParity& parity = Port.Parity();
        Store.WriteText("Parity.Check", BoolToText(parity.Check()));
        Store.WriteText("Parity.Replace", BoolToText(parity.Replace()));
        Store.WriteText("Parity.ReplaceChar", CharToText(parity.ReplaceChar()));
    }
    if (groups.Contains(sgBuffer)) {
        Store.WriteInteger("Buffer.OutputSize", Port.Buffer().OutputSize());
        Store.WriteInteger("Buffer.InputSize", Port.Buffer().InputSize());
    }
    if (groups.Contains(sgTimeouts)) {
        const TComTimeouts& timeouts = Port.Timeouts();
        Store.WriteInteger("Timeouts.ReadInterval", timeouts.ReadInterval());
        Store.WriteInteger("Timeouts.ReadTotalConstant", timeouts.ReadTotalConstant());
        Store.WriteInteger("Timeouts.ReadTotalMultiplier", timeouts.ReadTotalMultiplier());
        Store.WriteInteger("Timeouts.WriteTotalConstant", timeouts.WriteTotalConstant());
        Store.WriteInteger("Timeouts.WriteTotalMultiplier", timeouts.WriteTotalMultiplier());
    }
    if (groups.Contains(sgFlowControl)) {
        const TComFlowControl& flow = Port.FlowControl();
        Store.WriteText("FlowControl.ControlRTS", RTSToText(flow.ControlRTS()));
        Store.WriteText("FlowControl.ControlDTR", DTRToText(flow.ControlDTR()));
        Store.WriteText("FlowControl.DSRSensitivity", BoolToText(flow.DSRSensitivity()));
        Store.WriteText("FlowControl.OutCTSFlow", BoolToText(flow.OutCTSFlow()));
        Store.WriteText("FlowControl.OutDSRFlow", BoolToText(flow.OutDSRFlow()));
        Store.WriteText("FlowControl.TxContinueOnXoff", BoolToText(flow.TxContinueOnXoff()));
        Store.WriteText("FlowControl.XonXoffIn", BoolToText(flow.XonXoffIn()));
        Store.WriteText("FlowControl.XonXoffOut", BoolToText(flow.XonXoffOut()));
        Store.WriteText("FlowControl.XoffChar", CharToText(flow.XoffChar()));
        Store.WriteText("FlowControl.XonChar", CharToText(flow.XonChar()));
    }
}

// Every value goes through its setter, each read right before its assignment:
// an open port applies it at once, and a setter's error leaves the keys read
// before it in force.
void Load(TCustomComPort& Port, TSettingsStore& Store) {
    const TStoredGroups groups = Port.StoredGroups();
    if (groups.Contains(sgBasic)) {
        Port.SetPort(Store.ReadText("Port", Port.Port()));
        Port.SetBaudRate(
            BaudRateFromText(Store.ReadText("BaudRate", BaudRateToText(Port.BaudRate()))));
        if (Port.BaudRate() == brCustom) {
            Port.SetCustomBaudRate(Store.ReadInteger("CustomBaudRate", DefaultCustomBaudRate));
        }
        Port.SetStopBits(
            StopBitsFromText(Store.ReadText("StopBits", StopBitsToText(Port.StopBits()))));
        Port.SetDataBits(
            DataBitsFromText(Store.ReadText("DataBits", DataBitsToText(Port.DataBits()))));
        TComParity& parity = Port.Parity();
        parity.SetBits(ParityFromText(Store.ReadText("Parity", ParityToText(parity.Bits()))));
        TComFlowControl& flow = Port.FlowControl();
        flow.SetFlowControl(FlowControlFromText(
            Store.ReadText("FlowControl", FlowControlToText(flow.FlowControl()))));
    }
    if (groups.Contains(sgOthers)) {
        Port.SetEventChar(CharFromText(Store.ReadText("EventChar", CharToText(Port.EventChar()))));
        Port.SetDiscardNull(
            BoolFromText(Store.ReadText("DiscardNull", BoolToText(Port.DiscardNull()))));
    }
    if (groups.Contains(sgParity)) {
        TComParity& parity = Port.Parity();
        parity.SetCheck(BoolFromText(Store.ReadText("Parity.Check", BoolToText(parity.Check()))));
        parity.SetReplace(
            BoolFromText(Store.ReadText("Parity.Replace", BoolToText(parity.Replace()))));
        parity.SetReplaceChar(
            CharFromText(Store.ReadText("Parity.ReplaceChar", CharToText(parity.ReplaceChar()))));
    }
    if (groups.Contains(sgBuffer)) {
        TComBuffer& buffer = Port.Buffer();
        buffer.SetOutputSize(Store.ReadInteger("Buffer.OutputSize", buffer.OutputSize()));
        buffer.SetInputSize(Store.ReadInteger("Buffer.InputSize", buffer.InputSize()));
    }
    if (groups.Contains(sgTimeouts)) {
        TComTimeouts& timeouts = Port.Timeouts();
        timeouts.SetReadInterval(
            Store.ReadInteger("Timeouts.ReadInterval", timeouts.ReadInterval()));
        timeouts.SetReadTotalConstant(
            Store.ReadInteger("Timeouts.ReadTotalConstant", timeouts.ReadTotalConstant()));
        timeouts.SetReadTotalMultiplier(
            Store.ReadInteger("Timeouts.ReadTotalMultiplier", timeouts.ReadTotalMultiplier()));
        timeouts.SetWriteTotalConstant(
            Store.ReadInteger("Timeouts.WriteTotalConstant", timeouts.WriteTotalConstant()));
        timeouts.SetWriteTotalMultiplier(
            Store.ReadInteger("Timeouts.WriteTotalMultiplier", timeouts.WriteTotalMultiplier()));
    }
    if (groups.Contains(sgFlowControl)) {
        TComFlowControl& flow = Port.FlowControl();
        flow.SetControlRTS(
            RTSFromText(Store.ReadText("FlowControl.ControlRTS", RTSToText(flow.ControlRTS()))));
        flow.SetControlDTR(
            DTRFromText(Store.ReadText("FlowControl.ControlDTR", DTRToText(flow.ControlDTR()))));
        flow.SetDSRSensitivity(BoolFromText(
            Store.ReadText("FlowControl.DSRSensitivity", BoolToText(flow.DSRSensitivity()))));
        flow.SetOutCTSFlow(
            BoolFromText(Store.ReadText("FlowControl.OutCTSFlow", BoolToText(flow.OutCTSFlow()))));
        flow.SetOutDSRFlow(
            BoolFromText(Store.ReadText("FlowControl.OutDSRFlow", BoolToText(flow.OutDSRFlow()))));
        flow.SetTxContinueOnXoff(BoolFromText(
            Store.ReadText("FlowControl.TxContinueOnXoff", BoolToText(flow.TxContinueOnXoff()))));
        flow.SetXonXoffIn(
            BoolFromText(Store.ReadText("FlowControl.XonXoffIn", BoolToText(flow.XonXoffIn()))));
        flow.SetXonXoffOut(
            BoolFromText(Store.ReadText("FlowControl.XonXoffOut", BoolToText(flow.XonXoffOut()))));
        flow.SetXoffChar(
            CharFromText(Store.ReadText("FlowControl.XoffChar", CharToText(flow.XoffChar()))));
        flow.SetXonChar(
            CharFromText(Store.ReadText("FlowControl.XonChar", CharToText(flow.XonChar()))));
    }
}

}  // namespace

void TCustomComPort::SaveToIni(TIniFile& Ini) const {
    TIniStore store(Ini, Name());
    Save(*this, store);
}

void TCustomComPort::LoadFromIni(TIniFile& Ini) {
    // A copy: a setter must not be able to change the section under the load.
    const std::string section = Name();
    TIniStore store(Ini, section);
    Load(*this, store);
}

void TCustomComPort::SaveToRegistry(TRegistryKey& Reg) const {
    TRegistryStore store(Reg);
    Save(*this, store);
}

void TCustomComPort::LoadFromRegistry(TRegistryKey& Reg) {
    TRegistryStore store(Reg);
    Load(*this, store);
}

}  // namespace tarnwick
