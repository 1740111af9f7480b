#pragma once
// The values ornat-cli's options and arguments take, each read from its text or
// refused with a UsageError that names the valid values. `what` names the value in the
// message ("--address", "new address", "--speeds: speed").

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace ornat::cli {

// A whole number written with digits only (at most 6), or nothing.
std::optional<long> WholeNumber(const std::string& text);
// A slave address, 1 to 247.
std::uint8_t AddressValue(const std::string& text, const std::string& what);
// A speed of the baud-rate table: its row.
std::uint8_t BaudValue(const std::string& text, const std::string& what);
// A tactic by code or by name (any letter case): its code.
std::uint8_t TacticValue(const std::string& text);
// A delay of the window's Delay menu: 100 to 350 ms in steps of 50.
std::uint16_t DelayValue(const std::string& text);
// "9600,19200" or "all": rows of the baud-rate table, in order, each once.
std::vector<std::uint8_t> SpeedsValue(const std::string& text);
// --net-delay: 0 to 10000 ms.
int NetDelayValue(const std::string& text);
// --count: 1 or more.
int CountValue(const std::string& text);
// service's block, F0, F2 or F3 (any letter case): 0, 1 or 2.
std::uint8_t ServiceBlockValue(const std::string& text);
// set test's on or off.
bool OnOffValue(const std::string& text);

}  // namespace ornat::cli
