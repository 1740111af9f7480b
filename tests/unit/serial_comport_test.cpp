// The serial port component over the scripted device, recorded: which
// device calls, in which order, how often; handlers; settings objects; errors.

#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <vector>

#include "runtime/dispatcher.h"
#include "runtime/handler_gate.h"
#include "serial/comport.h"
#include "serial/comthread.h"
#include "serial/platform/recording_comm_device.h"
#include "support/platform_errors.h"
#include "support/scripted_comm_device.h"
#include "support/thrown.h"
#include "ui/toolkit/dialogs.h"

namespace ornat {
namespace {

using Names = std::vector<std::string>;
using testing::Thrown;

constexpr std::uint32_t kAllEventsMask = 0x05FF;

// The record ComPort1 hands over at every open.
LineSettings ComPort1Line() {
  LineSettings d;
  d.DCBlength = 28;
  d.BaudRate = 9600;
  d.fBinary = true;
  d.XonLim = 256;
  d.XoffLim = 256;
  d.ByteSize = 8;
  d.Parity = 0;
  d.StopBits = 0;
  d.XonChar = 17;
  d.XoffChar = 19;
  return d;
}

class ComPortTest : public ::testing::Test {
 protected:
  ComPortTest() : gate(dialogs), dispatcher(gate), port("ComPort1", device, dispatcher) {}
  // The stored form of ComPort1.
  void MakeComPort1() {
    port.BeginLoading();
    port.SetBaudRate(TBaudRate::br9600);
    port.SetPort("COM1");
    port.Timeouts().SetReadInterval(150);
    port.SetSyncMethod(TSyncMethod::smNone);
    port.EndLoading();
  }
  // ComPort1 open, with no device calls recorded yet.
  void OpenComPort1() {
    MakeComPort1();
    port.OpenPort();
    device.ClearCalls();
  }
  // Records the handlers in one log together with the device calls seen so far.
  void RecordHandlers() {
    auto note = [this](const std::string& what) {
      log.push_back(what + "@" + std::to_string(device.NamesWithoutWaits().size()));
    };
    port.OnBeforeOpen = [=](TObject*) { note("BeforeOpen"); };
    port.OnAfterOpen = [=](TObject*) { note("AfterOpen"); };
    port.OnBeforeClose = [=](TObject*) { note("BeforeClose"); };
    port.OnAfterClose = [=](TObject*) { note("AfterClose"); };
    port.OnCTSChange = [=](TObject*, bool on) { note(std::string("CTS") + (on ? "1" : "0")); };
    port.OnDSRChange = [=](TObject*, bool on) { note(std::string("DSR") + (on ? "1" : "0")); };
    port.OnRLSDChange = [=](TObject*, bool on) { note(std::string("RLSD") + (on ? "1" : "0")); };
  }

  ScriptedDialogs dialogs;
  HandlerGate gate;
  QueueDispatcher dispatcher;
  testing::ScriptedCommDevice script;
  RecordingCommDevice device{script};
  TComPort port;
  std::vector<std::string> log;
};

// --- defaults -----------------------------------------------------------------

TEST_F(ComPortTest, ANewPortHasTheDefaultsOfTheTable) {
  EXPECT_FALSE(port.Connected());
  EXPECT_EQ(port.BaudRate(), TBaudRate::br9600);
  EXPECT_EQ(port.CustomBaudRate(), 9600);
  EXPECT_EQ(port.Port(), "COM1");
  EXPECT_EQ(port.Parity().Bits(), TParityBits::prNone);
  EXPECT_FALSE(port.Parity().Check());
  EXPECT_FALSE(port.Parity().Replace());
  EXPECT_EQ(port.Parity().ReplaceChar(), 0);
  EXPECT_EQ(port.StopBits(), TStopBits::sbOneStopBit);
  EXPECT_EQ(port.DataBits(), TDataBits::dbEight);
  EXPECT_FALSE(port.DiscardNull());
  EXPECT_EQ(port.EventChar(), 0);
  EXPECT_EQ(port.Events(), TComEvents::All());
  EXPECT_EQ(port.Buffer().InputSize(), 1024);
  EXPECT_EQ(port.Buffer().OutputSize(), 1024);
  const TComFlowControl& f = port.FlowControl();
  EXPECT_FALSE(f.OutCTSFlow());
  EXPECT_FALSE(f.OutDSRFlow());
  EXPECT_EQ(f.ControlDTR(), TDTRFlowControl::dtrDisable);
  EXPECT_EQ(f.ControlRTS(), TRTSFlowControl::rtsDisable);
  EXPECT_FALSE(f.XonXoffOut());
  EXPECT_FALSE(f.XonXoffIn());
  EXPECT_FALSE(f.DSRSensitivity());
  EXPECT_FALSE(f.TxContinueOnXoff());
  EXPECT_EQ(f.XonChar(), 17);
  EXPECT_EQ(f.XoffChar(), 19);
  EXPECT_EQ(f.FlowControl(), TFlowControl::fcNone);
  EXPECT_EQ(port.Timeouts().ReadInterval(), -1);
  EXPECT_EQ(port.Timeouts().ReadTotalMultiplier(), 0);
  EXPECT_EQ(port.Timeouts().ReadTotalConstant(), 0);
  EXPECT_EQ(port.Timeouts().WriteTotalMultiplier(), 100);
  EXPECT_EQ(port.Timeouts().WriteTotalConstant(), 1000);
  EXPECT_EQ(port.SyncMethod(), TSyncMethod::smThreadSync);
  EXPECT_EQ(port.Name(), "ComPort1");
  EXPECT_TRUE(device.Names().empty());
}

TEST(BaudRateToBits, GivesTheBitRateOfEveryTableValue) {
  const int expected[] = {0,     110,   300,   600,   1200,  2400,   4800,   9600,
                          14400, 19200, 38400, 56000, 57600, 115200, 128000, 256000};
  for (int i = 0; i < 16; ++i) EXPECT_EQ(BaudRateToBits(static_cast<TBaudRate>(i)), expected[i]);
}

// --- opening ------------------------------------------------------------------

TEST_F(ComPortTest, OpeningComPort1MakesTheThreeSettingCallsThenStartsTheThread) {
  MakeComPort1();
  RecordHandlers();
  port.OpenPort();
  EXPECT_TRUE(port.Connected());
  EXPECT_TRUE(port.ThreadCreated());
  EXPECT_EQ(device.NamesWithoutWaits(),
            (Names{"Open", "SetupQueues", "SetLineSettings", "SetTimeouts", "SetEventMask",
                   "GetModemStatus", "GetModemStatus", "GetModemStatus"}));
  auto calls = device.calls();
  EXPECT_EQ(device.Last("Open").port, "COM1");
  EXPECT_EQ(device.Last("SetupQueues").args, (std::vector<std::int64_t>{1024, 1024}));
  EXPECT_EQ(device.Last("SetLineSettings").line, ComPort1Line());
  CommTimeouts t = device.Last("SetTimeouts").timeouts;
  EXPECT_EQ(t, (CommTimeouts{150, 0, 0, 100, 1000}));
  EXPECT_EQ(device.Last("SetEventMask").args, (std::vector<std::int64_t>{kAllEventsMask}));
  // OnBeforeOpen before any call; OnAfterOpen after the thread; then CTS, DSR, RLSD,
  // each after its own modem status query.
  EXPECT_EQ(log, (Names{"BeforeOpen@0", "AfterOpen@5", "CTS0@6", "DSR0@7", "RLSD0@8"}));
  port.ClosePort();
}

TEST_F(ComPortTest, OpeningAnOpenPortDoesNothing) {
  OpenComPort1();
  RecordHandlers();
  port.OpenPort();
  port.SetConnected(true);
  EXPECT_TRUE(device.NamesWithoutWaits().empty());
  EXPECT_TRUE(log.empty());
  port.ClosePort();
}

TEST_F(ComPortTest, ClosingAClosedPortDoesNothing) {
  RecordHandlers();
  port.ClosePort();
  port.SetConnected(false);
  EXPECT_TRUE(device.Names().empty());
  EXPECT_TRUE(log.empty());
}

TEST_F(ComPortTest, ModemLinesThatAreOnReachTheHandlersAtOpen) {
  MakeComPort1();
  RecordHandlers();
  script.SetModemStatus(MS_CTS_ON | MS_RLSD_ON);
  port.OpenPort();
  EXPECT_EQ(log, (Names{"BeforeOpen@0", "AfterOpen@5", "CTS1@6", "DSR0@7", "RLSD1@8"}));
  port.ClosePort();
}

TEST_F(ComPortTest, AFailedOpenRunsOnlyOnBeforeOpenAndRaisesCode1WithTheErrno) {
  MakeComPort1();
  RecordHandlers();
  device.FailNext("Open", ENOENT);
  const auto e = Thrown<EComPort>([&] { port.OpenPort(); });
  ASSERT_TRUE(e);
  EXPECT_EQ(e->ErrorCode(), 1);
  EXPECT_EQ(e->SystemError(), 2);
  EXPECT_STREQ(e->what(), "Unable to open com port (win error code: 2)");
  EXPECT_FALSE(port.Connected());
  EXPECT_FALSE(port.ThreadCreated());
  EXPECT_EQ(device.Names(), (Names{"Open"}));
  EXPECT_EQ(log, (Names{"BeforeOpen@0"}));
}

TEST_F(ComPortTest, AHeldDeviceGivesCode1WithEbusyAndNamesItsHoldersAfterTheSuffix) {
  struct Case {
    const char* what;
    std::vector<PortHolder> holders;
    const char* message;
  };
  const Case cases[] = {
      {"no holder found", {}, "Unable to open com port (win error code: 16)"},
      {"one holder",
       {{1234, "cat"}},
       "Unable to open com port (win error code: 16); held by cat (pid 1234)"},
      {"two holders",
       {{88, "ModemManager"}, {1234, "cat"}},
       "Unable to open com port (win error code: 16); held by ModemManager (pid 88), cat (pid "
       "1234)"},
      {"a holder whose name could not be read",
       {{5, ""}},
       "Unable to open com port (win error code: 16); held by pid 5"},
  };
  ASSERT_EQ(EBUSY, 16);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    device.SetHolders(c.holders);
    device.FailNext("Open", EBUSY);
    const auto e = Thrown<EComPort>([&] { port.OpenPort(); });
    ASSERT_TRUE(e);
    EXPECT_EQ(e->ErrorCode(), 1);
    EXPECT_EQ(e->SystemError(), EBUSY);
    EXPECT_EQ(e->Holders(), c.holders);
    EXPECT_STREQ(e->what(), c.message);
    EXPECT_FALSE(port.Connected());
    // Where no handler catches it, the exception report shows the same text.
    dialogs.exceptions.clear();
    port.BeginLoading();
    port.SetConnected(true);
    device.FailNext("Open", EBUSY);
    port.EndLoading();
    dispatcher.RunPending();
    ASSERT_EQ(dialogs.exceptions.size(), 1u);
    EXPECT_EQ(dialogs.exceptions[0], c.message);
  }
}

TEST_F(ComPortTest, ASettingFailureAtOpenClosesTheDeviceAgain) {
  struct Case {
    const char* call;
    int code;
    Names calls;
  } cases[] = {
      {"SetupQueues", 9, {"Open", "SetupQueues", "Close"}},
      {"SetLineSettings", 7, {"Open", "SetupQueues", "SetLineSettings", "Close"}},
      {"SetTimeouts", 8, {"Open", "SetupQueues", "SetLineSettings", "SetTimeouts", "Close"}},
  };
  MakeComPort1();
  RecordHandlers();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.call);
    device.ClearCalls();
    log.clear();
    device.FailNext(c.call, EIO);
    const auto e = Thrown<EComPort>([&] { port.OpenPort(); });
    ASSERT_TRUE(e);
    EXPECT_EQ(e->ErrorCode(), c.code);
    EXPECT_EQ(e->SystemError(), EIO);
    EXPECT_FALSE(port.Connected());
    EXPECT_FALSE(port.ThreadCreated());
    EXPECT_FALSE(device.IsOpen());
    EXPECT_EQ(device.Names(), c.calls);
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0], "BeforeOpen@0");
  }
}

TEST_F(ComPortTest, AModemStatusFailureAtTheEndOfOpeningLeavesThePortOpen) {
  MakeComPort1();
  device.FailNext("GetModemStatus", EIO);
  const auto e = Thrown<EComPort>([&] { port.OpenPort(); });
  ASSERT_TRUE(e);
  EXPECT_EQ(e->ErrorCode(), 11);
  EXPECT_TRUE(port.Connected());
  port.ClosePort();
  EXPECT_FALSE(port.Connected());
}

TEST_F(ComPortTest, EmptyEventsStartNoThreadAndClosingSkipsTheThreadStep) {
  MakeComPort1();
  port.SetEvents(TComEvents{});
  bool any_line_event = false;
  port.OnRxChar = [&](TObject*, int) { any_line_event = true; };
  port.OnError = [&](TObject*, TComErrors) { any_line_event = true; };
  port.OpenPort();
  EXPECT_TRUE(port.Connected());
  EXPECT_FALSE(port.ThreadCreated());
  EXPECT_EQ(port.EventThread(), nullptr);
  script.PushReceived({1, 2, 3}, true);
  port.ClosePort();
  EXPECT_FALSE(any_line_event);
  EXPECT_EQ(device.Names(),
            (Names{"Open", "SetupQueues", "SetLineSettings", "SetTimeouts", "GetModemStatus",
                   "GetModemStatus", "GetModemStatus", "Purge", "Close"}));
}

// --- closing ------------------------------------------------------------------

TEST_F(ComPortTest, ClosingRunsTheSignalHandlersThenAbortsStopsTheThreadAndCloses) {
  MakeComPort1();
  port.OpenPort();
  RecordHandlers();
  script.SetModemStatus(MS_CTS_ON | MS_DSR_ON | MS_RLSD_ON);  // not read at close
  device.ClearCalls();
  port.ClosePort();
  EXPECT_FALSE(port.Connected());
  EXPECT_FALSE(port.ThreadCreated());
  EXPECT_FALSE(device.IsOpen());
  EXPECT_EQ(device.NamesWithoutWaits(), (Names{"Purge", "SetEventMask", "Purge", "Close"}));
  auto calls = device.calls();
  std::vector<std::int64_t> purges;
  for (const auto& c : calls)
    if (c.name == "Purge") purges.push_back(c.args[0]);
  EXPECT_EQ(purges, (std::vector<std::int64_t>{PURGE_TXABORT | PURGE_RXABORT,
                                               PURGE_TXCLEAR | PURGE_RXCLEAR}));
  EXPECT_EQ(device.Last("SetEventMask").args, (std::vector<std::int64_t>{0}));
  EXPECT_EQ(log, (Names{"CTS0@0", "DSR0@0", "RLSD0@0", "BeforeClose@0", "AfterClose@4"}));
}

TEST_F(ComPortTest, AFailedAbortStopsTheCloseAndThePortStaysOpenWithItsThread) {
  OpenComPort1();
  RecordHandlers();
  device.FailNext("Purge", EIO);
  const auto e = Thrown<EComPort>([&] { port.ClosePort(); });
  ASSERT_TRUE(e);
  EXPECT_EQ(e->ErrorCode(), 5);
  EXPECT_EQ(e->SystemError(), EIO);
  EXPECT_STREQ(e->what(), "PurgeComm function failed (win error code: 5)");
  EXPECT_TRUE(port.Connected());
  EXPECT_TRUE(port.ThreadCreated());
  EXPECT_TRUE(device.IsOpen());
  EXPECT_FALSE(port.EventThread()->Finished());
  EXPECT_EQ(log, (Names{"CTS0@0", "DSR0@0", "RLSD0@0", "BeforeClose@0"}));
  device.ClearCalls();
  port.OpenPort();  // still counts as open: nothing
  EXPECT_TRUE(device.NamesWithoutWaits().empty());
  port.ClosePort();
  EXPECT_FALSE(port.Connected());
}

TEST_F(ComPortTest, DestroyingAnOpenPortRunsTheCloseHandlersAndClosesTheDevice) {
  ScriptedDialogs d;
  HandlerGate g(d);
  QueueDispatcher q(g);
  testing::ScriptedCommDevice own;
  RecordingCommDevice dev{own};
  Names seen;
  {
    TComPort p("ComPort1", dev, q);
    p.SetSyncMethod(TSyncMethod::smNone);
    p.OpenPort();
    p.OnBeforeClose = [&](TObject*) { seen.push_back("BeforeClose"); };
    p.OnAfterClose = [&](TObject* s) {
      // The settings objects still exist while the close handlers run.
      seen.push_back("AfterClose " +
                     std::to_string(static_cast<TCustomComPort*>(s)->Buffer().InputSize()));
    };
  }
  EXPECT_EQ(seen, (Names{"BeforeClose", "AfterClose 1024"}));
  EXPECT_FALSE(dev.IsOpen());
  EXPECT_EQ(dev.NamesWithoutWaits().back(), "Close");
}

// --- setters ------------------------------------------------------------------

TEST_F(ComPortTest, BaudRateSetToItsCurrentValueMakesNoCall) {
  OpenComPort1();
  port.SetBaudRate(TBaudRate::br9600);
  EXPECT_EQ(device.Count("SetLineSettings"), 0);
  port.ClosePort();
}

TEST_F(ComPortTest, ANewBaudRateWhileOpenMakesExactlyOneLineSettingsCallWithTheWholeRecord) {
  MakeComPort1();
  port.Parity().SetBits(TParityBits::prEven);  // part of the record too
  port.OpenPort();
  device.ClearCalls();
  port.SetBaudRate(TBaudRate::br19200);
  EXPECT_EQ(device.NamesWithoutWaits(), (Names{"SetLineSettings"}));
  LineSettings expected = ComPort1Line();
  expected.BaudRate = 19200;
  expected.Parity = 2;
  EXPECT_EQ(device.Last("SetLineSettings").line, expected);
  port.ClosePort();
}

TEST_F(ComPortTest, ANewBaudRateWhileClosedIsAppliedAtTheNextOpen) {
  MakeComPort1();
  port.SetBaudRate(TBaudRate::br57600);
  EXPECT_TRUE(device.Names().empty());
  port.OpenPort();
  EXPECT_EQ(device.Count("SetLineSettings"), 1);
  EXPECT_EQ(device.Last("SetLineSettings").line.BaudRate, 57600u);
  port.ClosePort();
}

TEST_F(ComPortTest, EveryLineSettingWhileOpenMakesOneCall) {
  OpenComPort1();
  port.SetCustomBaudRate(12345);  // stored; the record still says 9600 (br9600)
  port.SetDataBits(TDataBits::dbSeven);
  port.SetStopBits(TStopBits::sbTwoStopBits);
  port.SetDiscardNull(true);
  port.SetEventChar('\r');
  port.Parity().SetCheck(true);
  port.FlowControl().SetControlDTR(TDTRFlowControl::dtrEnable);
  EXPECT_EQ(device.Count("SetLineSettings"), 7);
  LineSettings d = device.Last("SetLineSettings").line;
  EXPECT_EQ(d.BaudRate, 9600u);
  EXPECT_EQ(d.ByteSize, 7);
  EXPECT_EQ(d.StopBits, 2);
  EXPECT_TRUE(d.fNull);
  EXPECT_EQ(d.EvtChar, '\r');
  EXPECT_TRUE(d.fParity);
  EXPECT_EQ(d.fDtrControl, 1);
  port.SetBaudRate(TBaudRate::brCustom);
  EXPECT_EQ(device.Last("SetLineSettings").line.BaudRate, 12345u);
  port.ClosePort();
}

TEST_F(ComPortTest, TheLineSettingsRecordCarriesEveryTabledField) {
  port.SetBaudRate(TBaudRate::br256000);
  port.SetDataBits(TDataBits::dbFive);
  port.SetStopBits(TStopBits::sbOne5StopBits);
  port.Parity().SetBits(TParityBits::prSpace);
  port.Parity().SetCheck(true);
  port.Parity().SetReplace(true);
  port.Parity().SetReplaceChar('?');
  TComFlowControl& f = port.FlowControl();
  f.SetOutCTSFlow(true);
  f.SetOutDSRFlow(true);
  f.SetControlDTR(TDTRFlowControl::dtrHandshake);
  f.SetControlRTS(TRTSFlowControl::rtsToggle);
  f.SetXonXoffOut(true);
  f.SetXonXoffIn(true);
  f.SetDSRSensitivity(true);
  f.SetTxContinueOnXoff(true);
  f.SetXonChar(1);
  f.SetXoffChar(2);
  port.Buffer().SetInputSize(4096);
  port.SetDiscardNull(true);
  port.SetEventChar('#');
  LineSettings d = port.BuildLineSettings();
  EXPECT_EQ(d.DCBlength, 28u);
  EXPECT_EQ(d.BaudRate, 256000u);
  EXPECT_TRUE(d.fBinary);
  EXPECT_TRUE(d.fParity);
  EXPECT_TRUE(d.fOutxCtsFlow);
  EXPECT_TRUE(d.fOutxDsrFlow);
  EXPECT_EQ(d.fDtrControl, 2);
  EXPECT_TRUE(d.fDsrSensitivity);
  EXPECT_TRUE(d.fTXContinueOnXoff);
  EXPECT_TRUE(d.fOutX);
  EXPECT_TRUE(d.fInX);
  EXPECT_TRUE(d.fErrorChar);
  EXPECT_TRUE(d.fNull);
  EXPECT_EQ(d.fRtsControl, 3);
  EXPECT_FALSE(d.fAbortOnError);
  EXPECT_EQ(d.XonLim, 1024);
  EXPECT_EQ(d.XoffLim, 1024);
  EXPECT_EQ(d.ByteSize, 5);
  EXPECT_EQ(d.Parity, 4);
  EXPECT_EQ(d.StopBits, 1);
  EXPECT_EQ(d.XonChar, 1);
  EXPECT_EQ(d.XoffChar, 2);
  EXPECT_EQ(d.ErrorChar, '?');
  EXPECT_EQ(d.EofChar, 0);
  EXPECT_EQ(d.EvtChar, '#');
  port.Parity().SetReplace(false);  // fErrorChar 0: ErrorChar 0 as well
  d = port.BuildLineSettings();
  EXPECT_FALSE(d.fErrorChar);
  EXPECT_EQ(d.ErrorChar, 0);
  EXPECT_TRUE(device.Names().empty());  // closed: nothing reached the device
}

TEST_F(ComPortTest, TimeoutsOfMinusOneArePassedAsAllOnes) {
  port.OpenPort();
  EXPECT_EQ(device.Last("SetTimeouts").timeouts, (CommTimeouts{0xFFFFFFFFu, 0, 0, 100, 1000}));
  device.ClearCalls();
  port.Timeouts().SetReadTotalConstant(-1);
  port.Timeouts().SetReadTotalConstant(-1);  // same value: nothing
  EXPECT_EQ(device.NamesWithoutWaits(), (Names{"SetTimeouts"}));
  EXPECT_EQ(device.Last("SetTimeouts").timeouts.ReadTotalTimeoutConstant, 0xFFFFFFFFu);
  port.ClosePort();
}

TEST_F(ComPortTest, InputSize1025Is1024AndBothXonXoffLimitsAre256) {
  OpenComPort1();
  port.Buffer().SetInputSize(1025);
  EXPECT_EQ(port.Buffer().InputSize(), 1024);
  // 1025 differs from the stored 1024, so the queue sizes are re-applied once.
  EXPECT_EQ(device.NamesWithoutWaits(), (Names{"SetupQueues"}));
  EXPECT_EQ(device.Last("SetupQueues").args, (std::vector<std::int64_t>{1024, 1024}));
  port.SetBaudRate(TBaudRate::br4800);
  EXPECT_EQ(device.Last("SetLineSettings").line.XonLim, 256);
  EXPECT_EQ(device.Last("SetLineSettings").line.XoffLim, 256);
  port.ClosePort();
}

TEST_F(ComPortTest, BufferSizesFollowTheOddSizeRule) {
  TComBuffer& b = port.Buffer();
  b.SetOutputSize(2049);
  EXPECT_EQ(b.OutputSize(), 2048);
  b.SetInputSize(-3);
  EXPECT_EQ(b.InputSize(), -3);
  b.SetInputSize(7);
  EXPECT_EQ(b.InputSize(), 6);
  b.SetInputSize(0);
  EXPECT_EQ(b.InputSize(), 0);
  EXPECT_EQ(port.BuildLineSettings().XonLim, 0);
}

TEST_F(ComPortTest, EventsWhileOpenAreStoredForTheNextOpen) {
  OpenComPort1();
  port.SetEvents(TComEvents{TComEvent::evRxChar});
  EXPECT_TRUE(device.NamesWithoutWaits().empty());
  port.ClosePort();
  port.OpenPort();
  EXPECT_EQ(device.Last("SetEventMask").args, (std::vector<std::int64_t>{EV_RXCHAR}));
  port.ClosePort();
}

TEST_F(ComPortTest, SyncMethodWhileOpenIsRefusedWithCode14) {
  OpenComPort1();
  const auto e = Thrown<EComPort>([&] { port.SetSyncMethod(TSyncMethod::smThreadSync); });
  ASSERT_TRUE(e);
  EXPECT_EQ(e->ErrorCode(), 14);
  EXPECT_EQ(e->SystemError(), -1);
  EXPECT_STREQ(e->what(), "Cannot set property while connected");
  EXPECT_EQ(port.SyncMethod(), TSyncMethod::smNone);
  EXPECT_NO_THROW(port.SetSyncMethod(TSyncMethod::smNone));  // same value: nothing
  EXPECT_TRUE(device.NamesWithoutWaits().empty());
  port.ClosePort();
  port.SetSyncMethod(TSyncMethod::smWindowSync);
  EXPECT_EQ(port.SyncMethod(), TSyncMethod::smWindowSync);
}

TEST_F(ComPortTest, PortSetWhileOpenReopensUnderTheNewNameWithAllHandlers) {
  OpenComPort1();
  RecordHandlers();
  port.SetPort("ttyUSB1");
  EXPECT_TRUE(port.Connected());
  EXPECT_EQ(device.Last("Open").port, "ttyUSB1");
  EXPECT_EQ(
      device.NamesWithoutWaits(),
      (Names{"Purge", "SetEventMask", "Purge", "Close", "Open", "SetupQueues", "SetLineSettings",
             "SetTimeouts", "SetEventMask", "GetModemStatus", "GetModemStatus", "GetModemStatus"}));
  EXPECT_EQ(log, (Names{"CTS0@0", "DSR0@0", "RLSD0@0", "BeforeClose@0", "AfterClose@4",
                        "BeforeOpen@4", "AfterOpen@9", "CTS0@10", "DSR0@11", "RLSD0@12"}));
  device.ClearCalls();
  port.SetPort("ttyUSB1");  // same name: nothing
  port.SetPort("ttyUSB1");
  EXPECT_TRUE(device.NamesWithoutWaits().empty());
  port.ClosePort();
}

TEST_F(ComPortTest, PortSetWhileOpenToABadNameClosesAndTheOpenFailureReachesTheCaller) {
  OpenComPort1();
  RecordHandlers();
  device.FailNext("Open", ENOENT);
  const auto e = Thrown<EComPort>([&] { port.SetPort("ttyNONE"); });
  ASSERT_TRUE(e);
  EXPECT_EQ(e->ErrorCode(), 1);
  EXPECT_EQ(e->SystemError(), ENOENT);
  EXPECT_FALSE(port.Connected());
  EXPECT_FALSE(port.ThreadCreated());
  EXPECT_EQ(port.Port(), "ttyNONE");
  EXPECT_EQ(device.NamesWithoutWaits(), (Names{"Purge", "SetEventMask", "Purge", "Close", "Open"}));
  EXPECT_EQ(
      log, (Names{"CTS0@0", "DSR0@0", "RLSD0@0", "BeforeClose@0", "AfterClose@4", "BeforeOpen@4"}));
}

TEST_F(ComPortTest, PortIsComparedExactlyAndCaseSensitively) {
  port.OpenPort();
  device.ClearCalls();
  port.SetPort("com1");
  EXPECT_EQ(device.Count("Open"), 1);
  EXPECT_EQ(device.Last("Open").port, "com1");
  port.ClosePort();
}

TEST_F(ComPortTest, AFailedReApplyWhileOpenKeepsTheNewValueAndThePortOpen) {
  MakeComPort1();
  port.OpenPort();
  device.FailNext("SetLineSettings", EINVAL);
  const auto e = Thrown<EComPort>([&] { port.SetBaudRate(TBaudRate::br14400); });
  ASSERT_TRUE(e);
  EXPECT_EQ(e->ErrorCode(), 7);
  EXPECT_EQ(e->SystemError(), EINVAL);
  EXPECT_EQ(std::string(e->what()),
            "SetCommState function failed (win error code: " + std::to_string(EINVAL) + ")");
  EXPECT_EQ(port.BaudRate(), TBaudRate::br14400);
  EXPECT_TRUE(port.Connected());
  EXPECT_EQ(script.CurrentBaudRate(), 9600u);  // the driver keeps its previous settings
  device.FailNext("SetTimeouts", EIO);
  EXPECT_THROW(port.Timeouts().SetWriteTotalConstant(500), EComPort);
  EXPECT_EQ(port.Timeouts().WriteTotalConstant(), 500);
  device.FailNext("SetupQueues", EIO);
  EXPECT_THROW(port.Buffer().SetOutputSize(64), EComPort);
  EXPECT_EQ(port.Buffer().OutputSize(), 64);
  port.ClosePort();
}

TEST_F(ComPortTest, AssigningASettingsObjectCopiesItAndReAppliesEvenWhenEqual) {
  OpenComPort1();
  TComParity same;
  port.SetParity(same);
  TComFlowControl flow;
  port.SetFlowControl(flow);
  TComTimeouts timeouts;
  timeouts.SetReadInterval(150);
  port.SetTimeouts(timeouts);
  TComBuffer buffer;
  port.SetBuffer(buffer);
  EXPECT_EQ(device.NamesWithoutWaits(),
            (Names{"SetLineSettings", "SetLineSettings", "SetTimeouts", "SetupQueues"}));
  TComParity odd;
  odd.SetBits(TParityBits::prOdd);
  odd.SetCheck(true);
  odd.SetReplace(true);
  odd.SetReplaceChar('x');
  port.SetParity(odd);
  EXPECT_EQ(port.Parity().Bits(), TParityBits::prOdd);
  EXPECT_TRUE(port.Parity().Check());
  EXPECT_TRUE(port.Parity().Replace());
  EXPECT_EQ(port.Parity().ReplaceChar(), 'x');
  EXPECT_EQ(device.Last("SetLineSettings").line.Parity, 1);
  port.ClosePort();
}

TEST(ComSettings, AssignCopiesEveryStoredPropertyOfTheSameClass) {
  TComFlowControl a, b;
  a.SetOutCTSFlow(true);
  a.SetOutDSRFlow(true);
  a.SetControlDTR(TDTRFlowControl::dtrEnable);
  a.SetControlRTS(TRTSFlowControl::rtsToggle);
  a.SetXonXoffOut(true);
  a.SetXonXoffIn(true);
  a.SetDSRSensitivity(true);
  a.SetTxContinueOnXoff(true);
  a.SetXonChar(5);
  a.SetXoffChar(6);
  b.Assign(a);
  EXPECT_TRUE(b.OutCTSFlow());
  EXPECT_TRUE(b.OutDSRFlow());
  EXPECT_EQ(b.ControlDTR(), TDTRFlowControl::dtrEnable);
  EXPECT_EQ(b.ControlRTS(), TRTSFlowControl::rtsToggle);
  EXPECT_TRUE(b.XonXoffOut());
  EXPECT_TRUE(b.XonXoffIn());
  EXPECT_TRUE(b.DSRSensitivity());
  EXPECT_TRUE(b.TxContinueOnXoff());
  EXPECT_EQ(b.XonChar(), 5);
  EXPECT_EQ(b.XoffChar(), 6);

  TComTimeouts t1, t2;
  t1.SetReadInterval(1);
  t1.SetReadTotalMultiplier(2);
  t1.SetReadTotalConstant(3);
  t1.SetWriteTotalMultiplier(4);
  t1.SetWriteTotalConstant(5);
  t2.Assign(t1);
  EXPECT_EQ(t2.ReadInterval(), 1);
  EXPECT_EQ(t2.ReadTotalMultiplier(), 2);
  EXPECT_EQ(t2.ReadTotalConstant(), 3);
  EXPECT_EQ(t2.WriteTotalMultiplier(), 4);
  EXPECT_EQ(t2.WriteTotalConstant(), 5);

  TComBuffer b1, b2;
  b1.SetInputSize(10);
  b1.SetOutputSize(20);
  b2.Assign(b1);
  EXPECT_EQ(b2.InputSize(), 10);
  EXPECT_EQ(b2.OutputSize(), 20);
}

TEST(ComSettings, AssignAcrossClassesRaisesTheStandardAssignmentError) {
  TComParity parity;
  TComTimeouts timeouts;
  TComBuffer buffer;
  TComFlowControl flow;
  const auto e = Thrown<EConvertError>([&] { parity.Assign(timeouts); });
  ASSERT_TRUE(e);
  EXPECT_STREQ(e->what(), "Cannot assign a TComTimeouts to a TComParity");
  const auto e2 = Thrown<EConvertError>([&] { buffer.Assign(flow); });
  ASSERT_TRUE(e2);
  EXPECT_STREQ(e2->what(), "Cannot assign a TComFlowControl to a TComBuffer");
  const auto e3 = Thrown<EConvertError>([&] { flow.Assign(nullptr); });
  ASSERT_TRUE(e3);
  EXPECT_STREQ(e3->what(), "Cannot assign a nil to a TComFlowControl");
}

TEST_F(ComPortTest, FlowControlIsDerivedFromRtsCtsAndXonXoff) {
  TComFlowControl& f = port.FlowControl();
  EXPECT_EQ(f.FlowControl(), TFlowControl::fcNone);
  f.SetControlRTS(TRTSFlowControl::rtsHandshake);
  EXPECT_EQ(f.FlowControl(), TFlowControl::fcCustom);
  f.SetOutCTSFlow(true);
  EXPECT_EQ(f.FlowControl(), TFlowControl::fcHardware);
  f.SetXonXoffIn(true);
  EXPECT_EQ(f.FlowControl(), TFlowControl::fcCustom);
  f.SetControlRTS(TRTSFlowControl::rtsDisable);
  f.SetOutCTSFlow(false);
  EXPECT_EQ(f.FlowControl(), TFlowControl::fcCustom);  // only one XON/XOFF flag
  f.SetXonXoffOut(true);
  EXPECT_EQ(f.FlowControl(), TFlowControl::fcSoftware);
  f.SetXonXoffIn(false);
  f.SetXonXoffOut(false);
  f.SetControlDTR(TDTRFlowControl::dtrHandshake);  // DTR and DSR play no part
  f.SetOutDSRFlow(true);
  EXPECT_EQ(f.FlowControl(), TFlowControl::fcNone);
  f.SetControlRTS(TRTSFlowControl::rtsEnable);
  EXPECT_EQ(f.FlowControl(), TFlowControl::fcCustom);
}

TEST_F(ComPortTest, WritingFlowControlSetsItsFlagsAndReAppliesEveryTime) {
  port.OpenPort();
  device.ClearCalls();
  TComFlowControl& f = port.FlowControl();
  f.SetFlowControl(TFlowControl::fcHardware);
  EXPECT_EQ(f.ControlRTS(), TRTSFlowControl::rtsHandshake);
  EXPECT_TRUE(f.OutCTSFlow());
  EXPECT_FALSE(f.XonXoffIn());
  EXPECT_FALSE(f.XonXoffOut());
  f.SetFlowControl(TFlowControl::fcSoftware);
  EXPECT_EQ(f.ControlRTS(), TRTSFlowControl::rtsDisable);
  EXPECT_FALSE(f.OutCTSFlow());
  EXPECT_TRUE(f.XonXoffIn());
  EXPECT_TRUE(f.XonXoffOut());
  f.SetFlowControl(TFlowControl::fcCustom);  // changes nothing, still re-applies
  EXPECT_EQ(f.FlowControl(), TFlowControl::fcSoftware);
  f.SetFlowControl(TFlowControl::fcNone);
  EXPECT_EQ(f.FlowControl(), TFlowControl::fcNone);
  f.SetFlowControl(TFlowControl::fcNone);
  EXPECT_EQ(device.Count("SetLineSettings"), 5);
  port.ClosePort();
}

// --- loading ------------------------------------------------------------------

TEST_F(ComPortTest, WhileLoadingSettersOnlyStoreAndEndLoadingOpensARecordedConnect) {
  port.BeginLoading();
  port.SetConnected(true);
  EXPECT_FALSE(port.Connected());
  port.SetBaudRate(TBaudRate::br1200);
  port.Timeouts().SetReadInterval(150);
  port.Buffer().SetInputSize(512);
  port.SetSyncMethod(TSyncMethod::smNone);
  port.ApplyAllSettings();
  EXPECT_TRUE(device.Names().empty());
  port.EndLoading();
  EXPECT_TRUE(port.Connected());
  EXPECT_EQ(device.Last("SetLineSettings").line.BaudRate, 1200u);
  EXPECT_EQ(device.Last("SetupQueues").args, (std::vector<std::int64_t>{512, 1024}));
  port.ClosePort();
}

TEST_F(ComPortTest, WhileLoadingAnOpenPortOnlyStoresEvenSyncMethodAndPort) {
  OpenComPort1();
  port.BeginLoading();
  port.SetSyncMethod(TSyncMethod::smThreadSync);  // no code 14 while loading
  port.SetPort("ttyS3");
  port.SetBaudRate(TBaudRate::br2400);
  EXPECT_TRUE(device.NamesWithoutWaits().empty());
  port.EndLoading();  // Connected was not recorded: nothing opens or closes
  EXPECT_TRUE(device.NamesWithoutWaits().empty());
  EXPECT_EQ(port.SyncMethod(), TSyncMethod::smThreadSync);
  EXPECT_EQ(port.Port(), "ttyS3");
  EXPECT_THROW(port.SetSyncMethod(TSyncMethod::smNone), EComPort);  // loading is over
  port.ClosePort();
}

TEST_F(ComPortTest, AnOpenErrorAtTheEndOfLoadingGoesToTheExceptionReport) {
  port.BeginLoading();
  port.SetConnected(true);
  device.FailNext("Open", ENOENT);
  EXPECT_NO_THROW(port.EndLoading());
  EXPECT_FALSE(port.Connected());
  dispatcher.RunPending();  // the default report: posted, the gate shows it
  ASSERT_EQ(dialogs.exceptions.size(), 1u);
  EXPECT_EQ(dialogs.exceptions[0], "Unable to open com port (win error code: 2)");

  std::string reported;
  port.SetExceptionReport([&](std::exception_ptr e) {
    try {
      std::rethrow_exception(e);
    } catch (const std::exception& x) {
      reported = x.what();
    }
  });
  port.BeginLoading();
  port.SetConnected(true);
  device.FailNext("Open", EBUSY);
  port.EndLoading();
  EXPECT_EQ(reported, "Unable to open com port (win error code: " + std::to_string(EBUSY) + ")");
}

// --- transfers and queries ------------------------------------------------------

TEST_F(ComPortTest, WriteBytesReturnsTheCountTheDeviceWrote) {
  MakeComPort1();
  port.OpenPort();
  const std::uint8_t frame[8] = {0xF7, 0x03, 0x00, 0x00, 0x00, 0x01, 0x91, 0x5C};
  EXPECT_EQ(port.WriteBytes(frame, 8), 8);
  EXPECT_EQ(device.Last("Write").data, std::vector<std::uint8_t>(frame, frame + 8));
  script.SetWriteLimit(3);  // a write that ran out of time: no error, fewer bytes
  EXPECT_EQ(port.WriteBytes(frame, 8), 3);
  device.FailNext("Write", EIO);
  const auto e = Thrown<EComPort>([&] { port.WriteBytes(frame, 8); });
  ASSERT_TRUE(e);
  EXPECT_EQ(e->ErrorCode(), 2);
  EXPECT_STREQ(e->what(), "WriteFile function failed (win error code: 5)");
  EXPECT_TRUE(port.Connected());
  port.ClosePort();
}

TEST_F(ComPortTest, ReadBytesReturnsTheBytesReadAndThenQueriesTheQueueOnce) {
  MakeComPort1();
  port.SetEvents(TComEvents{});
  port.OpenPort();
  script.PushReceived({1, 2, 3, 4, 5});
  device.ClearCalls();
  std::uint8_t buf[20] = {};
  EXPECT_EQ(port.ReadBytes(buf, 3), 3);
  EXPECT_EQ(device.Names(), (Names{"Read", "ClearError"}));
  EXPECT_EQ(buf[0], 1);
  EXPECT_EQ(buf[2], 3);
  EXPECT_EQ(port.QueuedInputCount(), 2);
  device.FailNext("Read", ECANCELED);
  const auto e = Thrown<EComPort>([&] { port.ReadBytes(buf, 20); });
  ASSERT_TRUE(e);
  EXPECT_EQ(e->ErrorCode(), 3);
  EXPECT_EQ(e->SystemError(), ECANCELED);
  device.FailNext("ClearError", EIO);
  const auto e2 = Thrown<EComPort>([&] { port.ReadBytes(buf, 20); });
  ASSERT_TRUE(e2);
  EXPECT_EQ(e2->ErrorCode(), 10);
  port.ClosePort();
}

TEST_F(ComPortTest, LineErrorsMapTheFlagsAndParityOnlyWhileChecked) {
  port.SetEvents(TComEvents{});
  port.OpenPort();
  script.SetLineErrors(CE_FRAME | CE_RXPARITY | CE_OVERRUN | CE_RXOVER | CE_TXFULL | CE_BREAK |
                       CE_IOE | CE_MODE);
  TComErrors all = port.LineErrors();
  TComErrors expected = TComErrors::All();
  expected.Exclude(TComError::ceRxParity);
  EXPECT_EQ(all, expected);
  EXPECT_TRUE(port.LineErrors().Empty());  // the query cleared them
  port.Parity().SetCheck(true);
  script.SetLineErrors(CE_RXPARITY);
  EXPECT_EQ(port.LineErrors(), TComErrors{TComError::ceRxParity});
  script.SetLineErrors(CE_FRAME);
  EXPECT_EQ(port.QueuedInputCount(), 0);  // discards (and so clears) the flags
  EXPECT_TRUE(port.LineErrors().Empty());
  device.FailNext("ClearError", EIO);
  EXPECT_THROW(port.LineErrors(), EComPort);
  port.ClosePort();
}

TEST_F(ComPortTest, ModemSignalsMapTheFourLines) {
  port.SetEvents(TComEvents{});
  port.OpenPort();
  script.SetModemStatus(MS_CTS_ON | MS_RING_ON);
  EXPECT_EQ(port.ModemSignals(), (TModemSignals{TComSignal::csCTS, TComSignal::csRing}));
  script.SetModemStatus(MS_DSR_ON | MS_RLSD_ON);
  EXPECT_EQ(port.ModemSignals(), (TModemSignals{TComSignal::csDSR, TComSignal::csRLSD}));
  device.FailNext("GetModemStatus", EIO);
  const auto e = Thrown<EComPort>([&] { port.ModemSignals(); });
  ASSERT_TRUE(e);
  EXPECT_EQ(e->ErrorCode(), 11);
  EXPECT_STREQ(e->what(), "GetCommModemStatus function failed (win error code: 5)");
  port.ClosePort();
}

// --- error texts --------------------------------------------------------------

TEST(EComPortTexts, TheTwentyThreeTextsStandInOrderWithoutCatalogues) {
  const char* expected[23] = {
      "Unable to open com port",
      "WriteFile function failed",
      "ReadFile function failed",
      "Invalid Async parameter",
      "PurgeComm function failed",
      "Unable to get async status",
      "SetCommState function failed",
      "SetCommTimeouts failed",
      "SetupComm function failed",
      "ClearCommError function failed",
      "GetCommModemStatus function failed",
      "EscapeCommFunction function failed",
      "TransmitCommChar function failed",
      "Cannot set property while connected",
      "EnumPorts function failed",
      "Failed to store settings",
      "Failed to load settings",
      "Link (un)registration failed",
      "Cannot change led state if ComPort is selected",
      "Cannot wait for event if event thread is created",
      "WaitForEvent method failed",
      "A component is linked to OnRxBuf event",
      "Registry error",
  };
  ASSERT_EQ(ErrorTexts().size(), 23u);
  for (int code = 1; code <= 23; ++code) {
    EXPECT_EQ(ErrorTexts()[code - 1], expected[code - 1]) << code;
    EXPECT_EQ(ErrorText(code), expected[code - 1]) << code;
    EXPECT_STREQ(ErrorTextKey(code), expected[code - 1]) << code;
  }
  EXPECT_EQ(ErrorText(0), "");
  EXPECT_EQ(ErrorText(24), "");
}

TEST(EComPortTexts, CodesWithASystemErrorCarryTheSuffixOthersTheTextAlone) {
  for (int code : {1, 2, 3, 5, 7, 8, 9, 10, 11}) {
    EComPort e(code, 995);
    EXPECT_EQ(e.ErrorCode(), code);
    EXPECT_EQ(e.SystemError(), 995);
    EXPECT_EQ(std::string(e.what()), ErrorText(code) + " (win error code: 995)");
  }
  for (int code : {4, 14}) {
    EComPort e(code);
    EXPECT_EQ(e.SystemError(), -1);
    EXPECT_EQ(std::string(e.what()), ErrorText(code));
  }
}

TEST(EComPortKind, TheSystemErrorMeansOneKindAtTheStepOfItsCode) {
  const testing::PlatformErrors& errors = testing::Errors();
  struct Case {
    int code, system_error;
    PortErrorKind kind;
  } cases[] = {
      {CError_OpenFailed, errors.no_device, PortErrorKind::kMissing},
      {CError_OpenFailed, errors.held, PortErrorKind::kBusy},
      {CError_WriteFailed, errors.gone, PortErrorKind::kGone},
      {CError_WriteFailed, errors.unplugged, PortErrorKind::kGone},
      {CError_ReadFailed, errors.unplugged, PortErrorKind::kGone},
  };
  for (const Case& c : cases)
    EXPECT_EQ(EComPort(c.code, c.system_error).Kind(), c.kind) << c.code << " " << c.system_error;
  EXPECT_EQ(EComPort(CError_ConnChangeProp).Kind(), PortErrorKind::kNone);
}

}  // namespace
}  // namespace ornat
