// What ornat-cli lets through to a terminal: text from the command line or the line
// with its control characters written out, valid UTF-8 (the window's Cyrillic) as it is.

#include "cli/output.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "journal/json.h"

namespace ornat::cli {
namespace {

TEST(CliOutput, ControlCharactersNeverReachTheTerminalRaw) {
  struct Case {
    const char* what;
    std::string text;
    std::string shown;
  } cases[] = {
      {"plain", "ttyUSB0", "ttyUSB0"},
      {"Cyrillic stays", "   : ОТВЕТ С ЧУЖОГО АДРЕСА 004", "   : ОТВЕТ С ЧУЖОГО АДРЕСА 004"},
      {"newline and tab stay", "a\tb\nc\n", "a\tb\nc\n"},
      {"ESC and BEL", "x\x1b[31mred\x07", "x\\u001B[31mred\\u0007"},
      {"carriage return and backspace", "ok\rbad\b", "ok\\u000Dbad\\u0008"},
      {"DEL", "a\x7f", "a\\u007F"},
      {"C1 CSI in UTF-8",
       "a\xc2\x9b"
       "31m",
       "a\\u009B31m"},
      {"a lone 0x9B byte (CSI on an 8-bit terminal)",
       "a\x9b"
       "31m",
       "a\\x9B31m"},
      {"a cut UTF-8 sequence", "\xd0", "\\xD0"},
      {"NUL", std::string("a\0b", 3), "a\\u0000b"},
      {"no-break space is text",
       "a\xc2\xa0"
       "b",
       "a\xc2\xa0"
       "b"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(Printable(c.text), c.shown);
  }
}

TEST(CliOutput, JsonStaysJsonWithTheSameTexts) {
  // A port name with every kind of control character, through the JSON writer and then
  // the terminal filter: still valid JSON, the same string when parsed.
  const std::string name = std::string("p\x1b[2J\x07\xc2\x9b\x7f\r\n", 11) + "Ж";
  JsonWriter j;
  j.BeginObject();
  j.Key("port").String(name);
  j.EndObject();
  const std::string shown = Printable(j.Text());
  for (char ch : shown) {
    const auto b = static_cast<unsigned char>(ch);
    EXPECT_FALSE(b < 0x20 || b == 0x7f) << static_cast<int>(b);
  }
  EXPECT_EQ(shown.find("\xc2\x9b"), std::string::npos);
  EXPECT_EQ(nlohmann::json::parse(shown)["port"], name);
}

}  // namespace
}  // namespace ornat::cli
