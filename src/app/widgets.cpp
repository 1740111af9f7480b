#include "app/widgets.h"

#include <QFocusEvent>
#include <QFontMetricsF>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QSignalBlocker>
#include <QStyleOptionComboBox>
#include <QStylePainter>
#include <QStyledItemDelegate>
#include <QWheelEvent>
#include <algorithm>
#include <cstdlib>
#include <memory>
#include <optional>

#include "app/qt_canvas.h"
#include "app/qt_text.h"

namespace ornat {

namespace {

// List items of a fixed height.
class FixedHeightDelegate : public QStyledItemDelegate {
 public:
  FixedHeightDelegate(int height, QObject* parent) : QStyledItemDelegate(parent), height_(height) {}
  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    return QSize(QStyledItemDelegate::sizeHint(option, index).width(), height_);
  }

 private:
  int height_;
};
}  // namespace

// --- SpinEditWidget -----------------------------------------------------------

SpinEditWidget::SpinEditWidget(TTeSpinEdit& model, HandlerGate& gate, int border, QWidget* parent)
    : QWidget(parent), model_(model), gate_(gate), border_(border) {
  const QString name = ToQString(model.Name());
  edit_ = new QLineEdit(this);
  edit_->setObjectName(name + "_Edit");
  edit_->setFrame(false);
  edit_->setAlignment(Qt::AlignCenter);
  edit_->setAttribute(Qt::WA_InputMethodEnabled, false);
  edit_->installEventFilter(this);
  setFocusProxy(edit_);
  up_ = new QToolButton(this);
  up_->setObjectName(name + "_Up");
  down_ = new QToolButton(this);
  down_->setObjectName(name + "_Down");
  for (QToolButton* b : {up_, down_}) {
    b->setFocusPolicy(Qt::NoFocus);
    b->setAutoRepeat(true);
    b->setAutoRaise(true);
  }
  up_->setArrowType(Qt::UpArrow);
  down_->setArrowType(Qt::DownArrow);
  // textChanged, not textEdited: an assistive tool's change of the text is an edit too.
  // The view's own changes come with the line edit's signals blocked.
  connect(edit_, &QLineEdit::textChanged, this, &SpinEditWidget::Edited);
  // The line edit reports a change of its text before the caret and the selection
  // that follow it: what is noted here is where they stood before the edit.
  connect(edit_, &QLineEdit::cursorPositionChanged, this, &SpinEditWidget::NoteCaret);
  connect(edit_, &QLineEdit::selectionChanged, this, &SpinEditWidget::NoteCaret);
  connect(up_, &QToolButton::clicked, this, [this] { Forward([this] { model_.StepUp(); }); });
  connect(down_, &QToolButton::clicked, this, [this] { Forward([this] { model_.StepDown(); }); });
  Mirror();
}

SpinEditWidget::~SpinEditWidget() {
  edit_->removeEventFilter(this);
}

void SpinEditWidget::Forward(std::function<void()> input) {
  gate_.Enter(std::move(input));
  Mirror();
}

void SpinEditWidget::Edited(const QString& shown) {
  const QString before = ToQString(model_.Text());
  if (shown == before) return;
  // The model's text holds digits and '+' only: its positions are the same in bytes
  // and in UTF-16 units. Typed keys and deletions are placed by what lies between the
  // common beginning and the common end of the two texts (where several places fit,
  // the keys give the same text at each).
  qsizetype head = 0;
  while (head < before.size() && head < shown.size() && before[head] == shown[head]) ++head;
  qsizetype tail = 0;
  while (tail < before.size() - head && tail < shown.size() - head &&
         before[before.size() - 1 - tail] == shown[shown.size() - 1 - tail])
    ++tail;
  qsizetype from = head;
  qsizetype count = before.size() - head - tail;
  QString inserted = shown.mid(head, shown.size() - head - tail);
  // Deleting (Backspace, Delete, cutting) is editing as typing is; a paste that
  // brings nothing is a paste of no number.
  const bool typed = input_ == Input::kTyping || (inserted.isEmpty() && input_ != Input::kPasting);
  if (!typed) {
    // Pasted text must be judged as it came ("007" over "247" is not "00" over "24"):
    // it replaced the selection (nothing at the pointer) and ends at the caret. What
    // cannot be placed so is judged as the whole new text.
    const qsizetype removed =
        input_ == Input::kAtPointer ? 0 : std::abs(before_.anchor - before_.cursor);
    const qsizetype length = removed + shown.size() - before.size();
    const qsizetype start = edit_->cursorPosition() - length;
    const bool placed = length >= 0 && start >= 0 && start + removed <= before.size() &&
                        shown.left(start) == before.left(start) &&
                        shown.mid(start + length) == before.mid(start + removed);
    from = placed ? start : 0;
    count = placed ? removed : before.size();
    inserted = placed ? shown.mid(start, length) : shown;
  }
  // The edit belongs to the text it was made on: held by the gate until a running
  // handler returns, it is dropped if that handler changed the text meanwhile.
  auto caret = std::make_shared<std::optional<std::size_t>>();
  gate_.Enter([this, caret, typed, f = static_cast<std::size_t>(from),
               n = static_cast<std::size_t>(count), text = inserted.toStdString(),
               on = model_.Text()] {
    if (model_.Text() != on) return;
    *caret = typed ? model_.Type(f, n, text) : model_.Paste(f, n, text);
  });
  const Caret was = before_;
  Mirror();
  if (caret->has_value())
    edit_->setCursorPosition(static_cast<int>(**caret));
  else
    Restore(was);
}

void SpinEditWidget::NoteCaret() {
  const int cursor = edit_->cursorPosition();
  const int start = edit_->selectionStart();
  before_.cursor = cursor;
  before_.anchor = start < 0 ? cursor : (start == cursor ? edit_->selectionEnd() : start);
}

void SpinEditWidget::Restore(const Caret& caret) {
  if (caret.anchor == caret.cursor)
    edit_->setCursorPosition(caret.cursor);
  else
    edit_->setSelection(caret.anchor, caret.cursor - caret.anchor);
}

void SpinEditWidget::Mirror() {
  const QString text = ToQString(model_.Text());
  if (edit_->text() == text) return;
  {
    QSignalBlocker block(edit_);
    int cursor = edit_->cursorPosition();
    edit_->setText(text);
    edit_->setCursorPosition(std::min(cursor, static_cast<int>(text.size())));
  }
  NoteCaret();
}

bool SpinEditWidget::eventFilter(QObject* watched, QEvent* event) {
  if (watched != edit_) return QWidget::eventFilter(watched, event);
  // Every change of the text by the user comes inside one of the line edit's events.
  input_ = Input::kOther;
  if (event->type() == QEvent::Drop ||
      (event->type() == QEvent::MouseButtonRelease &&
       static_cast<QMouseEvent*>(event)->button() == Qt::MiddleButton))
    input_ = Input::kAtPointer;
  if (event->type() == QEvent::KeyPress) {
    auto* key = static_cast<QKeyEvent*>(event);
    const QString text = key->text();
    if (key->matches(QKeySequence::Paste)) {
      input_ = Input::kPasting;
    } else if (!text.isEmpty() &&
               std::all_of(text.begin(), text.end(), [](QChar c) { return c.isPrint(); }) &&
               (key->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier)) ==
                   0) {
      input_ = Input::kTyping;
    }
    switch (key->key()) {
      case Qt::Key_Return:
      case Qt::Key_Enter:
        Forward([this] { model_.KeyPress('\r'); });
        return true;
      case Qt::Key_Up:
        Forward([this] { model_.StepUp(); });
        return true;
      case Qt::Key_Down:
        Forward([this] { model_.StepDown(); });
        return true;
      default:
        break;
    }
    // A typed character reaches the key handler before it reaches the text (only
    // characters the model's 8-bit key can hold).
    const QString t = key->text();
    if (t.size() == 1 && t[0].unicode() < 0x80) {
      char ch = static_cast<char>(t[0].unicode());
      gate_.Enter([this, ch] { model_.KeyPress(ch); });
    }
    return false;
  }
  if (event->type() == QEvent::FocusOut) {
    auto reason = static_cast<QFocusEvent*>(event)->reason();
    // Leaving the field, not the window going inactive or a menu opening over it.
    if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason)
      Forward([this] { model_.Exit(); });
  }
  if (event->type() == QEvent::FocusIn || event->type() == QEvent::FocusOut) update();
  return false;
}

void SpinEditWidget::resizeEvent(QResizeEvent*) {
  constexpr int kButtonWidth = 15;
  const int inner_h = height() - 2;
  const int half = inner_h / 2;
  up_->setGeometry(width() - 1 - kButtonWidth, 1, kButtonWidth, half);
  down_->setGeometry(width() - 1 - kButtonWidth, 1 + half, kButtonWidth, inner_h - half);
  const int m = 1 + border_;
  edit_->setGeometry(m, m, width() - kButtonWidth - 1 - m, height() - 2 * m);
}

void SpinEditWidget::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.fillRect(rect(), isEnabled() ? QColor(Qt::white) : palette().color(QPalette::Window));
  p.setPen(ToQColor(edit_->hasFocus() ? kControlFrameFocusedColor : kControlFrameColor));
  p.drawRect(rect().adjusted(0, 0, -1, -1));
}

// --- SpeedComboBox ------------------------------------------------------------

SpeedComboBox::SpeedComboBox(TTeSComboBox& model, HandlerGate& gate, int item_height,
                             QWidget* parent)
    : QComboBox(parent), model_(model), gate_(gate) {
  setEditable(false);
  // Qt's default (WheelFocus) lets the wheel take the focus from the address editor,
  // whose leaving brings its value into range.
  setFocusPolicy(Qt::StrongFocus);
  setItemDelegate(new FixedHeightDelegate(item_height, this));
  connect(this, &QComboBox::activated, this, [this](int index) {
    gate_.Enter([this, index] { model_.Select(index); });
    Mirror();
  });
  Mirror();
}

void SpeedComboBox::Mirror() {
  QSignalBlocker block(this);
  const auto& items = model_.Items();
  bool same = count() == static_cast<int>(items.size());
  for (int i = 0; same && i < count(); ++i) same = itemText(i) == ToQString(items[i]);
  if (!same) {
    clear();
    for (const auto& s : items) addItem(ToQString(s));
  }
  if (currentIndex() != model_.ItemIndex()) setCurrentIndex(model_.ItemIndex());
}

void SpeedComboBox::paintEvent(QPaintEvent*) {
  QStylePainter p(this);
  QStyleOptionComboBox opt;
  initStyleOption(&opt);
  const QString text = opt.currentText;
  opt.currentText.clear();
  p.drawComplexControl(QStyle::CC_ComboBox, opt);
  // The drop-down button's arrow, as the spin editors' arrows are drawn.
  const QRect arrow =
      style()->subControlRect(QStyle::CC_ComboBox, &opt, QStyle::SC_ComboBoxArrow, this);
  const QPointF c = QRectF(arrow).center();
  const QPointF tri[] = {
      {c.x() - 3.5, c.y() - 1.5}, {c.x() + 3.5, c.y() - 1.5}, {c.x(), c.y() + 2.5}};
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(Qt::NoPen);
  p.setBrush(
      palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::ButtonText));
  p.drawPolygon(tri, 3);
  p.setRenderHint(QPainter::Antialiasing, false);
  QRect field =
      style()->subControlRect(QStyle::CC_ComboBox, &opt, QStyle::SC_ComboBoxEditField, this);
  p.setPen(palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::Text));
  p.drawText(field, Qt::AlignCenter | Qt::TextSingleLine, text);
}

void SpeedComboBox::keyPressEvent(QKeyEvent* event) {
  // Qt's own handling would step the closed list to another item and report it as a
  // pick: a change of the detector's speed at each press of an arrow key.
  const Qt::KeyboardModifiers mods =
      event->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier);
  bool drop_down = false;
  switch (event->key()) {
    case Qt::Key_Up:
    case Qt::Key_Down:
      drop_down = (mods & ~Qt::AltModifier) == 0;
      break;
    case Qt::Key_PageUp:
    case Qt::Key_PageDown:
    case Qt::Key_Home:
    case Qt::Key_End:
    case Qt::Key_F4:
    case Qt::Key_Space:
      drop_down = mods == 0;
      break;
    default: {
      const QString t = event->text();
      drop_down = mods == 0 && !t.isEmpty() && t[0].isPrint();
    }
  }
  if (!drop_down) {
    event->ignore();
    return;
  }
  showPopup();
}

void SpeedComboBox::wheelEvent(QWheelEvent* event) {
  event->ignore();
}

// --- StatusGridWidget ---------------------------------------------------------

StatusGridWidget::StatusGridWidget(TTeStringGrid& model, HandlerGate& gate, QWidget* parent)
    : QWidget(parent), model_(model), input_(model, gate) {
  setFocusPolicy(Qt::StrongFocus);
  setMouseTracking(true);
  setAttribute(Qt::WA_OpaquePaintEvent);
}

TRect StatusGridWidget::CellRect(int col, int row) const {
  return StringGridLayout(model_).CellRect(col, row);
}

void StatusGridWidget::paintEvent(QPaintEvent*) {
  QPainter p(this);
  QPainterCanvas canvas(p, font(), palette().color(QPalette::WindowText));
  PaintStringGrid(model_, StringGridLayout(model_), canvas, width(), height(), hasFocus());
}

void StatusGridWidget::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return;
  setFocus(Qt::MouseFocusReason);
  const QPoint pos = event->position().toPoint();
  input_.Press(StringGridLayout(model_), pos.x(), pos.y());
}

void StatusGridWidget::mouseMoveEvent(QMouseEvent* event) {
  const QPoint pos = event->position().toPoint();
  const StringGridLayout layout(model_);
  if (input_.Move(layout, pos.x(), pos.y())) return;
  switch (input_.PointerAt(layout, pos.x(), pos.y())) {
    case GridPointer::kSizeColumn:
      setCursor(Qt::SplitHCursor);
      break;
    case GridPointer::kSizeRow:
      setCursor(Qt::SplitVCursor);
      break;
    case GridPointer::kArrow:
      setCursor(Qt::ArrowCursor);
      break;
  }
}

void StatusGridWidget::mouseReleaseEvent(QMouseEvent*) {
  input_.Release();
}

void StatusGridWidget::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Up)
    input_.Step(-1);
  else if (event->key() == Qt::Key_Down)
    input_.Step(1);
  else
    QWidget::keyPressEvent(event);
}

// --- StatusBarWidget ----------------------------------------------------------

namespace {
// Pixels between a panel's edge and a text that fills it.
constexpr int kPanelTextMargin = 1;
}  // namespace

StatusBarWidget::StatusBarWidget(TStatusBar& model, QWidget* parent)
    : QWidget(parent), model_(model) {
  Mirror();
}

void StatusBarWidget::resizeEvent(QResizeEvent*) {
  Mirror();
}

void StatusBarWidget::Mirror() {
  while (panels_.size() < model_.PanelCount()) {
    auto* label = new QLabel(this);
    label->setObjectName(ToQString(model_.Name()) + "_Panel" + QString::number(panels_.size()));
    label->show();
    panels_.push_back(label);
  }
  int x = 0;
  for (std::size_t i = 0; i < panels_.size(); ++i) {
    QLabel* label = panels_[i];
    if (i >= model_.PanelCount()) {
      label->hide();
      continue;
    }
    const TStatusPanel& panel = model_.Panel(i);
    // Each panel is a sunken box that leaves 2 pixels to the next one.
    label->setGeometry(x, 2, panel.Width - 2, height() - 2);
    Qt::Alignment align = Qt::AlignVCenter;
    switch (panel.Alignment) {
      case TAlignment::taCenter:
        align |= Qt::AlignHCenter;
        break;
      case TAlignment::taRightJustify:
        align |= Qt::AlignRight;
        break;
      case TAlignment::taLeftJustify:
        align |= Qt::AlignLeft;
        break;
    }
    const QString text = ToQString(panel.Text);
    // A text that fills its panel ("ornat-sim" in the 50-pixel port panel) is not
    // centred: its glyphs reach past their advance, and centred they would start at or
    // beyond the panel's left edge, where the window's edge (the port panel has no
    // border there) cuts the first one to a fragment. Unless it fits with a pixel to
    // spare on each side, it starts a pixel in and is cut at its end; the whole of it
    // is in the tooltip.
    const QFontMetricsF metrics(label->font());
    const qreal width =
        std::max(metrics.horizontalAdvance(text), metrics.boundingRect(text).width());
    const bool cut = width + 2 * kPanelTextMargin > label->contentsRect().width();
    if (cut) align = (align & ~Qt::AlignHorizontal_Mask) | Qt::AlignLeft;
    label->setIndent(cut ? kPanelTextMargin : -1);
    label->setToolTip(cut ? text : QString());
    label->setAlignment(align);
    label->setText(text);
    x += panel.Width;
  }
}

}  // namespace ornat
