#pragma once
// The two dialogs the window shows: the Yes/No warning and the exception report.
// The logic never shows a dialog itself; it asks this interface.

#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "runtime/exception_report.h"

namespace ornat {

enum class DialogAnswer { Yes, No, Closed };

class Dialogs : public ExceptionReport {
 public:
  // Modal warning with the buttons Yes and No; returns the button pressed.
  virtual DialogAnswer AskYesNo(const std::string& text) = 0;
};

// For tests: answers come from a script (No once it runs out), everything asked and
// reported is kept, and a hook can run while the "dialog is open".
class ScriptedDialogs : public Dialogs {
 public:
  DialogAnswer AskYesNo(const std::string& text) override {
    questions.push_back(text);
    if (while_open) while_open();
    if (answers.empty()) return DialogAnswer::No;
    DialogAnswer a = answers.front();
    answers.pop_front();
    return a;
  }
  void ShowException(const std::string& message) override { exceptions.push_back(message); }

  std::deque<DialogAnswer> answers;
  std::vector<std::string> questions;
  std::vector<std::string> exceptions;
  std::function<void()> while_open;
};

}  // namespace ornat
