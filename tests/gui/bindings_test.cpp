// The view's two directions: the user's input reaches the models and their handlers
// (through the gate), and the models' changes reach the widgets without raising a
// handler again.

#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QEventLoop>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <stdexcept>

#include "app/widgets.h"
#include "gui_window.h"
#include "serial/comport.h"

namespace ornat::testing {
namespace {

std::string Panel(GuiWindow& win, int i) {
  return win.Find<QLabel>(("StatusBar1_Panel" + std::to_string(i)).c_str())->text().toStdString();
}
std::string Label5(GuiWindow& win) {
  return win.Find<QLabel>("TeLabel5")->text().toStdString();
}

TEST(Bindings, EachBaudRateMenuItemReachesItsHandlerAndTheStatusBarShowsTheNewRate) {
  GuiWindow win;
  struct Row {
    const char* item;
    const char* panel1;
    const char* panel2;  // Cyrillic А, address unpadded, no final semicolon
    TBaudRate port;
  } const rows[] = {
      {"BR_1200", "BaudRate = 1200", "DEVICE : А = 247; Baud = 1200", TBaudRate::br1200},
      {"BR_2400", "BaudRate = 2400", "DEVICE : А = 247; Baud = 2400", TBaudRate::br2400},
      {"BR_4800", "BaudRate = 4800", "DEVICE : А = 247; Baud = 4800", TBaudRate::br4800},
      {"BR_9600", "BaudRate = 9600", "DEVICE : А = 247; Baud = 9600", TBaudRate::br9600},
      {"BR_14400", "BaudRate = 14400", "DEVICE : А = 247; Baud = 14400", TBaudRate::br14400},
      {"BR_19200", "BaudRate = 19200", "DEVICE : А = 247; Baud = 19200", TBaudRate::br19200},
      {"BR_38400", "BaudRate = 38400", "DEVICE : А = 247; Baud = 38400", TBaudRate::br38400},
      {"BR_57600", "BaudRate = 57600", "DEVICE : А = 247; Baud = 57600", TBaudRate::br57600},
  };
  for (int i = 0; i < 8; ++i) {
    SCOPED_TRACE(rows[i].item);
    win.Find<QAction>(rows[i].item)->trigger();
    EXPECT_EQ(win.form().State.BaudIndex, i);
    EXPECT_EQ(win.form().ComPort1().BaudRate(), rows[i].port);
    EXPECT_EQ(Panel(win, 1), rows[i].panel1);
    EXPECT_EQ(Panel(win, 2), rows[i].panel2);
    // The speed text fits its 100-pixel panel.
    QLabel* panel1 = win.Find<QLabel>("StatusBar1_Panel1");
    EXPECT_LE(panel1->fontMetrics().horizontalAdvance(panel1->text()),
              panel1->contentsRect().width());
    // Only the chosen item carries a check mark, in the model and on the screen,
    // the chosen one too when it was checked before (Qt's own toggle is undone).
    for (const Row& other : rows) {
      EXPECT_EQ(win.Find<QAction>(other.item)->isChecked(), &other == &rows[i]) << other.item;
    }
  }
  EXPECT_TRUE(win.base.dialogs.exceptions.empty());
}

// Steps typed into the address editor one after the other.
struct Typing {
  const char* keys;  // typed characters; '\b' backspace, '\r' Enter
  const char* shown;
  unsigned address;
  const char* label;
  const char* panel2;  // Latin A, padded address, final semicolon
};

TEST(Bindings, TypingIntoTheAddressEditorReachesItsHandlersAndTheTextsFollow) {
  GuiWindow win;
  ASSERT_TRUE(win.ShowActive());
  auto* spin = win.Find<SpinEditWidget>("TeSpinEdit1");
  ASSERT_NE(spin, nullptr);
  QLineEdit* edit = spin->Editor();
  edit->setFocus();
  edit->end(false);
  const Typing steps[] = {
      {"\b\b\b", "", 1, "АДРЕС ПРИБОРА - 001", "DEVICE : A = 001; Baud = 9600;"},
      {"7", "7", 7, "АДРЕС ПРИБОРА - 007", "DEVICE : A = 007; Baud = 9600;"},
      {"\r", "7", 7, "АДРЕС ПРИБОРА - 007", "DEVICE : A = 007; Baud = 9600;"},
      // Letters and the minus sign are refused.
      {"x-", "7", 7, "АДРЕС ПРИБОРА - 007", "DEVICE : A = 007; Baud = 9600;"},
      // At most three characters; while typing 725 is taken as 247 (never wrapped).
      {"250", "725", 247, "АДРЕС ПРИБОРА - 247", "DEVICE : A = 247; Baud = 9600;"},
      // Enter brings the text into range.
      {"\r", "247", 247, "АДРЕС ПРИБОРА - 247", "DEVICE : A = 247; Baud = 9600;"},
      {"\b\b\b0", "0", 1, "АДРЕС ПРИБОРА - 001", "DEVICE : A = 001; Baud = 9600;"},
      {"\r", "1", 1, "АДРЕС ПРИБОРА - 001", "DEVICE : A = 001; Baud = 9600;"},
  };
  for (const Typing& t : steps) {
    SCOPED_TRACE(t.keys);
    for (const char* k = t.keys; *k != '\0'; ++k) {
      if (*k == '\b')
        QTest::keyClick(edit, Qt::Key_Backspace);
      else if (*k == '\r')
        QTest::keyClick(edit, Qt::Key_Return);
      else
        QTest::keyClick(edit, *k);
    }
    EXPECT_EQ(edit->text().toStdString(), t.shown);
    EXPECT_EQ(win.form().TeSpinEdit1.Text(), t.shown);
    EXPECT_EQ(win.form().State.DeviceAddress, t.address);
    EXPECT_EQ(Label5(win), t.label);
    EXPECT_EQ(Panel(win, 2), t.panel2);
  }
  EXPECT_TRUE(win.base.dialogs.exceptions.empty());
}

TEST(Bindings, LeavingTheAddressEditorAndItsArrowButtonsKeepTheValueInRange) {
  GuiWindow win;
  ASSERT_TRUE(win.ShowActive());
  auto* spin = win.Find<SpinEditWidget>("TeSpinEdit1");
  QLineEdit* edit = spin->Editor();
  edit->setFocus();
  edit->end(false);
  QTest::keyClick(edit, Qt::Key_Backspace);  // "24"
  QTest::mouseClick(spin->DownButton(), Qt::LeftButton);
  EXPECT_EQ(edit->text().toStdString(), "23");
  QTest::mouseClick(spin->UpButton(), Qt::LeftButton);
  QTest::mouseClick(spin->UpButton(), Qt::LeftButton);
  EXPECT_EQ(edit->text().toStdString(), "25");
  EXPECT_EQ(Label5(win), "АДРЕС ПРИБОРА - 025");
  QTest::keyClick(edit, '9');  // 259: out of range until the field is left
  EXPECT_EQ(edit->text().toStdString(), "259");
  win.Find<QWidget>("TeSpinEdit2")->setFocus();
  EXPECT_EQ(edit->text().toStdString(), "247");
  EXPECT_EQ(win.form().State.DeviceAddress, 247);
}

TEST(Bindings, ModelChangesReachTheirWidgetsWithoutRaisingTheHandlerAgain) {
  GuiWindow win;
  int clicks = 0;
  win.form().TeCheckBox1.OnClick = [&](TObject*) { ++clicks; };
  auto* box = win.Find<QCheckBox>("TeCheckBox1");
  // From code: the model raises its click once; the view only shows the state.
  win.form().TeCheckBox1.SetChecked(true);
  EXPECT_TRUE(box->isChecked());
  EXPECT_EQ(clicks, 1);
  win.form().TeCheckBox1.SetEnabled(false);
  EXPECT_FALSE(box->isEnabled());
  EXPECT_EQ(clicks, 1);
  win.form().TeCheckBox1.SetEnabled(true);
  // From the user: a click toggles the model, which raises its click.
  QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(6, box->height() / 2));
  EXPECT_FALSE(box->isChecked());
  EXPECT_FALSE(win.form().TeCheckBox1.Checked());
  EXPECT_EQ(clicks, 2);

  // Radio buttons: the model's group, not Qt's, decides which one is checked.
  int tactic_clicks = 0;
  for (TTeRadioButton* r : win.form().TacticGroup.Members())
    r->OnClick = [&](TObject*) { ++tactic_clicks; };
  win.form().T2MIN_Button.SetChecked(true);
  win.form().IRMAX_Button.SetChecked(true);
  EXPECT_TRUE(win.Find<QRadioButton>("IRMAX_Button")->isChecked());
  EXPECT_FALSE(win.Find<QRadioButton>("T2MIN_Button")->isChecked());
  EXPECT_EQ(tactic_clicks, 2);
  QTest::mouseClick(win.Find<QRadioButton>("IRMAX_Button"), Qt::LeftButton);
  EXPECT_TRUE(win.Find<QRadioButton>("IRMAX_Button")->isChecked());  // stays checked
  EXPECT_EQ(tactic_clicks, 2);                                       // already checked: no event

  // Captions, visibility, spin values and the progress bar.
  win.form().TeButton5.SetCaption("СТОП");
  EXPECT_EQ(win.Find<QPushButton>("TeButton5")->text().toStdString(), "СТОП");
  EXPECT_TRUE(win.Find<QPushButton>("TeButton5")->shortcut().isEmpty());
  win.form().TeProgressBar1.SetVisible(true);
  win.form().TeProgressBar1.SetPosition(40);
  EXPECT_FALSE(win.Find<QWidget>("TeProgressBar1")->isHidden());
  win.form().TeSpinEdit1.SetValue(5);
  EXPECT_EQ(win.Find<SpinEditWidget>("TeSpinEdit1")->Editor()->text().toStdString(), "5");
  EXPECT_EQ(Label5(win), "АДРЕС ПРИБОРА - 005");  // its change handler ran once
}

// Pixels of the painted log whose colour leans to red or to blue.
std::pair<int, int> RedAndBluePixels(QWidget* w) {
  const QImage img = w->grab().toImage();
  int red = 0, blue = 0;
  for (int y = 0; y < img.height(); ++y) {
    for (int x = 0; x < img.width(); ++x) {
      const QColor c = img.pixelColor(x, y);
      if (c.red() > c.blue() + 60 && c.red() > c.green() + 60) ++red;
      if (c.blue() > c.red() + 60 && c.blue() > c.green() + 60) ++blue;
    }
  }
  return {red, blue};
}

TEST(Bindings, TheLogShowsTheModelsLinesInItsOneTextColour) {
  GuiWindow win;
  auto* memo = win.Find<QPlainTextEdit>("TeMemo1");
  // Navy at start: blue-leaning text, nothing red.
  auto [red0, blue0] = RedAndBluePixels(memo);
  EXPECT_EQ(red0, 0);
  EXPECT_GT(blue0, 0);
  // As a send changes it: the pane shows all of it once the handler has returned.
  win.base.gate.Enter([&] {
    win.form().TeMemo1.Clear();
    win.form().TeMemo1.Add("TX : F7 03 00 00 00 08 50 9A ");
    win.form().TeMemo1.Add("RX :");
    win.form().TeMemo1.SetFontColor(clRed);
    EXPECT_EQ(memo->toPlainText().toStdString(), "TX :\nRX :") << "not redrawn in the handler";
  });
  QCoreApplication::processEvents();
  EXPECT_EQ(memo->toPlainText().toStdString(), "TX : F7 03 00 00 00 08 50 9A \nRX :");
  auto [red1, blue1] = RedAndBluePixels(memo);
  EXPECT_GT(red1, 0);
  EXPECT_EQ(blue1, 0);
  win.form().TeMemo1.SetFontColor(clBlue);
  QCoreApplication::processEvents();
  auto [red2, blue2] = RedAndBluePixels(memo);
  EXPECT_EQ(red2, 0);
  EXPECT_GT(blue2, 0);
}

TEST(Bindings, TheLogShowsTheCompletionsLinesWhileItsQuestionIsAsked) {
  GuiWindow win;
  auto* memo = win.Find<QPlainTextEdit>("TeMemo1");
  std::string shown_during_question;
  // A completion that asks a question: the dialog's nested loop shows the log as it
  // stands, the answer above the question.
  win.base.gate.Enter([&] {
    win.form().TeMemo1.Add("   : OK.");
    QEventLoop question;
    QTimer::singleShot(20, &question, &QEventLoop::quit);
    question.exec();
    shown_during_question = memo->toPlainText().toStdString();
  });
  EXPECT_EQ(shown_during_question, "TX :\nRX :\n   : OK.");
}

TEST(Bindings, ThePortSubmenuFollowsItsRunTimeChildren) {
  GuiWindow win;
  TTeItem& port = win.form().PORT1;
  auto texts = [&] {
    std::vector<std::string> t;
    QMenu* menu = win.view->MenuOf(port);
    if (menu != nullptr)
      for (QAction* a : menu->actions()) t.push_back(a->text().toStdString());
    return t;
  };
  // Start-up's discovery put the fake list's two ports there.
  EXPECT_EQ(texts(), (std::vector<std::string>{"ttyS0", "ttyUSB0"}));
  {
    TTeItem extra("Extra", "COM7");
    port.Add(&extra);
    EXPECT_EQ(texts(), (std::vector<std::string>{"ttyS0", "ttyUSB0", "COM7"}));
    extra.SetChecked(true);
    EXPECT_TRUE(win.view->ActionOf(extra)->isChecked());
    extra.SetCaption("COM8");
    EXPECT_EQ(texts().back(), "COM8");
    extra.SetHint("USB 0403:6001 FTDI FT232R USB UART, serial A50285BI");
    EXPECT_EQ(win.view->ActionOf(extra)->toolTip().toStdString(), extra.Hint());
    EXPECT_EQ(win.view->ActionOf(extra)->statusTip().toStdString(), extra.Hint());
    EXPECT_TRUE(win.view->MenuOf(port)->toolTipsVisible());
    int clicks = 0;
    extra.OnClick = [&](TObject*) { ++clicks; };
    win.view->ActionOf(extra)->trigger();
    EXPECT_EQ(clicks, 1);
  }  // destroyed: it leaves the menu
  EXPECT_EQ(texts(), (std::vector<std::string>{"ttyS0", "ttyUSB0"}));
  while (port.Count() > 0) port.Remove(port.Item(0));
  EXPECT_EQ(win.view->MenuOf(port), nullptr);  // a plain item again
  EXPECT_FALSE(win.view->ActionOf(port)->text().isEmpty());
}

TEST(Bindings, APressOnTheMenuBarReachesTheModelBeforeTheMenuOpens) {
  GuiWindow win;
  ASSERT_TRUE(win.ShowActive());
  TTeItem late("Late", "COM9");
  std::vector<std::string> seen_at_open;
  int presses = 0;
  win.form().TeMenuBar1.OnMouseDown = [&](TObject*, TMouseButton b, int, int, int) {
    ++presses;
    EXPECT_EQ(b, TMouseButton::mbLeft);
    win.form().PORT1.Add(&late);
  };
  QMenu* connection = win.view->MenuOf(win.form().CustomItem1);
  ASSERT_NE(connection, nullptr);
  QObject::connect(connection, &QMenu::aboutToShow, [&] {
    for (QAction* a : win.view->MenuOf(win.form().PORT1)->actions())
      seen_at_open.push_back(a->text().toStdString());
  });
  auto* bar = win.Find<QMenuBar>("TeMenuBar1");
  const QRect item = bar->actionGeometry(win.view->ActionOf(win.form().CustomItem1));
  QTest::mouseClick(bar, Qt::LeftButton, {}, item.center());
  EXPECT_EQ(presses, 1);
  EXPECT_EQ(seen_at_open, (std::vector<std::string>{"ttyS0", "ttyUSB0", "COM9"}));
  connection->hide();
  win.form().PORT1.Remove(&late);
}

TEST(Bindings, ActivationPutsTheFocusOnTheMenuBarAndTheUsersFocusIsTheModels) {
  GuiWindow win;
  ASSERT_TRUE(win.ShowActive());
  EXPECT_EQ(win.form().Focus.Active(), &win.form().TeMenuBar1);
  EXPECT_EQ(QApplication::focusWidget(), win.Find<QWidget>("TeMenuBar1"));
  win.Find<SpinEditWidget>("TeSpinEdit2")->Editor()->setFocus(Qt::MouseFocusReason);
  EXPECT_EQ(win.form().Focus.Active(), &win.form().TeSpinEdit2);
  win.form().StatusGrid.SetFocus();
  EXPECT_EQ(QApplication::focusWidget(), win.Find<QWidget>("StatusGrid"));
}

TEST(Bindings, TheQueryButtonsAcceleratorClicksItAndAFailingHandlerIsReported) {
  GuiWindow win;
  ASSERT_TRUE(win.ShowActive());
  int clicks = 0;
  win.form().TeButton5.OnClick = [&](TObject*) { ++clicks; };
  // Alt+З (a Cyrillic key: the event carries its own text).
  QTest::sendKeyEvent(QTest::Click, win.view.get(), Qt::Key(0x0417), QString(QChar(0x0417)),
                      Qt::AltModifier);
  // The button shows itself pressed for a moment before its click.
  EXPECT_TRUE(QTest::qWaitFor([&] { return clicks == 1; }, 2000));
  // The accelerator does not move the focus.
  EXPECT_EQ(win.form().Focus.Active(), &win.form().TeMenuBar1);
  win.form().TeButton5.OnClick = [](TObject*) { throw std::runtime_error("boom"); };
  QTest::mouseClick(win.Find<QPushButton>("TeButton5"), Qt::LeftButton);
  EXPECT_EQ(win.base.dialogs.exceptions, (std::vector<std::string>{"boom"}));
  // The window goes on.
  win.Find<QAction>("BR_19200")->trigger();
  EXPECT_EQ(Panel(win, 1), "BaudRate = 19200");
}

TEST(Bindings, InputThatArrivesWhileAHandlerRunsWaitsUntilItReturns) {
  GuiWindow win;
  std::vector<std::string> order;
  auto* arrow = win.Find<QPushButton>("TeButton1");
  win.form().TeButton1.OnClick = [&](TObject*) { order.push_back("-->"); };
  win.form().TeButton3.OnClick = [&](TObject*) {
    order.push_back("reset begins");
    arrow->click();  // as a nested event loop would deliver it
    order.push_back("reset ends");
  };
  win.Find<QPushButton>("TeButton3")->click();
  EXPECT_EQ(order, (std::vector<std::string>{"reset begins", "reset ends", "-->"}));
}

TEST(Bindings, TheStatusGridPaintsItsCellsThroughTheDrawCellHandler) {
  GuiWindow win;
  auto* grid = win.Find<StatusGridWidget>("StatusGrid");
  ASSERT_NE(grid, nullptr);
  win.form().StatusGrid.SetCell(1, 1, "    НОРМА");
  std::vector<std::tuple<int, int, TRect, bool>> painted;
  auto original = win.form().StatusGrid.OnDrawCell;
  win.form().StatusGrid.OnDrawCell = [&](TObject* s, int c, int r, const TRect& rect,
                                         TGridDrawState st, TCanvas& canvas) {
    painted.emplace_back(c, r, rect, HasState(st, TGridDrawStateFlag::gdSelected));
    original(s, c, r, rect, st, canvas);
  };
  const QImage img = grid->grab().toImage();
  ASSERT_EQ(painted.size(), 4u);
  // Row height 18, column widths 150 and 248 from the grid's initialisation, one
  // line between cells; the whole first row is selected.
  EXPECT_EQ(painted[0], std::make_tuple(0, 0, TRect{2, 2, 152, 20}, true));
  EXPECT_EQ(painted[1], std::make_tuple(1, 0, TRect{153, 2, 401, 20}, true));
  EXPECT_EQ(painted[2], std::make_tuple(0, 1, TRect{2, 21, 152, 39}, false));
  EXPECT_EQ(painted[3], std::make_tuple(1, 1, TRect{153, 21, 401, 39}, false));
  EXPECT_EQ(img.pixelColor(5, 5), QColor(182, 189, 210));  // selected fill
  EXPECT_EQ(img.pixelColor(398, 36), QColor(Qt::white));
  // A click selects the second row.
  QTest::mouseClick(grid, Qt::LeftButton, {}, QPoint(300, 30));
  EXPECT_EQ(win.form().StatusGrid.Row(), 1);
  // Dragging the first column's right line resizes the column.
  QTest::mousePress(grid, Qt::LeftButton, {}, QPoint(152, 10));
  QTest::mouseMove(grid, QPoint(172, 10));
  QTest::mouseRelease(grid, Qt::LeftButton, {}, QPoint(172, 10));
  EXPECT_EQ(win.form().StatusGrid.ColWidth(0), 170);
}

// Passes the drawing on and keeps the rectangle of every text drawn.
class RecordingCanvas : public TCanvas {
 public:
  explicit RecordingCanvas(TCanvas& inner) : inner_(inner) {}
  void FillRect(const TRect& r, TColor color) override { inner_.FillRect(r, color); }
  void SetTransparentText() override { inner_.SetTransparentText(); }
  void DrawTextLine(const std::string& text, const TRect& r) override {
    texts.emplace_back(text, r);
    inner_.DrawTextLine(text, r);
  }
  std::vector<std::pair<std::string, TRect>> texts;

 private:
  TCanvas& inner_;
};

// Top and bottom row of the pixels darker than grey within r.
std::pair<int, int> InkRows(const QImage& img, const TRect& r) {
  int top = r.Bottom, bottom = r.Top - 1;
  for (int y = r.Top; y < r.Bottom; ++y)
    for (int x = r.Left; x < r.Right; ++x)
      if (qGray(img.pixel(x, y)) < 100) {
        top = std::min(top, y);
        bottom = std::max(bottom, y);
      }
  return {top, bottom};
}

TEST(Bindings, DraggingARowsBottomLineResizesTheRowAndItsCellsAreDrawnInTheNewHeight) {
  GuiWindow win;
  ASSERT_TRUE(win.ShowActive());
  auto* grid = win.Find<StatusGridWidget>("StatusGrid");
  TTeStringGrid& model = win.form().StatusGrid;
  model.SetCell(1, 1, "    НОРМА");
  std::vector<std::pair<std::string, TRect>> drawn;
  auto original = model.OnDrawCell;
  model.OnDrawCell = [&](TObject* s, int c, int r, const TRect& rect, TGridDrawState st,
                         TCanvas& canvas) {
    RecordingCanvas recording(canvas);
    original(s, c, r, rect, st, recording);
    for (auto& t : recording.texts) drawn.push_back(t);
  };
  // Over the line below the first row (y = 20) the pointer shows the row can be sized.
  // A move without a button pressed is the display's own pointer moved there: its event
  // comes from the X server, maybe after the move has returned.
  QTest::mouseMove(grid, QPoint(300, 20));
  EXPECT_TRUE(QTest::qWaitFor([&] { return grid->cursor().shape() == Qt::SplitVCursor; }, 2000))
      << "cursor " << grid->cursor().shape();
  struct Drag {
    int from_y, to_y;
    int row0_height;
  } const drags[] = {
      {20, 26, 24},  // 6 pixels lower
      {26, 14, 12},  // 12 pixels higher
      {14, 0, 1},    // never below one pixel
      {3, 21, 19},   // and back
  };
  for (const Drag& d : drags) {
    SCOPED_TRACE(d.from_y);
    QTest::mousePress(grid, Qt::LeftButton, {}, QPoint(300, d.from_y));
    QTest::mouseMove(grid, QPoint(300, d.to_y));
    QTest::mouseRelease(grid, Qt::LeftButton, {}, QPoint(300, d.to_y));
    EXPECT_EQ(model.RowHeight(0), d.row0_height);
    EXPECT_EQ(model.RowHeight(1), 18);
    EXPECT_EQ(model.ColWidth(0), 150);
    EXPECT_EQ(model.Row(), 0);  // a press on a line sizes, it selects nothing
  }
  // Row 0 is 19 pixels high now: each text is drawn into its cell of the new height,
  // 2 pixels short of its right edge, and its ink lies within that cell.
  drawn.clear();
  const QImage img = grid->grab().toImage();
  const std::vector<std::pair<std::string, TRect>> expected = {
      {"  ТИП", {2, 2, 150, 21}},
      {"", {153, 2, 399, 21}},
      {"  СТАТУС", {2, 22, 150, 40}},
      {"    НОРМА", {153, 22, 399, 40}},
  };
  EXPECT_EQ(drawn, expected);
  for (const auto& [text, rect] : expected) {
    if (text.empty()) continue;
    SCOPED_TRACE(text);
    // Ink in the cell, vertically centred, touching neither of its edges.
    const auto [top, bottom] = InkRows(img, rect);
    EXPECT_GT(top, rect.Top);
    EXPECT_LT(bottom, rect.Bottom - 1);
    EXPECT_NEAR(top + bottom, rect.Top + rect.Bottom - 1, 3);
  }
  // The selected row's fill covers its new height, the line lies below it.
  EXPECT_EQ(img.pixelColor(5, 20), QColor(182, 189, 210));
  EXPECT_EQ(img.pixelColor(5, 21), QColor(0xC0, 0xC0, 0xC0));
  EXPECT_EQ(img.pixelColor(398, 23), QColor(Qt::white));
}

TEST(Bindings, TheSpeedListForwardsThePicksAndDropsDownOnATypedKey) {
  GuiWindow win;
  ASSERT_TRUE(win.ShowActive());
  std::vector<int> picks;
  win.form().TeSComboBox1.OnChange = [&](TObject*) {
    picks.push_back(win.form().TeSComboBox1.ItemIndex());
  };
  auto* combo = win.Find<QComboBox>("TeSComboBox1");
  ASSERT_NE(combo, nullptr);
  combo->setFocus();
  // The arrow key drops the closed list down; Enter in the list picks.
  QTest::keyClick(combo, Qt::Key_Down);
  ASSERT_TRUE(combo->view()->isVisible());
  EXPECT_TRUE(picks.empty());
  QTest::keyClick(combo->view(), Qt::Key_Down);
  QTest::keyClick(combo->view(), Qt::Key_Return);
  EXPECT_EQ(picks, (std::vector<int>{4}));
  EXPECT_EQ(combo->currentText().toStdString(), "14400");
  // From code: shown, nothing raised.
  win.form().TeSComboBox1.SetItemIndex(7);
  EXPECT_EQ(combo->currentText().toStdString(), "57600");
  EXPECT_EQ(picks.size(), 1u);
  QTest::keyClick(combo, '1');
  EXPECT_TRUE(combo->view()->isVisible());
  EXPECT_EQ(picks.size(), 1u);
  combo->hidePopup();
}

}  // namespace
}  // namespace ornat::testing
