#pragma once
// The program as WinMain composes it: the dialogs, the handler gate, the message loop
// (the Scheduler and the Dispatcher), the window's logic (TForm1) over a serial
// device, and its Win32 view. ornat.exe and the benchmarks open the window through it,
// so they open the same window.

#include <memory>
#include <string>

#include "ui/main_window.h"
#include "win32/dialogs.h"
#include "win32/main_view.h"
#include "win32/message_loop.h"

namespace ornat {
class CommDevice;
class ExchangeJournal;
class PortListSource;
}  // namespace ornat

namespace ornat::win32 {

class Program {
 public:
  // Builds the window (not shown yet). ports: null for the registry's list.
  // exchanges: told of every exchange as it ends (the journal); may be null.
  explicit Program(CommDevice& device, PortListSource* ports = nullptr,
                   ExchangeObserver* exchanges = nullptr);
  ~Program();
  Program(const Program&) = delete;
  Program& operator=(const Program&) = delete;

  // Runs FormCreate through the gate, fits and centres the window, shows it.
  void Start(int show_command = SW_SHOWNORMAL);
  // The message loop, until the window is closed.
  int Run();

  // The journal's troubles, told without holding up the window: a warning box of its
  // own (and stderr). A journal whose write fails is told once.
  void WatchJournal(ExchangeJournal& journal);
  void JournalCannotBeOpened(const std::string& why);

  TForm1& form() { return *form_; }
  MainView& view() { return *view_; }
  MessageLoop& loop() { return loop_; }
  HandlerGate& gate() { return gate_; }

 private:
  MessageBoxDialogs dialogs_;
  HandlerGate gate_{dialogs_};
  MessageLoop loop_{gate_};
  std::unique_ptr<TForm1> form_;
  std::unique_ptr<MainView> view_;
};

// The environment of the window on this screen: the primary monitor's height and the
// scroll bar's width, as pixels at 96 dpi.
FormEnvironment Win32Environment(Scheduler& scheduler, HandlerGate& gate, Dispatcher& dispatcher,
                                 Dialogs& dialogs, CommDevice& device);

}  // namespace ornat::win32
