// The serial port component over Win32CommDevice and the recording Win32 fake: every
// Win32 call of opening, the settings, the event thread, the transfers and closing,
// with its arguments, in its order, and each failure with its GetLastError().

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "runtime/dispatcher.h"
#include "runtime/handler_gate.h"
#include "serial/comport.h"
#include "serial/platform/win32_comm_device.h"
#include "support/eventually.h"
#include "support/fake_win32_api.h"
#include "support/thrown.h"
#include "ui/toolkit/dialogs.h"

namespace ornat {
namespace {

using testing::Eventually;
using testing::FakeWin32;
using testing::Thrown;
using testing::Win32Call;
using Names = std::vector<std::string>;
using namespace win32;

constexpr std::uint64_t kDevice = FakeWin32::kDevice;
constexpr std::uint64_t kNull = 0;

// The calls of one name, in order.
std::vector<Win32Call> CallsOf(const FakeWin32& fake, const std::string& name) {
  std::vector<Win32Call> out;
  for (const auto& c : fake.Calls())
    if (c.name == name) out.push_back(c);
  return out;
}

// Position of the first call matching, or -1.
int IndexOf(const std::vector<Win32Call>& calls, const std::string& name,
            const std::vector<std::uint64_t>& args = {}) {
  for (std::size_t i = 0; i < calls.size(); ++i) {
    if (calls[i].name != name) continue;
    if (!args.empty() && calls[i].args != args) continue;
    return static_cast<int>(i);
  }
  return -1;
}

// The event wait alone, as the calls these tests expect; the look at the input queue
// has a test of its own.
constexpr win32::Dword kNoLook = win32::kInfinite;

// A port over a fake of its own, synchronised as ComPort1 (a table's row each).
struct OwnPort {
  explicit OwnPort(QueueDispatcher& dispatcher) : port("ComPort1", device, dispatcher) {
    port.SetSyncMethod(TSyncMethod::smNone);
  }
  FakeWin32 fake;
  Win32CommDevice device{fake.api(), kNoLook};
  TComPort port;
};

class Win32DeviceTest : public ::testing::Test {
 protected:
  Win32DeviceTest()
      : gate(dialogs),
        dispatcher(gate),
        device(fake.api(), kNoLook),
        port("ComPort1", device, dispatcher) {
    // The stored form of ComPort1.
    port.BeginLoading();
    port.SetBaudRate(TBaudRate::br9600);
    port.SetPort("COM7");
    port.Timeouts().SetReadInterval(150);
    port.SetSyncMethod(TSyncMethod::smNone);
    port.EndLoading();
  }
  ~Win32DeviceTest() override {
    try {
      port.ClosePort();
    } catch (...) {
    }
  }
  // The event thread's first wait is pending.
  void OpenAndWait() {
    port.OpenPort();
    ASSERT_TRUE(fake.WaitForPending("WaitCommEvent"));
  }

  ScriptedDialogs dialogs;
  HandlerGate gate;
  QueueDispatcher dispatcher;
  FakeWin32 fake;
  Win32CommDevice device;
  TComPort port;
};

// --- opening --------------------------------------------------------------------

TEST_F(Win32DeviceTest, OpensThePortAsTheDeviceNameWithExclusiveOverlappedAccess) {
  struct Case {
    const char* port;
    const char* device;
    const char* call;  // a name that is not ASCII goes in UTF-16
  } cases[] = {
      {"COM1", "\\\\.\\COM1", "CreateFileA"},
      {"COM7", "\\\\.\\COM7", "CreateFileA"},
      {"COM10", "\\\\.\\COM10", "CreateFileA"},
      {"COM256", "\\\\.\\COM256", "CreateFileA"},
      {"КОМ1", "\\\\.\\КОМ1", "CreateFileW"},
      {"Résumé\\COM1", "\\\\.\\Résumé\\COM1", "CreateFileW"},
  };
  for (const Case& c : cases) {
    fake.ClearCalls();
    port.SetPort(c.port);
    port.OpenPort();
    EXPECT_EQ(fake.NamesOf({"CreateFileA", "CreateFileW"}), (Names{c.call})) << c.port;
    const auto opens = CallsOf(fake, c.call);
    ASSERT_EQ(opens.size(), 1u) << c.port;
    EXPECT_EQ(opens[0].text, c.device);
    // GENERIC_READ | GENERIC_WRITE, no sharing, no security attributes, OPEN_EXISTING,
    // FILE_FLAG_OVERLAPPED, no template.
    EXPECT_EQ(opens[0].args,
              (std::vector<std::uint64_t>{0xC0000000u, 0, kNull, 3, 0x40000000u, kNull}))
        << c.port;
    port.ClosePort();
  }
}

TEST_F(Win32DeviceTest, ComPort1sOpenHandsOverQueuesLineSettingsAndTimeoutsInThisOrder) {
  port.OpenPort();
  EXPECT_EQ(
      fake.NamesOf({"CreateFileA", "SetupComm", "SetCommState", "SetCommTimeouts", "SetCommMask"}),
      (Names{"CreateFileA", "SetupComm", "SetCommState", "SetCommTimeouts", "SetCommMask"}));
  EXPECT_EQ(CallsOf(fake, "SetupComm")[0].args, (std::vector<std::uint64_t>{kDevice, 1024, 1024}));
  const Dcb d = CallsOf(fake, "SetCommState")[0].dcb;
  struct Field {
    const char* name;
    unsigned value;
    unsigned expected;
  } fields[] = {
      {"DCBlength", d.DCBlength, 28},
      {"BaudRate", d.BaudRate, 9600},
      {"fBinary", d.fBinary, 1},
      {"fParity", d.fParity, 0},
      {"fOutxCtsFlow", d.fOutxCtsFlow, 0},
      {"fOutxDsrFlow", d.fOutxDsrFlow, 0},
      {"fDtrControl", d.fDtrControl, 0},
      {"fDsrSensitivity", d.fDsrSensitivity, 0},
      {"fTXContinueOnXoff", d.fTXContinueOnXoff, 0},
      {"fOutX", d.fOutX, 0},
      {"fInX", d.fInX, 0},
      {"fErrorChar", d.fErrorChar, 0},
      {"fNull", d.fNull, 0},
      {"fRtsControl", d.fRtsControl, 0},
      {"fAbortOnError", d.fAbortOnError, 0},
      {"fDummy2", d.fDummy2, 0},
      {"wReserved", d.wReserved, 0},
      {"XonLim", d.XonLim, 256},
      {"XoffLim", d.XoffLim, 256},
      {"ByteSize", d.ByteSize, 8},
      {"Parity", d.Parity, 0},
      {"StopBits", d.StopBits, 0},
      {"XonChar", static_cast<unsigned char>(d.XonChar), 17},
      {"XoffChar", static_cast<unsigned char>(d.XoffChar), 19},
      {"ErrorChar", static_cast<unsigned char>(d.ErrorChar), 0},
      {"EofChar", static_cast<unsigned char>(d.EofChar), 0},
      {"EvtChar", static_cast<unsigned char>(d.EvtChar), 0},
      {"wReserved1", d.wReserved1, 0},
  };
  for (const Field& f : fields) EXPECT_EQ(f.value, f.expected) << f.name;
  const CommTimeouts t = CallsOf(fake, "SetCommTimeouts")[0].timeouts;
  EXPECT_EQ(t, (CommTimeouts{150, 0, 0, 100, 1000}));
  // All ten events.
  EXPECT_EQ(CallsOf(fake, "SetCommMask")[0].args, (std::vector<std::uint64_t>{kDevice, 0x05FF}));
}

TEST_F(Win32DeviceTest, OtherSettingsReachTheDcbFieldForField) {
  struct Case {
    const char* name;
    std::function<void(TComPort&)> set;
    std::function<unsigned(const Dcb&)> field;
    unsigned expected;
  } cases[] = {
      {"even parity", [](TComPort& p) { p.Parity().SetBits(TParityBits::prEven); },
       [](const Dcb& d) { return d.Parity; }, 2},
      {"parity check", [](TComPort& p) { p.Parity().SetCheck(true); },
       [](const Dcb& d) { return d.fParity; }, 1},
      {"two stop bits", [](TComPort& p) { p.SetStopBits(TStopBits::sbTwoStopBits); },
       [](const Dcb& d) { return d.StopBits; }, 2},
      {"seven data bits", [](TComPort& p) { p.SetDataBits(TDataBits::dbSeven); },
       [](const Dcb& d) { return d.ByteSize; }, 7},
      {"RTS toggle", [](TComPort& p) { p.FlowControl().SetControlRTS(TRTSFlowControl::rtsToggle); },
       [](const Dcb& d) { return d.fRtsControl; }, 3},
      {"DTR handshake",
       [](TComPort& p) { p.FlowControl().SetControlDTR(TDTRFlowControl::dtrHandshake); },
       [](const Dcb& d) { return d.fDtrControl; }, 2},
      {"CTS flow", [](TComPort& p) { p.FlowControl().SetOutCTSFlow(true); },
       [](const Dcb& d) { return d.fOutxCtsFlow; }, 1},
      {"discard null", [](TComPort& p) { p.SetDiscardNull(true); },
       [](const Dcb& d) { return d.fNull; }, 1},
      {"event char", [](TComPort& p) { p.SetEventChar('\x7e'); },
       [](const Dcb& d) { return static_cast<unsigned>(d.EvtChar); }, 0x7e},
      {"57600 bit/s", [](TComPort& p) { p.SetBaudRate(TBaudRate::br57600); },
       [](const Dcb& d) { return d.BaudRate; }, 57600},
      {"14400 bit/s", [](TComPort& p) { p.SetBaudRate(TBaudRate::br14400); },
       [](const Dcb& d) { return d.BaudRate; }, 14400},
  };
  for (const Case& c : cases) {
    OwnPort own(dispatcher);
    FakeWin32& f = own.fake;
    TComPort& p = own.port;
    p.SetEvents(TComEvents{});
    p.OpenPort();
    f.ClearCalls();
    c.set(p);  // while open: exactly one SetCommState with the whole record
    const auto states = CallsOf(f, "SetCommState");
    ASSERT_EQ(states.size(), 1u) << c.name;
    EXPECT_EQ(c.field(states[0].dcb), c.expected) << c.name;
    EXPECT_EQ(states[0].dcb.DCBlength, 28u) << c.name;
    EXPECT_EQ(states[0].dcb.fBinary, 1u) << c.name;
    p.ClosePort();
  }
}

TEST_F(Win32DeviceTest, EachFailureRaisesItsCodeWithTheLastErrorInTheMessage) {
  struct Case {
    const char* call;
    Dword error;
    int code;
    const char* message;
  } cases[] = {
      {"CreateFileA", 2, 1, "Unable to open com port (win error code: 2)"},
      {"CreateFileA", 5, 1, "Unable to open com port (win error code: 5)"},
      {"SetupComm", 87, 9, "SetupComm function failed (win error code: 87)"},
      {"SetCommState", 87, 7, "SetCommState function failed (win error code: 87)"},
      {"SetCommTimeouts", 31, 8, "SetCommTimeouts failed (win error code: 31)"},
  };
  for (const Case& c : cases) {
    OwnPort own(dispatcher);
    FakeWin32& f = own.fake;
    TComPort& p = own.port;
    bool after_open = false;
    p.OnAfterOpen = [&](TObject*) { after_open = true; };
    f.FailNext(c.call, c.error);
    const auto e = Thrown<EComPort>([&] { p.OpenPort(); });
    ASSERT_TRUE(e) << c.call;
    EXPECT_EQ(e->ErrorCode(), c.code) << c.call;
    EXPECT_EQ(e->SystemError(), static_cast<int>(c.error)) << c.call;
    EXPECT_STREQ(e->what(), c.message) << c.call;
    EXPECT_FALSE(p.Connected()) << c.call;
    EXPECT_FALSE(after_open) << c.call;
    EXPECT_EQ(f.Count("WaitCommEvent"), 0) << c.call << ": no thread";
    // A device that opened is closed again; nothing stays open.
    EXPECT_TRUE(f.OpenHandles().empty()) << c.call;
  }
}

// --- the event thread -----------------------------------------------------------

TEST_F(Win32DeviceTest, TheEventThreadWaitsOnTheStopSignalFirstAndItsOwnEventSecond) {
  OpenAndWait();
  const auto calls = fake.Calls();
  const auto events = CallsOf(fake, "CreateEventA");
  ASSERT_GE(events.size(), 2u);
  // StopSignal: manual reset, not signalled; the loop's event: manual reset, signalled.
  EXPECT_EQ(events[0].args, (std::vector<std::uint64_t>{kNull, 1, 0, kNull}));
  EXPECT_EQ(events[1].args, (std::vector<std::uint64_t>{kNull, 1, 1, kNull}));
  // SetCommMask before the thread's first wait.
  EXPECT_LT(IndexOf(calls, "SetCommMask"), IndexOf(calls, "WaitCommEvent"));
  ASSERT_TRUE(Eventually([&] { return fake.Count("WaitForMultipleObjects") >= 1; }));
  const auto waits = CallsOf(fake, "WaitForMultipleObjects");
  // Two handles, wake on either, no time limit: StopSignal, then the wait's event.
  EXPECT_EQ(waits[0].args, (std::vector<std::uint64_t>{2, 0, 0xFFFFFFFFu, 0x200, 0x201}));
}

TEST_F(Win32DeviceTest, ArrivingBytesRaiseOnRxCharWithTheQueuedCountAndTheLoopWaitsAgain) {
  std::atomic<int> seen{0};
  port.OnRxChar = [&](TObject*, int count) { seen = count; };
  OpenAndWait();
  fake.SetInQueue(21);
  ASSERT_TRUE(fake.CompleteWait(EV_RXCHAR));
  ASSERT_TRUE(Eventually([&] { return seen.load() == 21; }));
  // The result without waiting, then the next WaitCommEvent on the same block.
  ASSERT_TRUE(Eventually([&] { return fake.Count("WaitCommEvent") == 2; }));
  const auto results = CallsOf(fake, "GetOverlappedResult");
  ASSERT_FALSE(results.empty());
  EXPECT_EQ(results[0].args[2], 0u) << "bWait FALSE";
  const auto waits = CallsOf(fake, "WaitCommEvent");
  EXPECT_EQ(waits[0].args, waits[1].args) << "one OVERLAPPED block for the loop";
}

TEST_F(Win32DeviceTest, ABatchWithoutEventsOrWithAFailedResultIsDroppedAndTheLoopGoesOn) {
  struct Case {
    const char* name;
    std::function<bool(FakeWin32&)> end_wait;
  } cases[] = {
      {"empty mask", [](FakeWin32& f) { return f.CompleteWait(0); }},
      {"failed result", [](FakeWin32& f) { return f.FailWait(kErrorGenFailure); }},
  };
  for (const Case& c : cases) {
    OwnPort own(dispatcher);
    FakeWin32& f = own.fake;
    TComPort& p = own.port;
    int rx = 0;
    p.OnRxChar = [&](TObject*, int) { ++rx; };
    p.OpenPort();
    ASSERT_TRUE(f.WaitForPending("WaitCommEvent")) << c.name;
    f.SetInQueue(5);
    ASSERT_TRUE(c.end_wait(f)) << c.name;
    ASSERT_TRUE(Eventually([&] { return f.Count("WaitCommEvent") == 2; })) << c.name;
    EXPECT_EQ(f.Count("ClearCommError"), 0) << c.name << ": nothing delivered";
    EXPECT_EQ(rx, 0) << c.name;
    p.ClosePort();
  }
}

TEST_F(Win32DeviceTest, BytesQueuedWithNoEventAreDeliveredAtTheNextLookWithTheirLineErrors) {
  // Wine's event wait can stall with an answer queued; the look reads it all the same.
  FakeWin32 f;
  Win32CommDevice dev(f.api());
  TComPort p("ComPort1", dev, dispatcher);
  p.SetSyncMethod(TSyncMethod::smNone);  // as ComPort1
  std::atomic<int> seen{0};
  std::atomic<bool> frame_error{false};
  p.OnRxChar = [&](TObject*, int count) { seen = count; };
  p.OnError = [&](TObject*, TComErrors errors) {
    frame_error = errors.Contains(TComError::ceFrame);
  };
  p.OpenPort();
  ASSERT_TRUE(f.WaitForPending("WaitCommEvent"));
  ASSERT_TRUE(Eventually([&] { return f.Count("ClearCommError") >= 2; })) << "it looks";
  EXPECT_EQ(seen.load(), 0) << "an empty queue raises nothing";
  EXPECT_EQ(CallsOf(f, "WaitForMultipleObjects")[0].args[2], Win32CommDevice::kQueueLookMs);
  f.SetLineErrors(CE_FRAME);
  f.SetInQueue(7);  // and no event
  ASSERT_TRUE(Eventually([&] { return seen.load() == 7; }));
  EXPECT_EQ(f.Count("WaitCommEvent"), 1) << "the wait stays pending";
  EXPECT_TRUE(frame_error.load()) << "the look kept the flags for the error's delivery";
  p.ClosePort();
}

TEST_F(Win32DeviceTest, AWaitThatFailsAtOnceEndsTheThreadInsteadOfSpinning) {
  // Under Wine on a pty without modem lines WaitCommEvent fails at once with 50; an
  // unplugged adapter fails it too.
  fake.FailNext("WaitCommEvent", 50);
  port.OpenPort();
  ASSERT_TRUE(Eventually([&] { return fake.Count("PurgeComm") >= 1; }));
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(fake.Count("WaitCommEvent"), 1);
  EXPECT_EQ(fake.Count("WaitForMultipleObjects"), 0);
  // The loop's end: the mask cleared, both queues emptied (12).
  const auto calls = fake.Calls();
  EXPECT_GE(IndexOf(calls, "SetCommMask", {kDevice, 0}), 0);
  EXPECT_GE(IndexOf(calls, "PurgeComm", {kDevice, 12}), 0);
  EXPECT_TRUE(port.Connected());
  port.ClosePort();
  EXPECT_TRUE(fake.OpenHandles().empty());
}

// --- closing --------------------------------------------------------------------

TEST_F(Win32DeviceTest, ClosingAbortsStopsTheThreadClearsTheQueuesAndClosesTheDeviceLast) {
  OpenAndWait();
  fake.ClearCalls();
  port.ClosePort();
  const auto calls = fake.Calls();
  const int abort = IndexOf(calls, "PurgeComm", {kDevice, 3});
  const int stop = IndexOf(calls, "SetEvent", {0x200});
  const int unmask = IndexOf(calls, "SetCommMask", {kDevice, 0});
  const int clear = IndexOf(calls, "PurgeComm", {kDevice, 12});
  const int close_wait_event = IndexOf(calls, "CloseHandle", {0x201});
  const int close_stop = IndexOf(calls, "CloseHandle", {0x200});
  const int close_device = IndexOf(calls, "CloseHandle", {kDevice});
  ASSERT_GE(abort, 0);
  EXPECT_LT(abort, stop);
  EXPECT_LT(stop, unmask);
  EXPECT_LT(unmask, clear);
  EXPECT_LT(clear, close_wait_event);
  EXPECT_LT(close_wait_event, close_stop);
  EXPECT_LT(close_stop, close_device);
  EXPECT_EQ(close_device, static_cast<int>(calls.size()) - 1);
  EXPECT_FALSE(port.Connected());
  EXPECT_TRUE(fake.OpenHandles().empty());
}

TEST_F(Win32DeviceTest, AFailedAbortRaisesCode5AndLeavesThePortOpen) {
  OpenAndWait();
  fake.FailNext("PurgeComm", 6);
  const auto e = Thrown<EComPort>([&] { port.ClosePort(); });
  ASSERT_TRUE(e);
  EXPECT_EQ(e->ErrorCode(), 5);
  EXPECT_STREQ(e->what(), "PurgeComm function failed (win error code: 6)");
  EXPECT_TRUE(port.Connected());
  EXPECT_EQ(fake.Count("SetEvent"), 0) << "the thread runs on";
  EXPECT_EQ(fake.Count("CloseHandle"), 0);
}

TEST_F(Win32DeviceTest, AReadThatClosingAbortsFailsWith995AndTheCloseCompletes) {
  // Windows ends the pending read on PurgeComm; Wine does not, and the cancel of the
  // read's own OVERLAPPED that follows it does.
  struct Case {
    const char* name;
    bool purge_ends_reads;
  } cases[] = {{"Windows", true}, {"Wine", false}};
  for (const Case& c : cases) {
    OwnPort own(dispatcher);
    FakeWin32& f = own.fake;
    TComPort& p = own.port;
    f.PurgeEndsTransfers(c.purge_ends_reads);
    p.Timeouts().SetReadInterval(150);
    std::atomic<int> code{0}, system_error{0};
    p.OnRxChar = [&](TObject*, int) {
      char buffer[33];
      try {
        p.ReadBytes(buffer, 33);
      } catch (const EComPort& e) {
        code = e.ErrorCode();
        system_error = e.SystemError();
        throw;  // ends the thread, as the window's handler does
      }
    };
    p.OpenPort();
    ASSERT_TRUE(f.WaitForPending("WaitCommEvent")) << c.name;
    f.SetInQueue(3);
    ASSERT_TRUE(f.CompleteWait(EV_RXCHAR)) << c.name;
    ASSERT_TRUE(f.WaitForPending("ReadFile")) << c.name;
    p.ClosePort();
    EXPECT_EQ(code.load(), 3) << c.name;
    EXPECT_EQ(system_error.load(), 995) << c.name;
    EXPECT_FALSE(p.Connected()) << c.name;
    EXPECT_TRUE(f.OpenHandles().empty()) << c.name;
    const auto calls = f.Calls();
    // The read's cancel follows the abort, on the read's own block, before the device
    // is closed. (Not always the very next call: where the abort itself ends the read,
    // the event thread takes its result meanwhile.)
    const int purge = IndexOf(calls, "PurgeComm", {kDevice, 3});
    ASSERT_GE(purge, 0) << c.name;
    int cancel = -1, close = -1;
    for (std::size_t i = static_cast<std::size_t>(purge) + 1; i < calls.size(); ++i) {
      if (cancel < 0 && calls[i].name == "CancelIoEx") cancel = static_cast<int>(i);
      if (close < 0 && calls[i].name == "CloseHandle" && calls[i].args[0] == kDevice)
        close = static_cast<int>(i);
    }
    if (c.purge_ends_reads && cancel < 0) {
      // The abort itself ended the read, and the event thread took its result before the
      // device looked for transfers still under way: nothing was left to cancel.
      EXPECT_GT(close, purge) << c.name;
      continue;
    }
    ASSERT_GT(cancel, purge) << c.name;
    EXPECT_GT(close, cancel) << c.name;
    EXPECT_EQ(calls[static_cast<std::size_t>(cancel)].args[1], CallsOf(f, "ReadFile")[0].args[2])
        << c.name;
  }
}

// --- transfers ------------------------------------------------------------------

TEST_F(Win32DeviceTest, TransfersAcceptAtOnceOrPendingAndWaitForTheirOwnEvent) {
  struct Case {
    const char* name;
    bool write;
    bool at_once;
  } cases[] = {
      {"write at once", true, true},
      {"write pending", true, false},
      {"read at once", false, true},
      {"read pending", false, false},
  };
  const std::vector<std::uint8_t> request = {0xF7, 0x03, 0x00, 0x00, 0x00, 0x08, 0x50, 0x9A};
  for (const Case& c : cases) {
    OwnPort own(dispatcher);
    FakeWin32& f = own.fake;
    TComPort& p = own.port;
    p.SetEvents(TComEvents{});
    p.OpenPort();
    f.ClearCalls();
    if (c.at_once && c.write) f.ScriptWriteNow(8);
    if (c.at_once && !c.write) f.ScriptReadNow({1, 2, 3, 4, 5});
    std::thread completer;
    if (!c.at_once) {
      completer = std::thread([&] {
        if (!f.WaitForPending(c.write ? "WriteFile" : "ReadFile")) return;
        if (c.write)
          f.CompleteWrite(8);
        else
          f.CompleteRead({1, 2, 3, 4, 5});
      });
    }
    std::uint8_t buffer[33] = {};
    const int n = c.write ? p.WriteBytes(request.data(), 8) : p.ReadBytes(buffer, 33);
    if (completer.joinable()) completer.join();
    EXPECT_EQ(n, c.write ? 8 : 5) << c.name;
    EXPECT_EQ(buffer[4], c.write ? 0 : 5) << c.name;
    // A request of its own: a manual-reset event created signalled; the transfer; the
    // wait without a time limit; the result without waiting; the event closed.
    const Names expected = c.write
                               ? Names{"CreateEventA", "WriteFile", "WaitForSingleObject",
                                       "GetOverlappedResult", "CloseHandle"}
                               : Names{"CreateEventA",        "ReadFile",    "WaitForSingleObject",
                                       "GetOverlappedResult", "CloseHandle", "ClearCommError"};
    EXPECT_EQ(f.Names(), expected) << c.name;
    const auto calls = f.Calls();
    EXPECT_EQ(calls[0].args, (std::vector<std::uint64_t>{kNull, 1, 1, kNull})) << c.name;
    EXPECT_EQ(calls[1].args[1], c.write ? 8u : 33u) << c.name;
    EXPECT_EQ(calls[2].args, (std::vector<std::uint64_t>{0x200, 0xFFFFFFFFu})) << c.name;
    EXPECT_EQ(calls[3].args[2], 0u) << c.name << ": bWait FALSE";
    EXPECT_EQ(calls[4].args, (std::vector<std::uint64_t>{0x200})) << c.name;
    p.ClosePort();
  }
}

TEST_F(Win32DeviceTest, AFailedTransferRaisesItsCodeAndReleasesItsEvent) {
  struct Case {
    const char* name;
    bool write;
    const char* failing;
    Dword error;
    int code;
    const char* message;
  } cases[] = {
      {"WriteFile refused", true, "WriteFile", 5, 2,
       "WriteFile function failed (win error code: 5)"},
      {"write result", true, "GetOverlappedResult", 1167, 2,
       "WriteFile function failed (win error code: 1167)"},
      {"write wait", true, "WaitForSingleObject", 6, 2,
       "WriteFile function failed (win error code: 6)"},
      {"write event", true, "CreateEventA", 1450, 2,
       "WriteFile function failed (win error code: 1450)"},
      {"ReadFile refused", false, "ReadFile", 22, 3,
       "ReadFile function failed (win error code: 22)"},
      {"read result", false, "GetOverlappedResult", 995, 3,
       "ReadFile function failed (win error code: 995)"},
  };
  const std::uint8_t request[8] = {0xF7, 0x03, 0, 0, 0, 8, 0x50, 0x9A};
  for (const Case& c : cases) {
    OwnPort own(dispatcher);
    FakeWin32& f = own.fake;
    TComPort& p = own.port;
    p.SetEvents(TComEvents{});
    p.OpenPort();
    if (c.write)
      f.ScriptWriteNow(8);
    else
      f.ScriptReadNow({1});
    f.FailNext(c.failing, c.error);
    std::uint8_t buffer[8];
    const auto e = Thrown<EComPort>([&] {
      if (c.write)
        p.WriteBytes(request, 8);
      else
        p.ReadBytes(buffer, 8);
    });
    ASSERT_TRUE(e) << c.name;
    EXPECT_EQ(e->ErrorCode(), c.code) << c.name;
    EXPECT_STREQ(e->what(), c.message) << c.name;
    EXPECT_TRUE(p.Connected()) << c.name;
    // Only the device is left open: the request's event went with it.
    EXPECT_EQ(f.OpenHandles(), (std::vector<std::uint64_t>{kDevice})) << c.name;
    p.ClosePort();
  }
}

// --- queries --------------------------------------------------------------------

TEST_F(Win32DeviceTest, QueriesReadTheQueueTheErrorsAndTheModemLines) {
  port.SetEvents(TComEvents{});
  port.OpenPort();
  fake.SetInQueue(17);
  EXPECT_EQ(port.QueuedInputCount(), 17);
  fake.SetLineErrors(CE_FRAME | CE_OVERRUN | CE_RXPARITY);
  const TComErrors errors = port.LineErrors();
  EXPECT_TRUE(errors.Contains(TComError::ceFrame));
  EXPECT_TRUE(errors.Contains(TComError::ceOverrun));
  EXPECT_FALSE(errors.Contains(TComError::ceRxParity)) << "parity is not checked";
  EXPECT_TRUE(port.LineErrors().Empty()) << "the query clears them";
  fake.SetModemStatus(MS_CTS_ON | MS_RLSD_ON);
  const TModemSignals lines = port.ModemSignals();
  EXPECT_TRUE(lines.Contains(TComSignal::csCTS));
  EXPECT_FALSE(lines.Contains(TComSignal::csDSR));
  EXPECT_TRUE(lines.Contains(TComSignal::csRLSD));

  struct Case {
    const char* call;
    int code;
    std::function<void()> query;
    const char* message;
  } cases[] = {
      {"ClearCommError", 10, [&] { port.QueuedInputCount(); },
       "ClearCommError function failed (win error code: 6)"},
      {"ClearCommError", 10, [&] { port.LineErrors(); },
       "ClearCommError function failed (win error code: 6)"},
      {"GetCommModemStatus", 11, [&] { port.ModemSignals(); },
       "GetCommModemStatus function failed (win error code: 6)"},
  };
  for (const Case& c : cases) {
    fake.FailNext(c.call, 6);
    const auto e = Thrown<EComPort>([&] { c.query(); });
    ASSERT_TRUE(e) << c.call;
    EXPECT_EQ(e->ErrorCode(), c.code) << c.call;
    EXPECT_STREQ(e->what(), c.message) << c.call;
  }
}

TEST_F(Win32DeviceTest, AFailedCallWhoseLastErrorReadsZeroStillFails) {
  port.SetEvents(TComEvents{});
  fake.FailNext("CreateFileA", 0);
  EXPECT_THROW(port.OpenPort(), EComPort);
  EXPECT_FALSE(port.Connected());
}

}  // namespace
}  // namespace ornat
