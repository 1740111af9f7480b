// The simulator's Modbus TCP gateway: requests cut from a stream however it is read,
// and the answer it sends back from what its serial side heard.

#include "model/modbus_tcp_gateway.h"

#include <gtest/gtest.h>

#include "support/byte_splits.h"
#include "support/hex.h"

namespace ornat::sim {
namespace {

using testing::FromHex;
using testing::ToHex;

TEST(SimGatewayReader, CutsTwoJoinedRequestsIntoRtuFramesHoweverTheStreamIsRead) {
  const Bytes stream =
      FromHex("00 01 00 00 00 06 F7 03 00 00 00 08  00 02 00 00 00 06 05 06 00 04 00 03");
  testing::ForEachSplit(stream, [](const testing::Chunks& chunks, const std::string& how) {
    MbapRequestReader reader;
    std::vector<GatewayRequest> got;
    for (const Bytes& c : chunks) ASSERT_TRUE(reader.Feed(c, got)) << how;
    ASSERT_EQ(got.size(), 2u) << how;
    EXPECT_EQ(got[0].transaction, 1);
    EXPECT_EQ(ToHex(got[0].rtu), "F7 03 00 00 00 08 50 9A") << how;
    EXPECT_EQ(got[1].transaction, 2);
    EXPECT_EQ(got[1].unit, 5);
  });
}

TEST(SimGatewayReader, RefusesAHeaderThatIsNotMbap) {
  for (const char* header :
       {"00 01 00 01 00 06 F7", "00 01 00 00 00 01 F7", "00 01 00 00 00 FF F7"}) {
    MbapRequestReader reader;
    std::vector<GatewayRequest> got;
    EXPECT_FALSE(reader.Feed(FromHex(header), got)) << header;
    EXPECT_FALSE(reader.error().empty());
    EXPECT_TRUE(got.empty());
  }
}

TEST(SimGatewayAnswer, PassesOnTheDetectorsFrameOrSaysNothingCame) {
  struct Case {
    const char* heard;
    const char* answer;
  } const cases[] = {
      {"F7 83 02 20 C3", "00 07 00 00 00 03 F7 83 02"},
      {"F7 03 00 00 00 08 50 9A F7 83 02 20 C3 00", "00 07 00 00 00 03 F7 83 02"},
      {"FF FF F7 83 02 20 C3", "00 07 00 00 00 03 F7 83 02"},
      {"F7 83 02 20 C4", "00 07 00 00 00 03 F7 83 0B"},
      {"", "00 07 00 00 00 03 F7 83 0B"},
  };
  const GatewayRequest request{7, 0xF7, FromHex("F7 03 00 00 00 08 50 9A")};
  for (const Case& c : cases)
    EXPECT_EQ(ToHex(GatewayAnswer(request, FromHex(c.heard))), c.answer) << c.heard;
  EXPECT_TRUE(GatewayAnswer({7, 0, FromHex("00 06 00 04 00 03 89 DB")}, {}).empty()) << "broadcast";
}

}  // namespace
}  // namespace ornat::sim
