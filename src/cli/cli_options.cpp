// The parse of ornat-cli's command line: the words and options as typed, checked against
// the table of commands and options (option_table.h), each value read by its reader
// (option_values.h). Nothing is opened before it has passed.

#include "cli/cli_options.h"

#include <cctype>
#include <map>
#include <set>

#include "cli/option_table.h"
#include "cli/option_values.h"
#include "serial/network/port_url.h"

namespace ornat::cli {

namespace {

// The command line taken apart: the words (command and argument) and the options.
struct Tokens {
  std::vector<std::string> words;
  std::map<std::string, std::string> values;  // options with a value
  std::set<std::string> given;                // every option, by its long name
  bool help = false;
  bool version = false;
};

Tokens Tokenize(const std::vector<std::string>& args, Options& options) {
  Tokens tokens;
  for (std::size_t i = 0; i < args.size(); ++i) {
    std::string arg = args[i];
    if (arg.rfind("--", 0) != 0 || arg == "--") {
      if (arg == "-h") {
        tokens.help = true;
      } else if (arg == "-v") {
        options.verbose = true;
        tokens.given.insert("--verbose");
      } else if (arg.size() > 1 && arg[0] == '-' &&
                 !std::isdigit(static_cast<unsigned char>(arg[1]))) {
        throw UsageError("unknown option \"" + arg + "\" (ornat-cli --help lists them)");
      } else {
        tokens.words.push_back(arg);
      }
      continue;
    }
    std::optional<std::string> inline_value;
    if (const auto eq = arg.find('='); eq != std::string::npos) {
      inline_value = arg.substr(eq + 1);
      arg = arg.substr(0, eq);
    }
    if (arg == "--help" || arg == "--version" || IsFlag(arg)) {
      if (inline_value) throw UsageError(arg + " takes no value");
      if (arg == "--help") tokens.help = true;
      if (arg == "--version") tokens.version = true;
      if (arg == "--json") options.json = true;
      if (arg == "--verbose") options.verbose = true;
      if (arg == "--force") options.force = true;
      tokens.given.insert(arg);
      continue;
    }
    if (!TakesValue(arg))
      throw UsageError("unknown option \"" + arg + "\" (ornat-cli --help lists them)");
    if (!inline_value) {
      if (i + 1 >= args.size()) throw UsageError(arg + " needs a value");
      inline_value = args[++i];
    }
    if (tokens.values.count(arg)) throw UsageError(arg + " is given twice");
    tokens.values[arg] = *inline_value;
    tokens.given.insert(arg);
  }
  return tokens;
}

// The command the words begin with; returns its spelling, and how many words it took.
const CommandSpelling& FindCommand(const std::vector<std::string>& words, std::size_t& used) {
  if (words.empty())
    throw UsageError(std::string("no command given; the commands are ") + kCommandList);
  for (const CommandSpelling* c = CommandSpellings(); c->words != nullptr; ++c) {
    const std::string name = c->words;
    const bool two = name.find(' ') != std::string::npos;
    const std::string typed = two && words.size() >= 2 ? words[0] + " " + words[1] : words[0];
    if (typed == name) {
      used = two ? 2 : 1;
      return *c;
    }
  }
  if (words[0] == "set")
    throw UsageError(
        "set what? \"set tactic N|NAME\", \"set test on|off\", \"set address NEW\" or \"set "
        "baud SPEED\"");
  throw UsageError("unknown command \"" + words[0] + "\"; the commands are " + kCommandList);
}

void ReadArgument(const std::string& text, Options& options) {
  switch (options.command) {
    case Command::kSetTactic:
      options.tactic_code = TacticValue(text);
      break;
    case Command::kSetTest:
      options.test_on = OnOffValue(text);
      break;
    case Command::kSetAddress:
      options.new_address = AddressValue(text, "new address");
      break;
    case Command::kSetBaud:
      options.new_baud_index = BaudValue(text, "speed");
      break;
    case Command::kService:
      options.service_block = ServiceBlockValue(text);
      break;
    default:
      break;
  }
}

void ReadValues(std::map<std::string, std::string>& values, Options& options) {
  if (values.count("--port")) {
    options.port = values["--port"];
    if (options.port->empty()) throw UsageError("--port needs a port name");
    if (HasUrlScheme(*options.port)) {
      const PortUrlParse url = ParsePortUrl(*options.port);
      if (!url.url) throw UsageError("--port " + url.error);
    }
  }
  if (values.count("--baud")) options.baud_index = BaudValue(values["--baud"], "--baud");
  if (values.count("--address")) options.address = AddressValue(values["--address"], "--address");
  if (values.count("--journal")) {
    options.journal = values["--journal"];
    if (options.journal->empty()) throw UsageError("--journal needs a file name");
  }
  if (values.count("--delay")) options.delay_ms = DelayValue(values["--delay"]);
  if (values.count("--count")) options.count = CountValue(values["--count"]);
  if (values.count("--net-delay")) options.net_delay_ms = NetDelayValue(values["--net-delay"]);
  if (options.command == Command::kSurvey) {
    options.speeds = values.count("--speeds")
                         ? SpeedsValue(values["--speeds"])
                         : std::vector<std::uint8_t>{options.baud_index.value_or(std::uint8_t{3})};
    options.ranges = values.count("--addresses")
                         ? ParseAddressRuns(values["--addresses"])
                         : std::vector<std::pair<std::uint8_t, std::uint8_t>>{{1, 247}};
    // --delay only lengthens the survey's windows (BusSurvey::PaceFor): every value
    // of the Delay menu is good for it.
  }
}

}  // namespace

Options ParseArguments(const std::vector<std::string>& args) {
  Options options;
  Tokens tokens = Tokenize(args, options);
  if (tokens.help) {
    options.command = Command::kHelp;
    return options;
  }
  if (tokens.version) {
    options.command = Command::kVersion;
    return options;
  }
  std::size_t used = 0;
  const CommandSpelling& spelling = FindCommand(tokens.words, used);
  options.command = spelling.command;
  options.command_text = spelling.words;
  const std::vector<std::string> rest(tokens.words.begin() + static_cast<long>(used),
                                      tokens.words.end());
  const std::size_t wanted = spelling.argument != nullptr ? 1 : 0;
  if (rest.size() < wanted) throw UsageError(options.command_text + " needs " + spelling.argument);
  if (rest.size() > wanted)
    throw UsageError("unexpected argument \"" + rest[wanted] + "\" after " + options.command_text);
  if (options.command == Command::kHelp) return options;

  // An option the command would ignore is refused: the engineer who typed it expects
  // it to count (reset-interface --address 5 still writes to 247).
  for (const std::string& option : tokens.given) {
    if (const char* why = NoEffect(option, options.command, tokens.given))
      throw UsageError(option + " does not apply to " + options.command_text + ": " + why);
  }
  if (wanted == 1) ReadArgument(rest[0], options);
  ReadValues(tokens.values, options);
  return options;
}

}  // namespace ornat::cli
