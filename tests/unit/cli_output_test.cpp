// What ornat-cli lets through to a terminal: text from the command line or the line
// with its control characters written out, valid UTF-8 (the window's Cyrillic) as it is.

#include "cli/output.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

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

// The progress line as a person sees it: one row of a console that takes the bytes as
// a console does (a carriage return goes back to the start of the row, a character
// overwrites the cell under the cursor; the erase escape only where the console takes
// it, else its characters are shown as they are, as Wine's console shows them).
struct ConsoleRow {
  std::size_t columns;
  bool takes_escapes;
  std::u32string cells;
  std::size_t cursor = 0;
  bool wrapped = false;

  void Put(const std::string& bytes) {
    for (std::size_t i = 0; i < bytes.size(); ++i) {
      const auto b = static_cast<unsigned char>(bytes[i]);
      if (b == '\r') {
        cursor = 0;
      } else if (b == 0x1B && takes_escapes && bytes.compare(i, 3, "\033[K") == 0) {
        cells.resize(std::min(cells.size(), cursor));
        i += 2;
      } else if ((b & 0xC0) != 0x80) {
        char32_t cp = b < 0x80 ? b : 0xFFFD;  // one cell per character
        if (cursor >= columns) wrapped = true;
        if (cells.size() <= cursor) cells.resize(cursor + 1, U' ');
        cells[cursor++] = cp;
      }
    }
  }
  // The row without its trailing blanks, as ASCII ('?' for any other character).
  std::string Shown() const {
    std::string out;
    for (char32_t c : cells) out += c < 0x80 ? static_cast<char>(c) : '?';
    while (!out.empty() && out.back() == ' ') out.pop_back();
    return out;
  }
};

TEST(CliOutput, TheProgressLineIsDrawnOverInPlaceOnEveryConsole) {
  using Kind = ProgressConsole::Kind;
  const std::vector<std::string> texts = {
      "survey: 9600 bit/s (1/2), address 100, 0 found, about 0:14 left",
      "survey: 9600 bit/s (1/2), address 99, 1 found, about 0:9 left",
      "search: address 7/247 at 9600 bit/s",
      "survey: 19200 bit/s (2/2), address 1, 2 found, about 0:13 left",
      "ЖЖЖ short",
  };
  struct Case {
    const char* what;
    ProgressConsole console;
    bool takes_escapes;
  } cases[] = {
      {"a Linux terminal", {Kind::kEscapes, 0}, true},
      {"a Windows 10 console, drawn with spaces", {Kind::kSpaces, 120}, true},
      {"a console that shows escapes as they are (Wine's, before Windows 10)",
       {Kind::kSpaces, 80},
       false},
      {"a narrow console", {Kind::kSpaces, 40}, false},
      {"a console of unknown width", {Kind::kSpaces, 0}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ConsoleRow row{c.console.columns != 0 ? c.console.columns : 1000, c.takes_escapes, {}};
    std::size_t shown = 0;
    for (const std::string& text : texts) {
      const std::string bytes = ProgressBytes(text, c.console, shown);
      if (c.console.kind == Kind::kSpaces) {
        EXPECT_EQ(bytes.find('\x1b'), std::string::npos);
      }
      row.Put(bytes);
      // Exactly the text, nothing of the longer line before it, and never past the
      // last column but one (a wrapped row would leave its first part behind).
      std::string expected = text;
      if (expected.rfind("ЖЖЖ", 0) == 0) expected = "??? short";
      if (c.console.columns > 1 && expected.size() > c.console.columns - 1)
        expected.resize(c.console.columns - 1);
      const std::size_t cursor = expected.size();
      while (!expected.empty() && expected.back() == ' ') expected.pop_back();
      EXPECT_EQ(row.Shown(), expected);
      EXPECT_EQ(row.cursor, cursor) << "the cursor stands after the text";
      EXPECT_FALSE(row.wrapped);
    }
    // Cleared before the command's last line: the row is empty, the cursor at its start.
    row.Put(ProgressBytes("", c.console, shown));
    EXPECT_EQ(row.Shown(), "");
    EXPECT_EQ(row.cursor, 0u);
    EXPECT_EQ(shown, 0u);
  }
}

}  // namespace
}  // namespace ornat::cli
