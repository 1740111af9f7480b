// The protocol's rules in one place: the length of an answer by its function code, the
// address range, and the scanner that finds whole answers wherever they stand.

#include "modbus/protocol.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <utility>
#include <vector>

#include "support/line_texts.h"

namespace ornat {
namespace {

using testing::WithCrc;
using Bytes = std::vector<std::uint8_t>;

TEST(ModbusProtocol, AnAnswersLengthFollowsItsFunctionCode) {
  struct Case {
    std::uint8_t function, byte_count;
    std::size_t length;  // CRC included; 0: no answer begins so
  } cases[] = {
      {0x03, 2, 7}, {0x03, 16, 21},  {0x03, 20, 25}, {0x03, 0, 0}, {0x03, 1, 0}, {0x03, 3, 0},
      {0x06, 0, 8}, {0x06, 0x42, 8}, {0x10, 9, 8},   {0x83, 2, 5}, {0x86, 0, 5}, {0x90, 4, 5},
      {0x81, 1, 5}, {0x80, 1, 0},    {0x00, 2, 0},   {0x04, 2, 0}, {0x7F, 2, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(int(c.function));
    EXPECT_EQ(AnswerLength(c.function, c.byte_count), c.length);
  }
  for (const auto& [address, slave] : {std::pair{0, false}, {1, true}, {247, true}, {248, false}})
    EXPECT_EQ(IsSlaveAddress(address), slave) << address;
}

TEST(ModbusProtocol, TheScannerTakesEveryWholeAnswerWhereverItStands) {
  const Bytes a5 = WithCrc({0x05, 0x03, 0x02, 0x00, 0x10});
  const Bytes ex = WithCrc({0x0C, 0x83, 0x02});
  const Bytes echo6 = WithCrc({0x06, 0x06, 0x00, 0x04, 0x00, 0x03});
  auto cat = [](std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
  };
  Bytes bad = a5;
  bad[6] ^= 0x01;
  struct Case {
    const char* name;
    Bytes bytes;
    std::vector<std::pair<std::size_t, std::size_t>> found;  // at, length
  } cases[] = {
      {"alone", a5, {{0, 7}}},
      {"behind noise", cat({{0x11, 0x22, 0x33}, a5}), {{3, 7}}},
      {"before noise", cat({a5, {0x01, 0x99, 0x42}}), {{0, 7}}},
      {"two, with a byte between", cat({a5, {0x00}, ex}), {{0, 7}, {8, 5}}},
      {"a write's echo", echo6, {{0, 8}}},
      {"a bad CRC", bad, {}},
      {"address 0 or 248",
       cat({WithCrc({0x00, 0x03, 0x02, 0x00, 0x10}), WithCrc({0xF8, 0x03, 0x02, 0x00, 0x10})}),
       {}},
      {"too short", Bytes(a5.begin(), a5.begin() + 6), {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const auto found = FindAnswers(c.bytes);
    std::vector<std::pair<std::size_t, std::size_t>> got;
    for (const auto& f : found) got.emplace_back(f.at, f.length);
    EXPECT_EQ(got, c.found);
  }
}

}  // namespace
}  // namespace ornat
