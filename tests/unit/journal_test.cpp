#include "journal/exchange_journal.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "journal/json.h"
#include "support/basic_form.h"
#include "support/line_texts.h"
#include "support/local_zone.h"
#include "support/platform_errors.h"
#include "support/simulated_form.h"
#include "support/text_lines.h"

namespace ornat {
namespace {

using nlohmann::json;
using testing::FileLines;
using testing::LocalZone;
using testing::SimulatedForm;
using testing::TempDir;

std::chrono::system_clock::time_point At(long long ms_since_epoch) {
  return std::chrono::system_clock::time_point(std::chrono::milliseconds(ms_since_epoch));
}

TEST(Json, StringsAreEscapedAndAlwaysValidUtf8) {
  struct Case {
    std::string in;
    std::string out;
  } cases[] = {
      {"plain", "\"plain\""},
      {"say \"ОК.\"", "\"say \\\"ОК.\\\"\""},
      {"a\\b", "\"a\\\\b\""},
      {"line\nnext\ttab\r", "\"line\\nnext\\ttab\\r\""},
      {std::string("nul\x01", 4) + std::string(1, '\0'), "\"nul\\u0001\\u0000\""},
      {"\x7F", "\"\\u007F\""},
      {"ОРНАТ(-2)-Zev", "\"ОРНАТ(-2)-Zev\""},
      {"\xFF", "\"\xEF\xBF\xBD\""},                                  // not UTF-8
      {"\xC0\x80", "\"\xEF\xBF\xBD\xEF\xBF\xBD\""},                  // overlong
      {"\xED\xA0\x80", "\"\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\""},  // a surrogate
      {"\xD0", "\"\xEF\xBF\xBD\""},                                  // cut short
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.out);
    EXPECT_EQ(JsonString(c.in), c.out);
    EXPECT_TRUE(json::accept(c.out));
  }
}

TEST(Json, WriterPutsCommasBetweenMembersAndElements) {
  JsonWriter j;
  j.BeginObject();
  j.Key("a").Int(-3);
  j.Key("b").BeginArray().String("x").Null().Bool(true).Fixed(1.25, 1).EndArray();
  j.Key("c").BeginObject().EndObject();
  j.Key("d").Strings({"1", "2"});
  j.EndObject();
  EXPECT_EQ(j.Text(), "{\"a\":-3,\"b\":[\"x\",null,true,1.2],\"c\":{},\"d\":[\"1\",\"2\"]}");
  EXPECT_EQ(json::parse(j.Text())["d"][1], "2");
}

TEST(Journal, TimeIsLocalWithMillisecondsAndTheOffset) {
  struct Case {
    const char* tz;
    long long ms;
    const char* text;
  } cases[] = {
      {"UTC0", 0, "1970-01-01T00:00:00.000+00:00"},
      {"UTC0", 1'700'000'000'123, "2023-11-14T22:13:20.123+00:00"},
      {"XYZ-02", 1'700'000'000'005, "2023-11-15T00:13:20.005+02:00"},
      {"XYZ+05:30", 1'700'000'000'999, "2023-11-14T16:43:20.999-05:30"},
      {"XYZ-05:45", 1'700'000'000'000, "2023-11-15T03:58:20.000+05:45"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.tz);
    LocalZone zone(c.tz);
    EXPECT_EQ(IsoLocalTime(At(c.ms)), c.text);
  }
}

TEST(Journal, HexTextIsUpperCasePairsWithOneSpace) {
  EXPECT_EQ(HexText({}), "");
  EXPECT_EQ(HexText({0x0A}), "0A");
  EXPECT_EQ(HexText({0xF7, 0x03, 0x00, 0x9A}), "F7 03 00 9A");
}

// A journal on the simulated line, with a fixed wall clock.
struct JournalledForm {
  JournalledForm() : journal(dir.path() + "/journal.jsonl", "ornat", [] { return At(0); }) {
    t.exchanges.Add(&journal);
  }
  std::vector<json> Lines() const {
    std::vector<json> out;
    for (const auto& l : FileLines(journal.Path())) out.push_back(json::parse(l));
    return out;
  }
  LocalZone zone{"UTC0"};
  TempDir dir;
  SimulatedForm t;
  ExchangeJournal journal;
};

TEST(Journal, AQueryIsOneLineWithTheBytesAsOnTheWireAndTheLogAsShown) {
  JournalledForm f;
  f.t.Click(f.t.w().TeButton5);
  ASSERT_TRUE(f.t.RunUntilIdle());
  const auto raw = FileLines(f.journal.Path());
  ASSERT_EQ(raw.size(), 1u);
  const json line = json::parse(raw[0]);
  EXPECT_EQ(line["time"], "1970-01-01T00:00:00.000+00:00");
  EXPECT_EQ(line["program"], "ornat");
  EXPECT_EQ(line["port"], "COM1");
  EXPECT_EQ(line["baud"], 9600);
  EXPECT_EQ(line["address"], 247);
  EXPECT_EQ(line["operation"], "query");
  EXPECT_EQ(line["end"], "completed");
  EXPECT_EQ(line["request"], "F7 03 00 00 00 08 50 9A");
  EXPECT_EQ(line["answer"], "F7 03 10 00 10 00 F7 00 04 00 00 00 00 00 00 00 00 00 00 51 4E");
  EXPECT_EQ(line["reads"], 1);
  EXPECT_EQ(line["log"].get<std::vector<std::string>>(), f.t.LogLines());
  EXPECT_EQ(line["log"].back(), testing::kOkLine);
  EXPECT_FALSE(line.contains("failure"));
  // The bytes are the wire's own.
  const auto wire = f.t.WireFrames();
  ASSERT_EQ(wire.size(), 2u);
  EXPECT_EQ(line["answer"], HexText(wire[1].bytes));
}

TEST(Journal, EveryKindOfExchangeEndIsOneLine) {
  struct Case {
    const char* name;
    std::function<void(JournalledForm&)> act;
    std::vector<std::string> operations;
    std::vector<std::string> ends;
    std::vector<std::string> last_lines;
    std::vector<std::string> outcomes;
  } cases[] = {
      {"time-out",
       [](JournalledForm& f) {
         f.t.line.faults().silent = true;
         f.t.Click(f.t.w().TeButton5);
       },
       {"query"},
       {"completed"},
       {"   : TIME OUT."},
       {"time-out"}},
      {"port error",
       [](JournalledForm& f) {
         f.t.device.FailNext("Open", ENOENT);
         f.t.Click(f.t.w().TeButton3);
       },
       {"alarm-reset"},
       {"send-failed"},
       {"   : ОШИБКА ОТКРЫТИЯ ПОРТА COM1"},
       {"port-error"}},
      {"CRC error",
       [](JournalledForm& f) {
         f.t.line.faults().bad_crc_probability = 1;
         f.t.Click(f.t.w().TeButton5);
       },
       {"query"},
       {"completed"},
       {"   : CRC ERROR."},
       {"crc-error"}},
      {"an answer from another address",
       [](JournalledForm& f) {
         f.t.line.faults().answer_from = 4;
         f.t.Click(f.t.w().TeButton5);
       },
       {"query"},
       {"completed"},
       {testing::kWrongAddressPrefix + "004"},
       {"wrong-address"}},
      {"interface reset",
       [](JournalledForm& f) { f.t.Click(f.t.w().TeButton2); },
       {"reset-step-1", "reset-step-2"},
       {"completed", "completed"},
       {testing::kOkLine, testing::kOkLine},
       {"ok", "ok"}},
      {"tactic and test",
       [](JournalledForm& f) {
         f.t.Click(f.t.w().T2MIN_Button);
         ASSERT_TRUE(f.t.RunUntilIdle());
         f.t.Click(f.t.w().TST_Button);
       },
       {"tactic", "test"},
       {"completed", "completed"},
       {testing::kOkLine, testing::kOkLine},
       {"ok", "ok"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    JournalledForm f;
    c.act(f);
    ASSERT_TRUE(f.t.RunUntilIdle());
    const auto lines = f.Lines();
    ASSERT_EQ(lines.size(), c.operations.size());
    const auto requests = f.t.Requests();
    for (std::size_t i = 0; i < lines.size(); ++i) {
      EXPECT_EQ(lines[i]["operation"], c.operations[i]);
      EXPECT_EQ(lines[i]["end"], c.ends[i]);
      EXPECT_EQ(lines[i]["log"].back(), c.last_lines[i]);
      EXPECT_EQ(lines[i]["outcome"], c.outcomes[i]);
      if (c.ends[i] == "send-failed") {
        EXPECT_TRUE(requests.empty());
        EXPECT_FALSE(lines[i]["failure"].get<std::string>().empty());
      } else {
        EXPECT_EQ(lines[i]["request"], HexText(requests.at(i)));
      }
    }
  }
}

TEST(Journal, BytesHandedOverBetweenTwoProbesAreAnExchangeOfTheirOwn) {
  // At 57600 bit/s with the default 150 ms window, the answer of 37 is handed over
  // after its probe timed out and before the next probe: in Idle.
  LocalZone zone("UTC0");
  TempDir dir;
  SimulatedForm t(false);
  ExchangeJournal journal(dir.path() + "/j.jsonl", "ornat", [] { return At(0); });
  t.exchanges.Add(&journal);
  t.line.detector(t.line.AddDetector(37)).SetSpeedCode(8);
  t.line.SetTurnaround(Millis(1));
  t.Click(t.w().BR_57600);
  t.Click(t.w().CustomItem5);
  ASSERT_TRUE(t.RunUntilIdle());
  const auto lines = FileLines(journal.Path());
  ASSERT_EQ(lines.size(), 38u);
  const json probe = json::parse(lines[36]);
  EXPECT_EQ(probe["operation"], "probe");
  EXPECT_EQ(probe["request"], "25 03 00 00 00 01 82 EE");
  EXPECT_EQ(probe["answer"], "");
  EXPECT_EQ(probe["baud"], 57600);
  const json idle = json::parse(lines[37]);
  EXPECT_EQ(idle["operation"], "idle");
  EXPECT_EQ(idle["end"], "idle");
  EXPECT_TRUE(idle["address"].is_null());
  EXPECT_EQ(idle["request"], "");
  EXPECT_EQ(idle["answer"], "25 03 02 00 10 C9 8F");
  EXPECT_EQ(idle["log"].get<std::vector<std::string>>(), t.LogLines());
}

TEST(Journal, TwoJournalsOnOneFileAppendWholeLines) {
  TempDir dir;
  const std::string path = dir.path() + "/shared.jsonl";
  { std::ofstream(path) << "{\"kept\":true}\n"; }
  ExchangeJournal a(path, "ornat", [] { return At(0); });
  ExchangeJournal b(path, "ornat-cli", [] { return At(0); });
  ExchangeRecord r;
  r.request = {0xF7, 0x03, 0x00, 0x00, 0x00, 0x08, 0x50, 0x9A};
  for (int i = 0; i < 50; ++i) (i % 2 ? b : a).ExchangeEnded(r);
  const auto lines = FileLines(path);
  ASSERT_EQ(lines.size(), 51u);
  EXPECT_EQ(lines[0], "{\"kept\":true}");
  for (std::size_t i = 1; i < lines.size(); ++i)
    EXPECT_EQ(json::parse(lines[i])["program"], i % 2 ? "ornat" : "ornat-cli");
}

TEST(Journal, AFileThatCannotBeOpenedIsRefusedWithItsNameAndReason) {
  TempDir dir;
  const std::string missing = dir.path() + "/no/such/folder/j.jsonl";
  try {
    ExchangeJournal j(missing, "ornat");
    FAIL() << "opened";
  } catch (const JournalError& e) {
    EXPECT_EQ(std::string(e.what()),
              "cannot open the journal \"" + missing + "\": " + testing::Errors().no_folder_text);
  }
  EXPECT_THROW(ExchangeJournal(dir.path(), "ornat"), JournalError);  // a folder
}

}  // namespace
}  // namespace ornat
