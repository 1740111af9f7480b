#pragma once
// The program as main() composes it: the dialogs, the handler gate, the Qt scheduler
// and dispatcher, the window's logic (TForm1) over a serial device, and its view.
// ornat, the screenshot taker and the start-up benchmark all open the window
// through it, so they open the same window.

#include <memory>
#include <string>

#include "app/main_view.h"
#include "app/qt_dialogs.h"
#include "app/qt_dispatcher.h"
#include "app/qt_scheduler.h"
#include "ui/main_window.h"

namespace ornat {

class CommDevice;
class ExchangeJournal;
class PortListSource;

class Program {
 public:
  // Builds the window (not shown yet). ports: null for the platform's list.
  // exchanges: told of every exchange as it ends (the journal); may be null.
  explicit Program(CommDevice& device, PortListSource* ports = nullptr,
                   ExchangeObserver* exchanges = nullptr);
  ~Program();
  Program(const Program&) = delete;
  Program& operator=(const Program&) = delete;

  // Runs FormCreate through the gate, fits and centres the window, shows it.
  void Start();

  // The journal's troubles, told without holding up the window: the text on stderr and
  // in a warning box that is not modal, opened from the event loop (never inside the
  // completion whose line could not be written). A journal whose write fails is told
  // once; its later exchanges are still tried.
  void WatchJournal(ExchangeJournal& journal);
  void JournalCannotBeOpened(const std::string& why);

  TForm1& form() { return *form_; }
  MainView& view() { return *view_; }
  HandlerGate& gate() { return gate_; }

 private:
  QtDialogs dialogs_;
  HandlerGate gate_{dialogs_};
  QtScheduler scheduler_;
  QtDispatcher dispatcher_{gate_};
  std::unique_ptr<TForm1> form_;
  std::unique_ptr<MainView> view_;

  void WarnLater(const std::string& text);
};

// The environment of the window on this screen and in this style.
FormEnvironment QtEnvironment(Scheduler& scheduler, HandlerGate& gate, Dispatcher& dispatcher,
                              Dialogs& dialogs, CommDevice& device);

}  // namespace ornat
