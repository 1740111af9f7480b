#pragma once
// E2eWindow: the whole tool in front of a simulated detector, as an engineer meets it.
// One running ornat-sim (support/sim_process.h) with its private XDG_RUNTIME_DIR, and
// the program as main() composes it (Program: the Qt scheduler, dispatcher and
// message boxes over the real POSIX serial device), started and shown on the current
// display, with Qt's own event loop. The journeys drive the window through its widgets,
// found by their control names, and read what the window shows and what the simulator
// saw on its line. Every wait is bounded.

#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/program.h"
#include "app/widgets.h"
#include "serial/platform/port_list.h"
#include "serial/platform/posix_comm_device.h"
#include "support/hex.h"
#include "support/line_texts.h"
#include "support/live_form.h"
#include "support/sim_process.h"

namespace ornat::testing {

// Sets an environment variable while it lives, then puts back what was there.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const std::string& value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    setenv(name, value.c_str(), 1);
  }
  ~ScopedEnv() {
    if (old_)
      setenv(name_, old_->c_str(), 1);
    else
      unsetenv(name_);
  }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  const char* name_;
  std::optional<std::string> old_;
};

// The texts that a cell's drawing puts on the screen: the status grid paints every
// cell through its OnDrawCell on a canvas; this canvas keeps the drawn text.
class TextCanvas : public TCanvas {
 public:
  void FillRect(const TRect&, TColor) override {}
  void SetTransparentText() override {}
  void DrawTextLine(const std::string& text, const TRect&) override { drawn += text; }
  std::string drawn;
};

// Answers the Yes/No boxes that come up while it lives: every 10 ms it looks for the
// application's modal message box, notes its text and clicks `answer` on it. It looks
// for at most `limit`.
class MessageBoxAnswerer {
 public:
  explicit MessageBoxAnswerer(QMessageBox::StandardButton answer,
                              std::chrono::milliseconds limit = std::chrono::seconds(20))
      : answer_(answer), until_(std::chrono::steady_clock::now() + limit) {
    timer_.setInterval(10);
    QObject::connect(&timer_, &QTimer::timeout, [this] { Look(); });
    timer_.start();
  }
  const std::vector<std::string>& Questions() const { return questions_; }

 private:
  void Look() {
    if (std::chrono::steady_clock::now() > until_) {
      timer_.stop();
      return;
    }
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (box == nullptr || !box->isVisible() || box == answered_) return;
    QAbstractButton* button = box->button(answer_);
    if (button == nullptr) return;
    answered_ = box;
    questions_.push_back(box->text().toStdString());
    QTest::mouseClick(button, Qt::LeftButton);
  }

  QMessageBox::StandardButton answer_;
  std::chrono::steady_clock::time_point until_;
  QTimer timer_;
  QPointer<QMessageBox> answered_;
  std::vector<std::string> questions_;
};

class E2eWindow {
 public:
  using Clock = std::chrono::steady_clock;

  // Starts ornat-sim with `sim_args`, then the program, which finds the simulator's
  // registered port at start-up; shows the window and waits until it is on screen.
  explicit E2eWindow(std::vector<std::string> sim_args = {})
      : dog_(std::chrono::seconds(60)),
        sim_(std::move(sim_args)),
        xdg_("XDG_RUNTIME_DIR", sim_.runtime_dir()),
        ports_("/sys/class/tty", sim_.runtime_dir() + "/ornat/ports") {
    if (!sim_.Started()) return;
    program_ = std::make_unique<Program>(device_, &ports_);
    program_->Start();
    program_->view().activateWindow();
    exposed_ = QTest::qWaitForWindowExposed(&program_->view(), 5000);
  }
  ~E2eWindow() {
    CloseMenus();
    // The form closes its port and joins the event thread as it goes.
    program_.reset();
  }
  E2eWindow(const E2eWindow&) = delete;
  E2eWindow& operator=(const E2eWindow&) = delete;

  bool Started() const { return sim_.Started() && program_ != nullptr && exposed_; }
  SimProcess& sim() { return sim_; }
  MainView& view() { return program_->view(); }
  // The window's logic, for the grid's drawing only; the journeys read widgets.
  TForm1& form() { return program_->form(); }

  // --- finding and driving widgets ---------------------------------------------
  template <class T = QWidget>
  T* Find(const std::string& name) {
    return view().findChild<T*>(QString::fromStdString(name));
  }
  QAction* Action(const std::string& name) { return Find<QAction>(name); }

  // A mouse click where a user clicks the control: a push button in its middle, a
  // check box or radio button on its indicator.
  void Click(const std::string& name) {
    QWidget* w = Find(name);
    if (w == nullptr) {
      ADD_FAILURE() << "no widget " << name;
      return;
    }
    if (qobject_cast<QCheckBox*>(w) != nullptr || qobject_cast<QRadioButton*>(w) != nullptr)
      QTest::mouseClick(w, Qt::LeftButton, {}, QPoint(6, w->height() / 2));
    else
      QTest::mouseClick(w, Qt::LeftButton);
  }
  // A menu item chosen: its action triggered, as a click in its open menu does.
  void Choose(const std::string& name) {
    QAction* a = Action(name);
    if (a == nullptr || !a->isEnabled()) {
      ADD_FAILURE() << "no enabled menu item " << name;
      return;
    }
    a->trigger();
  }
  // A press of the left mouse button on the menu bar over a top-level item
  // ("CustomItem1", "CustomItem4"), then the menu it opened closed again.
  void PressMenuBar(const std::string& item) {
    auto* bar = Find<QMenuBar>("TeMenuBar1");
    QAction* a = Action(item);
    if (bar == nullptr || a == nullptr) {
      ADD_FAILURE() << "no menu bar item " << item;
      return;
    }
    QTest::mouseClick(bar, Qt::LeftButton, {}, bar->actionGeometry(a).center());
    CloseMenus();
  }
  void CloseMenus() {
    for (int i = 0; i < 5 && QApplication::activePopupWidget() != nullptr; ++i) {
      QApplication::activePopupWidget()->close();
      QApplication::processEvents();
    }
  }
  // Replaces the text of a spin editor as a user does: to its end, the old digits
  // deleted, the new ones typed, then Enter.
  void TypeInto(const std::string& editor, const std::string& text) {
    auto* spin = Find<SpinEditWidget>(editor);
    if (spin == nullptr) {
      ADD_FAILURE() << "no editor " << editor;
      return;
    }
    QLineEdit* edit = spin->Editor();
    edit->setFocus(Qt::MouseFocusReason);
    edit->end(false);
    for (int i = 0; i < 3; ++i) QTest::keyClick(edit, Qt::Key_Backspace);
    QTest::keyClicks(edit, QString::fromStdString(text));
    QTest::keyClick(edit, Qt::Key_Return);
  }
  // Opens the speed list with a click and clicks the item `text` in it.
  bool PickSpeed(const std::string& text) {
    auto* combo = Find<QComboBox>("TeSComboBox1");
    if (combo == nullptr) return false;
    const int index = combo->findText(QString::fromStdString(text));
    if (index < 0) return false;
    QTest::mouseClick(combo, Qt::LeftButton);
    QAbstractItemView* list = combo->view();
    if (!QTest::qWaitFor([&] { return list->isVisible(); }, 2000)) {
      ADD_FAILURE() << "the speed list did not drop down";
      return false;
    }
    // A just opened list ignores the release of the click that opened it (for a
    // double-click interval), as it does under a user's hand.
    QTest::qWait(QApplication::doubleClickInterval() + 50);
    const QRect rect = list->visualRect(list->model()->index(index, 0));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, rect.center());
    if (!QTest::qWaitFor([&] { return !list->isVisible(); }, 2000)) {
      ADD_FAILURE() << "the speed list stayed open";
      return false;
    }
    return true;
  }

  // --- what the window shows -----------------------------------------------------
  std::string Text(const std::string& name) {
    QObject* o = view().findChild<QObject*>(QString::fromStdString(name));
    if (auto* l = qobject_cast<QLabel*>(o)) return l->text().toStdString();
    if (auto* b = qobject_cast<QAbstractButton*>(o)) return b->text().toStdString();
    if (auto* a = qobject_cast<QAction*>(o)) return a->text().toStdString();
    if (auto* s = qobject_cast<SpinEditWidget*>(o)) return s->Editor()->text().toStdString();
    if (auto* c = qobject_cast<QComboBox*>(o)) return c->currentText().toStdString();
    ADD_FAILURE() << "no text of " << name;
    return {};
  }
  std::string Panel(int i) { return Text("StatusBar1_Panel" + std::to_string(i)); }
  std::vector<std::string> Log() {
    std::vector<std::string> lines;
    if (auto* memo = Find<QPlainTextEdit>("TeMemo1"))
      for (const QString& l : memo->toPlainText().split(QChar('\n')))
        lines.push_back(l.toStdString());
    return lines;
  }
  // What the status grid draws into cell (col, row).
  std::string Grid(int col, int row) {
    auto* grid = Find<StatusGridWidget>("StatusGrid");
    if (grid == nullptr) return "<no grid>";
    TextCanvas canvas;
    form().StatusGrid.PaintCell(canvas, col, row, grid->CellRect(col, row), 0);
    return canvas.drawn;
  }
  bool Checked(const std::string& name) {
    QObject* o = view().findChild<QObject*>(QString::fromStdString(name));
    if (auto* b = qobject_cast<QAbstractButton*>(o)) return b->isChecked();
    if (auto* a = qobject_cast<QAction*>(o)) return a->isChecked();
    ADD_FAILURE() << "no check mark on " << name;
    return false;
  }
  // The names of the checked ones among `names`.
  std::vector<std::string> CheckedOf(const std::vector<std::string>& names) {
    std::vector<std::string> out;
    for (const std::string& n : names)
      if (Checked(n)) out.push_back(n);
    return out;
  }
  // The items of the Port submenu (captions), and those with a check mark.
  std::vector<std::string> PortItems(bool checked_only = false) {
    std::vector<std::string> out;
    auto* port = Action("PORT1");
    if (port == nullptr || port->menu() == nullptr) return out;
    for (QAction* a : port->menu()->actions())
      if (!checked_only || a->isChecked()) out.push_back(a->text().toStdString());
    return out;
  }
  QAction* PortItem(const std::string& caption) {
    auto* port = Action("PORT1");
    if (port == nullptr || port->menu() == nullptr) return nullptr;
    for (QAction* a : port->menu()->actions())
      if (a->text().toStdString() == caption) return a;
    return nullptr;
  }

  // --- waiting -------------------------------------------------------------------
  // Runs the event loop until pred() holds or `limit` has passed; returns pred().
  bool WaitFor(const std::function<bool()>& pred,
               std::chrono::milliseconds limit = std::chrono::seconds(5)) {
    return QTest::qWaitFor(pred, static_cast<int>(limit.count()));
  }
  // Until the log reads `lines` (the outcome of an exchange is complete).
  bool WaitForLog(const std::vector<std::string>& lines,
                  std::chrono::milliseconds limit = std::chrono::seconds(5)) {
    return WaitFor([&] { return Log() == lines; }, limit);
  }
  // Until the simulator has read `n` requests in all.
  bool WaitForRequests(std::size_t n, std::chrono::milliseconds limit = std::chrono::seconds(5)) {
    return WaitFor([&] { return sim_.WireRequests().size() >= n; }, limit);
  }

  // --- what the simulator saw and holds ------------------------------------------
  std::vector<std::string> Requests() { return FramesHex(sim_.WireRequests()); }
  // A field of the selected detector's description on the simulator's console
  // ("#0 addr=5 speed=6 (19200) id=0x0010 state=1 (alarm) tactic=3 latch=0 test=1").
  std::optional<int> Register(const std::string& field) {
    auto line = sim_.Command("select #0");
    if (!line) return std::nullopt;
    const std::string key = " " + field + "=";
    const auto at = line->find(key);
    if (at == std::string::npos) return std::nullopt;
    return std::stoi(line->substr(at + key.size()), nullptr, 0);
  }
  bool Console(const std::string& command) {
    return sim_.Command(command).value_or("").rfind("OK", 0) == 0;
  }

 private:
  Watchdog dog_;  // a journey that hangs ends the process instead of the run
  SimProcess sim_;
  ScopedEnv xdg_;
  LinuxPortList ports_;
  PosixCommDevice device_;
  std::unique_ptr<Program> program_;
  bool exposed_ = false;
};

// The controls and menu items the journeys look at together.
inline const std::vector<std::string> kTacticButtons = {
    "T1MAX_Button",     "T2MAX_Button",     "T2MIN_Button", "T3_100MIN_Button", "T3_100MAX_Button",
    "T3_500MIN_Button", "T3_500MAX_Button", "IRMAX_Button", "IRMIN_Button"};
inline const std::vector<std::string> kBaudItems = {"BR_1200",  "BR_2400",  "BR_4800",  "BR_9600",
                                                    "BR_14400", "BR_19200", "BR_38400", "BR_57600"};
inline const std::vector<std::string> kDelayItems = {
    "CustomItem7", "CustomItem8", "CustomItem9", "CustomItem10", "CustomItem11", "CustomItem12"};
// The parameter query to the detector at 247.
inline const std::vector<std::uint8_t> kQuery247 = {0xF7, 0x03, 0x00, 0x00, 0x00, 0x08, 0x50, 0x9A};

// The whole log of an exchange whose answer was shown and accepted.
inline std::vector<std::string> Answered(const std::vector<std::uint8_t>& request,
                                         const std::vector<std::uint8_t>& answer) {
  std::vector<std::string> log = {TxLine(request)};
  for (const std::string& l : AnswerLines(answer)) log.push_back(l);
  log.push_back(kOkLine);
  return log;
}

// The detector's answer to the parameter query: registers 0..7 as given (register 2
// is the line-speed code, 4 = 9600 bit/s).
inline std::vector<std::uint8_t> QueryAnswer(std::uint8_t address, std::uint8_t state,
                                             std::uint8_t tactic, std::uint8_t latch,
                                             std::uint8_t test, std::uint8_t speed = 4) {
  return WithCrc({address, 0x03, 0x10, 0x00, 0x10, 0x00, address, 0x00, speed, 0x00, state, 0x00,
                  tactic, 0x00, latch, 0x00, 0x00, 0x00, test});
}

}  // namespace ornat::testing
