#include "app/program.h"

#include <QApplication>
#include <QMessageBox>
#include <QScreen>
#include <QStyle>
#include <QTimer>
#include <algorithm>
#include <cstdio>

#include "journal/exchange_journal.h"

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

void Program::WatchJournal(ExchangeJournal& journal) {
  journal.SetErrorSink([this](const std::string& message) {
    WarnLater("Exchanges are missing from the journal: " + message +
              ".\nThe window goes on; each later exchange is written if the file takes it.");
  });
}

void Program::JournalCannotBeOpened(const std::string& why) {
  WarnLater("The journal cannot be kept: " + why + ".\nThe window runs without a journal.");
}

void Program::WarnLater(const std::string& text) {
  std::string line = text;
  std::replace(line.begin(), line.end(), '\n', ' ');
  std::fprintf(stderr, "ornat: %s\n", line.c_str());
  QTimer::singleShot(0, view_.get(), [view = view_.get(), text] {
    auto* box = new QMessageBox(QMessageBox::Warning, QStringLiteral("ornat"),
                                QString::fromStdString(text), QMessageBox::Ok, view);
    box->setObjectName(QStringLiteral("JournalWarning"));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setModal(false);
    box->show();
  });
}

}  // namespace ornat
