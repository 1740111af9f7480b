#include <gtest/gtest.h>

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

}  // namespace
}  // namespace ornat
