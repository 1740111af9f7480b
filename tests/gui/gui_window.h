#pragma once
// The window of the GUI tests: TForm1 on the virtual clock with the fake serial
// device and scripted dialogs (support/basic_form.h), and the Qt view over it,
// composed in the program's order (view, then FormCreate through the gate).

#include <QApplication>
#include <QRect>
#include <QTest>
#include <memory>
#include <ostream>

#include "app/main_view.h"
#include "support/basic_form.h"

// Rectangles in failure messages as left, top, width x height.
inline void PrintTo(const QRect& r, std::ostream* os) {
  *os << r.x() << ", " << r.y() << ", " << r.width() << " x " << r.height();
}

namespace ornat::testing {

struct GuiWindow {
  // Port discovery at start-up finds the two ports of the fake list.
  explicit GuiWindow(int screen_height = 1080) : base(screen_height) {
    base.ports.ports = std::vector<std::string>{"ttyS0", "ttyUSB0"};
    view = std::make_unique<MainView>(*base.form, base.gate);
    base.Create();
    view->FitWindow();
  }
  ~GuiWindow() { view.reset(); }
  TForm1& form() { return *base.form; }
  // Shows the window and waits until it is the active window.
  bool ShowActive() {
    view->show();
    view->activateWindow();
    return QTest::qWaitForWindowActive(view.get());
  }
  template <class T>
  T* Find(const char* name) const {
    return view->findChild<T*>(QString::fromLatin1(name));
  }
  BasicForm base;
  std::unique_ptr<MainView> view;
};

inline QString U(const char* utf8) {
  return QString::fromUtf8(utf8);
}

}  // namespace ornat::testing
