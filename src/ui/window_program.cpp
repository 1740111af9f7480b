#include "ui/window_program.h"

#include <algorithm>
#include <cstdio>

#include "journal/exchange_journal.h"

namespace ornat {

WindowProgram::WindowProgram(FormEnvironment env, ExchangeObserver* journal) {
  observers_.Add(journal);
  env.exchange_observer = &observers_;
  form_ = std::make_unique<TForm1>(env);
}

WindowProgram::~WindowProgram() {
  // The form closes its port (and joins the event thread) in its destructor, before
  // the observers it tells go.
  form_.reset();
}

void WindowProgram::Start() {
  Do([this] { form_->FormCreate(form_.get()); });
}

void WindowProgram::WatchJournal(ExchangeJournal& journal) {
  journal.SetErrorSink([this](const std::string& message) {
    Warn("Exchanges are missing from the journal: " + message +
         ".\nThe window goes on; each later exchange is written if the file takes it.");
  });
}

void WindowProgram::JournalCannotBeOpened(const std::string& why) {
  Warn("The journal cannot be kept: " + why + ".\nThe window runs without a journal.");
}

void WindowProgram::TellLinesFileWarnings(const std::vector<std::string>& warnings) {
  if (warnings.empty()) return;
  std::string text = "Lines of the lines file cannot be used (the others are in the Port menu):";
  for (const std::string& warning : warnings) text += "\n" + warning;
  Warn(text);
}

void WindowProgram::Warn(const std::string& text) {
  std::string line = text;
  std::replace(line.begin(), line.end(), '\n', ' ');
  std::fprintf(stderr, "ornat: %s\n", line.c_str());
  std::fflush(stderr);
  // A write fails inside the completion that tells the journal: the gate holds the
  // warning until that handler has returned.
  if (show_warning_) Do([show = show_warning_, text] { show(text); });
}

}  // namespace ornat
