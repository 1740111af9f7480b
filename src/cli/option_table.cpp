#include "cli/option_table.h"

namespace ornat::cli {

namespace {

constexpr CommandSpelling kCommands[] = {
    {"ports", Command::kPorts, nullptr},
    {"query", Command::kQuery, nullptr},
    {"watch", Command::kWatch, nullptr},
    {"set tactic", Command::kSetTactic, "a tactic (code or name)"},
    {"set test", Command::kSetTest, "on or off"},
    {"reset-alarm", Command::kResetAlarm, nullptr},
    {"set address", Command::kSetAddress, "the new address (1 to 247)"},
    {"set baud", Command::kSetBaud, "the new speed"},
    {"reset-interface", Command::kResetInterface, nullptr},
    {"search", Command::kSearch, nullptr},
    {"survey", Command::kSurvey, nullptr},
    {"service", Command::kService, "the block: F0, F2 or F3"},
    {"help", Command::kHelp, nullptr},
    {nullptr, Command::kHelp, nullptr},
};

// Options that take a value.
const std::set<std::string> kValueOptions = {
    "--port",   "--baud",      "--address", "--journal",   "--delay",
    "--speeds", "--addresses", "--count",   "--net-delay",
};
// Options that take none (--help and --version are commands of their own).
const std::set<std::string> kFlagOptions = {"--json", "--verbose", "--force"};

bool Exchanges(Command command) {
  return command != Command::kPorts && command != Command::kHelp && command != Command::kVersion;
}

}  // namespace

const char* const kCommandList =
    "ports, query, watch, set tactic, set test, reset-alarm, set address, set baud, "
    "reset-interface, search, survey, service";

const CommandSpelling* CommandSpellings() {
  return kCommands;
}

bool TakesValue(const std::string& option) {
  return kValueOptions.count(option) != 0;
}

bool IsFlag(const std::string& option) {
  return kFlagOptions.count(option) != 0;
}

const char* NoEffect(const std::string& option, Command command,
                     const std::set<std::string>& given) {
  if (option == "--json") return nullptr;
  if (command == Command::kPorts &&
      (option == "--port" || option == "--baud" || option == "--address"))
    return "ports lists the serial ports found and opens none of them";
  // ports -v: what the system knows of each port.
  if (option == "--verbose" && command == Command::kPorts) return nullptr;
  if (option == "--journal" || option == "--verbose" || option == "--net-delay")
    return Exchanges(command) ? nullptr : "ports makes no exchange";
  if (option == "--port") return nullptr;
  if (option == "--address") {
    switch (command) {
      case Command::kResetInterface:
        return "the interface reset always writes to address 247 at 9600 bit/s";
      case Command::kSearch:
        return "the search probes every address from 1 up; the first detector that answers is "
               "the one found";
      case Command::kSurvey:
        return "the survey probes the addresses of --addresses (default 1-247)";
      default:
        return nullptr;
    }
  }
  if (option == "--baud") {
    if (command == Command::kResetInterface)
      return "the interface reset always writes to address 247 at 9600 bit/s";
    if (command == Command::kSurvey && given.count("--speeds"))
      return "--speeds gives the speeds the survey sweeps";
    return nullptr;
  }
  if (option == "--delay")
    return command == Command::kSearch || command == Command::kSurvey
               ? nullptr
               : "it is the probe window of search and survey";
  if (option == "--speeds" || option == "--addresses")
    return command == Command::kSurvey ? nullptr : "it belongs to survey";
  if (option == "--count")
    return command == Command::kWatch ? nullptr : "it counts the queries of watch";
  if (option == "--force")
    return command == Command::kSetAddress || command == Command::kSetBaud ||
                   command == Command::kResetInterface
               ? nullptr
               : "it lets set address move a detector onto an address where something "
                 "answers, and set baud and reset-interface write where a server keeps the "
                 "line's speed";
  return nullptr;
}

}  // namespace ornat::cli
