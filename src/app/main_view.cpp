#include "app/main_view.h"

#include <QAction>
#include <QApplication>
#include <QEvent>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalBlocker>
#include <algorithm>

#include "app/fonts.h"
#include "app/qt_text.h"

namespace ornat {

namespace {

// The mouse and shift state of a press, as the window's events carry it.
int ShiftOf(const QMouseEvent& e) {
  int shift = 0;
  if (e.modifiers() & Qt::ShiftModifier) shift |= 1;
  if (e.modifiers() & Qt::AltModifier) shift |= 2;
  if (e.modifiers() & Qt::ControlModifier) shift |= 4;
  if (e.buttons() & Qt::LeftButton) shift |= 8;
  if (e.buttons() & Qt::RightButton) shift |= 16;
  if (e.buttons() & Qt::MiddleButton) shift |= 32;
  return shift;
}
TMouseButton ButtonOf(const QMouseEvent& e) {
  switch (e.button()) {
    case Qt::RightButton:
      return TMouseButton::mbRight;
    case Qt::MiddleButton:
      return TMouseButton::mbMiddle;
    default:
      return TMouseButton::mbLeft;
  }
}

}  // namespace

MainView::MainView(TForm1& form, HandlerGate& gate, QWidget* parent)
    : QWidget(parent), form_(form), gate_(gate) {
  setObjectName(ToQString(form.Name()));
  setWindowTitle(ToQString(form.Caption));
  // Fixed single border: system menu (with close) and minimise, no maximise.
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                 Qt::WindowCloseButtonHint);
  setFont(WindowFont());
  QPalette pal = palette();
  pal.setColor(QPalette::Window, pal.color(QPalette::Button));  // button face
  setPalette(pal);
  setAutoFillBackground(true);
  frame_width_ = form.OuterWidth - form.ClientWidth;
  frame_height_ = form.OuterHeight - form.ClientHeight;

  scroll_ = new QScrollArea(this);
  scroll_->setObjectName(QStringLiteral("Form1_Scroll"));
  scroll_->setFrameShape(QFrame::NoFrame);
  scroll_->setWidgetResizable(false);
  scroll_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  scroll_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  client_ = new QWidget;
  client_->setObjectName(QStringLiteral("Form1_Client"));
  client_->resize(form.ClientWidth, form.ClientHeight);
  scroll_->setWidget(client_);

  for (TControl* c : form.AllControls()) Build(*c);
  // Labels are drawn on their parent, beneath every control that has a window of its
  // own: "to" (TeLabel6) lies under the "-->" button.
  for (QLabel* label : labels_) label->lower();
  for (auto& [control, mirror] : mirrors_) mirror();

  form.Focus.Changed().Connect([weak = std::weak_ptr<bool>(alive_), this] {
    if (weak.lock()) MirrorFocus();
  });
  connect(qApp, &QApplication::focusChanged, this,
          [this](QWidget*, QWidget* now) { OnFocusChanged(now); });
  FitWindow();
}

MainView::~MainView() {
  // Model changes during the form's own destruction must not reach this view.
  alive_.reset();
  disconnect(qApp, nullptr, this, nullptr);
  if (menu_bar_ != nullptr) menu_bar_->removeEventFilter(this);
}

void MainView::Watch(TControl& control, std::function<void()> mirror) {
  // The widget's own state first: a label's width follows its new text.
  mirrors_[&control] = [this, &control, m = std::move(mirror)] {
    m();
    MirrorCommon(control, widgets_.at(&control));
  };
  control.Changed().Connect([weak = std::weak_ptr<bool>(alive_), this, &control] {
    if (weak.lock()) mirrors_.at (&control)();
  });
}

void MainView::WatchAfterHandler(TControl& control, std::function<void()> mirror) {
  mirrors_[&control] = [this, &control, m = std::move(mirror)] {
    m();
    MirrorCommon(control, widgets_.at(&control));
  };
  control.Changed().Connect([weak = std::weak_ptr<bool>(alive_), this, &control] {
    if (!weak.lock()) return;
    later_.insert(&control);
    if (later_posted_) return;
    later_posted_ = true;
    // Queued: it runs from the event loop once the handler under way has returned (or
    // in a modal dialog's nested loop, which shows the window as it stands).
    QMetaObject::invokeMethod(
        this, [this] { MirrorLater(); }, Qt::QueuedConnection);
  });
}

void MainView::MirrorLater() {
  later_posted_ = false;
  const std::unordered_set<const TControl*> now = std::move(later_);
  later_.clear();
  for (const TControl* control : now) mirrors_.at(control)();
}

void MainView::Forward(std::function<void()> input) {
  gate_.Enter(std::move(input));
}

void MainView::MirrorCommon(TControl& control, QWidget* w) {
  int width = control.Width();
  // The menu bar sizes itself to its items.
  if (w == menu_bar_) width = std::max(width, menu_bar_->sizeHint().width());
  w->setGeometry(control.Left(), control.Top(), width, control.Height());
  w->setVisible(control.Visible());
  w->setEnabled(control.Enabled());
  w->setToolTip(ToQString(control.Hint()));
}

void MainView::FitWindow() {
  const int w = form_.OuterWidth - frame_width_;
  const int h = form_.OuterHeight - frame_height_;
  setFixedSize(w, h);
  scroll_->setGeometry(0, 0, w, h);
  scroll_->setVerticalScrollBarPolicy(form_.VertScrollBarVisible ? Qt::ScrollBarAlwaysOn
                                                                 : Qt::ScrollBarAlwaysOff);
  // Tracking: the contents follow the thumb while it is dragged.
  scroll_->verticalScrollBar()->setTracking(form_.VertScrollBarTracking ||
                                            !form_.VertScrollBarVisible);
}

void MainView::CentreOnScreen() {
  QScreen* s = screen() != nullptr ? screen() : QGuiApplication::primaryScreen();
  if (s == nullptr) return;
  const QRect avail = s->availableGeometry();
  int x = avail.center().x() + 1 - form_.OuterWidth / 2;
  int y = avail.center().y() + 1 - form_.OuterHeight / 2;
  move(std::max(avail.left(), x), std::max(avail.top(), y));
}

QWidget* MainView::WidgetOf(const TControl& control) const {
  auto it = widgets_.find(&control);
  return it == widgets_.end() ? nullptr : it->second;
}

QAction* MainView::ActionOf(const TTeItem& item) const {
  auto it = menu_nodes_.find(&item);
  return it == menu_nodes_.end() ? nullptr : it->second.action;
}

QMenu* MainView::MenuOf(const TTeItem& item) const {
  auto it = menu_nodes_.find(&item);
  return it == menu_nodes_.end() ? nullptr : it->second.menu;
}

TControl* MainView::ControlOf(QWidget* widget) const {
  for (QWidget* w = widget; w != nullptr && w != this; w = w->parentWidget()) {
    auto it = controls_.find(w);
    if (it != controls_.end()) return it->second;
  }
  return nullptr;
}

void MainView::MirrorFocus() {
  if (mirroring_focus_) return;
  TControl* active = form_.Focus.Active();
  QWidget* w = active != nullptr ? WidgetOf(*active) : nullptr;
  if (w == nullptr || w->hasFocus() || (w->focusProxy() && w->focusProxy()->hasFocus())) return;
  w->setFocus(Qt::OtherFocusReason);
}

void MainView::OnFocusChanged(QWidget* now) {
  if (now == nullptr || !isAncestorOf(now)) return;
  TControl* c = ControlOf(now);
  if (c == nullptr || c == form_.Focus.Active()) return;
  mirroring_focus_ = true;
  form_.Focus.Focus(c);
  mirroring_focus_ = false;
}

bool MainView::event(QEvent* e) {
  if (e->type() == QEvent::WindowActivate) Forward([this] { form_.FormActivate(&form_); });
  return QWidget::event(e);
}

bool MainView::eventFilter(QObject* watched, QEvent* e) {
  // A press on the menu bar reaches the model before the bar opens a menu, so its
  // handler (port discovery) can rebuild the Port submenu first.
  if (watched == menu_bar_ && e->type() == QEvent::MouseButtonPress) {
    auto* me = static_cast<QMouseEvent*>(e);
    const TMouseButton button = ButtonOf(*me);
    const int shift = ShiftOf(*me);
    const QPoint p = me->position().toPoint();
    Forward([this, button, shift, p] { form_.TeMenuBar1.MouseDown(button, shift, p.x(), p.y()); });
  }
  return QWidget::eventFilter(watched, e);
}

// --- menus ------------------------------------------------------------------

void MainView::CreateMenuNode(TTeItem* item, QWidget* container) {
  auto* action = new QAction(container);
  action->setObjectName(ToQString(item->Name()));
  connect(action, &QAction::triggered, this, [this, item, action] { OnTriggered(item, action); });
  menu_nodes_[item] = MenuNode{action, nullptr, {}};
  SyncMenu(item);
}

void MainView::DropMenuNode(TTeItem* item, QWidget* container) {
  // The item may be in its destructor: only the recorded pointers are used.
  auto it = menu_nodes_.find(item);
  if (it == menu_nodes_.end()) return;
  MenuNode node = it->second;
  menu_nodes_.erase(it);
  for (TTeItem* child : node.children) DropMenuNode(child, node.menu);
  if (container != nullptr) container->removeAction(node.action);
  if (node.menu != nullptr) node.menu->deleteLater();
  node.action->deleteLater();
}

void MainView::SyncMenu(TTeItem* item) {
  if (menu_nodes_.find(item) == menu_nodes_.end()) return;
  const bool root = item == &form_.TeMenuBar1.Items();
  if (!root) MirrorAction(item);
  std::vector<TTeItem*> now;
  for (std::size_t i = 0; i < item->Count(); ++i) now.push_back(item->Item(i));

  MenuNode& node = menu_nodes_[item];
  QWidget* container = root ? static_cast<QWidget*>(menu_bar_) : node.menu;
  if (!root && !now.empty() && node.menu == nullptr) {
    QWidget* owner = menu_bar_;
    if (item->Parent() != nullptr && MenuOf(*item->Parent()) != nullptr)
      owner = MenuOf(*item->Parent());
    node.menu = new QMenu(owner);
    node.menu->setObjectName(ToQString(item->Name()));
    // An item's hint (what the system knows of a port) shows as its tooltip.
    node.menu->setToolTipsVisible(true);
    node.action->setMenu(node.menu);
    container = node.menu;
  }
  if (now != node.children) {
    const std::vector<TTeItem*> before = node.children;
    for (TTeItem* old : before) {
      if (std::find(now.begin(), now.end(), old) == now.end()) DropMenuNode(old, container);
    }
    for (QAction* a : container->actions()) container->removeAction(a);
    for (TTeItem* child : now) {
      if (menu_nodes_.find(child) == menu_nodes_.end()) CreateMenuNode(child, container);
      container->addAction(menu_nodes_[child].action);
    }
    menu_nodes_[item].children = now;
  }
  // An item whose children are all gone is a plain item again.
  MenuNode& after = menu_nodes_[item];
  if (!root && now.empty() && after.menu != nullptr) {
    after.action->setMenu(static_cast<QMenu*>(nullptr));
    after.menu->deleteLater();
    after.menu = nullptr;
  }
  for (TTeItem* child : now) MirrorAction(child);
}

void MainView::MirrorAction(TTeItem* item) {
  auto it = menu_nodes_.find(item);
  if (it == menu_nodes_.end()) return;
  QAction* a = it->second.action;
  QSignalBlocker block(a);
  a->setText(ToQString(item->Caption()));
  // No hint: Qt's default tooltip, the text, which a menu does not show.
  a->setToolTip(ToQString(item->Hint()));
  a->setStatusTip(ToQString(item->Hint()));
  // Only a checked item shows a check mark; setting it raises nothing.
  a->setCheckable(item->Checked());
  a->setChecked(item->Checked());
}

void MainView::OnTriggered(TTeItem* item, QAction* action) {
  auto valid = [this, item, action] {
    auto it = menu_nodes_.find(item);
    return it != menu_nodes_.end() && it->second.action == action;
  };
  if (!valid()) return;
  Forward([weak = std::weak_ptr<bool>(alive_), item, valid] {
    if (weak.lock() && valid()) item->Click();
  });
  // Qt toggled the check mark itself; the model's is the one shown.
  if (valid()) MirrorAction(item);
}

}  // namespace ornat
