#include "app/program.h"

#include <QApplication>
#include <QMessageBox>
#include <QScreen>
#include <QStyle>
#include <QTimer>

#include "app/qt_text.h"

namespace ornat {

namespace {
// The environment of the window on this screen and in this style.
FormEnvironment QtEnvironment(Scheduler& scheduler, HandlerGate& gate, Dispatcher& dispatcher,
                              Dialogs& dialogs, CommDevice& device, PortListSource* ports,
                              std::vector<NamedLine> named_lines) {
  FormEnvironment env = FormEnvironment::Of(scheduler, gate, dispatcher, dialogs, device, ports);
  env.named_lines = std::move(named_lines);
  if (QScreen* screen = QGuiApplication::primaryScreen())
    env.screen_height = screen->geometry().height();
  env.vscroll_width = QApplication::style()->pixelMetric(QStyle::PM_ScrollBarExtent);
  return env;
}
}  // namespace

Program::Program(CommDevice& device, PortListSource* ports, ExchangeObserver* exchanges,
                 std::vector<NamedLine> named_lines)
    : window_(QtEnvironment(scheduler_, gate_, dispatcher_, dialogs_, device, ports,
                            std::move(named_lines)),
              exchanges),
      view_(std::make_unique<MainView>(window_.form(), gate_)) {
  dialogs_.SetParent(view_.get());
  window_.SetWarningView([view = view_.get()](const std::string& text) {
    QTimer::singleShot(0, view, [view, text] {
      auto* box = new QMessageBox(QMessageBox::Warning, QStringLiteral("ornat"), ToQString(text),
                                  QMessageBox::Ok, view);
      box->setObjectName(QStringLiteral("JournalWarning"));
      box->setAttribute(Qt::WA_DeleteOnClose);
      box->setModal(false);
      box->show();
    });
  });
}

Program::~Program() {
  dialogs_.SetParent(nullptr);
  view_.reset();
}

void Program::Start() {
  window_.Start();
  view_->FitWindow();
  view_->CentreOnScreen();
  view_->show();
}

}  // namespace ornat
