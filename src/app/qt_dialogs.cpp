#include "app/qt_dialogs.h"

#include <QMessageBox>

namespace ornat {

DialogAnswer QtDialogs::AskYesNo(const std::string& text) {
  QMessageBox box(QMessageBox::Warning, QStringLiteral("Warning"), QString::fromStdString(text),
                  QMessageBox::Yes | QMessageBox::No, parent_);
  box.setDefaultButton(QMessageBox::Yes);
  switch (box.exec()) {
    case QMessageBox::Yes:
      return DialogAnswer::Yes;
    case QMessageBox::No:
      return DialogAnswer::No;
    default:
      return DialogAnswer::Closed;
  }
}

void QtDialogs::ShowException(const std::string& message) {
  QMessageBox box(QMessageBox::Critical, QStringLiteral("ornat"), QString::fromStdString(message),
                  QMessageBox::Ok, parent_);
  box.exec();
}

}  // namespace ornat
