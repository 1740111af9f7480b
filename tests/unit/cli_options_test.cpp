#include "cli/cli_options.h"

#include <gtest/gtest.h>

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
  EXPECT_EQ(Parse({"query", "--help"}).command, Command::kHelp);
  EXPECT_EQ(Parse({"--version"}).command, Command::kVersion);
  EXPECT_EQ(Parse({"reset-interface"}).command, Command::kResetInterface);
  EXPECT_EQ(Parse({"reset-alarm"}).command, Command::kResetAlarm);
  EXPECT_EQ(Parse({"ports"}).command, Command::kPorts);
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
