// The network device over a scripted server and a virtual clock: the connect and
// resolution limits, the connection kept between exchanges and closed when idle, the
// server's bytes split or joined anywhere, a gateway's no-answer, a dropped connection,
// and RFC 2217's negotiation and acknowledgements.

#include "serial/network/network_comm_device.h"

#include <gtest/gtest.h>

#include <future>

#include "serial/port_error_kind.h"
#include "support/byte_splits.h"
#include "support/eventually.h"
#include "support/fake_net_syscalls.h"

namespace ornat {
namespace {

using namespace std::chrono_literals;
using testing::Bytes;
using testing::Eventually;
using testing::FakeNet;

constexpr int kRefused = 12345;  // whatever number the platform gives a refusal
const CommTimeouts kQueuedOnly{kMaxDword, 0, 0, 0, 0};

// What the device has queued, once `n` bytes are there (or after the wait gave up).
Bytes ReadQueued(NetworkCommDevice& d, std::size_t n) {
  std::uint32_t errors = 0, queued = 0;
  Eventually([&] { return d.ClearError(errors, queued) == 0 && queued >= n; });
  Bytes out(64);
  const IoResult r = d.Read(out.data(), static_cast<int>(out.size()));
  out.resize(static_cast<std::size_t>(r.count));
  return out;
}

TEST(NetworkDevice, AConnectEndsWithinThreeSecondsOverAllTheHostsAddresses) {
  const struct Case {
    const char* what;
    std::vector<int> connects;
    bool timed_out;  // else the error is the last refusal, or 0
    int error;
    std::vector<int> polls;
  } kCases[] = {
      {"a host that never answers", {FakeNet::kNeverAnswers}, true, 0, {3000}},
      {"a refusal, then silence", {kRefused, FakeNet::kNeverAnswers}, true, 0, {3000}},
      {"a refused connection", {kRefused}, false, kRefused, {}},
      {"the second address accepts", {kRefused, 0}, false, 0, {}},
  };
  for (const Case& c : kCases) {
    FakeNet net;
    net.connects = c.connects;
    NetworkCommDevice device(net.sys());
    const NetClock::time_point start = net.Now();
    const DevError e = device.Open("tcp://plant-server:4001");
    EXPECT_EQ(e, c.timed_out ? net.sys().errors.timed_out : c.error) << c.what;
    EXPECT_EQ(net.poll_timeouts, c.polls) << c.what;
    EXPECT_EQ(net.Now() - start, c.timed_out ? 3000ms : 0ms) << c.what;
    EXPECT_EQ(net.sockets_closed(), net.sockets_made() - (e == 0 ? 1 : 0)) << c.what;
  }
}

TEST(NetworkDevice, ANameThatDoesNotResolveWithinTwoSecondsFailsTheOpenThen) {
  // Never destroyed, not even at exit: the resolution it leaves running on a detached
  // thread may still read it then.
  static auto* const kept = new std::vector<std::unique_ptr<FakeNet>>();
  FakeNet& net = *kept->emplace_back(std::make_unique<FakeNet>());
  net.resolve_hangs = true;
  NetworkCommDevice device(net.sys());
  auto open = std::async(std::launch::async, [&] { return device.Open("tcp://slow-dns:4001"); });
  ASSERT_TRUE(Eventually([&] { return net.resolves() == 1; }));
  net.Advance(1999ms);
  EXPECT_EQ(open.wait_for(50ms), std::future_status::timeout);
  net.Advance(1ms);
  ASSERT_EQ(open.wait_for(3s), std::future_status::ready);
  EXPECT_EQ(open.get(), net.sys().errors.timed_out);
  EXPECT_NE(device.LastProblem().find("did not resolve within 2 s"), std::string::npos);
  net.ReleaseResolve();
}

TEST(NetworkDevice, TheConnectionIsKeptForTheNextOpenOfTheLineAndClosedAfterThreeIdleSeconds) {
  FakeNet net;
  NetworkCommDevice device(net.sys());
  for (int i = 0; i < 3; ++i) {
    ASSERT_EQ(device.Open("tcp://server:4001"), 0);
    device.Close();
  }
  EXPECT_EQ(net.sockets_made(), 1);
  net.Advance(2999ms);
  std::this_thread::sleep_for(20ms);
  EXPECT_TRUE(device.HoldsConnection());
  net.Advance(1ms);
  EXPECT_TRUE(Eventually([&] { return net.sockets_closed() == 1; }));
  ASSERT_EQ(device.Open("tcp://server:4001"), 0);
  device.Close();
  ASSERT_EQ(device.Open("tcp://other:4001"), 0);
  EXPECT_EQ(net.sockets_made(), 3);
  EXPECT_EQ(net.sockets_closed(), 2) << "a new name closes the kept connection";
  EXPECT_EQ(device.Open("tcp://other"), net.sys().errors.busy) << "open already";
  device.Close();
  EXPECT_EQ(device.Open("tcp://other"), net.sys().errors.bad_name);
  EXPECT_NE(device.LastProblem().find("names no port"), std::string::npos);
}

TEST(NetworkDevice, BytesThatCameBetweenTwoExchangesAreDroppedAndEachArrivalIsReportedOnce) {
  FakeNet net;
  NetworkCommDevice device(net.sys());
  ASSERT_EQ(device.Open("tcp://server:4001"), 0);
  ASSERT_EQ(device.SetEventMask(EV_RXCHAR | EV_TXEMPTY), 0);
  auto stop = device.CreateStopSignal();
  net.Serve({0x01, 0x02});
  EXPECT_EQ(device.WaitEvent(*stop).mask, std::uint32_t{EV_RXCHAR});
  std::uint32_t errors = 9, queued = 0, modem = 9;
  EXPECT_EQ(device.ClearError(errors, queued), 0);
  EXPECT_EQ(errors, 0u);
  EXPECT_EQ(device.GetModemStatus(modem), 0);
  EXPECT_EQ(modem, 0u) << "no modem lines, as on a pty";
  device.Close();
  ASSERT_EQ(device.Open("tcp://server:4001"), 0);
  EXPECT_EQ(device.ClearError(errors, queued), 0);
  EXPECT_EQ(queued, 0u);
  ASSERT_EQ(device.SetEventMask(EV_RXCHAR), 0);
  auto waiting = std::async(std::launch::async, [&] { return device.WaitEvent(*stop).outcome; });
  stop->Set();
  EXPECT_EQ(waiting.get(), WaitOutcome::kStopped);
}

// A device and the scripted server it talks to.
struct Served {
  FakeNet net;
  NetworkCommDevice device{net.sys()};
};

TEST(NetworkDevice, TheServersBytesSplitOrJoinedAnywhereGiveTheLinesBytes) {
  const struct Case {
    const char* url;
    Bytes request, sent, served, read;
    std::uint8_t gateway_code;
  } kCases[] = {
      // Telnet: 0xFF doubled both ways, a notification between two data bytes.
      {"rfc2217://s:2217",
       {0xF7, 0xFF, 0x01},
       {0xF7, 0xFF, 0xFF, 0x01},
       {0x01, 0xFF, 0xFF, 0xFF, 0xFA, 0x2C, 0x6B, 0x30, 0xFF, 0xF0, 0x02},
       {0x01, 0xFF, 0x02},
       0},
      // A late answer to the transaction before, then this one's.
      {"modbus-tcp://gw",
       {0xF7, 0x03, 0x00, 0x00, 0x00, 0x08, 0x50, 0x9A},
       {0x00, 0x01, 0x00, 0x00, 0x00, 0x06, 0xF7, 0x03, 0x00, 0x00, 0x00, 0x08},
       {0x00, 0x00, 0x00, 0x00, 0x00, 0x03, 0xF7, 0x83, 0x02,  //
        0x00, 0x01, 0x00, 0x00, 0x00, 0x05, 0xF7, 0x03, 0x02, 0x12, 0x34},
       {0xF7, 0x03, 0x02, 0x12, 0x34, 0x7D, 0x26},
       0},
      // The gateway's "target failed to respond": no answer, nothing delivered.
      {"modbus-tcp://gw",
       {0xF7, 0x03, 0x00, 0x00, 0x00, 0x08, 0x50, 0x9A},
       {0x00, 0x01, 0x00, 0x00, 0x00, 0x06, 0xF7, 0x03, 0x00, 0x00, 0x00, 0x08},
       {0x00, 0x01, 0x00, 0x00, 0x00, 0x03, 0xF7, 0x83, 0x0B},
       {},
       0x0B},
  };
  for (const Case& c : kCases) {
    testing::ForEachSplit(c.served, [&](const testing::Chunks& chunks, const std::string& how) {
      Served s;
      s.net.on_send = [](FakeNet& net, const Bytes& sent) {
        if (sent.size() > 8 && sent[8] == 0x2C) net.Serve({0xFF, 0xFD, 0x2C});  // DO 44
      };
      ASSERT_EQ(s.device.Open(c.url), 0) << c.url;
      ASSERT_EQ(s.device.SetTimeouts(kQueuedOnly), 0);
      const Bytes before = s.net.Sent();
      ASSERT_EQ(s.device.Write(c.request.data(), static_cast<int>(c.request.size())).error, 0);
      const Bytes sent = s.net.Sent();
      EXPECT_EQ(Bytes(sent.begin() + static_cast<std::ptrdiff_t>(before.size()), sent.end()),
                c.sent)
          << c.url;
      for (const Bytes& chunk : chunks) s.net.Serve(chunk);
      if (c.gateway_code != 0) {
        EXPECT_TRUE(Eventually([&] { return s.device.GatewayNoAnswerCode() == c.gateway_code; }));
      }
      EXPECT_EQ(ReadQueued(s.device, c.read.size()), c.read) << c.url << ", " << how;
    });
  }
}

TEST(NetworkDevice, AConnectionDroppedMidExchangeFailsThePendingReadAsADeviceGone) {
  Served s;
  ASSERT_EQ(s.device.Open("tcp://server:4001"), 0);
  ASSERT_EQ(s.device.SetTimeouts({150, 0, 0, 0, 0}), 0);
  auto read = std::async(std::launch::async, [&] {
    std::uint8_t b[8];
    return s.device.Read(b, 8);
  });
  s.net.Drop();
  const IoResult r = read.get();
  EXPECT_EQ(r.error, s.net.sys().errors.reset);
  EXPECT_EQ(ClassifyPortError(r.error, PortStep::kUse), PortErrorKind::kGone);
  auto stop = s.device.CreateStopSignal();
  s.device.SetEventMask(EV_RXCHAR);
  EXPECT_EQ(s.device.WaitEvent(*stop).error, s.net.sys().errors.reset);
}

// An RFC 2217 server: its answer to WILL 44, and the value it acknowledges each
// setting with (asked + skew); `acks` false: no acknowledgement at all.
void Rfc2217Server(FakeNet& net, std::uint8_t verb, std::uint32_t skew, bool acks) {
  net.on_send = [=](FakeNet& n, const Bytes& sent) {
    if (sent.size() > 8 && sent[8] == 0x2C) n.Serve({0xFF, verb, 0x2C});
    for (std::size_t i = 0; acks && i + 4 < sent.size(); ++i) {
      if (sent[i] != 0xFF || sent[i + 1] != 0xFA) continue;
      Bytes ack(sent.begin() + static_cast<std::ptrdiff_t>(i),
                std::find(sent.begin() + static_cast<std::ptrdiff_t>(i) + 2, sent.end(), 0xF0) + 1);
      ack[3] = static_cast<std::uint8_t>(ack[3] + 100);
      ack[ack.size() - 3] = static_cast<std::uint8_t>(ack[ack.size() - 3] + skew);
      n.Serve(ack);
    }
  };
}

TEST(NetworkDevice, Rfc2217SettingsAreSentAndEachAcknowledgementChecked) {
  LineSettings line;
  line.BaudRate = 19200;
  line.ByteSize = 8;
  const Bytes kSettings = {0xFF, 0xFA, 0x2C, 0x01, 0x00, 0x00, 0x4B, 0x00, 0xFF, 0xF0,  //
                           0xFF, 0xFA, 0x2C, 0x02, 0x08, 0xFF, 0xF0,                    //
                           0xFF, 0xFA, 0x2C, 0x03, 0x01, 0xFF, 0xF0,                    //
                           0xFF, 0xFA, 0x2C, 0x04, 0x01, 0xFF, 0xF0};
  const struct Case {
    const char* what;
    std::uint8_t verb;
    std::uint32_t skew;
    bool acks;
    bool opens;
    int NetErrors::*error;
    const char* problem;
  } kCases[] = {
      {"acknowledged as asked", 0xFD, 0, true, true, nullptr, ""},
      {"refused", 0xFE, 0, true, false, &NetErrors::refused_option, "refused COM-PORT-OPTION"},
      {"acknowledged with another value", 0xFD, 1, true, true, &NetErrors::invalid,
       "acknowledged SET-BAUDRATE 19201, not 19200"},
      {"not acknowledged", 0xFD, 0, false, true, &NetErrors::timed_out, "did not acknowledge"},
  };
  for (const Case& c : kCases) {
    Served s;
    Rfc2217Server(s.net, c.verb, c.skew, c.acks);
    const DevError opened = s.device.Open("rfc2217://server:2217");
    if (!c.opens) {
      EXPECT_EQ(opened, s.net.sys().errors.*c.error) << c.what;
    } else {
      ASSERT_EQ(opened, 0) << c.what;
      auto set = std::async(std::launch::async, [&] { return s.device.SetLineSettings(line); });
      if (!c.acks) {
        EXPECT_EQ(set.wait_for(50ms), std::future_status::timeout) << c.what;
        s.net.Advance(2000ms);
      }
      EXPECT_EQ(set.get(), c.error ? s.net.sys().errors.*c.error : 0) << c.what;
      const Bytes sent = s.net.Sent();
      EXPECT_EQ(Bytes(sent.end() - static_cast<std::ptrdiff_t>(kSettings.size()), sent.end()),
                kSettings)
          << c.what;
    }
    EXPECT_NE(s.device.LastProblem().find(c.problem), std::string::npos) << c.what;
  }
}

}  // namespace
}  // namespace ornat
