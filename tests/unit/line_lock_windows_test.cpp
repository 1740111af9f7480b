// The line lock on Windows, within one process (two processes at once: the Wine tests
// of ornat-cli.exe): the spellings of a port meet on one line, whose file under
// %LOCALAPPDATA%\ornat\lines holds the holder's record; takes are counted.

#include <gtest/gtest.h>
#include <windows.h>

#include <fstream>
#include <sstream>

#include "serial/line_lock.h"
#include "support/basic_form.h"

namespace ornat::testing {
namespace {

TEST(LineLockWindows, ThePortsSpellingsMeetOnOneLineWhoseFileNamesTheHolder) {
  TempDir local;
  ::SetEnvironmentVariableA("LOCALAPPDATA", local.path().c_str());
  for (const char* spelling : {"COM3", "com3", "\\\\.\\COM3", "//./Com3"})
    EXPECT_EQ(LineIdentity(spelling), "COM3") << spelling;
  LineLock command, exchange;
  ASSERT_EQ(command.Take("com3", "ornat-cli.exe watch --port com3"), LineLock::Outcome::kTaken);
  ASSERT_EQ(exchange.Take("\\\\.\\COM3", "ornat-cli.exe: query"), LineLock::Outcome::kTaken);
  std::ifstream file(local.path() + "\\ornat\\lines\\COM3", std::ios::binary);
  std::stringstream record;
  record << file.rdbuf();
  EXPECT_EQ(record.str(),
            std::to_string(::GetCurrentProcessId()) + "\nornat-cli.exe watch --port com3\n");
  command.Release();
  EXPECT_TRUE(exchange.Held());
  exchange.Release();
  ::SetEnvironmentVariableA("LOCALAPPDATA", nullptr);
}

}  // namespace
}  // namespace ornat::testing
