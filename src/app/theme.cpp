#include "app/theme.h"

#include <QApplication>
#include <QPalette>
#include <QStyle>
#include <QStyleFactory>

#include "app/fonts.h"
#include "app/qt_canvas.h"

namespace ornat {

namespace {
// The colours are picked here once; the sheet below uses the same values.
//   face #F0F0F0 (the window's button face), frame #7F9DB9, highlight #C1D2EE on
//   #316AC5, pressed #98B5E2.
const char* const kStyleSheet = R"(
QPushButton {
  background: #FBFBFB; border: 1px solid #8E9AAE; padding: 0 4px;
}
QPushButton:hover { background: #C1D2EE; border-color: #316AC5; }
QPushButton:pressed { background: #98B5E2; border-color: #316AC5; }
QPushButton:focus { border-color: #316AC5; }
QPushButton:disabled { color: #9A9A9A; border-color: #C8C8C8; background: #F4F4F4; }

QGroupBox { border: 1px solid #B9C3D3; margin-top: 6px; }
QGroupBox#TeGroupBox1 { margin-top: 0; border-color: #C8C8C8; }
QGroupBox::title {
  subcontrol-origin: margin; subcontrol-position: top left; left: 20px; padding: 0;
  color: #1C3E7A;
}

QComboBox {
  background: #FFFFFF; border: 1px solid #7F9DB9; padding: 0 2px;
}
QComboBox:hover, QComboBox:focus { border-color: #316AC5; }
QComboBox::drop-down {
  subcontrol-origin: padding; subcontrol-position: top right; width: 15px;
  border: none; background: #E8EDF5;
}
QComboBox::drop-down:hover { background: #C1D2EE; }
QComboBox QAbstractItemView {
  background: #FFFFFF; border: 1px solid #7F9DB9;
  selection-background-color: #C1D2EE; selection-color: #000000;
}

QPlainTextEdit { background: #FFFFFF; border: 1px solid #7F9DB9; }

QProgressBar { background: #FFFFFF; border: 1px solid #7F9DB9; }
QProgressBar::chunk { background: #316AC5; width: 7px; margin: 2px 1px; }

QToolButton { border: none; background: #E8EDF5; }
QToolButton:hover { background: #C1D2EE; }
QToolButton:pressed { background: #98B5E2; }

QMenuBar { background: transparent; spacing: 0px; }
QMenuBar::item { padding: 3px 5px; background: transparent; }
QMenuBar::item:selected, QMenuBar::item:pressed {
  background: #C1D2EE; border: 1px solid #316AC5; padding: 2px 4px;
}
QMenu { background: #FCFCFC; border: 1px solid #8A96AA; padding: 1px; }
QMenu::item { padding: 3px 20px 3px 22px; border: 1px solid transparent; }
QMenu::item:selected { background: #C1D2EE; border-color: #316AC5; color: #000000; }
QMenu::item:disabled { color: #9A9A9A; }

QLabel#StatusBar1_Panel0, QLabel#StatusBar1_Panel1, QLabel#StatusBar1_Panel2 {
  border: none; border-left: 1px solid #C0C0C0; border-top: 1px solid #C0C0C0;
}
QLabel#StatusBar1_Panel0 { border-left: none; }
QLabel#StatusBar1_Panel2 { padding-left: 2px; }

QToolTip { background: #FFFFE1; color: #000000; border: 1px solid #767676; }
)";
}  // namespace

void ApplyTheme(QApplication& app) {
  if (QStyle* fusion = QStyleFactory::create(QStringLiteral("Fusion"))) app.setStyle(fusion);
  QPalette pal = app.style()->standardPalette();
  const QColor face = ToQColor(clBtnFace);
  for (auto role : {QPalette::Window, QPalette::Button, QPalette::AlternateBase})
    pal.setColor(role, face);
  pal.setColor(QPalette::Base, Qt::white);
  pal.setColor(QPalette::WindowText, Qt::black);
  pal.setColor(QPalette::Text, Qt::black);
  pal.setColor(QPalette::ButtonText, Qt::black);
  pal.setColor(QPalette::Highlight, QColor(0x31, 0x6A, 0xC5));
  pal.setColor(QPalette::HighlightedText, Qt::white);
  pal.setColor(QPalette::Disabled, QPalette::WindowText, QColor(0x9A, 0x9A, 0x9A));
  pal.setColor(QPalette::Disabled, QPalette::Text, QColor(0x9A, 0x9A, 0x9A));
  pal.setColor(QPalette::Disabled, QPalette::ButtonText, QColor(0x9A, 0x9A, 0x9A));
  app.setPalette(pal);
  app.setFont(WindowFont());
  app.setStyleSheet(QString::fromLatin1(kStyleSheet));
}

}  // namespace ornat
