#pragma once
// MainView: the Qt window over TForm1. A pure view: it builds one widget per control
// model (its WidgetFactory visits the models, app/widget_factory.cpp) with the model's
// geometry, texts, visibility and enabled state (objectName = the control's name),
// mirrors every later model change into its widget with the
// widget's signals blocked, and forwards the user's input to the models' "user"
// methods through the HandlerGate. It decides nothing itself. The log pane alone is
// mirrored once the running handler has returned (its changes in one go), so that the
// request is on the line before the pane is redrawn; every other widget follows its
// model at once, so that no click reaches a control the model has just disabled.
//
// Layout: the top-level widget (Form1) holds a frameless scroll area whose widget is
// the client area, 434 x 534; every control sits in the client area or in the widget
// of its parent control (group boxes), at the model's Left/Top. The scroll area shows
// a vertical scroll bar only when start-up's fit to the screen switched it on.

#include <QPointer>
#include <QWidget>
#include <functional>
#include <memory>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "ui/main_window.h"

class QAction;
class QLabel;
class QMenu;
class QMenuBar;
class QScrollArea;

namespace ornat {

class MainView : public QWidget {
  Q_OBJECT

 public:
  MainView(TForm1& form, HandlerGate& gate, QWidget* parent = nullptr);
  ~MainView() override;

  // Window size and scroll bar as the form has them (call after FormCreate, whose
  // fit to the screen may shorten and widen the window).
  void FitWindow();
  // Places the window's outer rectangle in the middle of its screen.
  void CentreOnScreen();

  QWidget* Client() const { return client_; }
  QScrollArea* ScrollArea() const { return scroll_; }
  // The widget of a control, the action and submenu of a menu item (null if none).
  QWidget* WidgetOf(const TControl& control) const;
  QAction* ActionOf(const TTeItem& item) const;
  QMenu* MenuOf(const TTeItem& item) const;

 protected:
  bool event(QEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // Makes the widget of each kind of control and binds it (app/widget_factory.cpp).
  class WidgetFactory;
  QWidget* Build(TControl& control);
  void Watch(TControl& control, std::function<void()> mirror);
  // As Watch, but the changes are shown together once the running handler has returned.
  void WatchAfterHandler(TControl& control, std::function<void()> mirror);
  void MirrorLater();
  void MirrorCommon(TControl& control, QWidget* widget);
  void MirrorFocus();
  void OnFocusChanged(QWidget* now);
  TControl* ControlOf(QWidget* widget) const;
  // Runs a forwarded input through the gate while the view still exists.
  void Forward(std::function<void()> input);

  // Menu tree: one QAction per item; an item with children also has a QMenu.
  struct MenuNode {
    QAction* action = nullptr;
    QMenu* menu = nullptr;
    std::vector<TTeItem*> children;
  };
  void SyncMenu(TTeItem* item);
  void CreateMenuNode(TTeItem* item, QWidget* container);
  void DropMenuNode(TTeItem* item, QWidget* container);
  void MirrorAction(TTeItem* item);
  void OnTriggered(TTeItem* item, QAction* action);

  TForm1& form_;
  HandlerGate& gate_;
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
  int frame_width_ = 0, frame_height_ = 0;
  QScrollArea* scroll_ = nullptr;
  QWidget* client_ = nullptr;
  QMenuBar* menu_bar_ = nullptr;
  std::unordered_map<const TControl*, QWidget*> widgets_;
  std::unordered_map<const QWidget*, TControl*> controls_;
  std::unordered_map<const TControl*, std::function<void()>> mirrors_;
  std::unordered_map<const TTeItem*, MenuNode> menu_nodes_;
  // Drawn beneath the controls that have a window of their own.
  std::vector<QLabel*> labels_;
  // Each is named for screen readers by the label beside it.
  std::vector<TTeRadioButton*> radios_;
  // Controls of WatchAfterHandler changed since their last mirror.
  std::unordered_set<const TControl*> later_;
  bool later_posted_ = false;
  bool mirroring_focus_ = false;
};

}  // namespace ornat
