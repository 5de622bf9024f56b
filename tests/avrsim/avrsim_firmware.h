// The test programs built for the emulated chip's tests. A test target that includes this
// defines TARNWICK_AVRSIM_FIRMWARE, the folder they are built into.
#pragma once

#include <string>

namespace tarnwick::test {

// The HEX file of the test program Name (such as "uart_echo_atmega328p").
inline std::string FirmwareHex(const std::string& Name) {
    return std::string(TARNWICK_AVRSIM_FIRMWARE) + "/" + Name + ".hex";
}

}  // namespace tarnwick::test
