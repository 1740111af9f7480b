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
  struct Expected {
    const char* name;
    const char* target;
    int line;
  } lines[] = {
      {"Котельная", "rfc2217://10.0.0.5:4001", 2},
      {"Шлюз", "modbus-tcp://[fe80::2]", 4},
      {"socat", "/tmp/ttyV0", 5},
      {"last", "COM7", 13},
  };
  ASSERT_EQ(file.lines.size(), std::size(lines));
  for (std::size_t i = 0; i < std::size(lines); ++i) {
    EXPECT_EQ(file.lines[i].name, lines[i].name);
    EXPECT_EQ(file.lines[i].target, lines[i].target);
    EXPECT_EQ(file.lines[i].line_number, lines[i].line);
  }
  const std::pair<int, const char*> problems[] = {
      {6, "\"no equals sign\" is not NAME = TARGET"},
      {7, "no name before '='"},
      {8, "no port after \"empty =\""},
      {9, "\"tcp://h:70000\": the port is 70000; it must be 1 to 65535"},
      {10, "the name \"tcp://h:1\" is a URL: give the line a name of its own"},
      {11, "\"Котельная\" is named already on line 2"},
  };
  ASSERT_EQ(file.problems.size(), std::size(problems));
  for (std::size_t i = 0; i < std::size(problems); ++i) {
    EXPECT_EQ(file.problems[i].line_number, problems[i].first);
    EXPECT_EQ(file.problems[i].text, problems[i].second);
  }
}

}  // namespace
}  // namespace ornat
