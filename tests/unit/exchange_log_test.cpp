#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/hex.h"
#include "ui/exchange_log.h"

namespace ornat {
namespace {

using testing::TextToHex;

TEST(ExchangeLog, ByteToHexGivesTwoUpperCaseDigits) {
  struct Case {
    std::uint8_t value;
    const char* text;
  } cases[] = {{0x00, "00"}, {0x09, "09"}, {0x0A, "0A"}, {0x9F, "9F"}, {0xA0, "A0"}, {0xFF, "FF"}};
  for (const Case& c : cases) EXPECT_EQ(ByteToHex(c.value), c.text);
}

TEST(ExchangeLog, ARequestLineIs29CharactersEndingWithASpace) {
  const std::uint8_t frame[] = {0xF7, 0x03, 0x00, 0x00, 0x00, 0x08, 0x50, 0x9A};
  std::string line = RequestLine(frame);
  EXPECT_EQ(line, "TX : F7 03 00 00 00 08 50 9A ");
  EXPECT_EQ(line.size(), 29u);
}

TEST(ExchangeLog, AnswerLinesHold17BytesEachWithContinuationsUnderTheFirst) {
  struct Case {
    std::uint16_t n;
    std::vector<std::size_t> bytes_per_line;
  } cases[] = {
      {1, {1}},
      {16, {16}},
      {17, {17}},
      {18, {17, 1}},
      {34, {17, 17}},
      {35, {17, 17, 1}},
      {255, std::vector<std::size_t>(15, 17)},
  };
  std::uint8_t bytes[255];
  for (int i = 0; i < 255; ++i) bytes[i] = static_cast<std::uint8_t>(i);
  for (const Case& c : cases) {
    TTeMemo log("TeMemo1");
    AddAnswerLines(log, bytes, c.n);
    ASSERT_EQ(log.Count(), c.bytes_per_line.size()) << c.n;
    std::size_t next = 0;
    for (std::size_t k = 0; k < log.Count(); ++k) {
      const std::string& line = log.Lines()[k];
      EXPECT_EQ(line.substr(0, 5), k == 0 ? "RX : " : "     ");
      ASSERT_EQ(line.size(), 5 + 3 * c.bytes_per_line[k]) << c.n << " line " << k;
      for (std::size_t b = 0; b < c.bytes_per_line[k]; ++b, ++next)
        EXPECT_EQ(line.substr(5 + 3 * b, 3), ByteToHex(bytes[next]) + " ");
    }
    EXPECT_EQ(next, c.n) << "every byte shown once, in order";
  }
  TTeMemo log("TeMemo1");
  AddAnswerLines(log, bytes, 17);
  EXPECT_EQ(log.Lines()[0].size(), 56u);
}

TEST(ExchangeLog, LookAlikeLettersAreTheRightCodePoints) {
  // "   : ОК." : Cyrillic О U+041E (D0 9E), К U+041A (D0 9A).
  EXPECT_EQ(TextToHex(msg::kOk, ""), "2020203A20D09ED09A2E");
  // "   : OK." of the port list: Latin.
  EXPECT_EQ(std::string(msg::kFileOk), "   : OK.");
  EXPECT_EQ(TextToHex(msg::kFileOk, ""), "2020203A204F4B2E");
  // The reset line ends in Latin "OK.".
  std::string reset = msg::kResetOk;
  EXPECT_EQ(reset.substr(reset.size() - 3), "OK.");
  // "ID" Latin inside Cyrillic.
  EXPECT_NE(std::string(msg::kWrongId).find(" ID "), std::string::npos);
  // "СOMPORTS.TXT" in the file error: Cyrillic С (D0 A1) then Latin "OMPORTS.TXT".
  EXPECT_NE(std::string(msg::kFileError).find("\"\xD0\xA1OMPORTS.TXT\": - "), std::string::npos);
  // In the request line before it everything is Latin.
  EXPECT_NE(std::string(msg::kFileRequest).find("\"COMPORTS.TXT\"....."), std::string::npos);
  EXPECT_NE(std::string(msg::kRegistryError).find(" COM-"), std::string::npos);
  // "(-330)" in the found line, "(/330)" in the not-found line; "Zev" Latin.
  EXPECT_NE(std::string(msg::kDeviceFound).find("VA329(-330) \""), std::string::npos);
  EXPECT_NE(std::string(msg::kDeviceNotFound).find("VA329(/330) \""), std::string::npos);
  EXPECT_NE(std::string(msg::kDeviceFound).find("-Zev\">"), std::string::npos);
  // Every message line starts with three spaces, a colon and a space.
  for (const char* m :
       {msg::kPortOpenError, msg::kCrcError, msg::kTimeOut, msg::kOk, msg::kError, msg::kWrongId,
        msg::kWrongLength, msg::kResetOk, msg::kResetError, msg::kDeviceFound, msg::kDeviceNotFound,
        msg::kRegistryError, msg::kFileRequest, msg::kFileOk, msg::kFileError})
    EXPECT_EQ(std::string(m).substr(0, 5), "   : ") << m;
  EXPECT_EQ(std::string(msg::kTimeOut), "   : TIME OUT.");
  EXPECT_EQ(std::string(msg::kCrcError), "   : CRC ERROR.");
}

struct RecordingCanvas : TCanvas {
  std::vector<std::string> calls;
  void FillRect(const TRect& r, TColor c) override {
    calls.push_back("fill " + Rect(r) + " " + std::to_string(c));
  }
  void SetTransparentText() override { calls.push_back("transparent"); }
  void DrawTextLine(const std::string& text, const TRect& r) override {
    calls.push_back("text " + Rect(r) + " " + text);
  }
  static std::string Rect(const TRect& r) {
    return std::to_string(r.Left) + "," + std::to_string(r.Top) + "," + std::to_string(r.Right) +
           "," + std::to_string(r.Bottom);
  }
};

TEST(StatusGrid, InitialisationSetsTheLabelsAndColumnWidths) {
  TTeStringGrid grid("StatusGrid", nullptr, 2, 2);
  grid.SetBounds(15, 334, 404, 42);
  InitStatusGrid(grid);
  EXPECT_EQ(grid.Cell(0, 0), "  ТИП");
  EXPECT_EQ(grid.Cell(0, 1), "  СТАТУС");
  EXPECT_EQ(grid.ColWidth(0), 150);
  EXPECT_EQ(grid.ColWidth(1), 248);
}

TEST(StatusGrid, CellsAreFilledByStateAndTheirTextClippedTwoPixelsInside) {
  TTeStringGrid grid("StatusGrid", nullptr, 2, 2);
  grid.SetCell(1, 1, "    НОРМА");
  const TRect cell{150, 19, 398, 37};
  struct Case {
    TGridDrawState state;
    TColor fill;
  } cases[] = {
      {0, clWhite},
      {static_cast<TGridDrawState>(TGridDrawStateFlag::gdSelected), 13811126},
      {static_cast<TGridDrawState>(TGridDrawStateFlag::gdFixed), grid.FixedColor()},
      {static_cast<TGridDrawState>(static_cast<int>(TGridDrawStateFlag::gdSelected) |
                                   static_cast<int>(TGridDrawStateFlag::gdFixed)),
       13811126},
      {static_cast<TGridDrawState>(TGridDrawStateFlag::gdFocused), clWhite},
  };
  for (const Case& c : cases) {
    RecordingCanvas canvas;
    DrawStatusCell(grid, 1, 1, cell, c.state, canvas);
    EXPECT_EQ(canvas.calls,
              (std::vector<std::string>{"fill 150,19,398,37 " + std::to_string(c.fill),
                                        "transparent", "text 150,19,396,37     НОРМА"}));
  }
}

}  // namespace
}  // namespace ornat
