#include "app/program.h"

#include <QApplication>
#include <QScreen>
#include <QStyle>

namespace ornat {

FormEnvironment QtEnvironment(Scheduler& scheduler, HandlerGate& gate, Dispatcher& dispatcher,
                              Dialogs& dialogs, CommDevice& device) {
  FormEnvironment env;
  env.scheduler = &scheduler;
  env.gate = &gate;
  env.dispatcher = &dispatcher;
  env.dialogs = &dialogs;
  env.device = &device;
  if (QScreen* screen = QGuiApplication::primaryScreen())
    env.screen_height = screen->geometry().height();
  env.vscroll_width = QApplication::style()->pixelMetric(QStyle::PM_ScrollBarExtent);
  return env;
}

Program::Program(CommDevice& device, PortListSource* ports, ExchangeObserver* exchanges) {
  FormEnvironment env = QtEnvironment(scheduler_, gate_, dispatcher_, dialogs_, device);
  env.ports = ports;
  env.exchange_observer = exchanges;
  form_ = std::make_unique<TForm1>(env);
  view_ = std::make_unique<MainView>(*form_, gate_);
  dialogs_.SetParent(view_.get());
}

Program::~Program() {
  dialogs_.SetParent(nullptr);
  view_.reset();
  // The form closes its port (and joins the event thread) in its destructor.
  form_.reset();
}

void Program::Start() {
  gate_.Enter([this] { form_->FormCreate(form_.get()); });
  view_->FitWindow();
  view_->CentreOnScreen();
  view_->show();
}

}  // namespace ornat
