// A communications layer for tests that passes every call to the system's layer on the real
// device but refuses those a test names, with the error code a driver gives, as a pulled
// USB adapter or a port without modem lines makes it. The port takes it through
// TComPort(Opener()).
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "comport/com_port.h"
#include "comport/platform/comm_device.h"

namespace tarnwick::test {

class TRefusingLayer {
  public:
    // Error codes the calls fail with; 0 lets them through. The event thread calls the
    // device too, so the test's switches are atomic.
    std::atomic<std::uint32_t> PurgeAbortError{0};  // PurgeComm that aborts transfers (Close)
    std::atomic<std::uint32_t> ModemStatusError{0};
    std::atomic<std::uint32_t> Purged{0};  // every PurgeComm flag asked for so far
    std::atomic<int> Opened{0};            // devices opened so far
    std::atomic<int> Live{0};              // devices not yet released

    TCommDeviceOpener Opener() {
        return [this](const std::string& Path) -> std::unique_ptr<platform::TCommDevice> {
            auto real = platform::OpenCommDevice(Path);
            if (!real)
                return nullptr;
            ++Opened;
            return std::make_unique<TDevice>(*this, std::move(real));
        };
    }

  private:
    class TDevice final : public platform::TCommDevice {
      public:
        TDevice(TRefusingLayer& ALayer, std::unique_ptr<platform::TCommDevice> AReal)
            : Layer(ALayer), Real(std::move(AReal)) {
            ++Layer.Live;
        }
        ~TDevice() override { --Layer.Live; }

        bool SetupComm(std::uint32_t In, std::uint32_t Out) override {
            return Real->SetupComm(In, Out);
        }
        bool SetCommState(const platform::TDcb& Dcb) override { return Real->SetCommState(Dcb); }
        bool SetCommTimeouts(const platform::TCommTimeouts& T) override {
            return Real->SetCommTimeouts(T);
        }
        bool SetCommMask(std::uint32_t Mask) override { return Real->SetCommMask(Mask); }
        platform::TWaitResult WaitCommEvent(const platform::TEvent& Quit,
                                            std::uint32_t& Mask) override {
            return Real->WaitCommEvent(Quit, Mask);
        }
        bool WriteFile(const std::uint8_t* Data, std::uint32_t Count, std::uint32_t& Written,
                       platform::TOverlapped& Record) override {
            return Real->WriteFile(Data, Count, Written, Record);
        }
        bool ReadFile(std::uint8_t* Data, std::uint32_t Count, std::uint32_t& Read,
                      platform::TOverlapped& Record) override {
            return Real->ReadFile(Data, Count, Read, Record);
        }
        bool WaitOverlapped(platform::TOverlapped& Record, std::uint32_t& Transferred) override {
            return Real->WaitOverlapped(Record, Transferred);
        }
        bool PurgeComm(std::uint32_t Flags) override {
            Layer.Purged |= Flags;
            const std::uint32_t abort = platform::kPurgeTxAbort | platform::kPurgeRxAbort;
            if ((Flags & abort) != 0 && Layer.PurgeAbortError != 0)
                return Refuse(Layer.PurgeAbortError);
            return Real->PurgeComm(Flags);
        }
        bool ClearCommError(std::uint32_t& Errors, platform::TComStat& Stat) override {
            return Real->ClearCommError(Errors, Stat);
        }
        bool GetCommModemStatus(std::uint32_t& Status) override {
            if (Layer.ModemStatusError != 0)
                return Refuse(Layer.ModemStatusError);
            return Real->GetCommModemStatus(Status);
        }
        std::intptr_t NativeHandle() const override { return Real->NativeHandle(); }

      private:
        static bool Refuse(std::uint32_t Error) {
            platform::SetLastError(Error);
            return false;
        }
        TRefusingLayer& Layer;
        std::unique_ptr<platform::TCommDevice> Real;
    };
};

}  // namespace tarnwick::test
