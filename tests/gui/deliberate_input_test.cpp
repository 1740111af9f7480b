// Only a deliberate action on a control changes what the tool sends to the detector:
// the wheel changes nothing anywhere in the window, the speed list sends only a pick
// from its dropped-down list, and the address editors refuse a fourth character and
// any pasted or dropped text that is not an address. Wheel events travel the route the
// window system gives them (to the widget under the pointer, on to its parents while
// ignored, giving the focus on their way to a widget that takes it from the wheel).

#include <gtest/gtest.h>

#include <QtTest/qtestspontaneevent.h>
#include <QAbstractItemView>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QLabel>
#include <QMimeData>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QWheelEvent>
#include <sstream>

#include "app/widgets.h"
#include "gui_window.h"

namespace ornat::testing {
namespace {

using Frame = std::vector<std::uint8_t>;

std::vector<Frame> Writes(GuiWindow& win) {
  std::vector<Frame> frames;
  for (const DeviceCall& c : win.base.device.calls())
    if (c.name == "Write") frames.push_back(c.data);
  return frames;
}

// One notch of the wheel (angle in eighths of a degree, 120 a notch) over the middle
// of w, delivered as the window system delivers it.
void Wheel(QWidget* w, QPoint angle) {
  QWidget* top = w->window();
  const QPoint at = w->mapTo(top, w->rect().center());
  QWidget* target = top->childAt(at);
  if (target == nullptr) target = top;
  const QPointF local = target->mapFrom(top, at);
  QWheelEvent e(local, target->mapToGlobal(local), QPoint(), angle, Qt::NoButton, Qt::NoModifier,
                Qt::NoScrollPhase, false);
  QSpontaneKeyEvent::setSpontaneous(&e);
  qApp->notify(target, &e);
}

// Everything a write depends on, and what the user sees of it.
std::string Snapshot(GuiWindow& win) {
  TForm1& f = win.form();
  std::ostringstream s;
  s << "speed " << f.TeSComboBox1.ItemIndex() << " shown "
    << win.Find<QComboBox>("TeSComboBox1")->currentIndex();
  for (TTeSpinEdit* e : {&f.TeSpinEdit1, &f.TeSpinEdit2})
    s << " | " << e->Name() << " " << e->Text() << " shown "
      << win.Find<SpinEditWidget>(e->Name().c_str())->Editor()->text().toStdString();
  for (TTeRadioButton* r : f.TacticGroup.Members()) s << " | " << r->Name() << r->Checked();
  for (TTeCheckBox* c : {&f.TST_Button, &f.FIX_Button, &f.TeCheckBox1})
    s << " | " << c->Name() << c->Checked();
  s << " | address " << int(f.State.DeviceAddress) << " | panel2 " << f.StatusBar1.PanelText(2)
    << " | label " << f.TeLabel5.Caption();
  QWidget* focus = QApplication::focusWidget();
  s << " | focus " << (focus ? focus->objectName().toStdString() : "none");
  return s.str();
}

// The address editor's text selected whole and `keys` typed over it.
void Retype(GuiWindow& win, const char* editor, const char* keys) {
  QLineEdit* edit = win.Find<SpinEditWidget>(editor)->Editor();
  edit->setFocus(Qt::MouseFocusReason);
  edit->selectAll();
  QTest::keyClicks(edit, QString::fromLatin1(keys));
}

TEST(DeliberateInput, TheWheelChangesNothingAnywhereInTheWindowWithOrWithoutTheFocus) {
  GuiWindow win;
  ASSERT_TRUE(win.ShowActive());
  // The address editor holds a value out of range while it has the focus: leaving it
  // would bring it into range, so a wheel that took the focus would show.
  Retype(win, "TeSpinEdit1", "0");
  const QPoint notches[] = {{0, 120}, {0, -120}, {0, -360}, {120, 0}, {-120, 0}};
  for (int focused = 0; focused < 2; ++focused) {
    for (TControl* c : win.form().AllControls()) {
      QWidget* w = win.view->WidgetOf(*c);
      if (w->isHidden()) continue;
      SCOPED_TRACE(c->Name() + (focused ? ", focused" : ""));
      if (focused) {
        if (w->focusPolicy() == Qt::NoFocus && w->focusProxy() == nullptr) continue;
        w->setFocus(Qt::MouseFocusReason);
      }
      const std::string before = Snapshot(win);
      for (QPoint n : notches) Wheel(w, n);
      EXPECT_EQ(Snapshot(win), before);
    }
  }
  // The spin editors' arrow buttons too.
  for (const char* name : {"TeSpinEdit1", "TeSpinEdit2"}) {
    auto* spin = win.Find<SpinEditWidget>(name);
    for (QToolButton* button : {spin->UpButton(), spin->DownButton()}) {
      const std::string before = Snapshot(win);
      for (QPoint n : notches) Wheel(button, n);
      EXPECT_EQ(Snapshot(win), before) << name;
    }
  }
  EXPECT_TRUE(Writes(win).empty());
  EXPECT_TRUE(win.base.dialogs.questions.empty());
}

TEST(DeliberateInput, OnAShortScreenTheWheelOverTheSpeedListScrollsTheWindowInstead) {
  GuiWindow win(480);
  ASSERT_TRUE(win.ShowActive());
  QScrollBar* bar = win.view->ScrollArea()->verticalScrollBar();
  ASSERT_GT(bar->maximum(), 0);
  auto* combo = win.Find<QComboBox>("TeSComboBox1");
  Wheel(combo, {0, -120});
  EXPECT_GT(bar->value(), 0);
  EXPECT_EQ(combo->currentIndex(), 3);
  EXPECT_EQ(win.form().TeSComboBox1.ItemIndex(), 3);
  EXPECT_TRUE(Writes(win).empty());
}

struct ClosedListKey {
  const char* name;
  Qt::Key key;
  Qt::KeyboardModifiers mods;
  const char* text;
  bool drops_down;
};

TEST(DeliberateInput, KeysOnTheClosedSpeedListDropItDownOrDoNothingButNeverPick) {
  const ClosedListKey keys[] = {
      {"Down", Qt::Key_Down, Qt::NoModifier, "", true},
      {"Up", Qt::Key_Up, Qt::NoModifier, "", true},
      {"PageDown", Qt::Key_PageDown, Qt::NoModifier, "", true},
      {"PageUp", Qt::Key_PageUp, Qt::NoModifier, "", true},
      {"Home", Qt::Key_Home, Qt::NoModifier, "", true},
      {"End", Qt::Key_End, Qt::NoModifier, "", true},
      {"F4", Qt::Key_F4, Qt::NoModifier, "", true},
      {"Alt+Down", Qt::Key_Down, Qt::AltModifier, "", true},
      {"Space", Qt::Key_Space, Qt::NoModifier, " ", true},
      {"digit 1", Qt::Key_1, Qt::NoModifier, "1", true},
      {"keypad 5", Qt::Key_5, Qt::KeypadModifier, "5", true},
      {"Shift+digit 3", Qt::Key_3, Qt::ShiftModifier, "3", true},
      {"Ctrl+Down", Qt::Key_Down, Qt::ControlModifier, "", false},
      {"Ctrl+End", Qt::Key_End, Qt::ControlModifier, "", false},
      {"Return", Qt::Key_Return, Qt::NoModifier, "\r", false},
      {"Escape", Qt::Key_Escape, Qt::NoModifier, "", false},
  };
  GuiWindow win;
  ASSERT_TRUE(win.ShowActive());
  auto* combo = win.Find<QComboBox>("TeSComboBox1");
  QAbstractItemView* list = combo->view();
  for (const ClosedListKey& k : keys) {
    SCOPED_TRACE(k.name);
    combo->setFocus(Qt::TabFocusReason);
    QTest::sendKeyEvent(QTest::Click, combo, k.key, QString::fromLatin1(k.text), k.mods);
    EXPECT_EQ(list->isVisible(), k.drops_down);
    if (list->isVisible()) {
      // Closed again without a pick.
      QTest::keyClick(list, Qt::Key_Escape);
      EXPECT_TRUE(QTest::qWaitFor([&] { return !list->isVisible(); }, 2000));
    }
    EXPECT_EQ(combo->currentIndex(), 3);
    EXPECT_EQ(win.form().TeSComboBox1.ItemIndex(), 3);
  }
  EXPECT_TRUE(Writes(win).empty());
  EXPECT_TRUE(win.base.dialogs.questions.empty());
}

// Two ways of picking "14400" from the dropped-down list; each returns whether the
// list dropped down and closed again as it should.
bool PickWithTheKeys(QComboBox* combo, const std::function<bool()>& nothing_sent) {
  QAbstractItemView* list = combo->view();
  QTest::keyClick(combo, Qt::Key_Down);  // drops down on "9600"
  if (!list->isVisible()) return false;
  QTest::keyClick(list, Qt::Key_Down);  // "14400" highlighted: nothing sent yet
  EXPECT_TRUE(nothing_sent());
  QTest::keyClick(list, Qt::Key_Return);
  return QTest::qWaitFor([&] { return !list->isVisible(); }, 2000);
}

bool PickWithTheMouse(QComboBox* combo, const std::function<bool()>& nothing_sent) {
  QAbstractItemView* list = combo->view();
  QTest::mouseClick(combo, Qt::LeftButton);
  if (!QTest::qWaitFor([&] { return list->isVisible(); }, 2000)) return false;
  EXPECT_TRUE(nothing_sent());
  // A just opened list ignores the release of the click that opened it for a
  // double-click interval.
  QTest::qWait(QApplication::doubleClickInterval() + 50);
  const QRect item = list->visualRect(list->model()->index(4, 0));
  QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, item.center());
  return QTest::qWaitFor([&] { return !list->isVisible(); }, 2000);
}

TEST(DeliberateInput, APickFromTheOpenedListByEnterOrByAClickSendsTheSpeed) {
  const std::pair<const char*, decltype(&PickWithTheKeys)> picks[] = {
      {"Enter on the item the arrow key moved to", &PickWithTheKeys},
      {"a click on the item", &PickWithTheMouse},
  };
  for (const auto& [name, pick] : picks) {
    SCOPED_TRACE(name);
    GuiWindow win;
    ASSERT_TRUE(win.ShowActive());
    // At address 5, as the user moves it there.
    Retype(win, "TeSpinEdit1", "5\r");
    ASSERT_EQ(win.form().State.DeviceAddress, 5);
    auto* combo = win.Find<QComboBox>("TeSComboBox1");
    combo->setFocus(Qt::TabFocusReason);
    EXPECT_TRUE(pick(combo, [&] { return Writes(win).empty(); }));
    EXPECT_EQ(combo->currentText().toStdString(), "14400");
    EXPECT_EQ(Writes(win), (std::vector<Frame>{{0x05, 0x06, 0x00, 0x02, 0x00, 0x05, 0xE9, 0x8D}}));
  }
}

std::string Panel2(GuiWindow& win) {
  return win.Find<QLabel>("StatusBar1_Panel2")->text().toStdString();
}

TEST(DeliberateInput, AFullAddressEditorRefusesAFourthKeyAtTheStartTheMiddleAndTheEnd) {
  GuiWindow win;
  ASSERT_TRUE(win.ShowActive());
  for (const char* name : {"TeSpinEdit1", "TeSpinEdit2"}) {
    QLineEdit* edit = win.Find<SpinEditWidget>(name)->Editor();
    edit->setFocus(Qt::MouseFocusReason);
    for (int caret : {0, 1, 2, 3}) {
      SCOPED_TRACE(std::string(name) + " caret " + std::to_string(caret));
      edit->setCursorPosition(caret);
      for (char key : {'1', '0', '+'}) QTest::keyClick(edit, key);
      EXPECT_EQ(edit->text().toStdString(), "247");
      EXPECT_EQ(edit->cursorPosition(), caret);
      EXPECT_EQ(win.form().State.DeviceAddress, 247);
      // Start-up's texts: no change was raised.
      EXPECT_EQ(Panel2(win), "DEVICE : A = 247; Baud = 9600");
      EXPECT_EQ(win.Find<QLabel>("TeLabel5")->text().toStdString(), "АДРЕС ПРИБОРА - 247");
    }
  }
  // "-->" writes to 247 what the editors show.
  QTest::mouseClick(win.Find<QPushButton>("TeButton1"), Qt::LeftButton);
  EXPECT_EQ(Writes(win), (std::vector<Frame>{{0xF7, 0x06, 0x00, 0x01, 0x00, 0xF7, 0x8D, 0x1A}}));
}

TEST(DeliberateInput, TypingOverASelectionReplacesItAsTheUserMeantIt) {
  GuiWindow win;
  ASSERT_TRUE(win.ShowActive());
  QLineEdit* edit = win.Find<SpinEditWidget>("TeSpinEdit1")->Editor();
  struct Case {
    int start, length;  // the selection
    const char* keys;
    const char* text;
    int caret;
    const char* panel2;
  } const cases[] = {
      {0, 3, "1", "1", 1, "DEVICE : A = 001; Baud = 9600;"},
      {0, 1, "2", "2", 1, "DEVICE : A = 002; Baud = 9600;"},  // "1" replaced
      {1, 0, "47", "247", 3, "DEVICE : A = 247; Baud = 9600;"},
      {1, 1, "1", "217", 2, "DEVICE : A = 217; Baud = 9600;"},   // the middle digit
      {2, 1, "5x", "215", 3, "DEVICE : A = 215; Baud = 9600;"},  // the letter refused
      {0, 3, "x", "215", -1, "DEVICE : A = 215; Baud = 9600;"},  // selection kept
  };
  edit->setFocus(Qt::MouseFocusReason);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.keys);
    edit->setSelection(c.start, c.length);
    QTest::keyClicks(edit, QString::fromLatin1(c.keys));
    EXPECT_EQ(edit->text().toStdString(), c.text);
    EXPECT_EQ(win.form().TeSpinEdit1.Text(), c.text);
    if (c.caret >= 0) {
      EXPECT_EQ(edit->cursorPosition(), c.caret);
    } else {
      EXPECT_EQ(edit->selectionStart(), c.start);
      EXPECT_EQ(edit->selectedText().size(), c.length);
    }
    EXPECT_EQ(Panel2(win), c.panel2);
  }
}

// How text reaches the editor other than by typing.
enum class Route { kCtrlV, kShiftInsert, kMenuPaste, kMiddleButton, kDrop };

void Bring(QLineEdit* edit, Route route, const QString& text) {
  // The pointer over the caret.
  const QPoint caret(edit->inputMethodQuery(Qt::ImCursorRectangle).toRect().center().x(),
                     edit->height() / 2);
  switch (route) {
    case Route::kCtrlV:
      QGuiApplication::clipboard()->setText(text);
      QTest::keyClick(edit, Qt::Key_V, Qt::ControlModifier);
      break;
    case Route::kShiftInsert:
      QGuiApplication::clipboard()->setText(text);
      QTest::keyClick(edit, Qt::Key_Insert, Qt::ShiftModifier);
      break;
    case Route::kMenuPaste:  // what the context menu's Paste calls
      QGuiApplication::clipboard()->setText(text);
      QMetaObject::invokeMethod(edit, "paste");
      break;
    case Route::kMiddleButton:
      QGuiApplication::clipboard()->setText(text, QClipboard::Selection);
      QTest::mouseClick(edit, Qt::MiddleButton, {}, caret);
      break;
    case Route::kDrop: {
      auto* mime = new QMimeData;
      mime->setText(text);
      QDragEnterEvent enter(caret, Qt::CopyAction, mime, Qt::LeftButton, Qt::NoModifier);
      QApplication::sendEvent(edit, &enter);
      QDropEvent drop(caret, Qt::CopyAction, mime, Qt::LeftButton, Qt::NoModifier);
      QApplication::sendEvent(edit, &drop);
      delete mime;
      break;
    }
  }
}

TEST(DeliberateInput, PastedOrDroppedTextIsTakenOnlyWhenItIsAnAddressFrom1To247) {
  struct Case {
    const char* start;  // the editor's text, typed
    int sel_start, sel_length;
    const char* brought;
    const char* text;  // afterwards
  } const cases[] = {
      {"247", 0, 3, "12", "12"},    {"247", 0, 3, " 5\n", "5"},  {"2", 1, 0, "47", "247"},
      {"247", 0, 3, "007", "007"},  {"247", 0, 3, "0", "247"},   {"247", 0, 3, "248", "247"},
      {"247", 0, 3, "1234", "247"}, {"247", 0, 3, "-5", "247"},  {"247", 0, 3, "+5", "247"},
      {"247", 0, 3, "12a", "247"},  {"247", 0, 3, "1 2", "247"}, {"247", 0, 0, "1", "247"},
      {"247", 3, 0, "1", "247"},    {"24", 2, 0, "9", "24"},     {"3", 1, 0, "5", "35"},
      {"247", 0, 3, "ТРИ", "247"},  {"247", 1, 1, "", "247"},    {"24", 0, 2, "20", "20"},
      {"24", 2, 0, "0", "24"},      {"14", 1, 1, "04", "104"},
  };
  const std::pair<Route, const char*> routes[] = {{Route::kCtrlV, "Ctrl+V"},
                                                  {Route::kShiftInsert, "Shift+Insert"},
                                                  {Route::kMenuPaste, "the menu's Paste"},
                                                  {Route::kMiddleButton, "middle button"},
                                                  {Route::kDrop, "drop"}};
  GuiWindow win;
  ASSERT_TRUE(win.ShowActive());
  QLineEdit* edit = win.Find<SpinEditWidget>("TeSpinEdit1")->Editor();
  for (const auto& [route, route_name] : routes) {
    for (const Case& c : cases) {
      // The middle button and a drop put the text at the pointer, not over a selection.
      const bool at_pointer = route == Route::kMiddleButton || route == Route::kDrop;
      if (at_pointer && c.sel_length > 0) continue;
      // The context menu offers no Paste while the clipboard holds no text.
      if (route == Route::kMenuPaste && *c.brought == '\0') continue;
      SCOPED_TRACE(std::string(route_name) + ": \"" + c.brought + "\" into " + c.start);
      Retype(win, "TeSpinEdit1", c.start);
      edit->setSelection(c.sel_start, c.sel_length);
      Bring(edit, route, QString::fromUtf8(c.brought));
      EXPECT_EQ(edit->text().toStdString(), c.text);
      EXPECT_EQ(win.form().TeSpinEdit1.Text(), c.text);
      EXPECT_EQ(win.form().State.DeviceAddress, TForm1::AddressOf(win.form().TeSpinEdit1));
    }
  }
  EXPECT_TRUE(Writes(win).empty());
}

TEST(DeliberateInput, OnlyTheArrowKeysAndButtonsStepTheAddressEditor) {
  GuiWindow win;
  ASSERT_TRUE(win.ShowActive());
  Retype(win, "TeSpinEdit1", "100");
  QLineEdit* edit = win.Find<SpinEditWidget>("TeSpinEdit1")->Editor();
  const std::pair<Qt::Key, const char*> keys[] = {
      {Qt::Key_PageUp, "100"}, {Qt::Key_PageDown, "100"}, {Qt::Key_Home, "100"},
      {Qt::Key_End, "100"},    {Qt::Key_Up, "101"},       {Qt::Key_Down, "100"},
  };
  for (const auto& [key, text] : keys) {
    QTest::keyClick(edit, key);
    EXPECT_EQ(edit->text().toStdString(), text) << QKeySequence(key).toString().toStdString();
  }
}

TEST(DeliberateInput, ArrowKeysMoveAmongTheTacticButtonsWithoutChoosingOne) {
  GuiWindow win;
  ASSERT_TRUE(win.ShowActive());
  auto* first = win.Find<QRadioButton>("IRMAX_Button");
  first->setFocus(Qt::TabFocusReason);
  for (Qt::Key key : {Qt::Key_Down, Qt::Key_Right, Qt::Key_Up, Qt::Key_Left})
    QTest::keyClick(QApplication::focusWidget(), key);
  for (TTeRadioButton* r : win.form().TacticGroup.Members()) EXPECT_FALSE(r->Checked());
  EXPECT_TRUE(Writes(win).empty());
}

}  // namespace
}  // namespace ornat::testing
