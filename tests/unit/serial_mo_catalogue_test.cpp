// The .mo reader that gives the serial port's texts their translation on Windows: the
// build's own catalogue read whole, and catalogues of either byte order or broken.

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "serial/mo_catalogue.h"
#include "support/text_lines.h"

namespace ornat {
namespace {

using testing::FileText;
using Pairs = std::vector<std::pair<std::string, std::string>>;

// The msgid/msgstr pairs of a .po file whose entries are one line each.
Pairs PoEntries(const std::string& path) {
  auto unquote = [](const std::string& line, std::size_t from) {
    std::string out;
    for (std::size_t i = line.find('"', from) + 1; i < line.size() && line[i] != '"'; ++i) {
      if (line[i] == '\\' && i + 1 < line.size()) {
        ++i;
        out += line[i] == 'n' ? '\n' : line[i];
      } else {
        out += line[i];
      }
    }
    return out;
  };
  Pairs out;
  std::ifstream in(path);
  std::string line, id;
  while (std::getline(in, line)) {
    if (line.rfind("msgid ", 0) == 0) id = unquote(line, 5);
    if (line.rfind("msgstr ", 0) == 0 && !id.empty()) out.emplace_back(id, unquote(line, 6));
  }
  return out;
}

void Put(std::string& out, std::uint32_t v, bool big) {
  for (int i = 0; i < 4; ++i) {
    const int shift = big ? 8 * (3 - i) : 8 * i;
    out += static_cast<char>((v >> shift) & 0xFF);
  }
}

// A catalogue as msgfmt lays it out: header, the two tables, then the strings.
std::string Catalogue(const Pairs& entries, bool big = false, std::uint32_t revision = 0) {
  const auto n = static_cast<std::uint32_t>(entries.size());
  std::string head, strings;
  const std::uint32_t originals = 28, translations = originals + 8 * n;
  std::uint32_t at = translations + 8 * n;
  std::string table_o, table_t;
  for (const auto& [id, text] : entries) {
    Put(table_o, static_cast<std::uint32_t>(id.size()), big);
    Put(table_o, at, big);
    strings += id + '\0';
    at += static_cast<std::uint32_t>(id.size()) + 1;
  }
  for (const auto& [id, text] : entries) {
    Put(table_t, static_cast<std::uint32_t>(text.size()), big);
    Put(table_t, at, big);
    strings += text + '\0';
    at += static_cast<std::uint32_t>(text.size()) + 1;
  }
  for (std::uint32_t v : {0x950412deu, revision, n, originals, translations, 0u, 0u})
    Put(head, v, big);
  return head + table_o + table_t + strings;
}

TEST(MoCatalogue, FindsEveryTranslationOfTheBuildsRussianCatalogue) {
  MoCatalogue catalogue;
  ASSERT_TRUE(catalogue.Load(
      FileText(std::string(ORNAT_BUILD_LOCALEDIR) + "/ru/LC_MESSAGES/serialcomm.mo")));
  const Pairs entries = PoEntries(std::string(ORNAT_SOURCE_DIR) + "/po/ru.po");
  ASSERT_GE(entries.size(), 23u);
  EXPECT_EQ(catalogue.size(), entries.size());
  for (const auto& [id, text] : entries) {
    const char* found = catalogue.Find(id.c_str());
    ASSERT_NE(found, nullptr) << id;
    EXPECT_EQ(std::string(found), text) << id;
  }
  EXPECT_STREQ(catalogue.Find("Unable to open com port"), "Не удалось открыть COM-порт");
  EXPECT_EQ(catalogue.Find("not in the catalogue"), nullptr);
  EXPECT_EQ(catalogue.Find(""), nullptr) << "the header is no entry";
}

TEST(MoCatalogue, ReadsBothByteOrdersAndThePluralEntriesFirstForm) {
  const Pairs entries = {{"", "Content-Type: text/plain; charset=UTF-8\n"},
                         {"ReadFile function failed", "Сбой функции ReadFile"},
                         {std::string("byte\0bytes", 10), std::string("байт\0байта", 15)}};
  for (bool big : {false, true}) {
    MoCatalogue catalogue;
    ASSERT_TRUE(catalogue.Load(Catalogue(entries, big))) << big;
    EXPECT_STREQ(catalogue.Find("ReadFile function failed"), "Сбой функции ReadFile") << big;
    EXPECT_STREQ(catalogue.Find("byte"), "байт") << big;
    EXPECT_EQ(catalogue.size(), 2u) << big;
  }
}

TEST(MoCatalogue, RefusesBytesThatAreNotAWholeCatalogueAndKeepsNothing) {
  const Pairs entries = {{"Registry error", "Ошибка реестра"}};
  const std::string good = Catalogue(entries);
  struct Case {
    const char* name;
    std::string bytes;
  } cases[] = {
      {"empty", ""},
      {"three bytes", good.substr(0, 3)},
      {"wrong magic", std::string("\x12\x34\x56\x78") + good.substr(4)},
      {"major revision 2", Catalogue(entries, false, 0x00020000u)},
      {"cut in the tables", good.substr(0, 40)},
      {"cut in the strings", good.substr(0, good.size() - 5)},
      {"count beyond the tables",
       [&] {
         std::string b = good;
         b[8] = '\x7f';
         return b;
       }()},
  };
  for (const Case& c : cases) {
    MoCatalogue catalogue;
    ASSERT_TRUE(catalogue.Load(good));
    EXPECT_FALSE(catalogue.Load(c.bytes)) << c.name;
    EXPECT_EQ(catalogue.size(), 0u) << c.name;
    EXPECT_EQ(catalogue.Find("Registry error"), nullptr) << c.name;
  }
}

}  // namespace
}  // namespace ornat
