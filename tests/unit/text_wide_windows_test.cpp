// The program's arguments from the wide command line, as ornat.exe and ornat-cli.exe
// take them.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "text/wide.h"

namespace ornat::win32 {
namespace {

TEST(Utf8Arguments, EveryArgumentAfterTheProgramsNameArrivesAsUtf8) {
  const wchar_t* argv[] = {
      L"ornat-cli.exe", L"--journal",        L"C:\\\u0416\u0443\u0440\u043d\u0430\u043b\\j.jsonl",
      L"--port",        L"R\u00e9sum\u00e9", nullptr};
  std::string refused = "left from before";
  EXPECT_EQ(Utf8Arguments(5, argv, refused),
            (std::vector<std::string>{
                "--journal", "C:\\\xD0\x96\xD1\x83\xD1\x80\xD0\xBD\xD0\xB0\xD0\xBB\\j.jsonl",
                "--port", "R\xC3\xA9sum\xC3\xA9"}));
  EXPECT_EQ(refused, "");
}

TEST(Utf8Arguments, AnArgumentWithAnUnpairedSurrogateIsLeftForTheProgramToRefuse) {
  const wchar_t* argv[] = {L"ornat.exe", L"--journal", L"a\xD800.jsonl", L"b\xDC00", nullptr};
  std::string refused;
  const std::vector<std::string> args = Utf8Arguments(4, argv, refused);
  ASSERT_EQ(args.size(), 3u);
  EXPECT_EQ(refused, "a\xEF\xBF\xBD.jsonl") << "the first one";
}

}  // namespace
}  // namespace ornat::win32
