// The serial port component's exceptions and their English messages.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace tarnwick {

// The English message of a component error code; "Unknown Error #n" for codes
// outside the table.
std::string ErrorText(int Code);

class EComPort : public std::runtime_error {
  public:
    // ErrorCode 0, the message as given.
    explicit EComPort(const std::string& Message);
    // "<port> Error: <ErrorText(code)>".
    EComPort(const std::string& PortName, int Code);
    std::uint8_t ErrorCode() const { return FErrorCode; }

  protected:
    EComPort(const std::string& Message, int Code, bool /*tag*/);

  private:
    std::uint8_t FErrorCode;
};

// A failed OS call: "COM Port Error: <ErrorText(code)> on <port>"; the OS error
// code is kept in WindowsError only.
class EComPortExt : public EComPort {
  public:
    EComPortExt(const std::string& PortName, int Code, std::uint32_t WindowsError);
    std::uint32_t WindowsError() const { return OsError; }

  private:
    std::uint32_t OsError;
};

}  // namespace tarnwick
