#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>

#include "serial/network/user_lines.h"
#include "support/basic_form.h"

namespace ornat {
namespace {

using Env = std::map<std::string, std::string>;

EnvironmentLookup Lookup(const Env& env) {
  return [env](const char* name) -> std::optional<std::string> {
    const auto it = env.find(name);
    if (it == env.end()) return std::nullopt;
    return it->second;
  };
}

TEST(UserLines, TheFileIsFoundWhereThePlatformKeepsAUsersSettings) {
  struct Case {
    Env env;
    std::optional<std::string> path;
  } cases[] = {
#ifdef _WIN32
      {{{"APPDATA", "C:\\Users\\Иван\\AppData\\Roaming"}},
       "C:\\Users\\Иван\\AppData\\Roaming\\ornat\\lines.txt"},
      {{{"APPDATA", ""}, {"HOME", "C:\\h"}}, std::nullopt},
      {{}, std::nullopt},
#else
      {{{"XDG_CONFIG_HOME", "/cfg"}, {"HOME", "/home/иван"}}, "/cfg/ornat/lines"},
      {{{"HOME", "/home/иван"}}, "/home/иван/.config/ornat/lines"},
      {{{"XDG_CONFIG_HOME", ""}, {"HOME", "/h"}}, "/h/.config/ornat/lines"},
      {{{"XDG_CONFIG_HOME", "relative"}, {"HOME", "/h"}}, "/h/.config/ornat/lines"},
      {{{"HOME", "relative"}}, std::nullopt},
      {{}, std::nullopt},
#endif
  };
  for (const Case& c : cases) EXPECT_EQ(UserLinesPath(Lookup(c.env)), c.path);
}

TEST(UserLines, EachBadLineIsOneWarningWithItsNumberAndAMissingFileNone) {
  testing::TempDir dir;
  // A folder with a Cyrillic name: the path goes to the system whole on Windows too.
  const std::string folder = dir.path() + "/Иван";
  std::filesystem::create_directory(std::filesystem::u8path(folder));
  const std::string path = folder + "/lines";
  std::ofstream(std::filesystem::u8path(path), std::ios::binary)
      << "a = tcp://h:1\nbad\nb = /tmp/ttyV0 net-delay=99999\nc = COM5\n";
  struct Case {
    std::string path;
    std::size_t lines;
    std::vector<std::string> warnings;
  } cases[] = {
      {path,
       2,
       {"the lines file \"" + path + "\", line 2: \"bad\" is not NAME = TARGET",
        "the lines file \"" + path +
            "\", line 3: \"net-delay=99999\": the round-trip allowance is 0 to 10000 ms"}},
      {folder + "/none", 0, {}},
      {dir.path() + "/no-folder/lines", 0, {}},
  };
  for (const Case& c : cases) {
    const UserLines user = ReadUserLines(c.path);
    EXPECT_EQ(user.lines.size(), c.lines) << c.path;
    EXPECT_EQ(user.warnings, c.warnings) << c.path;
  }
  // A folder where the file should be cannot be read: one warning, no line.
  const UserLines folder_read = ReadUserLines(folder);
  EXPECT_EQ(folder_read.lines.size(), 0u);
  ASSERT_EQ(folder_read.warnings.size(), 1u);
  EXPECT_EQ(folder_read.warnings[0].rfind("the lines file \"" + folder + "\" cannot be read: ", 0),
            0u);
}

}  // namespace
}  // namespace ornat
