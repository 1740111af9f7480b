#pragma once
// The Yes/No question and the exception report as Windows message boxes, owned by the
// main window (which they disable while they are open).

#include <windows.h>

#include "ui/toolkit/dialogs.h"

namespace ornat::win32 {

class MessageBoxDialogs : public Dialogs {
 public:
  void SetOwner(HWND owner) { owner_ = owner; }
  // A warning box with Yes and No; Yes is the default button.
  DialogAnswer AskYesNo(const std::string& text) override;
  // An error box with the message and OK.
  void ShowException(const std::string& message) override;

 private:
  HWND owner_ = nullptr;
};

// A warning that does not stop the window: a message box on a thread of its own.
void ShowWarningAside(const std::string& text);

}  // namespace ornat::win32
