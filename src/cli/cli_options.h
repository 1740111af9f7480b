#pragma once
// ornat-cli's command line: the subcommand, its arguments and the common options,
// checked before anything is opened or sent. A bad argument is a UsageError whose
// message names the valid values.

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace ornat::cli {

class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

enum class Command {
  kHelp,
  kVersion,
  kPorts,
  kQuery,
  kWatch,
  kSetTactic,
  kSetTest,
  kResetAlarm,
  kSetAddress,
  kSetBaud,
  kResetInterface,
  kSearch,
  kSurvey,
  kService,
};

struct Options {
  Command command = Command::kHelp;
  std::string command_text;  // "set tactic", as typed

  // Common options.
  std::optional<std::string> port;
  std::optional<std::uint8_t> baud_index;  // --baud, a row of the baud-rate table
  std::optional<std::uint8_t> address;     // --address
  bool json = false;
  bool verbose = false;
  std::optional<std::string> journal;
  // --net-delay: the round-trip allowance chosen, 0..10000 ms; nothing: the port's
  // kind decides (100 ms on a network line, 0 on a local port).
  std::optional<int> net_delay_ms;
  // set address: move the detector even when something answers at the new address.
  bool force = false;

  // Arguments of the subcommands.
  std::uint8_t tactic_code = 0;                               // set tactic
  bool test_on = false;                                       // set test
  std::uint8_t new_address = 0;                               // set address
  std::uint8_t new_baud_index = 0;                            // set baud
  std::uint16_t delay_ms = 0;                                 // search, survey: 0 = the default
  std::vector<std::uint8_t> speeds;                           // survey: rows of the baud-rate table
  std::vector<std::pair<std::uint8_t, std::uint8_t>> ranges;  // survey: address runs
  int count = 0;                   // watch: stop after this many answers; 0: never
  std::uint8_t service_block = 0;  // service: 0 F0, 1 F2, 2 F3
};

// Parses the arguments after the program name. Throws UsageError, also for an option
// that would have no effect on the command (its message says why).
Options ParseArguments(const std::vector<std::string>& args);

// The text of --help.
std::string UsageText();

// "1-10,240-247" -> {{1, 10}, {240, 247}}: sorted, overlaps merged. Throws UsageError.
std::vector<std::pair<std::uint8_t, std::uint8_t>> ParseAddressRuns(const std::string& text);
// The runs written back: "1-10,240-247".
std::string AddressRunsText(const std::vector<std::pair<std::uint8_t, std::uint8_t>>& runs);

}  // namespace ornat::cli
