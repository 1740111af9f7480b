#include <gtest/gtest.h>

#include "serial/network/com_port_control.h"
#include "serial/network/telnet_codec.h"
#include "support/byte_splits.h"
#include "support/hex.h"

namespace ornat {
namespace {

using testing::FromHex;
using testing::ToHex;

TEST(TelnetCodec, WritesDataWith0xFFDoubledAndCommandsAsTheWireHasThem) {
  const std::vector<std::uint8_t> data = FromHex("F7 FF 03 FF FF 00");
  std::vector<std::uint8_t> out;
  AppendTelnetData(out, data.data(), data.size());
  EXPECT_EQ(ToHex(out), "F7 FF FF 03 FF FF FF FF 00");
  ComPortClient client;
  EXPECT_EQ(ToHex(client.Begin()), "FF FB 00 FF FD 00 FF FB 2C");
  const std::tuple<std::uint8_t, std::uint32_t, const char*> requests[] = {
      {rfc2217::kSetBaudRate, 9600, "FF FA 2C 01 00 00 25 80 FF F0"},
      {rfc2217::kSetBaudRate, 0x0001FFFF, "FF FA 2C 01 00 01 FF FF FF FF FF F0"},
      {rfc2217::kSetParity, rfc2217::kParityEven, "FF FA 2C 03 03 FF F0"},
      {rfc2217::kPurgeData, rfc2217::kPurgeBoth, "FF FA 2C 0C 03 FF F0"},
      {rfc2217::kSetDataSize, 256, ""},  // wider than its byte
      {5, 1, ""},                        // a command the client does not make
  };
  for (const auto& [command, value, bytes] : requests)
    EXPECT_EQ(ToHex(client.Request(command, value)), bytes) << int{command} << " " << value;
  EXPECT_EQ(client.Awaited(), 4u);
}

// What the client made of the server's bytes, in one line: "data | sent back | events",
// then "| in force" when COM-PORT-OPTION and BINARY both ways are.
std::string Outcome(const ComPortClient& client, const ComPortInput& in) {
  static const char* kinds[] = {"ack",  "wrong", "unasked",   "refused",
                                "line", "modem", "malformed", "telnet error"};
  std::string events;
  for (const ComPortEvent& e : in.events)
    events += (events.empty() ? "" : ", ") + std::string(kinds[static_cast<int>(e.kind)]) + " " +
              std::to_string(e.command) + "/" + std::to_string(e.option) + " " +
              std::to_string(e.asked) + ">" + std::to_string(e.value);
  return ToHex(in.data) + " | " + ToHex(in.answer) + " | " + events +
         (client.ComPortAccepted() && client.BinaryBothWays() ? " | in force" : "");
}

TEST(ComPortControl, TheServersBytesAreSplitAndCheckedAgainstWhatWasAskedHoweverReadsCutThem) {
  using namespace rfc2217;
  struct Case {
    const char* name;
    std::vector<std::pair<std::uint8_t, std::uint32_t>> requests;
    const char* incoming;
    const char* outcome;
  } cases[] = {
      // clang-format off
      {"plain data, 0xFF doubled", {}, "F7 FF FF 03", "F7 FF 03 |  | "},
      {"agrees to all", {}, "FF FD 00 FF FB 00 FF FD 2C", " |  |  | in force"},
      {"refuses option 44", {}, "FF FD 00 FF FB 00 FF FE 2C", " |  | refused 0/44 0>0"},
      {"WONT to our WILL 44", {}, "FF FC 2C", " |  | refused 0/44 0>0"},
      {"refuses binary", {}, "FF FE 00 FF FD 2C", " |  | refused 0/0 0>0"},
      {"options we do not do are declined", {}, "FF FD 01 FF FB 01 FF FB 03 FF F1",
       " | FF FC 01 FF FE 01 FF FD 03 | "},
      {"speed acknowledged", {{kSetBaudRate, 9600}},
       "FF FD 00 FF FB 00 FF FD 2C FF FA 2C 65 00 00 25 80 FF F0", " |  | ack 1/0 9600>9600 | in force"},
      {"speed acknowledged with 0xFF in it", {{kSetBaudRate, 0x1FFFF}},
       "FF FA 2C 65 00 01 FF FF FF FF FF F0", " |  | ack 1/0 131071>131071"},
      {"another speed acknowledged", {{kSetBaudRate, 14400}}, "FF FA 2C 65 00 00 25 80 FF F0",
       " |  | wrong 1/0 14400>9600"},
      {"settings in turn, data and notifications between",
       {{kSetDataSize, 8}, {kSetParity, 1}, {kSetStopSize, 2}},
       "F7 FF FA 2C 66 08 FF F0 03 FF FA 2C 6A 60 FF F0 FF FA 2C 67 01 FF F0 FF FF FF FA 2C 6B 30 "
       "FF F0 FF FA 2C 68 02 FF F0 10",
       "F7 03 FF 10 |  | ack 2/0 8>8, line 0/0 0>96, ack 3/0 1>1, modem 0/0 0>48, ack 4/0 2>2"},
      {"unasked acknowledgement", {}, "FF FA 2C 67 03 FF F0", " |  | unasked 3/0 0>3"},
      {"acknowledgement too short", {{kSetBaudRate, 9600}}, "FF FA 2C 65 25 80 FF F0",
       " |  | malformed 1/0 0>0"},
      {"a question takes any value", {{kSetBaudRate, 0}}, "FF FA 2C 65 00 01 C2 00 FF F0",
       " |  | ack 1/0 0>115200"},
      {"IAC before a byte no command has", {}, "01 FF 07 02", "01 02 |  | telnet error 0/0 0>0"},
      {"subnegotiation cut short by a command", {{kSetParity, 3}}, "FF FA 2C 67 03 FF FC 2C 07",
       "07 |  | telnet error 0/44 0>0, refused 0/44 0>0"},
      // clang-format on
  };
  for (const Case& c : cases) {
    auto check = [&](const testing::Chunks& chunks, const std::string& how) {
      ComPortClient client;
      client.Begin();
      for (const auto& [command, value] : c.requests) client.Request(command, value);
      ComPortInput in;
      for (const auto& chunk : chunks) client.Receive(chunk.data(), chunk.size(), in);
      EXPECT_EQ(Outcome(client, in), c.outcome) << c.name << ", " << how;
      EXPECT_TRUE(client.Idle()) << c.name << ", " << how;
    };
    testing::ForEachSplit(FromHex(c.incoming), check);
  }
}

TEST(ComPortControl, AnOverlongSubnegotiationIsMarkedAndTheDataAfterItKept) {
  std::vector<std::uint8_t> stream = FromHex("FF FA 2C");
  stream.insert(stream.end(), 1000, 0x41);  // beyond TelnetDecoder::kMaxSubnegotiation
  for (std::uint8_t b : FromHex("FF F0 05")) stream.push_back(b);
  ComPortClient client;
  ComPortInput in;
  client.Receive(stream.data(), stream.size(), in);
  EXPECT_EQ(Outcome(client, in), "05 |  | telnet error 0/44 0>0");
}

}  // namespace
}  // namespace ornat
