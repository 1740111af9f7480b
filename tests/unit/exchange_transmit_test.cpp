// The exchange engine's transmission half: the frames of the three senders, the TX
// line, the read limit, the response timeout on the virtual clock, and the failure
// path of a send that cannot open the port or write.

#include <gtest/gtest.h>

#include <cerrno>
#include <functional>
#include <optional>

#include "serial/comport.h"
#include "support/line_texts.h"
#include "support/platform_errors.h"
#include "support/simulated_form.h"

namespace ornat::testing {
namespace {

TEST(ExchangeTransmit, EachSenderWritesItsFrameLogsItInRedAndArmsTheResponseTimeout) {
  struct Case {
    const char* what;
    std::uint8_t device_address;
    std::function<void(TForm1&)> send;
    Bytes frame;
    std::uint8_t read_limit;
  };
  const Case cases[] = {
      {"parameter query",
       247,
       [](TForm1& w) { w.SendReadRegisters(0, 8, w.TeMemo1); },
       {0xF7, 0x03, 0x00, 0x00, 0x00, 0x08, 0x50, 0x9A},
       33},
      {"search probe",
       1,
       [](TForm1& w) { w.SendReadRegisters(0, 1, w.TeMemo1); },
       {0x01, 0x03, 0x00, 0x00, 0x00, 0x01, 0x84, 0x0A},
       19},
      {"two registers",
       247,
       [](TForm1& w) { w.SendReadRegisters(0, 2, w.TeMemo1); },
       {0xF7, 0x03, 0x00, 0x00, 0x00, 0x02, 0xD0, 0x9D},
       21},
      {"service read F2",
       247,
       [](TForm1& w) { w.SendReadRegisters(0xF200, 3, w.TeMemo1); },
       {0xF7, 0x03, 0xF2, 0x00, 0x00, 0x03, 0x23, 0xE5},
       23},
      {"service read F0",
       247,
       [](TForm1& w) { w.SendReadRegisters(0xF000, 10, w.TeMemo1); },
       {0xF7, 0x03, 0xF0, 0x00, 0x00, 0x0A, 0xE2, 0x5B},
       37},
      {"count 0 is sent as 00 00, limit as for 1",
       247,
       [](TForm1& w) { w.SendReadRegisters(0, 0, w.TeMemo1); },
       {0xF7, 0x03, 0x00, 0x00, 0x00, 0x00, 0x51, 0x5C},
       19},
      {"count 128 wraps in 8 bits",
       247,
       [](TForm1& w) { w.SendReadRegisters(0, 128, w.TeMemo1); },
       {0xF7, 0x03, 0x00, 0x00, 0x00, 0x80, 0x50, 0xFC},
       17},
      {"count 256: only its low byte 0 enters",
       247,
       [](TForm1& w) { w.SendReadRegisters(0x0100, 0x0100, w.TeMemo1); },
       {0xF7, 0x03, 0x01, 0x00, 0x01, 0x00, 0x51, 0x30},
       19},
      {"alarm reset at address 1",
       1,
       [](TForm1& w) { w.SendWriteRegister(6, 0xAA55, w.TeMemo1); },
       {0x01, 0x06, 0x00, 0x06, 0xAA, 0x55, 0xD7, 0x54},
       20},
      {"reset step 1 to slave 247 whatever the address",
       12,
       [](TForm1& w) { w.SendWriteRegisterTo(247, 1, 247, w.TeMemo1); },
       {0xF7, 0x06, 0x00, 0x01, 0x00, 0xF7, 0x8D, 0x1A},
       20},
      {"reset step 2",
       247,
       [](TForm1& w) { w.SendWriteRegisterTo(247, 2, 4, w.TeMemo1); },
       {0xF7, 0x06, 0x00, 0x02, 0x00, 0x04, 0x3D, 0x5F},
       20},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    SimulatedForm t;
    t.state().DeviceAddress = c.device_address;
    t.Do([&] { c.send(t.w()); });
    EXPECT_EQ(t.device.Last("Write").data, c.frame);
    EXPECT_EQ(t.state().ReadLimit, c.read_limit);
    EXPECT_EQ(t.LogLines(), (std::vector<std::string>{TxLine(c.frame), "RX :"}));
    EXPECT_EQ(t.w().TeMemo1.FontColor(), 255u);
    EXPECT_TRUE(t.w().Timer_Rx.Enabled());
    EXPECT_EQ(t.w().Timer_Rx.Interval(), 500);
    EXPECT_TRUE(t.w().ComPort1().Connected());
  }
}

TEST(ExchangeTransmit, ASilentDetectorTimesOutAfterTheTimeoutOfBaudIndex) {
  struct Case {
    std::uint8_t baud_index;
    long timeout_ms;
  };
  // The timeout follows BaudIndex alone, not the port's speed.
  const Case cases[] = {{0, 3000}, {1, 1500}, {2, 700}, {3, 500},  {4, 500},
                        {5, 500},  {6, 500},  {7, 500}, {200, 500}};
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.baud_index));
    SimulatedForm t;
    t.line.faults().silent = true;
    t.state().BaudIndex = c.baud_index;
    t.Do([&] { t.w().SendReadRegisters(0, 8, t.w().TeMemo1); });
    const long sent = t.NowMs();
    ASSERT_TRUE(t.RunToCompletion());
    EXPECT_EQ(t.NowMs() - sent, c.timeout_ms);
    EXPECT_EQ(t.LogLines(),
              (std::vector<std::string>{"TX : F7 03 00 00 00 08 50 9A ", "RX :", kTimeOutLine}));
    EXPECT_EQ(t.w().TeMemo1.FontColor(), 16711680u);
    EXPECT_FALSE(t.w().ComPort1().Connected());
  }
}

TEST(ExchangeTransmit, ANetworkLinesRoundTripIsAddedToEveryResponseTimeout) {
  const struct Case {
    const char* port;
    std::optional<int> net_delay;
    std::uint8_t baud_index;
    bool probe;  // a bus-search probe, SearchDelayMs 150
    long timeout_ms;
  } cases[] = {
      {"COM1", std::nullopt, 3, false, 500},
      {"tcp://127.0.0.1:5020", std::nullopt, 3, false, 600},
      {"modbus-tcp://gateway", std::nullopt, 0, false, 3100},
      {"rfc2217://[::1]:4001", std::nullopt, 3, true, 250},
      {"rfc2217://[::1]:4001", 250, 2, false, 950},
      {"/tmp/ttyV0", 40, 3, false, 540},                 // a socat link to a remote line
      {"tcp://127.0.0.1:5020", 20000, 3, false, 10500},  // at most 10 s
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.port);
    SimulatedForm t;
    t.line.faults().silent = true;
    t.state().BaudIndex = c.baud_index;
    t.state().SessionMode = c.probe ? 254 : 0;
    t.Do([&] {
      t.w().ComPort1().SetPort(c.port);
      t.w().SetNetDelayMs(c.net_delay);
      t.w().SendReadRegisters(0, c.probe ? 1 : 8, t.w().TeMemo1);
    });
    const long sent = t.NowMs();
    t.state().SessionMode = 0;  // no further probe
    ASSERT_TRUE(t.RunToCompletion());
    EXPECT_EQ(t.NowMs() - sent, c.timeout_ms);
  }
}

TEST(ExchangeTransmit, DuringABusSearchReadsWaitSearchDelayMsAndWritesTheTable) {
  struct Case {
    const char* what;
    std::uint16_t search_delay;
    bool read;
    int interval;
  };
  const Case cases[] = {
      {"probe, default delay", 150, true, 150},
      {"probe, 300 ms chosen", 300, true, 300},
      {"write during the search keeps the table", 300, false, 500},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    SimulatedForm t;
    t.state().SessionMode = 254;
    t.state().SearchDelayMs = c.search_delay;
    t.Do([&] {
      if (c.read)
        t.w().SendReadRegisters(0, 1, t.w().TeMemo1);
      else
        t.w().SendWriteRegister(4, 3, t.w().TeMemo1);
    });
    EXPECT_EQ(t.w().Timer_Rx.Interval(), c.interval);
    t.state().SessionMode = 0;  // no further probe: this test looks at one send
  }
}

TEST(ExchangeTransmit, ASendThatCannotOpenThePortLogsThePortErrorInBlueAndArmsNothing) {
  SimulatedForm t;
  t.device.FailNext("Open", ENOENT);
  t.Click(t.w().TeButton5);  // single query
  EXPECT_EQ(t.LogLines(),
            (std::vector<std::string>{"TX : F7 03 00 00 00 08 50 9A ", "RX :", kPortErrorCom1}));
  EXPECT_EQ(t.w().TeMemo1.FontColor(), 16711680u);
  EXPECT_FALSE(t.w().Timer_Rx.Enabled());
  EXPECT_EQ(t.device.Count("Write"), 0);
  // The caller's flags stay until a later completion clears them.
  EXPECT_EQ(t.state().QueryPending, 1);
  EXPECT_EQ(t.state().PendingOp, 3);
  EXPECT_TRUE(t.RunUntilIdle());
  EXPECT_TRUE(t.Completions().empty());
  EXPECT_EQ(t.LogLines().back(), kPortErrorCom1);
}

TEST(ExchangeTransmit, AFailedSendLeavesThePortAsItIs) {
  struct Case {
    const char* what;
    const char* call;
    int error;
    bool port_open_after;
  };
  const testing::PlatformErrors& e = testing::Errors();
  const Case cases[] = {
      {"the device does not open", "Open", e.no_device, false},
      {"another program holds it", "Open", e.held, false},
      {"its line settings are refused (the component closes it again)", "SetLineSettings",
       e.invalid, false},
      {"the write fails on the opened port", "Write", e.invalid, true},
      // A device that is gone is closed, so that the next send opens it anew.
      {"the write finds the device gone", "Write", e.gone, false},
      {"the write finds the adapter unplugged", "Write", e.unplugged, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    SimulatedForm t;
    t.device.FailNext(c.call, c.error);
    t.Do([&] { t.w().SendWriteRegister(4, 3, t.w().TeMemo1); });
    EXPECT_EQ(t.LogLines().back(), kPortErrorCom1);
    EXPECT_EQ(t.w().ComPort1().Connected(), c.port_open_after);
    EXPECT_FALSE(t.w().Timer_Rx.Enabled());
    EXPECT_TRUE(t.RunUntilIdle());
    EXPECT_TRUE(t.Completions().empty());
    // The next send goes out normally; its completion closes a port left open.
    t.Do([&] { t.w().SendWriteRegister(4, 3, t.w().TeMemo1); });
    ASSERT_TRUE(t.RunToCompletion());
    EXPECT_EQ(t.LogLines().back(), kOkLine);
    EXPECT_FALSE(t.w().ComPort1().Connected());
  }
}

TEST(ExchangeTransmit, ANoiseByteDuringTheWriteIsReadUnderTheLimitOfTheRequestBeingSent) {
  // The byte starts a read while the request is still being written: that read must
  // take this request's limit (33 for the parameter query), not the previous one's (0
  // at start-up: nothing read, a time-out 5 ms after the send; 20 after a write: the
  // answer cut at 20 bytes, a CRC error). It then reads the answer behind the noise,
  // and the validator drops the noise.
  struct Case {
    const char* name;
    bool write_before;
  } cases[] = {{"the first query after start-up", false}, {"a query after a write", true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SimulatedForm t;
    if (c.write_before) {
      t.Click(t.w().TeButton3);  // the alarm reset, limit 20
      ASSERT_TRUE(t.RunToCompletion());
      ASSERT_EQ(t.LogLines().back(), kOkLine);
    }
    bool noise_sent = false;
    t.line.SetWriteHook([&](const std::vector<std::uint8_t>&) {
      if (noise_sent) return;
      noise_sent = true;
      t.line.ArriveNow({0xFF});
    });
    const std::size_t reads_before = t.line.Reads().size();
    t.Click(t.w().TeButton5);
    ASSERT_TRUE(noise_sent);
    ASSERT_TRUE(t.RunToCompletion());
    const auto reads = t.line.Reads();
    ASSERT_EQ(reads.size(), reads_before + 1);
    EXPECT_EQ(reads.back().limit, 33);
    EXPECT_EQ(reads.back().bytes.size(), 22u) << "the noise byte and the 21-byte answer";
    EXPECT_EQ(t.LogLines(), kQueryLog);
    EXPECT_EQ(t.w().StatusGrid.Cell(1, 1), kNormalCell);
    EXPECT_EQ(t.state().ReadLimit, 33);
  }
}

}  // namespace
}  // namespace ornat::testing
