#pragma once
// TForm1, the main window: every control model of the window definition, the three
// timers, the serial port ComPort1 and the shared state, with the handlers of all
// their events. Each handler is defined in the source file of its subsystem:
//   ui/main_window.cpp         start-up, baud-rate menu, address editor, helpers
//   ui/exchange_log.cpp        LogRequest, LogResponse, StatusGridDrawCell
//   serial/port_discovery.cpp  EnumeratePorts, TeMenuBar1MouseDown, My
//   modbus/exchange.cpp        the senders, ComPort1RxChar, Timer_RxTimer
//   detector/decoding.cpp      DecodeParameters, configuration handlers, service reads
//   detector/sequencer.cpp     DispatchResponse, DeferIfBusy, Timer_ProgrammTimer, ...
//   detector/interface_changes.cpp, detector/interface_reset.cpp, detector/bus_search.cpp
// Everything here runs on the user-interface thread, except ComPort1RxChar, which
// runs on the serial event thread and only reads into a buffer of its own.

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "modbus/exchange_observer.h"
#include "modbus/survey_pace.h"
#include "runtime/dispatcher.h"
#include "runtime/handler_gate.h"
#include "runtime/scheduler.h"
#include "serial/com_types.h"
#include "serial/line_lock.h"
#include "serial/network/lines_file.h"
#include "state/shared_state.h"
#include "ui/toolkit/controls.h"
#include "ui/toolkit/dialogs.h"
#include "ui/toolkit/timer.h"

namespace ornat {

class CommDevice;
class TComPort;
class PortListSource;
class RealtimeLoop;

// What the window gets from the program around it.
struct FormEnvironment {
  Scheduler* scheduler = nullptr;
  HandlerGate* gate = nullptr;
  Dispatcher* dispatcher = nullptr;
  Dialogs* dialogs = nullptr;
  CommDevice* device = nullptr;
  // Port discovery's list of serial ports; null: the platform's own list.
  PortListSource* ports = nullptr;
  // The user's named lines (user_lines.h): items after the found ports in the Port
  // menu, within its 32 items.
  std::vector<NamedLine> named_lines;
  // Folder in which "comports.txt" is looked for.
  std::string working_dir = ".";
  // Screen height and the width of a vertical scroll bar, in pixels (fit to screen).
  int screen_height = 1080;
  int vscroll_width = 17;
  // Told of every exchange as it ends (the journal, a front end without a window);
  // null: nobody.
  ExchangeObserver* exchange_observer = nullptr;
  // The window holds its line against other ornat programs (LineLock) from each send to
  // its completion, and for the whole of a sequence. Off only for tests on a fake
  // device, whose port names every test process shares.
  bool hold_line = true;

  // The environment over these services, with the other fields at their defaults.
  static FormEnvironment Of(Scheduler& scheduler, HandlerGate& gate, Dispatcher& dispatcher,
                            Dialogs& dialogs, CommDevice& device, PortListSource* ports = nullptr);
  // The environment of a window without a window system: the loop is the scheduler
  // and serves the dispatcher (ornat-cli, the integration tests, the benchmarks).
  static FormEnvironment Realtime(RealtimeLoop& loop, HandlerGate& gate, Dialogs& dialogs,
                                  CommDevice& device);
};

// One row of the baud-rate table.
struct BaudRow {
  const char* speed_text;      // "9600"
  const char* panel1_text;     // "BaudRate = 9600"
  const char* startup_suffix;  // "; Baud = 9600"
  TBaudRate port_value;        // br9600
};
extern const std::array<BaudRow, 8> kBaudTable;

// Texts that start-up, the address editor, the baud-rate menu and the answers to
// interface changes write. Panel 2 begins with Latin A (U+0041) or Cyrillic А
// (U+0410), depending on the writer.
inline constexpr const char* kAddressLabelPrefix = "АДРЕС ПРИБОРА - ";
inline constexpr const char* kDevicePrefixLatin = "DEVICE : A = ";
inline constexpr const char* kDevicePrefixCyrillic = "DEVICE : \xD0\x90 = ";

// Decimal text of value, left-padded with "0" to at least width characters.
std::string PadNumber(unsigned value, unsigned width);

class TForm1 : public TComponent {
 public:
  explicit TForm1(const FormEnvironment& env);
  ~TForm1() override;
  TForm1(const TForm1&) = delete;
  TForm1& operator=(const TForm1&) = delete;

  // --- the window --------------------------------------------------------------
  std::string Caption;
  int ClientWidth = 434;
  int ClientHeight = 534;
  // Outer size (client area plus frame) as fit-to-screen sees it.
  int OuterHeight = 534 + 31;
  int OuterWidth = 434 + 8;
  bool AutoScroll = false;
  bool VertScrollBarVisible = false;
  bool VertScrollBarTracking = false;
  FocusScope Focus;

  TTeMenuBar TeMenuBar1;
  TTeItem CustomItem1;  // "Connection"
  TTeItem PORT1;        // "Port"
  TTeItem CustomItem3;  // "BaudRate"
  TTeItem BR_1200, BR_2400, BR_4800, BR_9600, BR_14400, BR_19200, BR_38400, BR_57600;
  TTeItem CustomItem4;  // "Search"
  TTeItem CustomItem5;  // "Start" / "Stop"
  TTeItem CustomItem6;  // "Delay"
  TTeItem CustomItem7, CustomItem8, CustomItem9, CustomItem10, CustomItem11, CustomItem12;

  TTeGroupBox TeGroupBox1;
  TStatusBar StatusBar1;

  TTeGroupBox TeGroupBox2;  // "  ПАРАМЕТРЫ ИНТЕРФЕЙСА  "
  TTeLabel TeLabel4, TeLabel5, TeLabel6;
  TTeSComboBox TeSComboBox1;
  TTeSpinEdit TeSpinEdit1, TeSpinEdit2;
  TTeButton TeButton1, TeButton2;

  TTeGroupBox TeGroupBox6;  // "  КОНФИГУРАЦИЯ ИЗВЕЩАТЕЛЯ  "
  RadioGroup TacticGroup;
  TTeRadioButton IRMAX_Button, IRMIN_Button, T1MAX_Button, T2MAX_Button, T2MIN_Button,
      T3_100MAX_Button, T3_100MIN_Button, T3_500MAX_Button, T3_500MIN_Button;
  TTeLabel TeLabel9, TeLabel2, TeLabel8, TeLabel11, TeLabel12, TeLabel10, TeLabel13, TeLabel14,
      TeLabel15;
  TTeLabel TeLabel1;
  TTeCheckBox TST_Button, FIX_Button;

  TTeGroupBox TeGroupBox4;  // "  СТАТУС  "
  TTeCheckBox TeCheckBox1;
  TTeButton TeButton5, TeButton3;
  TButton Button1, Button2, Button3;

  TTeStringGrid StatusGrid;
  TTeMemo TeMemo1;
  TTeProgressBar TeProgressBar1;

  TTimer Timer_Rx, Timer_Programm, Timer_Wait;
  TComPort& ComPort1() { return *ComPort1_; }

  SharedState State;
  // Port discovery's table of port items (slot i = child i of PORT1).
  std::vector<std::unique_ptr<TTeItem>> PortItems;
  // Slot i: the port that choosing item i gives ComPort1 (its caption for a port found,
  // the target of a named line).
  std::vector<std::string> PortItemPorts;
  // The first PortsFound items are the ports found; the named lines follow.
  std::size_t PortsFound = 0;

  // All controls of the window with their names, for views and tests.
  const std::vector<TControl*>& AllControls() const { return controls_; }
  std::vector<TTeItem*> AllMenuItems();

  // --- start-up, baud-rate menu, address editor (ui/main_window.cpp) ---------
  void FormCreate(TObject* Sender);
  void FormActivate(TObject* Sender);
  void BR_1200Click(TObject* Sender);
  void BR_2400Click(TObject* Sender);
  void BR_4800Click(TObject* Sender);
  void BR_9600Click(TObject* Sender);
  void BR_14400Click(TObject* Sender);
  void BR_19200Click(TObject* Sender);
  void BR_38400Click(TObject* Sender);
  void BR_57600Click(TObject* Sender);
  void TeSpinEdit1Change(TObject* Sender);
  void TeSpinEdit1KeyPress(TObject* Sender, char& Key);
  void UncheckBaudItems();
  // The row of BaudIndex (row 3, 9600 bit/s, should it ever hold another value).
  const BaudRow& CurrentBaudRow() const;
  TTeItem& BaudItem(unsigned index);
  // The address editors' value as a slave address: always 1..247.
  static std::uint8_t AddressOf(const TTeSpinEdit& editor);

  // --- exchange log and status grid (ui/exchange_log.cpp) --------------------
  void LogRequest(const std::uint8_t* frame);
  void LogResponse();
  void StatusGridDrawCell(TObject* Sender, int ACol, int ARow, const TRect& Rect,
                          TGridDrawState State, TCanvas& Canvas);

  // --- port discovery (serial/port_discovery.cpp) ----------------------------
  void EnumeratePorts();
  void TeMenuBar1MouseDown(TObject* Sender, TMouseButton Button, int Shift, int X, int Y);
  void My(TObject* Sender);
  // A port chosen by name, as if in the Port menu (a command line's --port): the item
  // of that caption; else the named line of that name; else the name itself, which
  // becomes a named line of its own so that the next discovery keeps it.
  void ChoosePort(const std::string& name);
  // The named line in use (its target the port, its name in panel 0), with its own
  // round-trip allowance (none for a name typed as --port); null for a port found.
  const NamedLine* ChosenNamedLine() const;

  // --- exchange engine (modbus/exchange.cpp) ---------------------------------
  void SendWriteRegister(std::uint16_t reg, std::uint16_t value, TTeMemo& log);
  void SendWriteRegisterTo(std::uint8_t address, std::uint16_t reg, std::uint16_t value,
                           TTeMemo& log);
  void SendReadRegisters(std::uint16_t first, std::uint16_t count, TTeMemo& log);
  // The same read to `address` instead of DeviceAddress: for an operation of its own
  // (the survey), which leaves the window's address alone.
  void SendReadRegistersTo(std::uint8_t address, std::uint16_t first, std::uint16_t count,
                           TTeMemo& log);
  void ComPort1RxChar(TObject* Sender, int Count);
  void Timer_RxTimer(TObject* Sender);

  // --- the survey's pace of the engine (modbus/exchange.cpp) ---------------------
  // The survey (an operation of its own over the senders) gives the engine its pace for
  // as long as it runs, and keeps it alive and up to date meanwhile: every function-3
  // read then reads until an answer stands whole at its end, or pace->silence_ms of
  // silence, with ComPort1's read timeouts set to the pace's for it, and is judged by the
  // answer it read whatever bytes came after it in its exchange; while pace->probing, a
  // read is a probe that waits pace->window_ms for its first answer byte, extended while
  // an answer that has begun is read, and otherwise a query that waits the window's
  // response timeout; the port stays open after each such exchange (not after bytes that
  // came with none, unless probing). Writes and the window's timeouts stay the window's
  // (the first exchange that is no paced read sets them back). While a pace is given the
  // window's search, its cyclic query and its interface reset do not start. Null: as
  // EndSurveyPace.
  void BeginSurveyPace(const SurveyPace* pace);
  // Off again; ComPort1's read interval is the window's 150 ms with no total timeout
  // (an open port that refuses them is closed, so that its next open sets them), and
  // the port is closed unless an exchange, a read or a search is under way (whose
  // completion closes it). An exchange in flight ends at its own pace. Never throws; off
  // already: nothing.
  void EndSurveyPace();
  bool SurveyPaced() const { return pace_ != nullptr; }

  // --- the round-trip allowance (modbus/round_trip.h) ---------------------------
  // The one place it is held. Chosen (--net-delay, a lines file's net-delay=MS; 0..10000
  // ms, clamped), or nothing for the default of the port's kind: 100 ms on a network
  // line, 0 on a local port. The front ends and the lines file set it; it applies from
  // the next exchange on.
  void SetNetDelayMs(std::optional<int> ms);
  // The allowance on ComPort1's port now: added to every response timeout, and by the
  // survey to its windows.
  int RoundTripAllowanceMs() const;
  // Probes go out: the window's search runs, or the survey sweeps. The port stays open
  // between exchanges, a probe that fails adds no line, and an answer is taken as the
  // answer of the address it carries.
  bool Probing() const;

  // --- register map and decoding (detector/decoding.cpp) ---------------------
  std::uint8_t DecodeParameters();
  void T1MAX_ButtonClick(TObject* Sender);
  void T2MAX_ButtonClick(TObject* Sender);
  void T2MIN_ButtonClick(TObject* Sender);
  void T3_100MIN_ButtonClick(TObject* Sender);
  void T3_100MAX_ButtonClick(TObject* Sender);
  void T3_500MIN_ButtonClick(TObject* Sender);
  void T3_500MAX_ButtonClick(TObject* Sender);
  void IRMAX_ButtonClick(TObject* Sender);
  void IRMIN_ButtonClick(TObject* Sender);
  void FIX_ButtonClick(TObject* Sender);
  void TST_ButtonClick(TObject* Sender);
  void Button1Click(TObject* Sender);
  void Button2Click(TObject* Sender);
  void Button3Click(TObject* Sender);

  // --- operation sequencer (detector/sequencer.cpp) --------------------------
  using Action = void (TForm1::*)(TObject* Sender);
  void DispatchResponse();
  // True when the answer in FrameBuffer may be the addressed device's: its address
  // byte is the request's (State.SentRequest), or the address an address change
  // writes, for that write's echo; always during the bus search, which takes the
  // address from the answer.
  bool AnswerFromAddressedDevice() const;
  std::uint8_t DeferIfBusy(Action action);
  void Timer_ProgrammTimer(TObject* Sender);
  void TeButton5Click(TObject* Sender);
  // The window's parameter query at `address`, with no guards and no deferral: for an
  // operation of its own (the survey), which leaves the window's address alone. The
  // status grid, which showed another address's state, is emptied first.
  void QueryParametersAt(std::uint8_t address);
  void TeCheckBox1Click(TObject* Sender);
  void TeButton3Click(TObject* Sender);
  // True while the window has work under way that will go on by itself: an exchange
  // in flight (or bytes settling), a deferred action waiting, or a sequence whose next
  // step is due. False once a command's work has ended, also when a failed send has
  // ended a sequence or halted a bus search.
  bool Working() const;

  // --- interface parameter changes (detector/interface_changes.cpp) ----------
  void TeButton1Click(TObject* Sender);
  void TeSComboBox1Change(TObject* Sender);
  void AddressAcknowledged();
  void BaudAcknowledged();

  // --- interface reset (detector/interface_reset.cpp) ------------------------
  void TeButton2Click(TObject* Sender);
  void ResetStep1();  // Timer_ProgrammTimer in SessionMode 2
  void ResetStep2();  // Timer_ProgrammTimer in SessionMode 3
  // A send inside the reset failed: the reset ends, the port back at SavedBaudRate
  // once the first step has switched it.
  void EndResetAfterFailedSend();

  // --- bus search (detector/bus_search.cpp) ----------------------------------
  void CustomItem5Click(TObject* Sender);
  void CustomItem7Click(TObject* Sender);
  void CustomItem8Click(TObject* Sender);
  void CustomItem9Click(TObject* Sender);
  void CustomItem10Click(TObject* Sender);
  void CustomItem11Click(TObject* Sender);
  void CustomItem12Click(TObject* Sender);
  void SearchProbe();  // Timer_ProgrammTimer in SessionMode 254
  std::uint8_t SearchHit();
  // An answer handed over in Idle during a search, which the dispatcher also gives
  // to SearchHit.
  bool LateProbeAnswer() const;
  void EndOfSearch();  // the completion's end of a search without a hit

  const FormEnvironment& Environment() const { return env_; }

 private:
  void BuildControls();
  void BindEvents();
  void ApplyBaudRow(unsigned index);
  void BaudMenuClick(unsigned index);
  // The address editor's value taken as DeviceAddress, in panel 2 and the label.
  void ShowEditorAddress();
  // The address editor changed since the last parameter query was sent: that query's
  // answer is the state of another address than the one the editor now names.
  bool address_changed_since_query_ = false;
  // Sequencer (detector/sequencer.cpp): ends the cyclic query as "СТОП" ends it.
  void EndCyclicQuery();
  // A send failed (no completion follows), or a completion failed on the port: a cyclic
  // query or an interface reset that ran ends, rather than halting until some later
  // exchange re-arms its next step.
  void EndSequenceOnPortFailure();
  void SelectDelay(TTeItem& item, std::uint16_t ms);
  // Exchange engine (modbus/exchange.cpp): the transmission half shared by the three
  // senders; search_read: a function-3 read, whose timeout is SearchDelayMs during a
  // bus search.
  void Transmit(TTeMemo& log, std::uint8_t read_limit, bool search_read);
  void ReportSendFailure(TTeMemo& log);
  // A message line of the log's catalogue, added to the log, and its outcome noted on the
  // exchange under way (the worst one noted is the exchange's).
  void AddOutcomeLine(const std::string& line, ExchangeOutcome outcome);
  void NoteOutcome(ExchangeOutcome outcome);
  // The completion's work after Timer_Rx is disabled and a paced window is not put off.
  void CompleteExchange();
  // The line lock (modbus/line_hold.cpp): the line of ComPort1's port for this send,
  // unless the window holds it already; throws EComPort code 1 naming the holder when
  // another process holds it. Let go once no exchange is under way and no sequence
  // runs (after every handler, through the gate).
  void HoldLine();
  void LetLineGoUnlessNeeded();
  // What the window runs, for whoever its hold refuses: "ornat: cyclic query".
  std::string LineActivity() const;
  LineLock line_;
  // The data-arrival steps that run on the UI thread, in one step: bytes to the start
  // of FrameBuffer, ReceivedCount replaced, Timer_Rx 5 ms.
  void HandOver(const std::vector<std::uint8_t>& bytes);
  // Tells the observer that the exchange in exchange_ has ended, and starts afresh.
  void EndExchange(ExchangeRecord::End end);
  // Tells the observer of a send that failed, once the log shows its lines.
  void EndFailedSend();
  void StartIdleExchange();
  // The exchange under way, as its observer will be told of it.
  ExchangeRecord exchange_;
  bool request_in_flight_ = false;
  ExchangeSender next_sender_ = ExchangeSender::kRead;
  // UI thread: a read on the event thread failed or was cut short.
  void ReadHandedNothingOver();
  // A read has begun on the event thread and its hand-over has not run yet.
  bool ReadsOpen() const;
  // The completion's end of a search after the failed probe to 248: waits once
  // (`waited` false) for an answer that is being read.
  void EndOfSearchUnlessAnswerComing(bool waited);
  // The event thread's own buffer (touched only by ComPort1RxChar).
  std::array<std::uint8_t, 256> rx_buffer_{};
  // ReadLimit as the event thread reads it when a read begins; every sender stores it
  // here before it opens the port (State.ReadLimit, which the event thread never
  // touches, after the write).
  std::atomic<std::uint8_t> read_limit_for_reads_{0};
  // Reads begun on the event thread whose hand-over (or notice of failure) has not
  // yet run on the UI thread.
  std::atomic<int> reads_open_{0};
  // The probe to 248 failed while a read was under way: the search ends with the
  // completion of that read's hand-over (or when the read fails).
  bool search_end_waits_ = false;
  // The survey's pace (see BeginSurveyPace), and that of the read in flight, kept for it
  // should the survey end its pace meanwhile.
  const SurveyPace* pace_ = nullptr;
  std::optional<PacedExchange> paced_;
  // ComPort1's read timeouts are the pace's (set by a paced read).
  bool pace_timeouts_ = false;
  // The event thread reads the survey's way (set by each sender, read as a read begins).
  std::atomic<bool> paced_reads_{false};
  // ReadUntilAnswer's patience for the read in flight (set with paced_reads_).
  std::atomic<int> paced_patience_{0};
  // The round-trip allowance chosen; nothing: the port's kind decides.
  std::optional<int> net_delay_ms_;
  // Held weakly by queued hand-overs: one that runs after the window is gone is dropped.
  std::shared_ptr<int> alive_ = std::make_shared<int>(0);

  // Register map and decoding (detector/decoding.cpp): the first three guards of the
  // eleven configuration handlers; true when the handler goes on and sends.
  bool ConfigurationGuardsPass(Action self);
  void WriteTactic(Action self, std::uint8_t code);

  FormEnvironment env_;
  std::unique_ptr<TComPort> ComPort1_;
  std::vector<TControl*> controls_;
};

}  // namespace ornat
