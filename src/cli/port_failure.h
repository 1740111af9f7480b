#pragma once
// A failed send in the command line's words: the port that cannot be opened or
// written, and why (the programs found holding it, or the platform's error in the
// platform's words, port_problem_*.cpp), without the serial component's Windows-style
// code.

#include <string>

#include "modbus/exchange_observer.h"

namespace ornat::cli {

// "the port "ttyUSB0" cannot be opened: held by ..." or "the request could not be
// written to the port "ttyUSB0": ...", for an exchange whose send failed.
std::string PortFailureText(const ExchangeRecord& record);

}  // namespace ornat::cli
