#include "win32/program.h"

#include <algorithm>
#include <cstdio>

#include "journal/exchange_journal.h"
#include "win32/dpi.h"

namespace ornat::win32 {

FormEnvironment Win32Environment(Scheduler& scheduler, HandlerGate& gate, Dispatcher& dispatcher,
                                 Dialogs& dialogs, CommDevice& device) {
  FormEnvironment env;
  env.scheduler = &scheduler;
  env.gate = &gate;
  env.dispatcher = &dispatcher;
  env.dialogs = &dialogs;
  env.device = &device;
  const int dpi = SystemDpi();
  env.screen_height = Unscale(::GetSystemMetrics(SM_CYSCREEN), dpi);
  env.vscroll_width = MetricForDpi(SM_CXVSCROLL, kBaseDpi);
  return env;
}

Program::Program(CommDevice& device, PortListSource* ports, ExchangeObserver* exchanges) {
  FormEnvironment env = Win32Environment(loop_, gate_, loop_, dialogs_, device);
  env.ports = ports;
  env.exchange_observer = exchanges;
  form_ = std::make_unique<TForm1>(env);
  view_ = std::make_unique<MainView>(*form_, gate_);
  view_->Create();
  dialogs_.SetOwner(view_->Window());
}

Program::~Program() {
  dialogs_.SetOwner(nullptr);
  view_.reset();
  // The form closes its port (and joins the event thread) in its destructor.
  form_.reset();
}

void Program::Start(int show_command) {
  gate_.Enter([this] { form_->FormCreate(form_.get()); });
  view_->FitWindow();
  view_->CentreOnScreen();
  view_->Show(show_command);
}

int Program::Run() {
  return loop_.Run([this](MSG& msg) { return view_->FilterMessage(msg); });
}

namespace {
void Warn(const std::string& text) {
  std::string line = text;
  std::replace(line.begin(), line.end(), '\n', ' ');
  std::fprintf(stderr, "ornat: %s\n", line.c_str());
  std::fflush(stderr);
  ShowWarningAside(text);
}
}  // namespace

void Program::WatchJournal(ExchangeJournal& journal) {
  journal.SetErrorSink([](const std::string& message) {
    Warn("Exchanges are missing from the journal: " + message +
         ".\nThe window goes on; each later exchange is written if the file takes it.");
  });
}

void Program::JournalCannotBeOpened(const std::string& why) {
  Warn("The journal cannot be kept: " + why + ".\nThe window runs without a journal.");
}

}  // namespace ornat::win32
