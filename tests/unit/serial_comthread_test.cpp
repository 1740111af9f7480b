// The serial event thread over the scripted device: mask translation,
// delivery order, the three SyncMethods, exceptions, stopping.

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "runtime/dispatcher.h"
#include "runtime/handler_gate.h"
#include "serial/comport.h"
#include "serial/comthread.h"
#include "serial/platform/recording_comm_device.h"
#include "support/eventually.h"
#include "support/scripted_comm_device.h"
#include "ui/toolkit/dialogs.h"

namespace ornat {
namespace {

using Names = std::vector<std::string>;
using testing::Eventually;
using namespace std::chrono_literals;

// A log that the event thread and the test thread both write.
class Log {
 public:
  void Add(std::string s) {
    std::lock_guard<std::mutex> lock(mu_);
    items_.push_back(std::move(s));
  }
  Names Items() const {
    std::lock_guard<std::mutex> lock(mu_);
    return items_;
  }
  std::size_t Size() const {
    std::lock_guard<std::mutex> lock(mu_);
    return items_.size();
  }

 private:
  mutable std::mutex mu_;
  Names items_;
};

class ComThreadTest : public ::testing::Test {
 protected:
  ComThreadTest() : gate(dialogs), dispatcher(gate), port("ComPort1", device, dispatcher) {
    port.Timeouts().SetReadInterval(150);
  }
  void RecordAll() {
    port.OnError = [this](TObject*, TComErrors e) { log.Add("Error" + std::to_string(e.Bits())); };
    port.OnRxChar = [this](TObject*, int n) { log.Add("RxChar" + std::to_string(n)); };
    port.OnTxEmpty = [this](TObject*) { log.Add("TxEmpty"); };
    port.OnBreak = [this](TObject*) { log.Add("Break"); };
    port.OnRing = [this](TObject*) { log.Add("Ring"); };
    port.OnCTSChange = [this](TObject*, bool on) {
      log.Add(std::string("CTS") + (on ? "1" : "0"));
    };
    port.OnDSRChange = [this](TObject*, bool on) {
      log.Add(std::string("DSR") + (on ? "1" : "0"));
    };
    port.OnRxFlag = [this](TObject*) { log.Add("RxFlag"); };
    port.OnRLSDChange = [this](TObject*, bool on) {
      log.Add(std::string("RLSD") + (on ? "1" : "0"));
    };
    port.OnRx80Full = [this](TObject*) { log.Add("Rx80Full"); };
  }
  // Opens and forgets the three signal deliveries of the open.
  void Open() {
    port.OpenPort();
    ASSERT_TRUE(script.WaitUntilWaiting());
    log_at_open = log.Size();
  }
  void Open(TSyncMethod sync) {
    port.SetSyncMethod(sync);
    Open();
  }
  Names Delivered() const {
    Names all = log.Items();
    return Names(all.begin() + static_cast<std::ptrdiff_t>(log_at_open), all.end());
  }

  ScriptedDialogs dialogs;
  HandlerGate gate;
  QueueDispatcher dispatcher;
  testing::ScriptedCommDevice script;
  RecordingCommDevice device{script};
  TComPort port;
  Log log;
  std::size_t log_at_open = 0;
};

// --- mask translation ---------------------------------------------------------

TEST(ComEventMask, EachEventHasItsPlatformBit) {
  struct Case {
    TComEvent event;
    std::uint32_t bit;
  } cases[] = {
      {TComEvent::evRxChar, 0x0001}, {TComEvent::evTxEmpty, 0x0004},
      {TComEvent::evRxFlag, 0x0002}, {TComEvent::evRing, 0x0100},
      {TComEvent::evBreak, 0x0040},  {TComEvent::evCTS, 0x0008},
      {TComEvent::evDSR, 0x0010},    {TComEvent::evError, 0x0080},
      {TComEvent::evRLSD, 0x0020},   {TComEvent::evRx80Full, 0x0400},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(EventsToMask(TComEvents{c.event}), c.bit);
    EXPECT_EQ(MaskToEvents(c.bit), TComEvents{c.event});
  }
  EXPECT_EQ(EventsToMask(TComEvents::All()), 0x05FFu);
  EXPECT_EQ(EventsToMask(TComEvents{}), 0u);
}

TEST(ComEventMask, MaskBitsNotInTheTableAreDropped) {
  EXPECT_EQ(MaskToEvents(0x0200 | 0x0800 | 0x1000 | 0x8000'0000u), TComEvents{});
  EXPECT_EQ(MaskToEvents(0xFFFF'FFFFu), TComEvents::All());
}

// --- smNone -------------------------------------------------------------------

TEST_F(ComThreadTest, UnderSmNoneOnRxCharRunsOnTheEventThreadWithTheQueuedCount) {
  std::atomic<bool> on_event_thread{false};
  std::thread::id test_thread = std::this_thread::get_id();
  std::atomic<int> seen{0};
  port.OnRxChar = [&](TObject* sender, int count) {
    on_event_thread = std::this_thread::get_id() != test_thread;
    EXPECT_EQ(sender, &port);
    std::uint8_t buf[64];
    EXPECT_EQ(port.ReadBytes(buf, 64), count);  // the handler's own read
    seen = count;
  };
  Open(TSyncMethod::smNone);
  script.PushReceived({1, 2, 3, 4, 5, 6, 7, 8}, true);
  ASSERT_TRUE(Eventually([&] { return seen.load() == 8; }));
  EXPECT_TRUE(on_event_thread.load());
  port.ClosePort();
}

TEST_F(ComThreadTest, ABatchIsDeliveredInTheFixedOrderErrorBeforeData) {
  RecordAll();
  Open(TSyncMethod::smNone);
  script.SetLineErrors(CE_FRAME);
  script.SetModemStatus(MS_CTS_ON | MS_RLSD_ON);
  script.PushReceived({0x55, 0x66});
  script.PushEvent(0x05FF);
  ASSERT_TRUE(Eventually([&] { return Delivered().size() == 10; }));
  EXPECT_EQ(Delivered(), (Names{"Error1", "RxChar2", "TxEmpty", "Break", "Ring", "CTS1", "DSR0",
                                "RxFlag", "RLSD1", "Rx80Full"}));
  port.ClosePort();
}

TEST_F(ComThreadTest, AnErrorAndDataBatchReportsTheErrorFirst) {
  RecordAll();
  Open(TSyncMethod::smNone);
  script.SetLineErrors(CE_OVERRUN);
  script.PushReceived({1});
  script.PushEvent(EV_RXCHAR | EV_ERR);
  ASSERT_TRUE(Eventually([&] { return Delivered().size() == 2; }));
  EXPECT_EQ(
      Delivered(),
      (Names{"Error" + std::to_string(1u << static_cast<int>(TComError::ceOverrun)), "RxChar1"}));
  port.ClosePort();
}

TEST_F(ComThreadTest, TheSystemQueriesRunWithoutHandlersAndEmptyResultsRaiseNothing) {
  RecordAll();
  Open(TSyncMethod::smNone);
  int clear_before = device.Count("ClearError");
  int modem_before = device.Count("GetModemStatus");
  // No errors left and no bytes queued: neither OnError nor OnRxChar.
  script.PushEvent(EV_ERR | EV_RXCHAR | EV_DSR);
  ASSERT_TRUE(Eventually([&] { return Delivered().size() == 1; }));
  EXPECT_EQ(Delivered(), (Names{"DSR0"}));
  EXPECT_EQ(device.Count("ClearError"), clear_before + 2);
  EXPECT_EQ(device.Count("GetModemStatus"), modem_before + 1);
  port.ClosePort();
}

TEST_F(ComThreadTest, AnExceptionInOnRxCharUnderSmNoneEndsTheThreadAndCloseStillWorks) {
  port.SetSyncMethod(TSyncMethod::smNone);
  std::atomic<int> calls{0};
  port.OnRxChar = [&](TObject*, int) {
    ++calls;
    throw std::runtime_error("handler failed");
  };
  Open();
  script.PushReceived({1}, true);
  ASSERT_TRUE(Eventually([&] { return port.EventThread()->Finished(); }));
  EXPECT_TRUE(port.EventThread()->EndedByException());
  script.PushReceived({2}, true);  // nobody watches any more
  std::this_thread::sleep_for(20ms);
  EXPECT_EQ(calls.load(), 1);
  EXPECT_TRUE(port.Connected());
  EXPECT_TRUE(dialogs.exceptions.empty());  // nothing is shown
  device.ClearCalls();
  port.ClosePort();
  EXPECT_FALSE(port.Connected());
  // The exception skipped the loop's clearing of the mask and queues; the close purges.
  EXPECT_EQ(device.NamesWithoutWaits(), (Names{"Purge", "Close"}));
  // The next open starts a new thread that delivers again.
  Open();
  script.PushReceived({3}, true);
  ASSERT_TRUE(Eventually([&] { return calls.load() == 2; }));
  port.ClosePort();
}

TEST_F(ComThreadTest, ClosingWhileAHandlerWaitsInReadBytesFailsTheReadWithCode3) {
  script.SetReadMode(testing::ScriptedCommDevice::ReadMode::kWaitForCount);
  std::atomic<int> code{0};
  std::atomic<int> system_error{0};
  port.OnRxChar = [&](TObject*, int) {
    std::uint8_t buf[20];
    try {
      port.ReadBytes(buf, 20);  // only 8 bytes come: waits
    } catch (const EComPort& e) {
      code = e.ErrorCode();
      system_error = e.SystemError();
      throw;
    }
  };
  Open(TSyncMethod::smNone);
  script.PushReceived({1, 2, 3, 4, 5, 6, 7, 8}, true);
  ASSERT_TRUE(script.WaitUntilReadPending());
  port.ClosePort();
  EXPECT_EQ(code.load(), 3);
  EXPECT_EQ(system_error.load(), ECANCELED);
  EXPECT_FALSE(port.Connected());
  EXPECT_FALSE(device.IsOpen());
}

TEST_F(ComThreadTest, AModemQueryFailureInADeliveryEndsTheThread) {
  RecordAll();
  Open(TSyncMethod::smNone);
  device.FailNext("GetModemStatus", EIO);
  script.PushEvent(EV_CTS);
  ASSERT_TRUE(Eventually([&] { return port.EventThread()->Finished(); }));
  EXPECT_TRUE(port.EventThread()->EndedByException());
  EXPECT_TRUE(Delivered().empty());
  port.ClosePort();
}

TEST_F(ComThreadTest, AFailedWaitEndsTheLoopLikeTheStopSignal) {
  Open(TSyncMethod::smNone);
  script.HangUp();  // the other side is gone: the wait fails with EIO
  ASSERT_TRUE(Eventually([&] { return port.EventThread()->Finished(); }));
  EXPECT_FALSE(port.EventThread()->EndedByException());
  EXPECT_EQ(device.Last("SetEventMask").args, (std::vector<std::int64_t>{0}));
  port.ClosePort();
  EXPECT_FALSE(port.Connected());
}

TEST_F(ComThreadTest, EventsOutsideTheMaskAreNeverDelivered) {
  port.SetEvents(TComEvents{TComEvent::evRLSD});
  RecordAll();
  Open(TSyncMethod::smNone);
  script.PushEvent(EV_RING);
  script.PushEvent(EV_RLSD | EV_RING);
  ASSERT_TRUE(Eventually([&] { return Delivered().size() == 1; }));
  std::this_thread::sleep_for(20ms);
  EXPECT_EQ(Delivered(), (Names{"RLSD0"}));
  port.ClosePort();
}

// --- smThreadSync -------------------------------------------------------------

TEST_F(ComThreadTest, UnderSmThreadSyncTheHandlersRunOnTheUiThread) {
  std::thread::id ui = std::this_thread::get_id();
  std::atomic<bool> on_ui{false};
  std::atomic<int> seen{0};
  port.OnRxChar = [&](TObject*, int count) {
    on_ui = std::this_thread::get_id() == ui;
    seen = count;
  };
  Open();
  script.PushReceived({9, 9, 9}, true);
  ASSERT_TRUE(Eventually([&] {
    dispatcher.RunPending();
    return seen.load() == 3;
  }));
  EXPECT_TRUE(on_ui.load());
  port.ClosePort();
}

TEST_F(ComThreadTest, UnderSmThreadSyncAnExceptionIsCarriedBackAndEndsTheThread) {
  port.OnRxChar = [&](TObject*, int) { throw std::runtime_error("boom"); };
  Open();
  script.PushReceived({1}, true);
  ASSERT_TRUE(Eventually([&] {
    dispatcher.RunPending();
    return port.EventThread()->Finished();
  }));
  EXPECT_TRUE(port.EventThread()->EndedByException());
  EXPECT_TRUE(dialogs.exceptions.empty());
  port.ClosePort();
  EXPECT_FALSE(port.Connected());
}

TEST_F(ComThreadTest, ClosingWhileTheThreadWaitsInASynchronisedCallDoesNotDeadlock) {
  std::atomic<int> delivered{0};
  port.OnRxChar = [&](TObject*, int) { ++delivered; };
  Open();
  script.PushReceived({1, 2}, true);
  // The thread now blocks in Dispatcher::Send; nobody drains the queue but the close.
  ASSERT_TRUE(Eventually([&] { return dispatcher.HasWork(); }));
  port.ClosePort();
  EXPECT_EQ(delivered.load(), 1);  // the close served the call, then the thread ended
  EXPECT_FALSE(port.Connected());
  EXPECT_FALSE(device.IsOpen());
}

// --- smWindowSync -------------------------------------------------------------

TEST_F(ComThreadTest, UnderSmWindowSyncEachEventIsOneMessageAndTheThreadGoesOn) {
  port.SetSyncMethod(TSyncMethod::smWindowSync);
  port.SetEvents(TComEvents{TComEvent::evRLSD, TComEvent::evRxChar});  // no evRing
  RecordAll();
  std::thread::id ui = std::this_thread::get_id();
  std::atomic<bool> on_ui{true};
  port.OnRLSDChange = [&](TObject*, bool on) {
    on_ui = on_ui && std::this_thread::get_id() == ui;
    log.Add(std::string("RLSD") + (on ? "1" : "0"));
  };
  port.OpenPort();
  log_at_open = log.Size();
  script.SetModemStatus(MS_RLSD_ON);
  script.PushEvent(EV_RLSD | EV_RING);
  // The thread does not wait for the UI thread: it is back in its wait.
  ASSERT_TRUE(device.WaitForCalls("WaitEvent", 2));
  ASSERT_TRUE(Eventually([&] { return dispatcher.HasWork(); }));
  EXPECT_EQ(dispatcher.RunPending(), 1u);  // exactly one message: RLSD, none for ring
  EXPECT_EQ(Delivered(), (Names{"RLSD1"}));
  EXPECT_TRUE(on_ui.load());
  port.ClosePort();
}

TEST_F(ComThreadTest, UnderSmWindowSyncADeliveryExceptionGoesToTheReportAndTheThreadGoesOn) {
  std::atomic<int> calls{0};
  port.OnRxChar = [&](TObject*, int) {
    ++calls;
    throw std::runtime_error("handler failed");
  };
  Open(TSyncMethod::smWindowSync);
  script.PushReceived({1}, true);
  ASSERT_TRUE(Eventually([&] {
    dispatcher.RunPending();
    return calls.load() == 1;
  }));
  ASSERT_EQ(dialogs.exceptions.size(), 1u);
  EXPECT_EQ(dialogs.exceptions[0], "handler failed");
  EXPECT_FALSE(port.EventThread()->Finished());
  script.PushEvent(EV_RXCHAR);
  ASSERT_TRUE(Eventually([&] {
    dispatcher.RunPending();
    return calls.load() == 2;
  }));
  port.ClosePort();
}

TEST_F(ComThreadTest, UnderSmWindowSyncMessagesLeftAfterTheCloseAreDropped) {
  std::atomic<int> calls{0};
  port.OnRxChar = [&](TObject*, int) { ++calls; };
  Open(TSyncMethod::smWindowSync);
  script.PushReceived({1}, true);
  ASSERT_TRUE(Eventually([&] { return dispatcher.HasWork(); }));
  port.ClosePort();
  dispatcher.RunPending();
  EXPECT_EQ(calls.load(), 0);
}

TEST_F(ComThreadTest, UnderSmWindowSyncAMessageOutlivingThePortIsDroppedSafely) {
  ScriptedDialogs d;
  HandlerGate g(d);
  QueueDispatcher q(g);
  testing::ScriptedCommDevice dev;
  {
    TComPort p("ComPort1", dev, q);
    p.SetSyncMethod(TSyncMethod::smWindowSync);
    p.OnRxChar = [](TObject*, int) { FAIL() << "delivered after destruction"; };
    p.OpenPort();
    ASSERT_TRUE(dev.WaitUntilWaiting());
    dev.PushReceived({1}, true);
    ASSERT_TRUE(Eventually([&] { return q.HasWork(); }));
  }
  q.RunPending();
  EXPECT_TRUE(d.exceptions.empty());
}

// --- stopping -----------------------------------------------------------------

TEST_F(ComThreadTest, StoppingClearsTheMaskAndEmptiesBothQueues) {
  Open(TSyncMethod::smNone);
  script.PushReceived({1, 2, 3});
  device.ClearCalls();
  port.ClosePort();
  EXPECT_EQ(device.NamesWithoutWaits(), (Names{"Purge", "SetEventMask", "Purge", "Close"}));
  EXPECT_EQ(script.QueuedBytes(), 0u);
}

TEST_F(ComThreadTest, SignalStopWakesTheWaitAtOnce) {
  Open(TSyncMethod::smNone);
  auto start = std::chrono::steady_clock::now();
  port.EventThread()->SignalStop();
  ASSERT_TRUE(Eventually([&] { return port.EventThread()->Finished(); }));
  EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
  port.ClosePort();
}

}  // namespace
}  // namespace ornat
