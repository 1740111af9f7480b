#include <gtest/gtest.h>

#include <optional>

#include "serial/network/lines_file.h"

namespace ornat {
namespace {

TEST(LinesFile, NamedLinesAreTakenAndEachBadLineIsReportedByNumberWithTheRestUsed) {
  const LinesFile file = ParseLinesFile(
      "\xEF\xBB\xBF# the plant's lines\r\n"
      "Котельная = rfc2217://10.0.0.5:4001\r\n"
      "\n"
      "  Шлюз  =  modbus-tcp://[fe80::2]  \n"
      "socat = /tmp/ttyV0\n"
      "no equals sign\n"
      " = tcp://h:1\n"
      "empty =\n"
      "bad port = tcp://h:70000\n"
      "tcp://h:1 = /dev/ttyUSB0\n"
      "Котельная = COM5\n"
      "   # indented comment\n"
      "last = COM7");
  std::string lines, problems;
  for (const NamedLine& l : file.lines)
    lines += std::to_string(l.line_number) + ": " + l.name + " = " + l.target + "\n";
  for (const LinesFileProblem& p : file.problems)
    problems += std::to_string(p.line_number) + ": " + p.text + "\n";
  EXPECT_EQ(lines,
            "2: Котельная = rfc2217://10.0.0.5:4001\n"
            "4: Шлюз = modbus-tcp://[fe80::2]\n"
            "5: socat = /tmp/ttyV0\n"
            "13: last = COM7\n");
  EXPECT_EQ(problems,
            "6: \"no equals sign\" is not NAME = TARGET\n"
            "7: no name before '='\n"
            "8: no port after \"empty =\"\n"
            "9: \"tcp://h:70000\": the port is 70000; it must be 1 to 65535\n"
            "10: the name \"tcp://h:1\" is a URL: give the line a name of its own\n"
            "11: \"Котельная\" is named already on line 2\n");
}

TEST(LinesFile, ANetDelayAfterTheTargetIsTheLinesOwnAllowanceOf0To10000Ms) {
  struct Case {
    const char* line;
    const char* target;  // "" when the line is refused
    std::optional<int> delay;
    const char* problem;
  } cases[] = {
      {"a = tcp://h:1 net-delay=250", "tcp://h:1", 250, ""},
      {"a = /tmp/ttyV0\tnet-delay=0", "/tmp/ttyV0", 0, ""},
      {"a = rfc2217://h:2  net-delay=10000 ", "rfc2217://h:2", 10000, ""},
      {"a = tcp://h:1", "tcp://h:1", std::nullopt, ""},
      {"a = tcp://h:1 net-delay=10001", "", std::nullopt,
       "\"net-delay=10001\": the round-trip allowance is 0 to 10000 ms"},
      {"a = tcp://h:1 net-delay=-5", "", std::nullopt,
       "\"net-delay=-5\": the round-trip allowance is 0 to 10000 ms"},
      {"a = tcp://h:1 net-delay=", "", std::nullopt,
       "\"net-delay=\": the round-trip allowance is 0 to 10000 ms"},
      {"a = net-delay=100", "", std::nullopt, "no port after \"a =\""},
      {"a = tcp://h:1 net_delay=100", "", std::nullopt,
       "\"tcp://h:1 net_delay=100\": text after the port: \" net_delay=100\""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    const LinesFile file = ParseLinesFile(c.line);
    if (*c.target != 0) {
      ASSERT_EQ(file.lines.size(), 1u);
      EXPECT_EQ(file.lines[0].target, c.target);
      EXPECT_EQ(file.lines[0].net_delay_ms, c.delay);
    } else {
      ASSERT_EQ(file.problems.size(), 1u);
      EXPECT_EQ(file.problems[0].text, c.problem);
    }
  }
}

}  // namespace
}  // namespace ornat
