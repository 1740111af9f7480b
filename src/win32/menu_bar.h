#pragma once
// The menu bar: a control inside the client area (class "OrnatMenuBar"), where the
// window definition places TeMenuBar1, so that the client area keeps its geometry; its
// menus are the system's popup menus (TrackPopupMenuEx), with their check marks and
// their own keyboard.
//
// The bar behaves as a window's menu bar does:
//  - a mouse press on it runs TeMenuBar1MouseDown (port discovery) first, then opens
//    the menu under the pointer, built from the models as they are then;
//  - Alt (pressed and released alone) or F10 makes the bar active: its first menu is
//    highlighted and it has the keyboard; Left and Right move along it, Down, Up,
//    Enter or Space open the highlighted menu with its first item selected, a
//    menu's first letter opens it, Esc or Alt again leave the bar and give the focus
//    back; Alt+C and Alt+S open a menu from anywhere in the window;
//  - in an open menu, Left and Right go on to the neighbouring menu (where the item
//    has no submenu of its own), Esc closes the menu and leaves the bar active, and
//    the pointer moving to the other menu of the bar opens that one.
// A command runs once its menu has closed, and only if its item still exists and
// still shows what the menu showed (the search's "Start" that became "Stop" runs
// nothing). A check mark or caption that changes while its menu is open is shown at
// once.

#include <windows.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "ui/toolkit/controls.h"
#include "win32/view_context.h"

namespace ornat::win32 {

class MenuBar {
 public:
  MenuBar(TTeMenuBar& model, const ViewContext& ctx, HWND parent);
  ~MenuBar();
  MenuBar(const MenuBar&) = delete;
  MenuBar& operator=(const MenuBar&) = delete;

  HWND Hwnd() const { return hwnd_; }
  // Places the bar at r, at least as wide as its items need.
  void Place(const RECT& r, HFONT font);
  // The width the items need, in pixels.
  int ItemsWidth() const;
  // The bar's texts and the open menu from the models.
  void Mirror();
  // A model item changed (caption, check mark, children).
  void ItemChanged(TTeItem* item);

  // Keyboard from the window's message filter.
  void ToggleActive();
  // Alt+letter: opens the menu with that first letter; false when none has it.
  bool OpenByLetter(wchar_t letter);
  bool Active() const { return active_; }
  bool Tracking() const { return tracking_; }

  // Messages the system sends the owner of an open menu (the main window).
  void MenuSelect(WPARAM wp, LPARAM lp);
  // Told the hint of the item highlighted in an open menu (what the system knows of a
  // port), and "" when the highlighted item has none or the menu closes.
  void SetHintView(std::function<void(const std::string& hint)> show) {
    show_hint_ = std::move(show);
  }

  // For tests and screen readers: the rectangle of top-level item i (client pixels).
  RECT ItemRect(int i) const;
  int ItemCount() const;

 private:
  struct Command {
    TTeItem* item;
    std::string caption;  // as the menu showed it
    std::string hint;     // the item's, as the menu was built
  };
  void ShowHint(const std::string& hint) {
    if (show_hint_) show_hint_(hint);
  }
  std::function<void(const std::string& hint)> show_hint_;
  static LRESULT CALLBACK Proc(HWND, UINT, WPARAM, LPARAM);
  static LRESULT CALLBACK Filter(int code, WPARAM wp, LPARAM lp);
  LRESULT OnMessage(UINT msg, WPARAM wp, LPARAM lp);
  bool OnMenuMessage(const MSG& msg);
  void Paint(HDC dc);
  int ItemAt(POINT client) const;
  void Activate();
  void Deactivate(bool restore_focus);
  void SetHot(int i);
  // Opens menu i and follows the user from menu to menu until one closes for good.
  void Track(int i, bool select_first);
  HMENU Build(TTeItem& item);
  void DestroyBuilt();
  bool StillShown(const Command& c) const;
  bool InTree(const TTeItem* item) const;

  TTeMenuBar& model_;
  const ViewContext& ctx_;
  HWND hwnd_ = nullptr;
  HFONT font_ = nullptr;
  int hot_ = -1;
  bool active_ = false;
  HWND focus_before_ = nullptr;
  // Open menu.
  bool tracking_ = false;
  int open_ = -1;
  HMENU root_popup_ = nullptr;
  HMENU current_menu_ = nullptr;
  bool current_is_popup_ = false;
  int switch_to_ = -1;
  bool switch_by_press_ = false;
  bool switch_by_key_ = false;
  bool escaped_ = false;
  bool leave_bar_ = false;
  HHOOK hook_ = nullptr;
  UINT next_id_ = 1;
  std::map<UINT, Command> commands_;
  std::map<const TTeItem*, std::pair<HMENU, UINT>> built_;  // item: its menu and id
  std::vector<HMENU> menus_;
};

}  // namespace ornat::win32
