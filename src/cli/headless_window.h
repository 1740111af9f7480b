#pragma once
// The window without a window: the window program of the core (ui/window_program.h)
// over the real-time loop (RealtimeLoop, the HandlerGate, its QueueDispatcher), dialogs
// of its own and the platform's serial device, built and started as the windows are. ornat-cli
// works it as an engineer works the window: it sets the control models (port item, baud-rate item,
// address editor, check boxes, radio buttons, speed combo, delay items), presses buttons and menu
// items through the gate, and reads the results from the models and the log.

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "modbus/exchange_observer.h"
#include "runtime/handler_gate.h"
#include "runtime/realtime_loop.h"
#include "serial/platform/comm_device.h"
#include "ui/main_window.h"
#include "ui/toolkit/dialogs.h"
#include "ui/window_program.h"

namespace ornat::cli {

// A command line has no one to ask: the Yes/No question is answered No (the PC port
// keeps its speed; the program ends anyway) unless its text is among `yes_to` (the
// question --force answers), and an exception report goes to stderr.
class CliDialogs : public Dialogs {
 public:
  DialogAnswer AskYesNo(const std::string& text) override;
  void ShowException(const std::string& message) override;
  std::vector<std::string> yes_to;
  std::vector<std::string> questions;
  std::vector<std::string> exceptions;
};

// ornat-cli's own observer of the exchanges: tells each as it ends (printing, watch)
// and keeps them for the commands that read them afterwards (the one-shot commands,
// search, survey), each of which ends after a bounded number. watch keeps none: it
// prints each one as it ends, and a watch of a day would otherwise hold every exchange
// of the day (some 400 bytes each).
class ExchangeRecorder : public ExchangeObserver {
 public:
  void ExchangeEnded(const ExchangeRecord& record) override;
  // Whether exchanges that end from now on are kept (they are at first).
  void Keep(bool keep) { keep_ = keep; }
  bool Keeping() const { return keep_; }
  void OnEnd(std::function<void(const ExchangeRecord&)> f) { on_end_ = std::move(f); }
  const std::vector<ExchangeRecord>& Records() const { return records_; }
  // Forgets the records from index `from` on.
  void DropFrom(std::size_t from);

 private:
  bool keep_ = true;
  std::vector<ExchangeRecord> records_;
  std::function<void(const ExchangeRecord&)> on_end_;
};

class HeadlessWindow {
 public:
  // journal: told of every exchange before the window's own record; may be null.
  // named_lines: the user's lines, after the ports found in the Port menu.
  explicit HeadlessWindow(ExchangeObserver* journal, std::vector<NamedLine> named_lines = {});
  ~HeadlessWindow();
  HeadlessWindow(const HeadlessWindow&) = delete;
  HeadlessWindow& operator=(const HeadlessWindow&) = delete;

  TForm1& form() { return window_.form(); }
  CliDialogs& dialogs() { return dialogs_; }
  ExchangeObserverList& observers() { return window_.observers(); }

  // Runs fn as an event of the window, through the gate.
  void Do(const std::function<void()>& fn) { gate_.Enter(fn); }
  // Runs the loop until pred() holds or `limit` has passed; returns pred(). Checks
  // pred at least every 100 ms, so a flag set by a signal handler is seen.
  bool RunUntil(const std::function<bool()>& pred, std::chrono::milliseconds limit);

  // The user's choices.
  // The port of that name as the Port menu would choose it (TForm1::ChoosePort): a
  // named line's target, or a name the list lacks (a path) as it is.
  void SelectPort(const std::string& name);
  // The round-trip allowance chosen (TForm1::SetNetDelayMs); nothing: the port's kind.
  void SetNetDelay(std::optional<int> ms);
  void SelectBaud(std::uint8_t baud_index);  // the BaudRate menu item
  void TypeAddress(std::uint8_t address);    // the address editor, then Enter

  // Runs action as the user's event, then the loop until the window's work has ended
  // (TForm1::Working) or `limit` has passed. Returns the exchanges that ended
  // meanwhile, in order (also while no exchanges are kept); none when the window sent
  // nothing.
  std::vector<ExchangeRecord> Perform(const std::function<void()>& action,
                                      std::chrono::milliseconds limit);
  // Every exchange so far that was kept (all of them unless KeepExchanges(false)).
  const std::vector<ExchangeRecord>& Exchanges() const { return recorder_.Records(); }
  // Whether exchanges are kept for Exchanges(); a command that runs without end
  // (watch) keeps none.
  void KeepExchanges(bool keep) { recorder_.Keep(keep); }
  // Told of each exchange as it ends (printing, watch).
  void OnExchange(std::function<void(const ExchangeRecord&)> f) { recorder_.OnEnd(std::move(f)); }

 private:
  CliDialogs dialogs_;
  HandlerGate gate_{dialogs_};
  RealtimeLoop loop_{gate_};
  std::unique_ptr<CommDevice> device_;
  ExchangeRecorder recorder_;
  // Last: the form goes first, while the loop and the device are still there.
  WindowProgram window_;
};

}  // namespace ornat::cli
