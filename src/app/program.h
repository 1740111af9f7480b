#pragma once
// The Qt window's program as main() composes it: the window program of the core
// (ui/window_program.h) over Qt's event loop (its scheduler and dispatcher) and
// QMessageBox dialogs, and the window's view. ornat, the screenshot taker and the
// start-up benchmark all open the window through it, so they open the same window.

#include <memory>
#include <string>
#include <vector>

#include "app/main_view.h"
#include "app/qt_dialogs.h"
#include "app/qt_dispatcher.h"
#include "app/qt_scheduler.h"
#include "ui/window_program.h"

namespace ornat {

class CommDevice;
class PortListSource;

class Program {
 public:
  // Builds the window (not shown yet). ports: null for the platform's list.
  // exchanges: told of every exchange as it ends (the journal); may be null.
  // named_lines: the user's lines, after the ports found in the Port menu.
  explicit Program(CommDevice& device, PortListSource* ports = nullptr,
                   ExchangeObserver* exchanges = nullptr, std::vector<NamedLine> named_lines = {});
  ~Program();
  Program(const Program&) = delete;
  Program& operator=(const Program&) = delete;

  // Runs start-up, fits and centres the window, shows it.
  void Start();

  // The journal's troubles (WindowProgram): the warning box is not modal and opens from
  // the event loop.
  void WatchJournal(ExchangeJournal& journal) { window_.WatchJournal(journal); }
  void JournalCannotBeOpened(const std::string& why) { window_.JournalCannotBeOpened(why); }
  void TellLinesFileWarnings(const std::vector<std::string>& warnings) {
    window_.TellLinesFileWarnings(warnings);
  }
  void ChoosePort(const std::string& name) { window_.ChoosePort(name); }

  TForm1& form() { return window_.form(); }
  MainView& view() { return *view_; }
  HandlerGate& gate() { return gate_; }

 private:
  QtDialogs dialogs_;
  HandlerGate gate_{dialogs_};
  QtScheduler scheduler_;
  QtDispatcher dispatcher_{gate_};
  WindowProgram window_;
  std::unique_ptr<MainView> view_;
};

}  // namespace ornat
