#include "win32/dialogs.h"

#include <thread>

#include "text/wide.h"

namespace ornat::win32 {

DialogAnswer MessageBoxDialogs::AskYesNo(const std::string& text) {
  switch (::MessageBoxW(owner_, Wide(text).c_str(), L"Warning",
                        MB_YESNO | MB_ICONWARNING | MB_DEFBUTTON1)) {
    case IDYES:
      return DialogAnswer::Yes;
    case IDNO:
      return DialogAnswer::No;
    default:
      return DialogAnswer::Closed;
  }
}

void MessageBoxDialogs::ShowException(const std::string& message) {
  ::MessageBoxW(owner_, Wide(message).c_str(), L"ornat", MB_OK | MB_ICONERROR);
}

void ShowWarningAside(const std::string& text) {
  std::thread([w = Wide(text)] {
    ::MessageBoxW(nullptr, w.c_str(), L"ornat", MB_OK | MB_ICONWARNING | MB_SETFOREGROUND);
  }).detach();
}

}  // namespace ornat::win32
