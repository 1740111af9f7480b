#include <gtest/gtest.h>

#include "serial/network/com_port_control.h"
#include "serial/network/telnet_codec.h"
#include "support/byte_splits.h"
#include "support/hex.h"

namespace ornat {
namespace {

using testing::FromHex;
using testing::ToHex;

std::string Describe(const std::vector<TelnetCommand>& commands) {
  std::string out;
  for (const TelnetCommand& c : commands) {
    out += (out.empty() ? "" : "; ") + std::string(c.well_formed ? "" : "!") +
           std::to_string(c.verb) + " " + std::to_string(c.option);
    if (!c.payload.empty()) out += " [" + ToHex(c.payload) + "]";
  }
  return out;
}

TEST(TelnetCodec, DataGoesOutWithEvery0xFFDoubled) {
  const std::vector<std::uint8_t> data = FromHex("F7 FF 03 FF FF 00");
  std::vector<std::uint8_t> out;
  AppendTelnetData(out, data.data(), data.size());
  EXPECT_EQ(ToHex(out), "F7 FF FF 03 FF FF FF FF 00");
}

TEST(TelnetCodec, IncomingBytesSplitIntoDataAndCommandsHoweverTheReadsCutThem) {
  struct Case {
    const char* name;
    const char* stream;
    const char* data;
    const char* commands;  // verb option [payload]; '!' before one not well formed
  } cases[] = {
      {"plain data", "F7 03 02 00 10", "F7 03 02 00 10", ""},
      {"doubled 0xFF is one data byte", "01 FF FF 02 FF FF", "01 FF 02 FF", ""},
      {"options between data bytes", "F7 FF FD 00 03 FF FB 2C 02", "F7 03 02", "253 0; 251 44"},
      {"notification between data bytes", "F7 03 FF FA 2C 6A 60 FF F0 02 00", "F7 03 02 00",
       "250 44 [6A 60]"},
      {"0xFF doubled inside a subnegotiation", "FF FA 2C 65 00 01 FF FF FF FF FF F0 AA", "AA",
       "250 44 [65 00 01 FF FF]"},
      {"NOP and GA", "01 FF F1 02 FF F9", "01 02", "241 0; 249 0"},
      {"IAC before a byte no command has", "01 FF 20 02", "01 02", "!32 0"},
      {"a subnegotiation cut short by a command", "FF FA 2C 65 00 FF FC 2C 07", "07",
       "!250 44 [65 00]; 252 44"},
  };
  for (const Case& c : cases) {
    testing::ForEachSplit(FromHex(c.stream),
                          [&](const testing::Chunks& chunks, const std::string& how) {
                            TelnetDecoder decoder;
                            std::vector<std::uint8_t> data;
                            std::vector<TelnetCommand> commands;
                            for (const auto& chunk : chunks)
                              decoder.Feed(chunk.data(), chunk.size(), data, commands);
                            EXPECT_EQ(ToHex(data), c.data) << c.name << ", " << how;
                            EXPECT_EQ(Describe(commands), c.commands) << c.name << ", " << how;
                            EXPECT_TRUE(decoder.Idle()) << c.name << ", " << how;
                          });
  }
}

TEST(TelnetCodec, AnOverlongSubnegotiationIsCutAndMarked) {
  std::vector<std::uint8_t> stream = FromHex("FF FA 2C");
  stream.insert(stream.end(), 1000, 0x41);
  stream.insert(stream.end(), {0xFF, 0xF0, 0x05});
  TelnetDecoder decoder;
  std::vector<std::uint8_t> data;
  std::vector<TelnetCommand> commands;
  decoder.Feed(stream.data(), stream.size(), data, commands);
  ASSERT_EQ(commands.size(), 1u);
  EXPECT_FALSE(commands[0].well_formed);
  EXPECT_EQ(commands[0].payload.size(), TelnetDecoder::kMaxSubnegotiation);
  EXPECT_EQ(ToHex(data), "05");
}

std::string Describe(const std::vector<ComPortEvent>& events) {
  static const char* kinds[] = {"ack",        "wrong",       "unasked",   "refused",
                                "line state", "modem state", "malformed", "telnet error"};
  std::string out;
  for (const ComPortEvent& e : events)
    out += (out.empty() ? "" : "; ") + std::string(kinds[static_cast<int>(e.kind)]) + " " +
           std::to_string(e.command) + "/" + std::to_string(e.option) + " " +
           std::to_string(e.asked) + "->" + std::to_string(e.value);
  return out;
}

TEST(ComPortControl, OpensWithBinaryBothWaysAndComPortOptionAndWritesCommandsAsTheWireHasThem) {
  ComPortClient client;
  EXPECT_EQ(ToHex(client.Begin()), "FF FB 00 FF FD 00 FF FB 2C");
  EXPECT_EQ(ToHex(client.Request(rfc2217::kSetBaudRate, 9600)), "FF FA 2C 01 00 00 25 80 FF F0");
  EXPECT_EQ(ToHex(client.Request(rfc2217::kSetBaudRate, 0x0001FFFF)),
            "FF FA 2C 01 00 01 FF FF FF FF FF F0");
  EXPECT_EQ(ToHex(client.Request(rfc2217::kSetParity, rfc2217::kParityEven)),
            "FF FA 2C 03 03 FF F0");
  EXPECT_EQ(ToHex(client.Request(rfc2217::kPurgeData, rfc2217::kPurgeBoth)),
            "FF FA 2C 0C 03 FF F0");
  EXPECT_TRUE(client.Request(rfc2217::kSetDataSize, 256).empty());
  EXPECT_TRUE(client.Request(5, 1).empty());
  EXPECT_EQ(client.Awaited(), 4u);
}

TEST(ComPortControl, TheServersAnswersAreCheckedAgainstWhatWasAskedHoweverTheReadsCutThem) {
  struct Case {
    const char* name;
    std::vector<std::pair<std::uint8_t, std::uint32_t>> requests;
    const char* incoming;
    const char* data;
    const char* answer;  // what the client sends back
    const char* events;
    bool accepted;  // COM-PORT-OPTION and BINARY both ways in force afterwards
  } cases[] = {
      {"a server that agrees to all", {}, "FF FD 00 FF FB 00 FF FD 2C", "", "", "", true},
      {"refuses COM-PORT-OPTION",
       {},
       "FF FD 00 FF FB 00 FF FE 2C",
       "",
       "",
       "refused 0/44 0->0",
       false},
      {"answers WONT to our WILL 44", {}, "FF FC 2C", "", "", "refused 0/44 0->0", false},
      {"refuses binary", {}, "FF FE 00 FF FD 2C", "", "", "refused 0/0 0->0", false},
      {"options we do not do are declined",
       {},
       "FF FD 01 FF FB 01 FF FB 03",
       "",
       "FF FC 01 FF FE 01 FF FD 03",
       "",
       false},
      {"speed acknowledged",
       {{rfc2217::kSetBaudRate, 9600}},
       "FF FD 00 FF FB 00 FF FD 2C FF FA 2C 65 00 00 25 80 FF F0",
       "",
       "",
       "ack 1/0 9600->9600",
       true},
      {"speed acknowledged with another value",
       {{rfc2217::kSetBaudRate, 14400}},
       "FF FA 2C 65 00 00 25 80 FF F0",
       "",
       "",
       "wrong 1/0 14400->9600",
       false},
      {"settings acknowledged in turn, data and notifications between",
       {{rfc2217::kSetDataSize, 8}, {rfc2217::kSetParity, 1}, {rfc2217::kSetStopSize, 2}},
       "F7 FF FA 2C 66 08 FF F0 03 FF FA 2C 6A 60 FF F0 FF FA 2C 67 01 FF F0 FF FF FF FA 2C 6B "
       "30 FF F0 FF FA 2C 68 02 FF F0 10",
       "F7 03 FF 10",
       "",
       "ack 2/0 8->8; line state 0/0 0->96; ack 3/0 1->1; modem state 0/0 0->48; ack 4/0 2->2",
       false},
      {"an acknowledgement nobody asked for",
       {},
       "FF FA 2C 67 03 FF F0",
       "",
       "",
       "unasked 3/0 0->3",
       false},
      {"an acknowledgement of the wrong length",
       {{rfc2217::kSetBaudRate, 9600}},
       "FF FA 2C 65 25 80 FF F0",
       "",
       "",
       "malformed 1/0 0->0",
       false},
      {"a question of the current speed takes any answer",
       {{rfc2217::kSetBaudRate, 0}},
       "FF FA 2C 65 00 01 C2 00 FF F0",
       "",
       "",
       "ack 1/0 0->115200",
       false},
      {"Telnet the server got wrong",
       {},
       "01 FF 07 02",
       "01 02",
       "",
       "telnet error 0/0 0->0",
       false},
  };
  for (const Case& c : cases) {
    testing::ForEachSplit(
        FromHex(c.incoming), [&](const testing::Chunks& chunks, const std::string& how) {
          ComPortClient client;
          client.Begin();
          for (const auto& [command, value] : c.requests) client.Request(command, value);
          ComPortInput in;
          for (const auto& chunk : chunks) client.Receive(chunk.data(), chunk.size(), in);
          EXPECT_EQ(ToHex(in.data), c.data) << c.name << ", " << how;
          EXPECT_EQ(ToHex(in.answer), c.answer) << c.name << ", " << how;
          EXPECT_EQ(Describe(in.events), c.events) << c.name << ", " << how;
          EXPECT_EQ(client.ComPortAccepted() && client.BinaryBothWays(), c.accepted) << c.name;
          EXPECT_TRUE(client.Idle()) << c.name << ", " << how;
        });
  }
}

}  // namespace
}  // namespace ornat
