#include "port_closing.h"

#include <exception>

namespace tarnwick {

int ClosePortAfterWindow(TCustomComPort& Port, int WindowResult, std::ostream& Err) {
    try {
        Port.Close();
    } catch (const std::exception& error) {
        Err << "tarnwick-terminal: Die Schnittstelle \"" << Port.Port()
            << "\" konnte nicht geschlossen werden: " << error.what() << "\n"
            << std::flush;
        return 1;
    }
    return WindowResult;
}

}  // namespace tarnwick
