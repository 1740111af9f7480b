#pragma once
// The Win32 window's program as WinMain composes it: the window program of the core
// (ui/window_program.h) over the message loop (its Scheduler and Dispatcher) and
// message-box dialogs, and the window's view. ornat.exe and the benchmarks open the
// window through it, so they open the same window.

#include <memory>
#include <string>
#include <vector>

#include "ui/window_program.h"
#include "win32/dialogs.h"
#include "win32/main_view.h"
#include "win32/message_loop.h"

namespace ornat {
class CommDevice;
class PortListSource;
}  // namespace ornat

namespace ornat::win32 {

class Program {
 public:
  // Builds the window (not shown yet). ports: null for the registry's list.
  // exchanges: told of every exchange as it ends (the journal); may be null.
  // named_lines: the user's lines, after the ports found in the Port menu.
  explicit Program(CommDevice& device, PortListSource* ports = nullptr,
                   ExchangeObserver* exchanges = nullptr, std::vector<NamedLine> named_lines = {});
  ~Program();
  Program(const Program&) = delete;
  Program& operator=(const Program&) = delete;

  // Runs start-up, fits and centres the window, shows it.
  void Start(int show_command = SW_SHOWNORMAL);
  // The message loop, until the window is closed.
  int Run();

  // The journal's troubles (WindowProgram): the warning box is one of its own, on a
  // thread of its own.
  void WatchJournal(ExchangeJournal& journal) { window_.WatchJournal(journal); }
  void JournalCannotBeOpened(const std::string& why) { window_.JournalCannotBeOpened(why); }
  void TellLinesFileWarnings(const std::vector<std::string>& warnings) {
    window_.TellLinesFileWarnings(warnings);
  }
  void ChoosePort(const std::string& name) { window_.ChoosePort(name); }

  TForm1& form() { return window_.form(); }
  MainView& view() { return *view_; }
  MessageLoop& loop() { return loop_; }
  HandlerGate& gate() { return gate_; }

 private:
  MessageBoxDialogs dialogs_;
  HandlerGate gate_{dialogs_};
  MessageLoop loop_{gate_};
  WindowProgram window_;
  std::unique_ptr<MainView> view_;
};

}  // namespace ornat::win32
