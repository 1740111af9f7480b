#include "cli/cli_options.h"

#include <gtest/gtest.h>

#include <map>
#include <set>

namespace ornat::cli {
namespace {

Options Parse(std::vector<std::string> args) {
  return ParseArguments(args);
}

// The usage error's text, or "" when the arguments were taken.
std::string Refusal(std::vector<std::string> args) {
  try {
    ParseArguments(args);
  } catch (const UsageError& e) {
    return e.what();
  }
  return "";
}

TEST(CliOptions, ABadArgumentIsAUsageErrorThatNamesTheValidValues) {
  struct Case {
    std::vector<std::string> args;
    const char* names;  // a part of the message
  } cases[] = {
      {{}, "the commands are ports, query, watch"},
      {{"frobnicate"}, "unknown command \"frobnicate\"; the commands are"},
      {{"set"}, "\"set tactic N|NAME\""},
      {{"query", "--address", "0"}, "--address \"0\" is not valid: a slave address is 1 to 247"},
      {{"query", "--address", "300"}, "a slave address is 1 to 247"},
      {{"query", "--address", "-5"}, "--address \"-5\" is not valid"},
      {{"query", "--address", "12a"}, "a slave address is 1 to 247"},
      {{"query", "--address"}, "--address needs a value"},
      {{"query", "--baud", "1234"},
       "the speeds are 1200, 2400, 4800, 9600, 14400, 19200, 38400, 57600 bit/s"},
      {{"query", "--address", "5", "--address", "6"}, "--address is given twice"},
      {{"query", "--bogus"}, "unknown option \"--bogus\""},
      {{"query", "extra"}, "unexpected argument \"extra\" after query"},
      {{"query", "--delay", "200"}, "--delay does not apply to query"},
      {{"set", "tactic", "1"},
       "the tactics are 0 T1MAX, 2 T2MAX, 3 T2MIN, 4 T3_100MIN, 5 T3_100MAX, 6 T3_500MIN, 7 "
       "T3_500MAX, 8 IRMAX, 9 IRMIN (code 1 is not a tactic)"},
      {{"set", "tactic", "10"}, "the tactics are"},
      {{"set", "tactic"}, "set tactic needs a tactic"},
      {{"set", "test", "maybe"}, "on or off"},
      {{"set", "address", "0"}, "new address \"0\" is not valid: a slave address is 1 to 247"},
      {{"set", "address", "248"}, "a slave address is 1 to 247"},
      {{"set", "baud", "115200"}, "speed \"115200\" is not valid: the speeds are 1200"},
      {{"search", "--delay", "120"}, "the delays are 100, 150, 200, 250, 300, 350 ms"},
      {{"search", "--delay", "400"}, "the delays are"},
      {{"survey", "--delay", "90"}, "the delays are 100, 150, 200, 250, 300, 350 ms"},
      {{"survey", "--speeds", "9600,7"}, "--speeds: speed \"7\" is not valid"},
      {{"survey", "--addresses", "10-1"}, "\"10-1\" runs backwards; write it 1-10"},
      {{"survey", "--addresses", "0-5"}, "a slave address is 1 to 247"},
      {{"survey", "--addresses", "1-248"}, "a slave address is 1 to 247"},
      {{"watch", "--count", "0"}, "--count \"0\" is not valid"},
      {{"watch", "--json=yes"}, "--json takes no value"},
      {{"query", "--journal", ""}, "--journal needs a file name"},
      {{"query", "--net-delay", "10001"},
       "--net-delay \"10001\" is not valid: the round-trip allowance is 0 to 10000 ms"},
      {{"ports", "--net-delay", "50"}, "--net-delay does not apply to ports"},
  };
  for (const Case& c : cases) {
    std::string joined;
    for (const auto& a : c.args) joined += a + " ";
    SCOPED_TRACE(joined);
    const std::string why = Refusal(c.args);
    EXPECT_NE(why.find(c.names), std::string::npos) << why;
  }
}

TEST(CliOptions, TakesTheCommandsWithTheirArgumentsAndOptionsAnywhere) {
  Options o = Parse({"--port", "ornat-sim", "set", "tactic", "t2min", "--address=5", "--json"});
  EXPECT_EQ(o.command, Command::kSetTactic);
  EXPECT_EQ(o.command_text, "set tactic");
  EXPECT_EQ(o.tactic_code, 3);
  EXPECT_EQ(*o.port, "ornat-sim");
  EXPECT_EQ(*o.address, 5);
  EXPECT_TRUE(o.json);

  EXPECT_EQ(Parse({"set", "tactic", "9"}).tactic_code, 9);
  EXPECT_EQ(Parse({"set", "tactic", "0"}).tactic_code, 0);
  EXPECT_TRUE(Parse({"set", "test", "on"}).test_on);
  EXPECT_FALSE(Parse({"set", "test", "off"}).test_on);
  EXPECT_EQ(Parse({"set", "address", "247"}).new_address, 247);
  EXPECT_EQ(Parse({"set", "baud", "57600"}).new_baud_index, 7);
  EXPECT_EQ(*Parse({"query", "--baud", "14400"}).baud_index, 4);
  EXPECT_EQ(Parse({"query", "-v"}).verbose, true);
  EXPECT_EQ(Parse({"watch", "--count", "3"}).count, 3);
  EXPECT_EQ(Parse({"search", "--delay", "350"}).delay_ms, 350);
  EXPECT_EQ(Parse({"survey", "--net-delay=10000"}).net_delay_ms, 10000);
  EXPECT_EQ(Parse({"query", "--help"}).command, Command::kHelp);
  EXPECT_EQ(Parse({"--version"}).command, Command::kVersion);
  EXPECT_EQ(Parse({"reset-interface"}).command, Command::kResetInterface);
  EXPECT_EQ(Parse({"reset-alarm"}).command, Command::kResetAlarm);
  EXPECT_EQ(Parse({"ports"}).command, Command::kPorts);
}

TEST(CliOptions, EveryOptionThatWouldChangeNothingInACommandIsRefusedAndSaysWhy) {
  // Each command with the arguments it needs, and the options that count for it.
  const std::string common[] = {"--port", "--baud",    "--address", "--journal",
                                "--json", "--verbose", "-v",        "--net-delay"};
  struct Use {
    std::vector<std::string> words;
    std::set<std::string> counts;
  };
  auto with_common = [&](std::set<std::string> extra) {
    extra.insert(std::begin(common), std::end(common));
    return extra;
  };
  const Use commands[] = {
      {{"ports"}, {"--json", "--verbose", "-v"}},
      {{"query"}, with_common({})},
      {{"watch"}, with_common({"--count"})},
      {{"set", "tactic", "3"}, with_common({})},
      {{"set", "test", "on"}, with_common({})},
      {{"reset-alarm"}, with_common({})},
      {{"set", "address", "9"}, with_common({"--force"})},
      {{"set", "baud", "19200"}, with_common({"--force"})},
      {{"reset-interface"},
       {"--port", "--journal", "--json", "--verbose", "-v", "--net-delay", "--force"}},
      {{"search"},
       {"--port", "--baud", "--delay", "--journal", "--json", "--verbose", "-v", "--net-delay"}},
      {{"survey"},
       {"--port", "--baud", "--delay", "--speeds", "--addresses", "--journal", "--json",
        "--verbose", "-v", "--net-delay"}},
      {{"service", "F0"}, with_common({})},
  };
  // Every option with a value that is valid wherever the option counts.
  const std::map<std::string, std::vector<std::string>> options = {
      {"--port", {"--port", "ttyUSB0"}},
      {"--baud", {"--baud", "9600"}},
      {"--address", {"--address", "5"}},
      {"--journal", {"--journal", "j.jsonl"}},
      {"--json", {"--json"}},
      {"--verbose", {"--verbose"}},
      {"-v", {"-v"}},
      {"--delay", {"--delay", "250"}},
      {"--speeds", {"--speeds", "9600"}},
      {"--addresses", {"--addresses", "1-5"}},
      {"--count", {"--count", "2"}},
      {"--force", {"--force"}},
      {"--net-delay", {"--net-delay", "250"}},
  };
  for (const Use& c : commands) {
    for (const auto& [name, option] : options) {
      std::vector<std::string> args = c.words;
      args.insert(args.end(), option.begin(), option.end());
      std::string typed;
      for (const auto& a : args) typed += a + " ";
      SCOPED_TRACE(typed);
      const std::string why = Refusal(args);
      if (c.counts.count(name)) {
        EXPECT_EQ(why, "");
        continue;
      }
      std::string command_text = c.words[0];
      if (command_text == "set") command_text += " " + c.words[1];
      const std::string long_name = name == "-v" ? "--verbose" : name;
      const std::string head = long_name + " does not apply to " + command_text + ": ";
      EXPECT_EQ(why.rfind(head, 0), 0u) << why;
      EXPECT_GT(why.size(), head.size() + 10) << "a reason follows";
    }
  }
  // The reasons an engineer needs most.
  struct Reason {
    std::vector<std::string> args;
    const char* text;
  } reasons[] = {
      {{"reset-interface", "--address", "5"},
       "--address does not apply to reset-interface: the interface reset always writes to "
       "address 247 at 9600 bit/s"},
      {{"reset-interface", "--baud", "19200"},
       "--baud does not apply to reset-interface: the interface reset always writes to address "
       "247 at 9600 bit/s"},
      {{"search", "--address", "5"}, "the search probes every address from 1 up"},
      {{"survey", "--address", "5"}, "the survey probes the addresses of --addresses"},
      {{"survey", "--speeds", "9600", "--baud", "19200"},
       "--baud does not apply to survey: --speeds gives the speeds the survey sweeps"},
      {{"ports", "--port", "ttyUSB0"}, "ports lists the serial ports found and opens none"},
      {{"query", "--force"}, "--force does not apply to query: it lets set address move"},
      {{"query", "--delay", "200"}, "--delay does not apply to query: it is the probe window"},
  };
  for (const Reason& r : reasons) {
    SCOPED_TRACE(r.text);
    EXPECT_NE(Refusal(r.args).find(r.text), std::string::npos) << Refusal(r.args);
  }
  // --baud alone is the survey's speed.
  EXPECT_EQ(Refusal({"survey", "--baud", "19200"}), "");
}

TEST(CliOptions, APortIsANameAPathOrAUrlAndAUrlThatIsNoneIsAUsageError) {
  for (const char* port : {"Котельная", "/tmp/ttyV0", "rfc2217://[::1]:4001", "modbus-tcp://gw"})
    EXPECT_EQ(Parse({"query", "--port", port}).port, port);
  EXPECT_EQ(Refusal({"query", "--port", "tcp://h:70000"}),
            "--port \"tcp://h:70000\": the port is 70000; it must be 1 to 65535");
}

TEST(CliOptions, ServiceTakesOneOfTheThreeBlocks) {
  struct Case {
    const char* block;
    int index;
  } cases[] = {{"F0", 0}, {"F2", 1}, {"F3", 2}, {"f2", 1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.block);
    const Options o = Parse({"service", c.block, "--address", "5"});
    EXPECT_EQ(o.command, Command::kService);
    EXPECT_EQ(o.service_block, c.index);
  }
  EXPECT_NE(Refusal({"service", "F1"}).find("the blocks are F0, F2 and F3"), std::string::npos);
  EXPECT_NE(Refusal({"service"}).find("service needs the block: F0, F2 or F3"), std::string::npos);
  EXPECT_TRUE(Parse({"set", "address", "9", "--force"}).force);
  EXPECT_FALSE(Parse({"set", "address", "9"}).force);
}

TEST(CliOptions, SurveyDefaultsToThePcSpeedAndEveryAddress) {
  Options o = Parse({"survey"});
  EXPECT_EQ(o.speeds, (std::vector<std::uint8_t>{3}));
  EXPECT_EQ(o.ranges, (std::vector<std::pair<std::uint8_t, std::uint8_t>>{{1, 247}}));
  EXPECT_EQ(o.delay_ms, 0);
  EXPECT_EQ(Parse({"survey", "--baud", "19200"}).speeds, (std::vector<std::uint8_t>{5}));
  EXPECT_EQ(Parse({"survey", "--speeds", "all"}).speeds,
            (std::vector<std::uint8_t>{0, 1, 2, 3, 4, 5, 6, 7}));
  EXPECT_EQ(Parse({"survey", "--speeds", "19200,9600,19200"}).speeds,
            (std::vector<std::uint8_t>{5, 3}));
  EXPECT_EQ(Parse({"survey", "--speeds", "all", "--delay", "350"}).delay_ms, 350);
  // The survey's --delay only lengthens its windows: any item of the Delay menu does.
  EXPECT_EQ(Parse({"survey", "--speeds", "all", "--delay", "100"}).delay_ms, 100);
}

TEST(CliOptions, AddressRunsAreSortedAndMerged) {
  struct Case {
    const char* text;
    std::vector<std::pair<std::uint8_t, std::uint8_t>> runs;
    const char* back;
  } cases[] = {
      {"1-10,240-247", {{1, 10}, {240, 247}}, "1-10,240-247"},
      {"5", {{5, 5}}, "5"},
      {"240-247,1-3", {{1, 3}, {240, 247}}, "1-3,240-247"},
      {"1-5,3-8,9", {{1, 9}}, "1-9"},
      {"1-247", {{1, 247}}, "1-247"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    const auto runs = ParseAddressRuns(c.text);
    EXPECT_EQ(runs, c.runs);
    EXPECT_EQ(AddressRunsText(runs), c.back);
  }
  EXPECT_THROW(ParseAddressRuns(""), UsageError);
  EXPECT_THROW(ParseAddressRuns("1-"), UsageError);
  EXPECT_THROW(ParseAddressRuns("1,,2"), UsageError);
}

}  // namespace
}  // namespace ornat::cli
