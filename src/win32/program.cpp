#include "win32/program.h"

#include "win32/dpi.h"

namespace ornat::win32 {

namespace {
// The environment of the window on this screen: the primary monitor's height and the
// scroll bar's width, as pixels at 96 dpi.
FormEnvironment Win32Environment(Scheduler& scheduler, HandlerGate& gate, Dispatcher& dispatcher,
                                 Dialogs& dialogs, CommDevice& device, PortListSource* ports,
                                 std::vector<NamedLine> named_lines) {
  FormEnvironment env = FormEnvironment::Of(scheduler, gate, dispatcher, dialogs, device, ports);
  env.named_lines = std::move(named_lines);
  const int dpi = SystemDpi();
  env.screen_height = Unscale(::GetSystemMetrics(SM_CYSCREEN), dpi);
  env.vscroll_width = MetricForDpi(SM_CXVSCROLL, kBaseDpi);
  return env;
}
}  // namespace

Program::Program(CommDevice& device, PortListSource* ports, ExchangeObserver* exchanges,
                 std::vector<NamedLine> named_lines)
    : window_(
          Win32Environment(loop_, gate_, loop_, dialogs_, device, ports, std::move(named_lines)),
          exchanges),
      view_(std::make_unique<MainView>(window_.form(), gate_)) {
  view_->Create();
  dialogs_.SetOwner(view_->Window());
  window_.SetWarningView(&ShowWarningAside);
}

Program::~Program() {
  dialogs_.SetOwner(nullptr);
  view_.reset();
}

void Program::Start(int show_command) {
  window_.Start();
  view_->FitWindow();
  view_->CentreOnScreen();
  view_->Show(show_command);
}

int Program::Run() {
  return loop_.Run([this](MSG& msg) { return view_->FilterMessage(msg); });
}

}  // namespace ornat::win32
