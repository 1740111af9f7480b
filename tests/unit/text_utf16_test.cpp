// The UTF-8 / UTF-16 conversion every wide Win32 name and the command line go through.

#include <gtest/gtest.h>

#include <string>

#include "text/utf16.h"

namespace ornat::text {
namespace {

TEST(Utf16, NamesWithCyrillicAccentedAndAstralLettersGoBothWaysWhole) {
  struct Case {
    std::u16string wide;
    std::string utf8;
  } cases[] = {
      {u"COM7", "COM7"},
      {u"C:\\users\\root\\\u0416\u0443\u0440\u043d\u0430\u043b\\j.jsonl",
       "C:\\users\\root\\\xD0\x96\xD1\x83\xD1\x80\xD0\xBD\xD0\xB0\xD0\xBB\\j.jsonl"},
      {u"R\u00e9sum\u00e9", "R\xC3\xA9sum\xC3\xA9"},
      {u"\u20ac", "\xE2\x82\xAC"},
      {u"\xD83D\xDD25", "\xF0\x9F\x94\xA5"},  // U+1F525, a surrogate pair
      {u"", ""},
  };
  for (const Case& c : cases) {
    bool exact = false;
    EXPECT_EQ(Utf8FromUtf16(c.wide, &exact), c.utf8);
    EXPECT_TRUE(exact) << c.utf8;
    EXPECT_EQ(Utf16FromUtf8(c.utf8), c.wide) << c.utf8;
  }
}

TEST(Utf16, AnUnpairedSurrogateBecomesTheReplacementCharacterAndIsToldAsNotExact) {
  for (const std::u16string& wide :
       {std::u16string(u"a\xD800"), std::u16string(u"\xDC00z"), std::u16string(u"\xD800\xD800")}) {
    bool exact = true;
    const std::string utf8 = Utf8FromUtf16(wide, &exact);
    EXPECT_FALSE(exact);
    EXPECT_NE(utf8.find("\xEF\xBF\xBD"), std::string::npos) << utf8;
  }
}

TEST(Utf16, BytesThatAreNotUtf8BecomeOneReplacementCharacterEach) {
  EXPECT_EQ(Utf16FromUtf8("a\xFF"
                          "b\xD0"),
            u"a\xFFFD"
            u"b\xFFFD");
  EXPECT_EQ(Utf16FromUtf8("\xC0\xAF"), u"\xFFFD\xFFFD");  // an overlong "/"
}

TEST(Utf16, OnlyBytesBelow0x80AreAscii) {
  EXPECT_TRUE(IsAscii("\\\\.\\COM12"));
  EXPECT_FALSE(
      IsAscii("\\\\.\\\xD0\x9A\xD0\x9E\xD0\x9C"
              "1"));
  EXPECT_FALSE(IsAscii("\x80"));
}

}  // namespace
}  // namespace ornat::text
