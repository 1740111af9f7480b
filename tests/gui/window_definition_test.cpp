// The window as defined: every control's widget by its name, with its place in its
// parent, its text, visibility and enabled state after start-up; the window itself,
// the menu tree, the status bar panels, the fonts and the accessible names.

#include <gtest/gtest.h>

#include <vector>

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
#include "support/window_definition.h"

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

TEST(WindowDefinition, APortNameThatFillsItsPanelIsDrawnWholeFromInsideThePanelsEdge) {
  GuiWindow win;
  auto* label = win.Find<QLabel>("StatusBar1_Panel0");
  ASSERT_NE(label, nullptr);
  // Fills the panel; longer than it; short (centred).
  for (const char* name : {"ornat-sim", "ornat-simulator-2", "COM1"}) {
    SCOPED_TRACE(name);
    win.form().StatusBar1.SetPanelText(0, name);
    const QImage img = label->grab().toImage();
    // Columns with any pixel off the panel's face, below its top border line.
    std::vector<int> inked;
    for (int x = 0; x < img.width(); ++x)
      for (int y = 1; y < img.height(); ++y)
        if (qGray(img.pixel(x, y)) < 232) {
          inked.push_back(x);
          break;
        }
    ASSERT_FALSE(inked.empty());
    // Nothing of a glyph on the window's edge, where the panel has no border.
    EXPECT_GE(inked.front(), 1);
    EXPECT_EQ(label->text().toStdString(), name);
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
  for (const auto& [button, label] : kTacticNames) {
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
