// The simulated detector's rules, as the window and the unit-test line rely on them:
// addressing, exceptions, changes after the echo, alarm reset, service blocks, line
// faults, several detectors on one line, framing of the byte stream and the console.

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <random>
#include <string>

#include "model/bus.h"
#include "model/console.h"
#include "model/detector_model.h"
#include "model/faults.h"
#include "model/frame_assembler.h"
#include "model/modbus_crc.h"
#include "support/hex.h"

namespace ornat::sim {
namespace {

using namespace std::chrono_literals;
using testing::FromHex;
using testing::ToHex;

TEST(SimCrc, MatchesTheFramesOfTheWindowAndTheDetector) {
  const struct {
    const char* frame;
  } cases[] = {
      {"F7 03 00 00 00 08 50 9A"}, {"01 06 00 06 AA 55 D7 54"}, {"F7 06 00 01 00 F7 8D 1A"},
      {"F7 06 00 02 00 04 3D 5F"}, {"05 03 02 00 10 48 48"},
  };
  for (const auto& c : cases) {
    const Bytes frame = FromHex(c.frame);
    Bytes rebuilt(frame.begin(), frame.end() - 2);
    AppendCrc(rebuilt);
    EXPECT_EQ(ToHex(rebuilt), c.frame);
    EXPECT_TRUE(HasGoodCrc(frame)) << c.frame;
    EXPECT_EQ(ModbusCrc16(frame), 0) << "a whole frame, CRC included, sums to 0: " << c.frame;
  }
  EXPECT_EQ(ModbusCrc16({}), 0xFFFF);
  EXPECT_FALSE(HasGoodCrc(FromHex("F7 03 00 00 00 08 50 9B")));
  EXPECT_FALSE(HasGoodCrc(FromHex("FF FF 00")));
}

TEST(SimDetectorModel, AnswersRequestsAsItsRegisterMapSays) {
  const struct {
    const char* what;
    const char* request;
    const char* answer;  // empty: silence
  } cases[] = {
      {"parameter query", "F7 03 00 00 00 08 50 9A",
       "F7 03 10 00 10 00 F7 00 04 00 00 00 00 00 00 00 00 00 00 51 4E"},
      {"bus-search probe", "F7 03 00 00 00 01 90 9C", "F7 03 02 00 10 71 9D"},
      {"two registers from 1", "F7 03 00 01 00 02 81 5D", "F7 03 04 00 F7 00 04 DC 0D"},
      {"device record", "F7 03 F0 00 00 0A E2 5B",
       "F7 03 14 01 49 02 07 01 22 88 65 07 E3 0A 11 00 00 3A 2C 00 03 00 01 69 63"},
      {"sensor readings", "F7 03 F2 00 00 03 23 E5", "F7 03 06 00 02 01 9F 00 EC 47 4E"},
      {"supply and self-test", "F7 03 F3 00 00 02 E3 D9", "F7 03 04 00 F1 00 00 3D CF"},
      {"last word of a block", "F7 03 F3 01 00 01 F2 18", "F7 03 02 00 00 70 51"},
      {"another address", "05 03 00 00 00 01 85 8E", ""},
      {"address 6", "06 03 00 00 00 01 85 BD", ""},
      {"CRC fails", "F7 03 00 00 00 08 50 9B", ""},
      {"count 0", "F7 03 00 00 00 00 51 5C", "F7 83 03 E1 03"},
      {"count 126", "F7 03 00 00 00 7E D1 7C", "F7 83 03 E1 03"},
      {"past register 7", "F7 03 00 00 00 09 91 5A", "F7 83 02 20 C3"},
      {"register 8", "F7 03 00 08 00 01 11 5E", "F7 83 02 20 C3"},
      {"past the device record", "F7 03 F0 00 00 0B 23 9B", "F7 83 02 20 C3"},
      {"past the readings", "F7 03 F2 02 00 02 43 E5", "F7 83 02 20 C3"},
      {"no block at F100", "F7 03 F1 00 00 01 A2 60", "F7 83 02 20 C3"},
      {"write identity", "F7 06 00 00 00 11 5D 50", "F7 86 02 23 93"},
      {"write state", "F7 06 00 03 00 00 6D 5C", "F7 86 02 23 93"},
      {"write register 8", "F7 06 00 08 00 00 1C 9E", "F7 86 02 23 93"},
      {"write service block", "F7 06 F0 00 00 01 6F 9C", "F7 86 02 23 93"},
      {"address 0", "F7 06 00 01 00 00 CC 9C", "F7 86 03 E2 53"},
      {"address 248", "F7 06 00 01 00 F8 CD 1E", "F7 86 03 E2 53"},
      {"speed code 0", "F7 06 00 02 00 00 3C 9C", "F7 86 03 E2 53"},
      {"speed code 9", "F7 06 00 02 00 09 FC 9A", "F7 86 03 E2 53"},
      {"tactic 1", "F7 06 00 04 00 01 1D 5D", "F7 86 03 E2 53"},
      {"tactic 10", "F7 06 00 04 00 0A 5C 9A", "F7 86 03 E2 53"},
      {"latching 2", "F7 06 00 05 00 02 0C 9C", "F7 86 03 E2 53"},
      {"test mode 2", "F7 06 00 07 00 02 AD 5C", "F7 86 03 E2 53"},
      {"reset with another value", "F7 06 00 06 12 34 70 2A", "F7 86 03 E2 53"},
      {"function 4", "F7 04 00 00 00 01 25 5C", "F7 84 01 62 F2"},
      {"function 16", "F7 10 00 01 00 01 02 00 05 48 26", "F7 90 01 6D F2"},
      {"tactic 3 echoed", "F7 06 00 04 00 03 9C 9C", "F7 06 00 04 00 03 9C 9C"},
      {"alarm reset echoed", "F7 06 00 06 AA 55 C3 C2", "F7 06 00 06 AA 55 C3 C2"},
      {"broadcast read", "00 03 00 00 00 01 85 DB", ""},
  };
  for (const auto& c : cases) {
    DetectorModel model;
    const Answer a = model.HandleFrame(FromHex(c.request));
    EXPECT_EQ(ToHex(a.bytes), c.answer) << c.what;
    EXPECT_TRUE(a.change.empty()) << c.what;
  }
}

TEST(SimDetectorModel, KeepsAcceptedWritesAndRefusedOnesLeaveNoTrace) {
  const struct {
    const char* request;
    std::uint16_t reg;
    std::uint16_t value;
  } cases[] = {
      {"F7 06 00 04 00 03 9C 9C", kRegTactic, 3},     {"F7 06 00 04 00 01 1D 5D", kRegTactic, 0},
      {"F7 06 00 05 00 01 4C 9D", kRegLatching, 1},   {"F7 06 00 05 00 02 0C 9C", kRegLatching, 0},
      {"F7 06 00 07 00 01 ED 5D", kRegTestMode, 1},   {"F7 06 00 07 00 02 AD 5C", kRegTestMode, 0},
      {"F7 06 00 06 AA 55 C3 C2", kRegAlarmReset, 0},
  };
  for (const auto& c : cases) {
    DetectorModel model;
    model.HandleFrame(FromHex(c.request));
    EXPECT_EQ(model.Register(c.reg), c.value) << c.request;
  }
}

TEST(SimDetectorModel, EchoesAnAddressChangeBeforeTakingTheNewAddress) {
  DetectorModel model;
  const Answer a = model.HandleFrame(FromHex("F7 06 00 01 00 05 0C 9F"));
  EXPECT_EQ(ToHex(a.bytes), "F7 06 00 01 00 05 0C 9F");
  EXPECT_EQ(a.change, (PendingChange{5, std::nullopt}));
  // Until the echo is out the detector is still at 247.
  EXPECT_EQ(model.address(), 247);
  EXPECT_EQ(ToHex(model.HandleFrame(FromHex("F7 03 00 00 00 01 90 9C")).bytes),
            "F7 03 02 00 10 71 9D");

  model.CommitAfterAnswer(a.change);
  EXPECT_EQ(model.address(), 5);
  EXPECT_TRUE(model.HandleFrame(FromHex("F7 03 00 00 00 01 90 9C")).bytes.empty());
  EXPECT_EQ(ToHex(model.HandleFrame(FromHex("05 03 00 00 00 01 85 8E")).bytes),
            "05 03 02 00 10 48 48");
}

TEST(SimDetectorModel, EchoesASpeedChangeAtTheOldSpeed) {
  DetectorModel model;
  const Answer a = model.HandleFrame(FromHex("F7 06 00 02 00 06 BC 9E"));
  EXPECT_EQ(ToHex(a.bytes), "F7 06 00 02 00 06 BC 9E");
  EXPECT_EQ(a.change, (PendingChange{std::nullopt, 6}));
  EXPECT_EQ(model.bit_rate(), 9600u);
  model.CommitAfterAnswer(a.change);
  EXPECT_EQ(model.speed_code(), 6);
  EXPECT_EQ(model.bit_rate(), 19200u);
}

TEST(SimDetectorModel, AlarmResetEndsAnAlarmButNotAFault) {
  const struct {
    std::uint16_t before;
    std::uint16_t after;
  } cases[] = {
      {kStateAlarm, kStateNormal}, {kStateFault, kStateFault}, {kStateNormal, kStateNormal}};
  for (const auto& c : cases) {
    DetectorModel model;
    model.SetState(c.before);
    EXPECT_EQ(ToHex(model.HandleFrame(FromHex("F7 06 00 06 AA 55 C3 C2")).bytes),
              "F7 06 00 06 AA 55 C3 C2");
    EXPECT_EQ(model.state(), c.after) << "from state " << c.before;
    EXPECT_EQ(model.Register(kRegAlarmReset), 0);
  }
}

TEST(SimDetectorModel, ServiceReadingsFollowTheStateAndAlarmsAreCounted) {
  DetectorModel model;
  model.SetState(kStateAlarm);
  EXPECT_EQ(ToHex(model.HandleFrame(FromHex("F7 03 00 03 00 01 60 9C")).bytes),
            "F7 03 02 00 01 B1 91");
  EXPECT_EQ(ToHex(model.HandleFrame(FromHex("F7 03 F2 00 00 02 E2 25")).bytes),
            "F7 03 04 00 B4 0B 36 AB 3C");
  EXPECT_EQ(ToHex(model.HandleFrame(FromHex("F7 03 F0 08 00 02 62 5F")).bytes),
            "F7 03 04 00 04 00 01 EC 3D");
  model.SetState(kStateFault);
  EXPECT_EQ(ToHex(model.HandleFrame(FromHex("F7 03 F3 01 00 01 F2 18")).bytes),
            "F7 03 02 00 01 B1 91");
  EXPECT_EQ(model.Register(0xF009), 2);
  model.SetState(kStateFault);
  EXPECT_EQ(model.Register(0xF009), 2) << "staying in fault is not a new fault";
}

TEST(SimDetectorModel, CarriesOutABroadcastWriteWithoutAnswering) {
  DetectorModel model;
  const Answer a = model.HandleFrame(FromHex("00 06 00 04 00 03 89 DB"));
  EXPECT_TRUE(a.bytes.empty());
  EXPECT_EQ(model.Register(kRegTactic), 3);
}

using Chunk = std::pair<std::chrono::microseconds, std::string>;

std::vector<Chunk> Chunks(const Reply& r) {
  std::vector<Chunk> out;
  for (const ReplyChunk& c : r.chunks) out.emplace_back(c.silence_before, ToHex(c.bytes));
  return out;
}

TEST(SimFaults, ShapeTheAnswerAsConfigured) {
  const char* kQuery = "F7 03 00 00 00 08 50 9A";
  const char* kQueryAnswer = "F7 03 10 00 10 00 F7 00 04 00 00 00 00 00 00 00 00 00 00 51 4E";
  const struct {
    const char* what;
    Faults faults;
    const char* request;
    std::vector<Chunk> chunks;
  } cases[] = {
      {"none", {}, kQuery, {{5000us, kQueryAnswer}}},
      {"silent", {.silent = true}, kQuery, {}},
      {"bad CRC always",
       {.bad_crc_probability = 1.0},
       kQuery,
       {{5000us, "F7 03 10 00 10 00 F7 00 04 00 00 00 00 00 00 00 00 00 00 51 B1"}}},
      {"echo", {.echo_request = true}, kQuery, {{0us, kQuery}, {5000us, kQueryAnswer}}},
      {"stray bytes",
       {.stray_bytes = 3},
       "F7 03 00 00 00 01 90 9C",
       {{5000us, "FF FF FF F7 03 02 00 10 71 9D"}}},
      {"pause after 10 bytes",
       {.pause = 200ms, .pause_after = 10},
       kQuery,
       {{5000us, "F7 03 10 00 10 00 F7 00 04 00"}, {200000us, "00 00 00 00 00 00 00 00 00 51 4E"}}},
      {"pause in the middle",
       {.pause = 50ms},
       "F7 03 00 00 00 01 90 9C",
       {{5000us, "F7 03 02"}, {50000us, "00 10 71 9D"}}},
      {"forced exception on a read", {.forced_exception = 4}, kQuery, {{5000us, "F7 83 04 A0 C1"}}},
      {"forced exception on a write",
       {.forced_exception = 4},
       "F7 06 00 04 00 03 9C 9C",
       {{5000us, "F7 86 04 A3 91"}}},
      {"five registers",
       {.query_registers = 5},
       kQuery,
       {{5000us, "F7 03 0A 00 10 00 F7 00 04 00 00 00 00 D7 4E"}}},
      {"six registers",
       {.query_registers = 6},
       kQuery,
       {{5000us, "F7 03 0C 00 10 00 F7 00 04 00 00 00 00 00 00 D6 02"}}},
      {"five registers leave other reads alone",
       {.query_registers = 5},
       "F7 03 F0 00 00 0A E2 5B",
       {{5000us, "F7 03 14 01 49 02 07 01 22 88 65 07 E3 0A 11 00 00 3A 2C 00 03 00 01 69 63"}}},
      {"late",
       {.extra_delay = 600ms},
       "F7 03 00 00 00 01 90 9C",
       {{605000us, "F7 03 02 00 10 71 9D"}}},
      {"answering as 4",
       {.answer_from = 4},
       kQuery,
       {{5000us, "04 03 10 00 10 00 F7 00 04 00 00 00 00 00 00 00 00 00 00 66 1F"}}},
      {"answering as 4, a write's echo",
       {.answer_from = 4},
       "F7 06 00 04 00 03 9C 9C",
       {{5000us, "04 06 00 04 00 03 88 5F"}}},
      {"answering as 4, an exception",
       {.forced_exception = 4, .answer_from = 4},
       "F7 06 00 04 00 03 9C 9C",
       {{5000us, "04 86 04 53 A2"}}},
      {"answering as 4 behind an echoing adapter: the echo is the request's",
       {.echo_request = true, .answer_from = 4},
       "F7 06 00 04 00 03 9C 9C",
       {{0us, "F7 06 00 04 00 03 9C 9C"}, {5000us, "04 06 00 04 00 03 88 5F"}}},
      {"another address stays silent, echo or not",
       {.echo_request = true},
       "05 03 00 00 00 01 85 8E",
       {}},
  };
  for (const auto& c : cases) {
    DetectorModel model;
    std::mt19937 rng(1);
    const Reply r = Respond(model, FromHex(c.request), c.faults, 5ms, rng);
    EXPECT_EQ(Chunks(r), c.chunks) << c.what;
  }
}

TEST(SimFaults, ADetectorAnsweringAsAnotherCarriesOutTheWriteAllTheSame) {
  DetectorModel model;
  std::mt19937 rng(1);
  Respond(model, FromHex("F7 06 00 04 00 03 9C 9C"), Faults{.answer_from = 4}, 5ms, rng);
  EXPECT_EQ(model.Register(kRegTactic), 3);
  // It still hears only its own address.
  EXPECT_TRUE(Respond(model, FromHex("04 03 00 00 00 01 84 5F"), Faults{.answer_from = 4}, 5ms, rng)
                  .silent());
}

TEST(SimFaults, ASilentOrExceptionForcedDetectorDoesNotCarryOutWrites) {
  for (const Faults& f : {Faults{.silent = true}, Faults{.forced_exception = 2}}) {
    DetectorModel model;
    std::mt19937 rng(1);
    const Reply r = Respond(model, FromHex("F7 06 00 01 00 05 0C 9F"), f, 5ms, rng);
    EXPECT_TRUE(r.commits.empty());
    Respond(model, FromHex("F7 06 00 04 00 03 9C 9C"), f, 5ms, rng);
    EXPECT_EQ(model.Register(kRegTactic), 0);
  }
  // A corrupted answer still means the detector took the request.
  DetectorModel model;
  std::mt19937 rng(1);
  const Reply r = Respond(model, FromHex("F7 06 00 01 00 05 0C 9F"),
                          Faults{.bad_crc_probability = 1}, 5ms, rng);
  ASSERT_EQ(r.commits.size(), 1u);
  EXPECT_EQ(r.commits[0].change.address, 5);
  EXPECT_FALSE(HasGoodCrc(r.AllBytes()));
}

TEST(SimFaults, CorruptsAboutTheGivenShareOfCrcs) {
  DetectorModel model;
  std::mt19937 rng(7);
  int bad = 0;
  for (int i = 0; i < 1000; ++i) {
    const Reply r = Respond(model, FromHex("F7 03 00 00 00 01 90 9C"),
                            Faults{.bad_crc_probability = 0.5}, 5ms, rng);
    if (!HasGoodCrc(r.AllBytes())) ++bad;
  }
  EXPECT_GT(bad, 400);
  EXPECT_LT(bad, 600);
}

TEST(SimScheduleBytes, PacesBytesAtTenBitsEachAfterEachSilence) {
  Reply r;
  r.chunks = {{5000us, FromHex("F7 03 02")}, {200000us, FromHex("00 10 71 9D")}};
  const std::vector<TimedByte> s = ScheduleBytes(r, 9600);
  ASSERT_EQ(s.size(), 7u);
  // 10 bits at 9600 bit/s: 1041.666 us a byte.
  EXPECT_EQ(s[0].at, 5000us + 1041666ns);
  EXPECT_EQ(s[2].at, 5000us + 3125000ns);
  EXPECT_EQ(s[3].at, 5000us + 3125000ns + 200000us + 1041666ns);
  EXPECT_EQ(s[6].at, 5000us + 3125000ns + 200000us + 4166666ns);
  EXPECT_EQ(s[6].byte, 0x9D);
  EXPECT_EQ(ScheduleBytes(r, 57600)[2].at, 5000us + 520833ns);
  EXPECT_EQ(ByteDuration(1200), 8333333ns);
}

TEST(SimScheduleBytes, AnUnpacedReplyComesWholeAtTheEndOfEachSilence) {
  Reply r;
  r.unpaced = true;
  r.chunks = {{0us, FromHex("25 03 00 00 00 01 82 EE")}, {1000us, FromHex("25 03 02 00 10 C9 8F")}};
  const std::vector<TimedByte> s = ScheduleBytes(r, 57600);
  ASSERT_EQ(s.size(), 15u);
  for (std::size_t i = 0; i < 8; ++i) EXPECT_EQ(s[i].at, 0us) << i;
  for (std::size_t i = 8; i < 15; ++i) EXPECT_EQ(s[i].at, 1000us) << i;
  // A detector's unpaced fault gives such a reply: its answer after the turnaround.
  DetectorModel m(37);
  std::mt19937 rng(1);
  const Reply answer =
      Respond(m, FromHex("25 03 00 00 00 01 82 EE"), Faults{.unpaced = true}, 1ms, rng);
  EXPECT_TRUE(answer.unpaced);
  const std::vector<TimedByte> a = ScheduleBytes(answer, 57600);
  ASSERT_EQ(a.size(), 7u);
  EXPECT_EQ(a.front().at, 1ms);
  EXPECT_EQ(a.back().at, 1ms);
  EXPECT_EQ(answer.AllBytes(), FromHex("25 03 02 00 10 C9 8F"));
  // The bus passes it on.
  Bus bus;
  bus.Add(DetectorModel(37), Faults{.unpaced = true});
  EXPECT_TRUE(bus.HandleFrame(FromHex("25 03 00 00 00 01 82 EE"), 9600).unpaced);
}

TEST(SimBus, OnlyTheDetectorsSearchedForAnswerABusSearch) {
  Bus bus;
  bus.Add(DetectorModel(1));
  bus.Add(DetectorModel(5));
  DetectorModel other(9);
  other.SetIdentity(0x0011);
  bus.Add(other);
  std::vector<std::string> answers;
  for (int address = 1; address <= 248; ++address) {
    Bytes probe{static_cast<std::uint8_t>(address), 3, 0, 0, 0, 1};
    AppendCrc(probe);
    const Reply r = bus.HandleFrame(probe, 9600);
    if (!r.silent()) answers.push_back(ToHex(r.AllBytes()));
  }
  EXPECT_EQ(answers, (std::vector<std::string>{"01 03 02 00 10 B9 88", "05 03 02 00 10 48 48",
                                               "09 03 02 00 11 99 89"}));
}

TEST(SimBus, DetectorsUnderstandOnlyTheirOwnLineSpeed) {
  const struct {
    std::uint16_t speed_code;
    std::uint32_t line_rate;
    bool answers;
  } cases[] = {
      {4, 9600, true},  {4, 19200, false}, {4, 4800, false},  {6, 19200, true}, {5, 14400, true},
      {8, 57600, true}, {8, 56000, false}, {8, 38400, false}, {4, 0, true},  // speed not modelled
  };
  for (const auto& c : cases) {
    Bus bus;
    DetectorModel m;
    m.SetSpeedCode(c.speed_code);
    bus.Add(m);
    const Reply r = bus.HandleFrame(FromHex("F7 03 00 00 00 01 90 9C"), c.line_rate);
    EXPECT_EQ(!r.silent(), c.answers) << "code " << c.speed_code << " at " << c.line_rate;
    if (!c.answers) {
      EXPECT_EQ(r.note, "foreign-speed");
    }
  }
}

TEST(SimBus, DoesNotCarryOutRequestsHeardAtAForeignSpeed) {
  Bus bus(BusOptions{.garble_foreign_speed = true});
  bus.Add(DetectorModel());
  const Reply r = bus.HandleFrame(FromHex("F7 06 00 04 00 03 9C 9C"), 19200);
  EXPECT_EQ(r.note, "garbled");
  EXPECT_EQ(r.AllBytes().size(), 8u);
  EXPECT_TRUE(r.commits.empty());
  EXPECT_EQ(bus.at(0).model.Register(kRegTactic), 0);
}

TEST(SimBus, ABroadcastReachesEveryDetectorAndNoneAnswers) {
  Bus bus;
  bus.Add(DetectorModel(1));
  bus.Add(DetectorModel(5));
  const Reply r = bus.HandleFrame(FromHex("00 06 00 04 00 03 89 DB"), 9600);
  EXPECT_TRUE(r.silent());
  EXPECT_EQ(bus.at(0).model.Register(kRegTactic), 3);
  EXPECT_EQ(bus.at(1).model.Register(kRegTactic), 3);
}

TEST(SimBus, EveryDetectorAtOneAddressAnswersAndOverlappingBytesAreAnded) {
  // Two at 5, the first in alarm (register 3 reads 1), the second answering at once or
  // 20 ms later; a detector still answering an earlier request does not hear.
  for (const auto delay : {0ms, 20ms}) {
    Bus bus;
    DetectorModel first(5);
    first.SetState(kStateAlarm);
    bus.Add(first);
    bus.Add(DetectorModel(5), Faults{.extra_delay = delay});
    const Reply r = bus.HandleFrame(FromHex("05 03 00 03 00 01 75 8E"), 9600);
    EXPECT_EQ(r.Answering(), (std::vector<std::size_t>{0, 1}));
    bool collided = false;
    Bytes wire;
    for (const TimedByte& b : ScheduleOnWire(r, 9600, &collided)) wire.push_back(b.byte);
    EXPECT_EQ(ToHex(wire),
              delay == 0ms ? "05 03 02 00 00 08 04" : "05 03 02 00 01 88 44 05 03 02 00 00 49 84");
    EXPECT_EQ(collided, delay == 0ms);
    EXPECT_EQ(bus.HandleFrame(FromHex("05 03 00 03 00 01 75 8E"), 9600, {true, false}).Answering(),
              std::vector<std::size_t>{1});
  }
}

TEST(SimBus, AppliesAnAddressChangeOnlyWhenCommitted) {
  Bus bus;
  bus.Add(DetectorModel(1));
  bus.Add(DetectorModel(247));
  const Reply r = bus.HandleFrame(FromHex("F7 06 00 01 00 05 0C 9F"), 9600);
  EXPECT_EQ(ToHex(r.AllBytes()), "F7 06 00 01 00 05 0C 9F");
  ASSERT_EQ(r.commits.size(), 1u);
  EXPECT_EQ(r.commits[0].detector, 1u);
  EXPECT_EQ(bus.Find(5), std::nullopt);
  bus.CommitAfterAnswer(r);
  EXPECT_EQ(bus.Find(5), 1u);
  EXPECT_EQ(bus.Find(247), std::nullopt);
}

TEST(SimFrameAssembler, CutsTheByteStreamIntoRequests) {
  struct Feed {
    std::chrono::microseconds at;
    const char* bytes;
  };
  struct Expected {
    FrameAssembler::Event::Kind kind;
    const char* bytes;
  };
  constexpr auto kFrame = FrameAssembler::Event::Kind::kFrame;
  constexpr auto kNoise = FrameAssembler::Event::Kind::kNoise;
  const struct {
    const char* what;
    std::vector<Feed> feeds;
    std::vector<Expected> events;
  } cases[] = {
      {"one read", {{0us, "F7 03 00 00 00 08 50 9A"}}, {{kFrame, "F7 03 00 00 00 08 50 9A"}}},
      {"two reads within the gap",
       {{0us, "F7 03 00 00"}, {2000us, "00 08 50 9A"}},
       {{kFrame, "F7 03 00 00 00 08 50 9A"}}},
      {"noise in front",
       {{0us, "00 11 F7 03 00 00 00 08 50 9A"}},
       {{kNoise, "00 11"}, {kFrame, "F7 03 00 00 00 08 50 9A"}}},
      {"bad CRC then silence",
       {{0us, "F7 03 00 00 00 08 50 9B"}},
       {{kNoise, "F7 03 00 00 00 08 50 9B"}}},
      {"a fragment, a gap, a request",
       {{0us, "F7 03 00"}, {10000us, "F7 03 00 00 00 01 90 9C"}},
       {{kNoise, "F7 03 00"}, {kFrame, "F7 03 00 00 00 01 90 9C"}}},
      {"a longer frame ends with the gap",
       {{0us, "F7 10 00 01 00 01 02 00 05 48 26"}},
       {{kFrame, "F7 10 00 01 00 01 02 00 05 48 26"}}},
      {"two requests back to back",
       {{0us, "F7 03 00 00 00 08 50 9A 05 03 00 00 00 01 85 8E"}},
       {{kFrame, "F7 03 00 00 00 08 50 9A"}, {kFrame, "05 03 00 00 00 01 85 8E"}}},
  };
  for (const auto& c : cases) {
    FrameAssembler a(FrameAssembler::GapForBitRate(9600));
    std::vector<FrameAssembler::Event> got;
    std::chrono::nanoseconds last{0};
    for (const Feed& f : c.feeds) {
      for (auto& e : a.Feed(FromHex(f.bytes), f.at)) got.push_back(e);
      last = f.at;
    }
    ASSERT_TRUE(!a.Deadline() || *a.Deadline() > last) << c.what;
    EXPECT_TRUE(a.Poll(last + 1ms).empty()) << c.what << ": the gap at 9600 is 3.6 ms";
    for (auto& e : a.Poll(last + 4ms)) got.push_back(e);
    EXPECT_EQ(a.pending(), 0u) << c.what;
    ASSERT_EQ(got.size(), c.events.size()) << c.what;
    for (std::size_t i = 0; i < got.size(); ++i) {
      EXPECT_EQ(got[i].kind, c.events[i].kind) << c.what << ", event " << i;
      EXPECT_EQ(ToHex(got[i].bytes), c.events[i].bytes) << c.what << ", event " << i;
    }
  }
  EXPECT_EQ(FrameAssembler::GapForBitRate(1200), 29166666ns);
  EXPECT_EQ(FrameAssembler::GapForBitRate(57600), 1750000ns);
}

TEST(SimConsole, CommandsChangeTheSelectedDetector) {
  const struct {
    const char* command;
    bool ok;
    std::function<bool(const Bus&)> holds;
  } cases[] = {
      {"alarm", true, [](const Bus& b) { return b.at(0).model.state() == kStateAlarm; }},
      {"fault", true, [](const Bus& b) { return b.at(0).model.state() == kStateFault; }},
      {"tactic 3", true, [](const Bus& b) { return b.at(0).model.Register(kRegTactic) == 3; }},
      {"test on", true, [](const Bus& b) { return b.at(0).model.Register(kRegTestMode) == 1; }},
      {"latch off", true, [](const Bus& b) { return b.at(0).model.Register(kRegLatching) == 1; }},
      {"addr 5", true, [](const Bus& b) { return b.at(0).model.address() == 5; }},
      {"addr 0", false, [](const Bus& b) { return b.at(0).model.address() == 247; }},
      {"speed 9", false, [](const Bus& b) { return b.at(0).model.speed_code() == 4; }},
      {"speed 6", true, [](const Bus& b) { return b.at(0).model.bit_rate() == 19200; }},
      {"set 0xF202 0x0120", true,
       [](const Bus& b) { return b.at(0).model.Register(0xF202) == 0x120; }},
      {"set 0xF100 1", false, [](const Bus&) { return true; }},
      {"id 0x0011", true, [](const Bus& b) { return b.at(0).model.Register(0) == 0x11; }},
      {"fault-inject crc 0.5", true,
       [](const Bus& b) { return b.at(0).faults.bad_crc_probability == 0.5; }},
      {"crc 2", false, [](const Bus& b) { return b.at(0).faults.bad_crc_probability == 0; }},
      {"silent on", true, [](const Bus& b) { return b.at(0).faults.silent; }},
      {"pause 200 10", true,
       [](const Bus& b) {
         return b.at(0).faults.pause == 200ms && b.at(0).faults.pause_after == 10u;
       }},
      {"exception 2", true, [](const Bus& b) { return b.at(0).faults.forced_exception == 2; }},
      {"regs 6", true, [](const Bus& b) { return b.at(0).faults.query_registers == 6; }},
      {"unpaced on", true, [](const Bus& b) { return b.at(0).faults.unpaced; }},
      {"unpaced 2", false, [](const Bus& b) { return !b.at(0).faults.unpaced; }},
      {"answer-from 4", true, [](const Bus& b) { return b.at(0).faults.answer_from == 4; }},
      {"answer-from off", true, [](const Bus& b) { return !b.at(0).faults.answer_from; }},
      {"answer-from 256", false, [](const Bus& b) { return !b.at(0).faults.answer_from; }},
      {"fault-inject answer-from 0", true,
       [](const Bus& b) { return b.at(0).faults.answer_from == 0; }},
      {"@5 alarm", true, [](const Bus& b) { return b.at(1).model.state() == kStateAlarm; }},
      {"@9 alarm", false, [](const Bus& b) { return b.at(0).model.state() == kStateNormal; }},
      {"garble on", true, [](const Bus& b) { return b.options().garble_foreign_speed; }},
      {"frobnicate", false, [](const Bus&) { return true; }},
  };
  for (const auto& c : cases) {
    Bus bus;
    bus.Add(DetectorModel());
    bus.Add(DetectorModel(5));
    Console console(bus);
    const Console::Result r = console.Execute(c.command);
    ASSERT_FALSE(r.lines.empty()) << c.command;
    EXPECT_EQ(r.lines.back().rfind(c.ok ? "OK" : "ERR", 0), 0u)
        << c.command << ": " << r.lines.back();
    EXPECT_TRUE(c.holds(bus)) << c.command;
  }
}

TEST(SimConsole, SelectsDetectorsAndEndsOnQuit) {
  Bus bus;
  bus.Add(DetectorModel());
  Console console(bus);
  EXPECT_EQ(console.Execute("add 5:speed=6").lines.back().rfind("OK", 0), 0u);
  ASSERT_EQ(bus.size(), 2u);
  console.Execute("select 5");
  console.Execute("normal");
  console.Execute("tactic 9");
  EXPECT_EQ(bus.at(1).model.Register(kRegTactic), 9);
  EXPECT_EQ(bus.at(0).model.Register(kRegTactic), 0);
  EXPECT_TRUE(console.Execute("   ").lines.empty());
  EXPECT_FALSE(console.Execute("show").quit);
  EXPECT_TRUE(console.Execute("quit").quit);
}

TEST(SimConsole, DetectorSpecsSetAddressSpeedAndFaults) {
  Bus::Detector d{DetectorModel(), {}};
  std::string error;
  ASSERT_TRUE(
      ParseDetectorDefinition("5:speed=6,crc=0.25,echo,pause=200@10,id=0x11,alarm", d, error))
      << error;
  EXPECT_EQ(d.model.address(), 5);
  EXPECT_EQ(d.model.speed_code(), 6);
  EXPECT_EQ(d.model.Register(kRegIdentity), 0x11);
  EXPECT_EQ(d.model.state(), kStateAlarm);
  EXPECT_EQ(d.faults.bad_crc_probability, 0.25);
  EXPECT_TRUE(d.faults.echo_request);
  EXPECT_EQ(d.faults.pause, 200ms);
  EXPECT_EQ(d.faults.pause_after, 10u);
  ASSERT_TRUE(ParseDetectorDefinition("37:speed=8,unpaced", d, error)) << error;
  EXPECT_TRUE(d.faults.unpaced);
  EXPECT_EQ(d.model.speed_code(), 8);
  ASSERT_TRUE(ParseDetectorDefinition("3:answer-from=4", d, error)) << error;
  EXPECT_EQ(d.faults.answer_from, 4);
  EXPECT_EQ(d.model.address(), 3);
  for (const char* bad : {"0", "248", "5:speed=0", "5:bogus", "x", "5:tactic"}) {
    EXPECT_FALSE(ParseDetectorDefinition(bad, d, error)) << bad;
  }
}

}  // namespace
}  // namespace ornat::sim
