// The layer's error code, kept per thread as Windows keeps GetLastError; the same on
// every platform.
#include "comport/platform/comm_device.h"

namespace tarnwick::platform {

namespace {

thread_local std::uint32_t tLastError = 0;

}  // namespace

std::uint32_t LastError() {
    return tLastError;
}
void SetLastError(std::uint32_t Error) {
    tLastError = Error;
}

}  // namespace tarnwick::platform
