// The permission hint on Windows: none. A port refused there is one that another program
// holds open, which the error message already says.
#include "comport/port_access_hint.h"

namespace tarnwick {

std::string PortAccessHint(const std::string&, std::uint32_t) {
    return {};
}

}  // namespace tarnwick
