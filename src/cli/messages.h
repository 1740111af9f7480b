#pragma once
// What the command line says about its exchanges: the sentences the verdicts tell on
// stderr (why an exchange failed, a write that may have been carried out, what
// answered at an address) and the words they share with the renderers.

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "modbus/exchange_observer.h"
#include "modbus/exchange_outcome.h"

namespace ornat::cli {

// A speed of the baud-rate table as its menu shows it ("9600").
std::string Speed(std::uint8_t baud_index);
// A word as a shell takes it: as it is when that is safe, else in single quotes.
std::string ShellWord(const std::string& word);
// The query an engineer checks a write with: the window's parameter query at that
// address and speed, on this port.
std::string QueryCommand(const std::string& port, std::uint8_t address, std::uint8_t baud_index);

// "two or more devices answer at address N" and how to part them.
std::string SeveralDevicesText(int address);
// "address 5 at 9600 bit/s on ttyUSB0" ("the line" for bytes with no request).
std::string Where(const ExchangeRecord& record);
// Why an exchange came to `outcome`; empty for ok.
std::string FailureText(const ExchangeRecord& record, ExchangeOutcome outcome);
// Empty when the record's answer is a register read (a query's); otherwise what it is.
std::string NotAQueryAnswerText(const ExchangeRecord& record);
// What answered the look at an address, told from its bytes.
std::string AnswererText(const ExchangeRecord& record);

std::string NothingSentText();
std::string NotEndedText(std::chrono::seconds limit);
std::string EchoDiffersText(const std::vector<std::uint8_t>& request,
                            const std::vector<std::uint8_t>& echo);
std::string MaybeCarriedOutText(const std::string& check);
std::string LookNotEndedText(int address);
std::string AddressTakenText(int address, const std::string& occupied);
std::string OtherAddressText(int acknowledged, int wanted);
std::string OtherSpeedText(std::uint8_t acknowledged, std::uint8_t wanted);
// set baud or reset-interface refused on a line whose speed the server keeps: `speed`
// is the detector's new one ("19200 bit/s").
std::string ServerKeepsSpeedText(const std::string& command, const std::string& port,
                                 const std::string& speed);
std::string ShortBlockText(int address, const std::vector<std::uint8_t>& answer, const char* block,
                           std::uint16_t count);

// The line lock: one that cannot be had at all (`why`: the system's words), one that
// another ornat program holds (`holder`: who, and what it runs).
std::string LineUnlockedText(const std::string& port, const std::string& why);
std::string LineInUseText(const std::string& port, const std::string& holder);

}  // namespace ornat::cli
