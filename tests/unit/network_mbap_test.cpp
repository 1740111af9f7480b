#include <gtest/gtest.h>

#include "serial/network/mbap.h"
#include "support/byte_splits.h"
#include "support/hex.h"

namespace ornat {
namespace {

using testing::FromHex;
using testing::ToHex;

TEST(Mbap, AnRtuRequestGoesOutAsHeaderAndPduWithTheAddressAsUnitId) {
  struct Case {
    const char* rtu;
    std::uint16_t transaction;
    const char* mbap;  // "" with an error
  } cases[] = {
      {"F7 03 00 00 00 08 50 9A", 1, "00 01 00 00 00 06 F7 03 00 00 00 08"},
      {"05 06 00 02 00 06 A9 8C", 0xABCD, "AB CD 00 00 00 06 05 06 00 02 00 06"},
      {"05 06 00 02 00 06 A9 8D", 2, ""},  // CRC does not fit
      {"05 83 02", 3, ""},                 // too short
  };
  for (const Case& c : cases) {
    const auto rtu = FromHex(c.rtu);
    const MbapRequest request = EncodeMbapRequest(rtu.data(), rtu.size(), c.transaction);
    EXPECT_EQ(ToHex(request.bytes), c.mbap) << c.rtu;
    EXPECT_EQ(request.error.empty(), request.bytes.size() > 0) << c.rtu;
  }
}

TEST(Mbap, TheGatewaysAnswerBecomesTheDetectorsRtuFrameHoweverTheReadsCutIt) {
  struct Case {
    const char* name;
    const char* stream;   // transaction 7, unit 5 asked
    const char* answers;  // per frame: the RTU frame, "no answer XX" or "wrong"
    const char* reader_error;
  } cases[] = {
      {"a read answer", "00 07 00 00 00 05 05 03 02 00 10", "05 03 02 00 10 48 48", ""},
      {"the detector's own exception", "00 07 00 00 00 03 05 83 02", "05 83 02 81 30", ""},
      {"gateway: no path", "00 07 00 00 00 03 05 83 0A", "no answer 0A", ""},
      {"gateway: no answer from the device", "00 07 00 00 00 03 05 86 0B", "no answer 0B", ""},
      {"a late answer to the transaction before, then ours",
       "00 06 00 00 00 03 05 83 0B 00 07 00 00 00 06 05 06 00 02 00 06",
       "wrong; 05 06 00 02 00 06 A9 8C", ""},
      {"another unit", "00 07 00 00 00 03 06 83 02", "wrong", ""},
      {"protocol id not 0", "00 07 00 01 00 03 05 83 02", "",
       "the gateway's frame has protocol id 1, not 0"},
      {"length 1", "00 07 00 00 00 01 05", "", "the gateway's frame has length 1, not 2 to 254"},
      {"length 255", "00 07 00 00 00 FF 05 03", "",
       "the gateway's frame has length 255, not 2 to 254"},
  };
  for (const Case& c : cases) {
    testing::ForEachSplit(FromHex(c.stream),
                          [&](const testing::Chunks& chunks, const std::string& how) {
                            MbapReader reader;
                            std::vector<MbapFrame> frames;
                            for (const auto& chunk : chunks)
                              reader.Feed(chunk.data(), chunk.size(), frames);
                            std::string answers;
                            for (const MbapFrame& frame : frames) {
                              const GatewayAnswer a = DecodeMbapAnswer(frame, 7, 5);
                              answers += answers.empty() ? "" : "; ";
                              if (a.kind == GatewayAnswer::Kind::kAnswer) answers += ToHex(a.rtu);
                              if (a.kind == GatewayAnswer::Kind::kNoAnswer)
                                answers += "no answer " + ToHex({a.gateway_code});
                              if (!a.error.empty()) answers += "wrong";
                            }
                            EXPECT_EQ(answers, c.answers) << c.name << ", " << how;
                            EXPECT_EQ(reader.error(), c.reader_error) << c.name << ", " << how;
                            EXPECT_TRUE(reader.Idle()) << c.name << ", " << how;
                          });
  }
}

}  // namespace
}  // namespace ornat
