#pragma once
// WindowProgram: the window's logic as every front end runs it. The Qt window, the
// Win32 window, ornat-cli's HeadlessWindow, the integration tests' LiveForm and the
// benchmarks' BenchForm each give it their event loop and dialogs (FormEnvironment:
// the scheduler and the dispatcher made over the handler gate, the gate, the dialogs
// that are its exception report, the serial device, the screen) and get the same
// program: TForm1 over them, its exchange observers (the journal first), start-up
// (FormCreate through the gate) and the journal's warnings.
//
// A front end declares its dialogs, gate and loop before its WindowProgram, so that the
// form is destroyed first: it closes its port and joins the serial event thread while
// the dispatcher that thread posts to is still there.

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "modbus/exchange_observer.h"
#include "ui/main_window.h"

namespace ornat {

class ExchangeJournal;

class WindowProgram {
 public:
  // Builds the form in env (not started). Its exchange observer is the program's list
  // (observers()), which tells `journal` (may be null) of each exchange first.
  explicit WindowProgram(FormEnvironment env, ExchangeObserver* journal = nullptr);
  ~WindowProgram();
  WindowProgram(const WindowProgram&) = delete;
  WindowProgram& operator=(const WindowProgram&) = delete;

  TForm1& form() { return *form_; }
  const TForm1& form() const { return *form_; }
  HandlerGate& gate() { return *form_->Environment().gate; }
  // Told of every exchange as it ends, in the order added.
  ExchangeObserverList& observers() { return observers_; }

  // Runs fn as an event of the window, through the gate.
  void Do(const std::function<void()>& fn) { gate().Enter(fn); }
  // Start-up: FormCreate, through the gate.
  void Start();

  // The journal's troubles, told without holding up the window: a line on stderr at
  // once, and the text to `show` (the front end's warning, which must not wait for the
  // user) once the handler under way has returned, never inside the completion whose
  // line could not be written. A journal whose write fails is told once; its later
  // exchanges are still tried.
  using WarningView = std::function<void(const std::string& text)>;
  void SetWarningView(WarningView show) { show_warning_ = std::move(show); }
  void WatchJournal(ExchangeJournal& journal);
  void JournalCannotBeOpened(const std::string& why);
  // The lines file's bad lines (UserLines::warnings), told as one warning, as the
  // journal's troubles are; nothing when there are none.
  void TellLinesFileWarnings(const std::vector<std::string>& warnings);
  // A command line's --port: the port chosen by name as in the Port menu
  // (TForm1::ChoosePort), after start-up.
  void ChoosePort(const std::string& name) {
    Do([this, name] { form_->ChoosePort(name); });
  }

 private:
  void Warn(const std::string& text);

  ExchangeObserverList observers_;
  std::unique_ptr<TForm1> form_;
  WarningView show_warning_;
};

}  // namespace ornat
