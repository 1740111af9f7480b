#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "modbus/rtu_codec.h"

namespace ornat {
namespace {

// The CRC as the Modbus standard defines it, bit by bit.
std::uint16_t BitwiseCrc(const std::vector<std::uint8_t>& bytes) {
  std::uint16_t crc = 0xFFFF;
  for (std::uint8_t b : bytes) {
    crc ^= b;
    for (int i = 0; i < 8; ++i) crc = (crc & 1) ? (crc >> 1) ^ 0xA001 : crc >> 1;
  }
  return crc;
}

Frame FrameOf(const std::vector<std::uint8_t>& bytes) {
  Frame f{};
  std::copy(bytes.begin(), bytes.end(), f.begin());
  return f;
}

TEST(RtuCodec, BuildsTheRequestsTheWindowSendsByteForByte) {
  struct Case {
    std::uint8_t address, function;
    std::uint16_t reg, value;
    std::vector<std::uint8_t> expected;
  } cases[] = {
      {247, 3, 0, 8, {0xF7, 0x03, 0x00, 0x00, 0x00, 0x08, 0x50, 0x9A}},
      {1, 6, 6, 0xAA55, {0x01, 0x06, 0x00, 0x06, 0xAA, 0x55, 0xD7, 0x54}},
      {247, 6, 1, 247, {0xF7, 0x06, 0x00, 0x01, 0x00, 0xF7, 0x8D, 0x1A}},
      {247, 6, 2, 4, {0xF7, 0x06, 0x00, 0x02, 0x00, 0x04, 0x3D, 0x5F}},
      {1, 3, 0, 1, {0x01, 0x03, 0x00, 0x00, 0x00, 0x01, 0x84, 0x0A}},
      {5, 3, 0, 1, {0x05, 0x03, 0x00, 0x00, 0x00, 0x01, 0x85, 0x8E}},
      {248, 3, 0, 1, {0xF8, 0x03, 0x00, 0x00, 0x00, 0x01, 0x90, 0x63}},
      {5, 6, 2, 6, {0x05, 0x06, 0x00, 0x02, 0x00, 0x06, 0xA9, 0x8C}},
      {247, 6, 1, 5, {0xF7, 0x06, 0x00, 0x01, 0x00, 0x05, 0x0C, 0x9F}},
  };
  for (const Case& c : cases) {
    Frame f{};
    f.fill(0xEE);
    BuildRequest(f, c.address, c.function, c.reg, c.value);
    EXPECT_EQ(std::vector<std::uint8_t>(f.begin(), f.begin() + 8), c.expected);
    EXPECT_EQ(f[8], 0xEE) << "a builder writes bytes 0 to 7 only";
  }
}

TEST(RtuCodec, AReadWithCountZeroIsSentWithZeroInBytesFourAndFive) {
  Frame f{};
  f.fill(0xEE);  // so that the zeros are the builder's
  BuildRequest(f, 247, 3, 0, 0);
  EXPECT_EQ(f[4], 0);
  EXPECT_EQ(f[5], 0);
}

TEST(RtuCodec, TableCrcEqualsTheBitwiseDefinitionForRandomInputs) {
  std::mt19937 rng(12345);
  for (int round = 0; round < 2000; ++round) {
    std::vector<std::uint8_t> bytes(rng() % 300);
    for (auto& b : bytes) b = static_cast<std::uint8_t>(rng());
    ASSERT_EQ(Crc16(bytes.data(), static_cast<std::uint16_t>(bytes.size())), BitwiseCrc(bytes));
  }
}

TEST(RtuCodec, CrcOfNothingIsFFFFAndOverAWholeFrameIsZero) {
  EXPECT_EQ(Crc16(nullptr, 0), 0xFFFF);
  const std::uint8_t answer[] = {0x05, 0x03, 0x02, 0x00, 0x10, 0x48, 0x48};
  EXPECT_EQ(Crc16(answer, 5), 0x4848);
  EXPECT_EQ(Crc16(answer, 7), 0);
}

const std::vector<std::uint8_t> kAnswer = {0x05, 0x03, 0x02, 0x00, 0x10, 0x48, 0x48};

std::vector<std::uint8_t> Concat(std::vector<std::uint8_t> a, const std::vector<std::uint8_t>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

std::vector<std::uint8_t> Counting(int n) {
  std::vector<std::uint8_t> v;
  for (int i = 1; i <= n; ++i) v.push_back(static_cast<std::uint8_t>(i));
  return v;
}

TEST(RtuCodec, ValidatorDropsLeadingGarbageUntilTheCrcFitsOrItsAttemptsRunOut) {
  struct Case {
    const char* name;
    std::vector<std::uint8_t> received;
    bool valid;
    std::uint16_t count_after;
    std::vector<std::uint8_t> head_after;  // the first bytes of the buffer afterwards
  } cases[] = {
      {"answer as received", kAnswer, true, 7, kAnswer},
      {"two stray bytes", Concat({0xAA, 0x00}, kAnswer), true, 7, kAnswer},
      {"twelve stray bytes", Concat(std::vector<std::uint8_t>(12, 0x11), kAnswer), true, 7,
       kAnswer},
      {"thirteen stray bytes", Concat(std::vector<std::uint8_t>(13, 0x11), kAnswer), false, 7,
       kAnswer},
      {"21 counting bytes",
       Counting(21),
       false,
       8,
       {0x0E, 0x0F, 0x10, 0x11, 0x12, 0x13, 0x14, 0x15}},
      {"6 counting bytes", Counting(6), false, 4, {0x03, 0x04, 0x05, 0x06}},
      {"trailing zero byte", Concat(kAnswer, {0x00}), true, 8, Concat(kAnswer, {0x00})},
      {"trailing 0x01 byte", Concat(kAnswer, {0x01}), false, 4, {0x10, 0x48, 0x48, 0x01}},
  };
  for (const Case& c : cases) {
    Frame f = FrameOf(c.received);
    std::uint16_t rc = static_cast<std::uint16_t>(c.received.size());
    EXPECT_EQ(ValidateAnswer(f, rc), c.valid) << c.name;
    EXPECT_EQ(rc, c.count_after) << c.name;
    EXPECT_EQ(std::vector<std::uint8_t>(f.begin(), f.begin() + c.head_after.size()), c.head_after)
        << c.name;
  }
}

TEST(RtuCodec, ValidatorLeavesFourBytesOrFewerUntouched) {
  for (std::uint16_t n = 0; n <= 4; ++n) {
    Frame f = FrameOf({1, 2, 3, 4});
    Frame before = f;
    std::uint16_t rc = n;
    EXPECT_FALSE(ValidateAnswer(f, rc));
    EXPECT_EQ(rc, n);
    EXPECT_EQ(f, before);
  }
}

TEST(RtuCodec, AFailedValidationLeavesTheBytesBeyondTheCountAsTheyWere) {
  // 21 bytes, 13 drops: byte 8 onwards keeps the shifted tail of the last move.
  Frame f = FrameOf(Counting(21));
  f[21] = 0x77;
  std::uint16_t rc = 21;
  ASSERT_FALSE(ValidateAnswer(f, rc));
  EXPECT_EQ(rc, 8);
  EXPECT_EQ(f[21], 0x77);
  // After a failure the count is max(4, received - 13).
  for (std::uint16_t n = 5; n < 40; ++n) {
    Frame g{};
    for (std::uint16_t i = 0; i < n; ++i) g[i] = static_cast<std::uint8_t>(0x80 + i);
    std::uint16_t count = n;
    if (!ValidateAnswer(g, count)) {
      EXPECT_EQ(count, std::max(4, n - 13)) << n;
    }
  }
}

}  // namespace
}  // namespace ornat
