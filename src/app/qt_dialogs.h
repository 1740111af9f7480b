#pragma once
// QtDialogs: the Yes/No warning and the exception report as QMessageBox.

#include <QPointer>
#include <QWidget>
#include <string>

#include "ui/toolkit/dialogs.h"

namespace ornat {

class QtDialogs : public Dialogs {
 public:
  // The window the boxes are modal to and centred on (none: the screen).
  void SetParent(QWidget* parent) { parent_ = parent; }
  // A warning box with Yes (the default) and No; closing it answers Closed.
  DialogAnswer AskYesNo(const std::string& text) override;
  // An error box with the message and OK.
  void ShowException(const std::string& message) override;

 private:
  QPointer<QWidget> parent_;
};

}  // namespace ornat
