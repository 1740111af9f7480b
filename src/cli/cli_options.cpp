#include "cli/cli_options.h"

#include <algorithm>
#include <cctype>
#include <map>
#include <set>

#include "detector/shown_parameters.h"
#include "ui/main_window.h"

namespace ornat::cli {

namespace {

constexpr const char* kSpeedList = "1200, 2400, 4800, 9600, 14400, 19200, 38400, 57600";
constexpr const char* kDelayList = "100, 150, 200, 250, 300, 350";

// A whole number written with digits only (at most 6), or nothing.
std::optional<long> Number(const std::string& text) {
  if (text.empty() || text.size() > 6) return std::nullopt;
  for (char c : text)
    if (!std::isdigit(static_cast<unsigned char>(c))) return std::nullopt;
  return std::stol(text);
}

std::uint8_t Address(const std::string& text, const std::string& what) {
  const auto n = Number(text);
  if (!n || *n < 1 || *n > 247)
    throw UsageError(what + " \"" + text + "\" is not valid: a slave address is 1 to 247");
  return static_cast<std::uint8_t>(*n);
}

std::uint8_t BaudIndex(const std::string& text, const std::string& what) {
  for (std::uint8_t i = 0; i < kBaudTable.size(); ++i)
    if (text == kBaudTable[i].speed_text) return i;
  throw UsageError(what + " \"" + text + "\" is not valid: the speeds are " + kSpeedList +
                   " bit/s");
}

std::string Upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

std::string TacticList() {
  std::string out;
  for (const TacticChoice& c : TacticChoices())
    out += (out.empty() ? "" : ", ") + std::to_string(c.code) + " " + c.name;
  return out;
}

std::uint8_t Tactic(const std::string& text) {
  const auto n = Number(text);
  for (const TacticChoice& c : TacticChoices())
    if ((n && *n == c.code) || Upper(text) == c.name) return c.code;
  throw UsageError("tactic \"" + text + "\" is not valid: the tactics are " + TacticList() +
                   " (code 1 is not a tactic)");
}

std::uint16_t Delay(const std::string& text) {
  const auto n = Number(text);
  if (!n || *n < 100 || *n > 350 || *n % 50 != 0)
    throw UsageError("--delay \"" + text + "\" is not valid: the delays are " + kDelayList + " ms");
  return static_cast<std::uint16_t>(*n);
}

std::vector<std::uint8_t> Speeds(const std::string& text) {
  std::vector<std::uint8_t> out;
  if (text == "all") {
    for (std::uint8_t i = 0; i < kBaudTable.size(); ++i) out.push_back(i);
    return out;
  }
  std::size_t pos = 0;
  while (pos <= text.size()) {
    const std::size_t comma = std::min(text.find(',', pos), text.size());
    const std::uint8_t b = BaudIndex(text.substr(pos, comma - pos), "--speeds: speed");
    if (std::find(out.begin(), out.end(), b) == out.end()) out.push_back(b);
    pos = comma + 1;
  }
  return out;
}

struct CommandName {
  const char* words;
  Command command;
};
const CommandName kCommands[] = {
    {"ports", Command::kPorts},
    {"query", Command::kQuery},
    {"watch", Command::kWatch},
    {"set tactic", Command::kSetTactic},
    {"set test", Command::kSetTest},
    {"reset-alarm", Command::kResetAlarm},
    {"set address", Command::kSetAddress},
    {"set baud", Command::kSetBaud},
    {"reset-interface", Command::kResetInterface},
    {"search", Command::kSearch},
    {"survey", Command::kSurvey},
    {"service", Command::kService},
    {"help", Command::kHelp},
};
constexpr const char* kCommandList =
    "ports, query, watch, set tactic, set test, reset-alarm, set address, set baud, "
    "reset-interface, search, survey, service";

// Options that take a value.
const std::set<std::string> kValueOptions = {
    "--port", "--baud", "--address", "--journal", "--delay", "--speeds", "--addresses", "--count",
};
// Options that take none (--help and --version are commands of their own).
const std::set<std::string> kFlagOptions = {"--json", "--verbose", "--force"};

bool Exchanges(Command c) {
  return c != Command::kPorts && c != Command::kHelp && c != Command::kVersion;
}

// Why `option` would change nothing in what `command` does; nullptr when it applies.
// `given` holds every option on the command line.
const char* NoEffect(const std::string& option, Command command,
                     const std::set<std::string>& given) {
  if (option == "--json") return nullptr;
  if (command == Command::kPorts &&
      (option == "--port" || option == "--baud" || option == "--address"))
    return "ports lists the serial ports found and opens none of them";
  if (option == "--journal" || option == "--verbose")
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
    return command == Command::kSetAddress
               ? nullptr
               : "it lets set address move a detector onto an address where something answers";
  return nullptr;
}

}  // namespace

std::vector<std::pair<std::uint8_t, std::uint8_t>> ParseAddressRuns(const std::string& text) {
  std::vector<std::pair<std::uint8_t, std::uint8_t>> runs;
  std::size_t pos = 0;
  while (pos <= text.size()) {
    const std::size_t comma = std::min(text.find(',', pos), text.size());
    const std::string part = text.substr(pos, comma - pos);
    const std::size_t dash = part.find('-');
    const std::uint8_t first = Address(part.substr(0, dash), "--addresses: address");
    const std::uint8_t last =
        dash == std::string::npos ? first : Address(part.substr(dash + 1), "--addresses: address");
    if (last < first)
      throw UsageError("--addresses: \"" + part + "\" runs backwards; write it " +
                       std::to_string(last) + "-" + std::to_string(first));
    runs.emplace_back(first, last);
    pos = comma + 1;
  }
  std::sort(runs.begin(), runs.end());
  std::vector<std::pair<std::uint8_t, std::uint8_t>> merged;
  for (const auto& r : runs) {
    if (!merged.empty() && r.first <= merged.back().second + 1)
      merged.back().second = std::max(merged.back().second, r.second);
    else
      merged.push_back(r);
  }
  return merged;
}

std::string AddressRunsText(const std::vector<std::pair<std::uint8_t, std::uint8_t>>& runs) {
  std::string out;
  for (const auto& [first, last] : runs) {
    if (!out.empty()) out += ',';
    out += std::to_string(first);
    if (last != first) {
      out += '-';
      out += std::to_string(last);
    }
  }
  return out;
}

Options ParseArguments(const std::vector<std::string>& args) {
  Options o;
  std::vector<std::string> words;
  std::map<std::string, std::string> values;
  std::set<std::string> given;
  bool help = false, version = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    std::string arg = args[i];
    if (arg.rfind("--", 0) != 0 || arg == "--") {
      if (arg == "-h") {
        help = true;
      } else if (arg == "-v") {
        o.verbose = true;
        given.insert("--verbose");
      } else if (arg.size() > 1 && arg[0] == '-' &&
                 !std::isdigit(static_cast<unsigned char>(arg[1]))) {
        throw UsageError("unknown option \"" + arg + "\" (ornat-cli --help lists them)");
      } else {
        words.push_back(arg);
      }
      continue;
    }
    std::optional<std::string> inline_value;
    if (const auto eq = arg.find('='); eq != std::string::npos) {
      inline_value = arg.substr(eq + 1);
      arg = arg.substr(0, eq);
    }
    if (arg == "--help" || arg == "--version" || kFlagOptions.count(arg)) {
      if (inline_value) throw UsageError(arg + " takes no value");
      if (arg == "--help") help = true;
      if (arg == "--version") version = true;
      if (arg == "--json") o.json = true;
      if (arg == "--verbose") o.verbose = true;
      if (arg == "--force") o.force = true;
      given.insert(arg);
      continue;
    }
    if (!kValueOptions.count(arg))
      throw UsageError("unknown option \"" + arg + "\" (ornat-cli --help lists them)");
    if (!inline_value) {
      if (i + 1 >= args.size()) throw UsageError(arg + " needs a value");
      inline_value = args[++i];
    }
    if (values.count(arg)) throw UsageError(arg + " is given twice");
    values[arg] = *inline_value;
    given.insert(arg);
  }
  if (help) {
    o.command = Command::kHelp;
    return o;
  }
  if (version) {
    o.command = Command::kVersion;
    return o;
  }
  if (words.empty())
    throw UsageError(std::string("no command given; the commands are ") + kCommandList);

  // The command: one word, or "set" and the parameter.
  std::size_t used = 0;
  for (const CommandName& c : kCommands) {
    const std::string name = c.words;
    const bool two = name.find(' ') != std::string::npos;
    const std::string typed = two && words.size() >= 2 ? words[0] + " " + words[1] : words[0];
    if (typed == name) {
      o.command = c.command;
      o.command_text = name;
      used = two ? 2 : 1;
      break;
    }
  }
  if (used == 0) {
    if (words[0] == "set")
      throw UsageError(
          "set what? \"set tactic N|NAME\", \"set test on|off\", \"set address NEW\" or \"set "
          "baud SPEED\"");
    throw UsageError("unknown command \"" + words[0] + "\"; the commands are " + kCommandList);
  }
  std::vector<std::string> rest(words.begin() + static_cast<long>(used), words.end());
  const std::size_t wanted = (o.command == Command::kSetTactic || o.command == Command::kSetTest ||
                              o.command == Command::kSetAddress || o.command == Command::kSetBaud ||
                              o.command == Command::kService)
                                 ? 1
                                 : 0;
  if (rest.size() < wanted) {
    const char* what = o.command == Command::kSetTactic    ? "a tactic (code or name)"
                       : o.command == Command::kSetTest    ? "on or off"
                       : o.command == Command::kSetAddress ? "the new address (1 to 247)"
                       : o.command == Command::kService    ? "the block: F0, F2 or F3"
                                                           : "the new speed";
    throw UsageError(o.command_text + " needs " + what);
  }
  if (rest.size() > wanted)
    throw UsageError("unexpected argument \"" + rest[wanted] + "\" after " + o.command_text);
  if (o.command == Command::kHelp) return o;

  // An option the command would ignore is refused: the engineer who typed it expects
  // it to count (reset-interface --address 5 still writes to 247).
  for (const std::string& option : given) {
    if (const char* why = NoEffect(option, o.command, given))
      throw UsageError(option + " does not apply to " + o.command_text + ": " + why);
  }

  switch (o.command) {
    case Command::kSetTactic:
      o.tactic_code = Tactic(rest[0]);
      break;
    case Command::kSetTest:
      if (rest[0] != "on" && rest[0] != "off")
        throw UsageError("set test \"" + rest[0] + "\" is not valid: on or off");
      o.test_on = rest[0] == "on";
      break;
    case Command::kSetAddress:
      o.new_address = Address(rest[0], "new address");
      break;
    case Command::kSetBaud:
      o.new_baud_index = BaudIndex(rest[0], "speed");
      break;
    case Command::kService: {
      const std::string block = Upper(rest[0]);
      if (block != "F0" && block != "F2" && block != "F3")
        throw UsageError("service \"" + rest[0] + "\" is not valid: the blocks are F0, F2 and F3");
      o.service_block = block == "F0" ? 0 : block == "F2" ? 1 : 2;
      break;
    }
    default:
      break;
  }

  if (values.count("--port")) {
    o.port = values["--port"];
    if (o.port->empty()) throw UsageError("--port needs a port name");
  }
  if (values.count("--baud")) o.baud_index = BaudIndex(values["--baud"], "--baud");
  if (values.count("--address")) o.address = Address(values["--address"], "--address");
  if (values.count("--journal")) {
    o.journal = values["--journal"];
    if (o.journal->empty()) throw UsageError("--journal needs a file name");
  }
  if (values.count("--delay")) o.delay_ms = Delay(values["--delay"]);
  if (values.count("--count")) {
    const auto n = Number(values["--count"]);
    if (!n || *n < 1)
      throw UsageError("--count \"" + values["--count"] + "\" is not valid: 1 or more queries");
    o.count = static_cast<int>(*n);
  }
  if (o.command == Command::kSurvey) {
    o.speeds = values.count("--speeds")
                   ? Speeds(values["--speeds"])
                   : std::vector<std::uint8_t>{o.baud_index.value_or(std::uint8_t{3})};
    o.ranges = values.count("--addresses")
                   ? ParseAddressRuns(values["--addresses"])
                   : std::vector<std::pair<std::uint8_t, std::uint8_t>>{{1, 247}};
    // --delay only lengthens the survey's windows (BusSurvey::PaceFor): every value
    // of the Delay menu is good for it.
  }
  return o;
}

std::string UsageText() {
  return R"(Usage: ornat-cli [OPTIONS] COMMAND [ARGUMENT] [OPTIONS]

Talks to ORNAT(-2)-Zev flame detectors (Modbus-RTU) with the window's own logic:
every frame, timeout and step is the window's.

Commands:
  ports                  the serial ports found (virtual ports included), one a line
  query                  one parameter query: type, state, tactic, latching, test
  watch                  the cyclic query, one line per query; Ctrl-C stops it, then
                         a summary; its status is the last query's, as with query
  set tactic N|NAME      write the tactic: 0 T1MAX, 2 T2MAX, 3 T2MIN, 4 T3_100MIN,
                         5 T3_100MAX, 6 T3_500MIN, 7 T3_500MAX, 8 IRMAX, 9 IRMIN
  set test on|off        switch the UV+IR test mode (reads the detector first)
  reset-alarm            reset an alarm
  set address NEW        change the detector's address (1 to 247); refused when
                         something answers at NEW already (see --force)
  set baud SPEED         change the detector's line speed
  reset-interface        put the detector back to address 247 and 9600 bit/s
  search                 the window's bus search: the first detector from address 1
  survey                 every device on the line, at one or more speeds
  service F0|F2|F3       a service read: the block's registers as the detector holds
                         them (F0 10 registers, F2 3, F3 2), in hexadecimal

Options:
  --port NAME            serial port (default: the one the window preselects)
  --baud SPEED           the PC's line speed: 1200, 2400, 4800, 9600 (default),
                         14400, 19200, 38400, 57600
  --address N            the detector's address, 1 to 247 (default 247)
  --json                 one JSON document on stdout (JSON Lines for watch)
  --verbose, -v          the TX/RX/message lines of each exchange, as the log shows them
  --journal FILE         append every exchange to FILE as one JSON line
  --delay MS             search: the probe window, 100 to 350 in steps of 50 (default
                         150); survey: wait at least that long for a probe's answer
                         (default: the request on the wire, 40 ms and one byte; 50 ms
                         at 9600 bit/s)
  --speeds LIST|all      survey: the speeds to sweep, e.g. 9600,19200 (default --baud)
  --addresses RUNS       survey: the addresses, e.g. 1-10,240-247 (default 1-247)
  --count N              watch: stop after N queries, answered or not (a time-out
                         counts as one)
  --force                set address: move the detector even onto an address where
                         something answers (the look there is skipped)
  --help, -h             this text
  --version              the version

An option that would change nothing in what the command does is a usage error.

When a write is not acknowledged as sent (TIME OUT, CRC ERROR, an answer from another
address, an echo that differs), the detector may have carried it out all the same;
the message says which query shows it.

Exit status: 0 done; 1 no answer or nothing found; 2 usage error; 3 port error (or a
journal that cannot be opened or misses exchanges); 4 the detector refused or answered
badly (exception, CRC error, an answer from another address, wrong identity or length,
an echo that differs), or set address found its new address taken; 5 done, but the
output could not be written (a full disk, a closed pipe); 6 two or more devices answer
at one address (search, survey; a port error wins over it, it wins over 4 and 1).
watch: 0 only when its last query was answered well, else 1 or 4 as for that query (3
when the port fails). With --json the document's "outcome" names what decided the status.
See ornat-cli(1).
)";
}

}  // namespace ornat::cli
