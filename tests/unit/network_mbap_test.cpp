#include <gtest/gtest.h>

#include "serial/network/mbap.h"
#include "support/byte_splits.h"
#include "support/hex.h"

namespace ornat {
namespace {

using testing::FromHex;
using testing::ToHex;

TEST(Mbap, AnRtuRequestGoesOutAsHeaderAndPduWithTheAddressAsUnitId) {
  // An RTU request, its transaction id, its MBAP frame ("" with an error).
  const std::tuple<const char*, std::uint16_t, const char*> cases[] = {
      {"F7 03 00 00 00 08 50 9A", 1, "00 01 00 00 00 06 F7 03 00 00 00 08"},
      {"05 06 00 02 00 06 A9 8C", 0xABCD, "AB CD 00 00 00 06 05 06 00 02 00 06"},
      {"05 06 00 02 00 06 A9 8D", 2, ""},  // CRC does not fit
      {"05 83 02", 3, ""},                 // too short
  };
  for (const auto& [rtu_hex, transaction, mbap] : cases) {
    const auto rtu = FromHex(rtu_hex);
    const MbapRequest request = EncodeMbapRequest(rtu.data(), rtu.size(), transaction);
    EXPECT_EQ(ToHex(request.bytes), mbap) << rtu_hex;
    EXPECT_EQ(request.error.empty(), request.bytes.size() > 0) << rtu_hex;
  }
}

TEST(Mbap, TheGatewaysAnswerBecomesTheDetectorsRtuFrameHoweverTheReadsCutIt) {
  // Transaction 7 to unit 5 asked; per frame: the RTU frame, "no answer XX" or "wrong",
  // then the reader's error.
  const std::pair<const char*, const char*> cases[] = {
      // clang-format off
      {"00 07 00 00 00 05 05 03 02 00 10", "05 03 02 00 10 48 48"},
      {"00 07 00 00 00 03 05 83 02", "05 83 02 81 30"},  // the detector's own exception
      {"00 07 00 00 00 03 05 83 0A", "no answer 0A"},
      {"00 07 00 00 00 03 05 86 0B", "no answer 0B"},
      {"00 06 00 00 00 03 05 83 0B 00 07 00 00 00 06 05 06 00 02 00 06", "wrong; 05 06 00 02 00 06 A9 8C"},
      {"00 07 00 00 00 03 06 83 02", "wrong"},  // another unit
      {"00 07 00 01 00 03 05 83 02", "the gateway's frame has protocol id 1, not 0"},
      {"00 07 00 00 00 01 05", "the gateway's frame has length 1, not 2 to 254"},
      {"00 07 00 00 00 FF 05 03", "the gateway's frame has length 255, not 2 to 254"},
      // clang-format on
  };
  for (const auto& [stream, expected] : cases) {
    auto check = [&](const testing::Chunks& chunks, const std::string& how) {
      MbapReader reader;
      std::vector<MbapFrame> frames;
      for (const auto& chunk : chunks) reader.Feed(chunk.data(), chunk.size(), frames);
      std::string got;
      for (const MbapFrame& frame : frames) {
        const GatewayAnswer a = DecodeMbapAnswer(frame, 7, 5);
        got += got.empty() ? "" : "; ";
        if (a.kind == GatewayAnswer::Kind::kAnswer) got += ToHex(a.rtu);
        if (a.kind == GatewayAnswer::Kind::kNoAnswer) got += "no answer " + ToHex({a.gateway_code});
        if (!a.error.empty()) got += "wrong";
      }
      EXPECT_EQ(got + reader.error(), expected) << stream << ", " << how;
      EXPECT_TRUE(reader.Idle()) << stream << ", " << how;
    };
    testing::ForEachSplit(FromHex(stream), check);
  }
}

}  // namespace
}  // namespace ornat
