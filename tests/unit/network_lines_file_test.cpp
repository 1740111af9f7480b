#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "serial/network/lines_file.h"
#include "serial/network/user_lines.h"
#include "support/basic_form.h"

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
  const LinesFile file = ParseLinesFile(
      "a = tcp://h:1 net-delay=250\nb = /tmp/ttyV0\tnet-delay=0\nc = tcp://h:1\n"
      "d = tcp://h:1 net-delay=10001\nf = net-delay=100\n");
  std::string lines, problems;
  for (const NamedLine& l : file.lines)
    lines += l.target + std::to_string(l.net_delay_ms.value_or(-1));
  for (const LinesFileProblem& p : file.problems) problems += p.text + "\n";
  EXPECT_EQ(lines, "tcp://h:1250/tmp/ttyV00tcp://h:1-1");
  EXPECT_EQ(problems,
            "\"net-delay=10001\": the round-trip allowance is 0 to 10000 ms\n"
            "no port after \"f =\"\n");
}

TEST(UserLines, TheUsersFileIsReadWithOneWarningABadLineAndNoneForAMissingFile) {
#ifdef _WIN32
  const char* path = "C:\\Users\\Иван\\AppData\\Roaming\\ornat\\lines.txt";
#else
  const char* path = "/home/иван/.config/ornat/lines";  // XDG_CONFIG_HOME relative: not used
#endif
  EXPECT_EQ(UserLinesPath([](const char* name) -> std::optional<std::string> {
              if (std::string(name) == "XDG_CONFIG_HOME") return "relative";
              return std::string(name) == "HOME" ? "/home/иван"
                                                 : "C:\\Users\\Иван\\AppData\\Roaming";
            }),
            path);

  testing::TempDir dir;
  const std::string folder = dir.path() + "/Иван", file = folder + "/lines";
  std::filesystem::create_directory(std::filesystem::u8path(folder));
  std::ofstream(std::filesystem::u8path(file)) << "a = tcp://h:1\nbad\nc = COM5\n";
  const UserLines user = ReadUserLines(file);
  EXPECT_EQ(user.lines.size(), 2u);
  EXPECT_EQ(user.warnings, std::vector<std::string>{"the lines file \"" + file +
                                                    "\", line 2: \"bad\" is not NAME = TARGET"});
  EXPECT_TRUE(ReadUserLines(folder + "/none").warnings.empty());
  const UserLines unreadable = ReadUserLines(folder);  // a folder under the file's name
  ASSERT_EQ(unreadable.warnings.size(), 1u);
  EXPECT_EQ(unreadable.warnings[0].find("the lines file \"" + folder + "\" cannot be read: "), 0u);
}

}  // namespace
}  // namespace ornat
