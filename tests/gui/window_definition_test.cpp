// The window as defined: every control's widget by its name, with its place in its
// parent, its text, visibility and enabled state after start-up; the window itself,
// the menu tree, the status bar panels, the fonts and the accessible names.

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAction>
#include <QComboBox>
#include <QFontDatabase>
#include <QFontInfo>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QTest>

#include "app/widgets.h"
#include "gui_window.h"

namespace ornat::testing {
namespace {

QString TextOf(QWidget* w) {
  if (auto* l = qobject_cast<QLabel*>(w)) return l->text();
  if (auto* b = qobject_cast<QAbstractButton*>(w)) return b->text();
  if (auto* g = qobject_cast<QGroupBox*>(w)) return g->title();
  if (auto* s = qobject_cast<SpinEditWidget*>(w)) return s->Editor()->text();
  if (auto* c = qobject_cast<QComboBox*>(w)) return c->currentText();
  if (auto* m = qobject_cast<QPlainTextEdit*>(w)) return m->toPlainText();
  return {};
}

struct Placed {
  const char* name;
  const char* parent;  // objectName of the parent widget
  int left, top, width, height;
  const char* text;  // nullptr: the widget shows no text of its own
  bool visible = true;
  bool enabled = true;
};

// Positions inside the group boxes are relative to them.
const Placed kWindow[] = {
    {"TeMenuBar1", "Form1_Client", 3, 0, 115, 22, nullptr},
    {"TeGroupBox1", "Form1_Client", 0, 24, 433, 489, ""},
    {"StatusBar1", "Form1_Client", 0, 513, 434, 21, nullptr},
    {"TeGroupBox2", "TeGroupBox1", 12, 8, 410, 121, "  ПАРАМЕТРЫ ИНТЕРФЕЙСА  "},
    {"TeGroupBox6", "TeGroupBox1", 12, 132, 410, 112, "  КОНФИГУРАЦИЯ ИЗВЕЩАТЕЛЯ  "},
    {"TeGroupBox4", "TeGroupBox1", 12, 248, 410, 81, "  СТАТУС  "},
    {"StatusGrid", "TeGroupBox1", 15, 334, 404, 42, nullptr},
    {"TeMemo1", "TeGroupBox1", 15, 382, 404, 97, "TX :\nRX :"},
    {"TeProgressBar1", "TeGroupBox1", 41, 448, 352, 16, nullptr, false},
    {"TeLabel4", "TeGroupBox2", 26, 20, 112, 13, "СКОРОСТЬ ПЕРЕДАЧИ"},
    {"TeLabel5", "TeGroupBox2", 213, 20, 112, 13, "АДРЕС ПРИБОРА - 247"},
    {"TeSComboBox1", "TeGroupBox2", 26, 40, 105, 22, "9600"},
    {"TeSpinEdit1", "TeGroupBox2", 152, 40, 65, 21, "247"},
    {"TeButton1", "TeGroupBox2", 236, 38, 65, 25, "-->"},
    {"TeLabel6", "TeGroupBox2", 256, 44, 10, 13, "to"},
    {"TeSpinEdit2", "TeGroupBox2", 320, 40, 65, 21, "247"},
    // "A" and "V" Latin.
    {"TeButton2", "TeGroupBox2", 26, 72, 359, 30, "СБРОС ИНТЕРФЕЙСА --> A=247; V=9600 бит/с"},
    {"TeLabel1", "TeGroupBox6", 24, 18, 47, 13, "ТАКТИКА"},
    {"IRMAX_Button", "TeGroupBox6", 28, 36, 15, 16, "   ШС1"},
    {"IRMIN_Button", "TeGroupBox6", 28, 52, 15, 16, "   ШС1"},
    {"T1MAX_Button", "TeGroupBox6", 140, 36, 15, 16, "   ШС1"},
    {"T2MAX_Button", "TeGroupBox6", 140, 52, 15, 16, "   ШС1"},
    {"T2MIN_Button", "TeGroupBox6", 140, 68, 15, 16, "   ШС1"},
    {"T3_100MAX_Button", "TeGroupBox6", 232, 36, 15, 16, "   ШС1"},
    {"T3_100MIN_Button", "TeGroupBox6", 232, 52, 15, 16, "   ШС1"},
    {"T3_500MAX_Button", "TeGroupBox6", 232, 68, 15, 16, "   ШС1"},
    {"T3_500MIN_Button", "TeGroupBox6", 232, 84, 15, 16, "   ШС1"},
    // "MAX" and "MIN" Latin.
    {"TeLabel9", "TeGroupBox6", 48, 37, 81, 13, "- УФ+ИК - MAX*"},
    {"TeLabel2", "TeGroupBox6", 48, 53, 73, 13, "- УФ+ИК - MIN"},
    {"TeLabel8", "TeGroupBox6", 160, 37, 63, 13, "- УФ-1 - MAX"},
    {"TeLabel11", "TeGroupBox6", 160, 53, 69, 13, "- УФ-2 - MAX*"},
    {"TeLabel12", "TeGroupBox6", 160, 69, 61, 13, "- УФ-2 - MIN"},
    {"TeLabel10", "TeGroupBox6", 252, 37, 151, 13, "- УФ-3 -> ВСПЫШКА 0,1с/MAX"},
    {"TeLabel13", "TeGroupBox6", 252, 53, 149, 13, "- УФ-3 -> ВСПЫШКА 0,1с/MIN"},
    {"TeLabel14", "TeGroupBox6", 252, 69, 151, 13, "- УФ-3 -> ВСПЫШКА 0,5с/MAX"},
    {"TeLabel15", "TeGroupBox6", 252, 85, 149, 13, "- УФ-3 -> ВСПЫШКА 0,5с/MIN"},
    {"TST_Button", "TeGroupBox6", 28, 72, 105, 20, " - ТЕСТ (УФ+ИК)"},
    {"FIX_Button", "TeGroupBox6", 28, 89, 117, 20, " - ФИКС. ТРЕВОГИ", true, false},
    {"TeCheckBox1", "TeGroupBox4", 26, 16, 74, 20, "В ЦИКЛЕ"},
    {"TeButton5", "TeGroupBox4", 26, 38, 207, 30, "&ЗАПРОС ПАРАМЕТРОВ"},
    {"TeButton3", "TeGroupBox4", 280, 38, 105, 30, "СБРОС ТРЕВОГИ"},
    {"Button1", "TeGroupBox4", 184, 8, 41, 25, "F0", false},
    {"Button2", "TeGroupBox4", 232, 8, 41, 25, "F2", false},
    {"Button3", "TeGroupBox4", 280, 8, 41, 25, "F3", false},
};

TEST(WindowDefinition, EveryControlHasItsWidgetWithPlaceTextVisibilityAndEnabledState) {
  GuiWindow win;
  ASSERT_TRUE(win.base.dialogs.exceptions.empty());
  // On the screen, as the user meets it.
  ASSERT_TRUE(win.ShowActive());
  for (const Placed& p : kWindow) {
    SCOPED_TRACE(p.name);
    QWidget* w = win.Find<QWidget>(p.name);
    ASSERT_NE(w, nullptr);
    ASSERT_NE(w->parentWidget(), nullptr);
    EXPECT_EQ(w->parentWidget()->objectName(), QString::fromLatin1(p.parent));
    const QRect defined(p.left, p.top, p.width, p.height);
    if (qobject_cast<QMenuBar*>(w) != nullptr) {
      // The menu bar sizes itself to its items: never narrower than defined, and
      // never cut by the window's edge.
      EXPECT_EQ(w->geometry().topLeft(), defined.topLeft());
      EXPECT_EQ(w->height(), p.height);
      EXPECT_GE(w->width(), p.width);
      EXPECT_LE(w->x() + w->width(), w->parentWidget()->width());
    } else {
      EXPECT_EQ(w->geometry(), defined);
    }
    // The model holds the same rectangle.
    const TControl* model = nullptr;
    for (const TControl* c : win.form().AllControls())
      if (c->Name() == p.name) model = c;
    ASSERT_NE(model, nullptr);
    EXPECT_EQ(QRect(model->Left(), model->Top(), model->Width(), model->Height()), defined);
    if (auto* label = qobject_cast<QLabel*>(w)) {
      // The whole text within the label's rectangle.
      EXPECT_LE(label->fontMetrics().horizontalAdvance(label->text()), p.width);
      EXPECT_LE(label->fontMetrics().height(), p.height);
    }
    if (p.text != nullptr) {
      EXPECT_EQ(TextOf(w).toStdString(), std::string(p.text));
    }
    EXPECT_EQ(!w->isHidden(), p.visible);
    EXPECT_EQ(w->isEnabled(), p.enabled);
  }
}

TEST(WindowDefinition, CheckBoxesAndRadioButtonsTakeAClickAnywhereInTheirRectangle) {
  GuiWindow win;
  ASSERT_TRUE(win.ShowActive());
  int checkables = 0;
  for (const Placed& p : kWindow) {
    auto* button = win.Find<QAbstractButton>(p.name);
    if (button == nullptr || !button->isCheckable()) continue;
    SCOPED_TRACE(p.name);
    ++checkables;
    TControl* model = nullptr;
    for (TControl* c : win.form().AllControls())
      if (c->Name() == p.name) model = c;
    auto* box = dynamic_cast<TTeCheckBox*>(model);
    auto* radio = dynamic_cast<TTeRadioButton*>(model);
    ASSERT_TRUE(box != nullptr || radio != nullptr);
    int clicks = 0;
    (box != nullptr ? box->OnClick : radio->OnClick) = [&](TObject*) { ++clicks; };
    model->SetEnabled(true);  // FIX_Button too
    const QPoint corners[] = {
        {0, 0}, {p.width - 1, 0}, {0, p.height - 1}, {p.width - 1, p.height - 1}};
    for (QPoint corner : corners) {
      // A radio button raises its click when it becomes checked.
      if (radio != nullptr) radio->SetChecked(false);
      const int before = clicks;
      QTest::mouseClick(button, Qt::LeftButton, {}, corner);
      EXPECT_EQ(clicks, before + 1) << corner.x() << "," << corner.y();
      EXPECT_EQ(button->isChecked(), box != nullptr ? box->Checked() : radio->Checked());
    }
  }
  EXPECT_EQ(checkables, 12);  // nine tactic buttons, three check boxes
}

TEST(WindowDefinition, TheWindowHasItsCaptionAFixedClientAreaAndOnlyMinimiseAndClose) {
  GuiWindow win;
  MainView& v = *win.view;
  EXPECT_EQ(v.windowTitle().toStdString(), "  ОРНАТ(-2)-Zev   (MODBUS-RTU)   V1.03 - 2019");
  EXPECT_EQ(v.size(), QSize(434, 534));
  EXPECT_EQ(v.minimumSize(), v.maximumSize());
  EXPECT_EQ(v.Client()->size(), QSize(434, 534));
  const Qt::WindowFlags f = v.windowFlags();
  EXPECT_TRUE(f & Qt::WindowMinimizeButtonHint);
  EXPECT_TRUE(f & Qt::WindowSystemMenuHint);
  EXPECT_FALSE(f & Qt::WindowMaximizeButtonHint);
  EXPECT_EQ(v.ScrollArea()->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
  // Button-face background.
  EXPECT_EQ(v.palette().color(QPalette::Window), v.palette().color(QPalette::Button));
}

TEST(WindowDefinition, OnAShortScreenTheWindowScrollsAndIsWiderByTheScrollBar) {
  GuiWindow win(480);
  MainView& v = *win.view;
  EXPECT_EQ(win.form().OuterHeight, 455);
  EXPECT_EQ(v.height(), 455 - (565 - 534));
  EXPECT_EQ(v.width(), 434 + 17);
  EXPECT_EQ(v.ScrollArea()->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
  EXPECT_EQ(v.Client()->size(), QSize(434, 534));
}

struct MenuEntry {
  const char* name;
  const char* container;  // objectName of the menu holding it; "TeMenuBar1" for the bar
  const char* caption;
  bool checked;
};

const MenuEntry kMenu[] = {
    {"CustomItem1", "TeMenuBar1", "Connection", false},
    {"CustomItem4", "TeMenuBar1", "Search", false},
    {"PORT1", "CustomItem1", "Port", false},
    {"CustomItem3", "CustomItem1", "BaudRate", false},
    {"BR_1200", "CustomItem3", "1200", false},
    {"BR_2400", "CustomItem3", "2400", false},
    {"BR_4800", "CustomItem3", "4800", false},
    {"BR_9600", "CustomItem3", "9600", true},
    {"BR_14400", "CustomItem3", "14400", false},
    {"BR_19200", "CustomItem3", "19200", false},
    {"BR_38400", "CustomItem3", "38400", false},
    {"BR_57600", "CustomItem3", "57600", false},
    {"CustomItem5", "CustomItem4", "Start", false},
    {"CustomItem6", "CustomItem4", "Delay", false},
    {"CustomItem7", "CustomItem6", "100ms", false},
    {"CustomItem8", "CustomItem6", "150ms", true},
    {"CustomItem9", "CustomItem6", "200ms", false},
    {"CustomItem10", "CustomItem6", "250ms", false},
    {"CustomItem11", "CustomItem6", "300ms", false},
    {"CustomItem12", "CustomItem6", "350ms", false},
};

TEST(WindowDefinition, TheMenuTreeHasEveryItemInOrderWithCaptionAndCheckMark) {
  GuiWindow win;
  std::map<std::string, int> next_index;
  for (const MenuEntry& e : kMenu) {
    SCOPED_TRACE(e.name);
    QAction* a = win.Find<QAction>(e.name);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->text().toStdString(), e.caption);
    EXPECT_EQ(a->isChecked(), e.checked);
    QWidget* container = std::string(e.container) == "TeMenuBar1"
                             ? static_cast<QWidget*>(win.Find<QMenuBar>("TeMenuBar1"))
                             : static_cast<QWidget*>(win.Find<QMenu>(e.container));
    ASSERT_NE(container, nullptr);
    const int index = next_index[e.container]++;
    ASSERT_LT(index, container->actions().size());
    EXPECT_EQ(container->actions().at(index), a);
  }
}

TEST(WindowDefinition, StatusBarPanelsHaveTheirWidthsAlignmentsAndStartTexts) {
  GuiWindow win;
  struct Panel {
    int left, width;
    Qt::Alignment align;
    const char* text;
  } const panels[] = {
      {0, 50, Qt::AlignHCenter, nullptr},  // written by port discovery
      {50, 100, Qt::AlignHCenter, "BaudRate = 9600"},
      {150, 1105, Qt::AlignLeft, "DEVICE : A = 247; Baud = 9600"},  // Latin A
  };
  for (int i = 0; i < 3; ++i) {
    SCOPED_TRACE(i);
    auto* label = win.Find<QLabel>(("StatusBar1_Panel" + std::to_string(i)).c_str());
    ASSERT_NE(label, nullptr);
    EXPECT_EQ(label->x(), panels[i].left);
    // Each panel leaves 2 pixels to the next; the last runs past the window's edge.
    EXPECT_EQ(label->width(), panels[i].width - 2);
    EXPECT_TRUE(label->alignment() & panels[i].align);
    if (panels[i].text != nullptr) {
      EXPECT_EQ(label->text().toStdString(), panels[i].text);
    }
  }
}

TEST(WindowDefinition, FontsAreInstalledFacesWithCyrillicAtTheirPixelSizes) {
  GuiWindow win;
  struct FontCase {
    const char* widget;
    int pixel_size;
    bool monospace;
  } const cases[] = {
      {"TeLabel4", 11, false},    {"TeButton5", 11, false},    {"StatusGrid", 11, false},
      {"TeMemo1", 11, true},      {"TeSComboBox1", 15, false}, {"TeSpinEdit1", 11, false},
      {"TeSpinEdit2", 11, false},
  };
  for (const FontCase& c : cases) {
    SCOPED_TRACE(c.widget);
    QWidget* w = win.Find<QWidget>(c.widget);
    ASSERT_NE(w, nullptr);
    const QFontInfo info(w->font());
    EXPECT_EQ(info.pixelSize(), c.pixel_size);
    EXPECT_EQ(info.fixedPitch(), c.monospace);
    EXPECT_TRUE(QFontDatabase::families(QFontDatabase::Cyrillic).contains(info.family()))
        << info.family().toStdString();
    EXPECT_TRUE(w->fontMetrics().inFontUcs4(0x0416));  // Ж
  }
}

TEST(WindowDefinition, TheToLabelLiesUnderTheArrowButton) {
  GuiWindow win;
  QWidget* label = win.Find<QWidget>("TeLabel6");
  QWidget* button = win.Find<QWidget>("TeButton1");
  ASSERT_TRUE(label && button);
  EXPECT_EQ(label->parentWidget()->childAt(label->geometry().center()), button);
}

TEST(WindowDefinition, TacticButtonsAreNamedForScreenReadersByTheLabelBesideThem) {
  GuiWindow win;
  const std::pair<const char*, const char*> pairs[] = {
      {"IRMAX_Button", "- УФ+ИК - MAX*"},
      {"IRMIN_Button", "- УФ+ИК - MIN"},
      {"T1MAX_Button", "- УФ-1 - MAX"},
      {"T2MAX_Button", "- УФ-2 - MAX*"},
      {"T2MIN_Button", "- УФ-2 - MIN"},
      {"T3_100MAX_Button", "- УФ-3 -> ВСПЫШКА 0,1с/MAX"},
      {"T3_100MIN_Button", "- УФ-3 -> ВСПЫШКА 0,1с/MIN"},
      {"T3_500MAX_Button", "- УФ-3 -> ВСПЫШКА 0,5с/MAX"},
      {"T3_500MIN_Button", "- УФ-3 -> ВСПЫШКА 0,5с/MIN"},
  };
  for (const auto& [button, label] : pairs) {
    SCOPED_TRACE(button);
    auto* w = win.Find<QRadioButton>(button);
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(w->accessibleName().toStdString(), label);
  }
  // The other controls keep their caption as the name Qt gives them.
  EXPECT_TRUE(win.Find<QWidget>("TeButton3")->accessibleName().isEmpty());
}

TEST(WindowDefinition, TheQueryButtonsAcceleratorIsAltZe) {
  GuiWindow win;
  auto* b = win.Find<QPushButton>("TeButton5");
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(b->shortcut(), QKeySequence(Qt::ALT | Qt::Key(0x0417)));  // З
  EXPECT_FALSE(b->icon().isNull());
}

TEST(WindowDefinition, TheLogIsReadOnlyWithoutScrollBarsUnderAnArrowCursor) {
  GuiWindow win;
  auto* m = win.Find<QPlainTextEdit>("TeMemo1");
  ASSERT_NE(m, nullptr);
  EXPECT_TRUE(m->isReadOnly());
  EXPECT_EQ(m->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
  EXPECT_EQ(m->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
  EXPECT_EQ(m->viewport()->cursor().shape(), Qt::ArrowCursor);
  EXPECT_FALSE(m->testAttribute(Qt::WA_InputMethodEnabled));
}

}  // namespace
}  // namespace ornat::testing
