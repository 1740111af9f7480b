#pragma once
// MainView: the native Win32 window over TForm1. A view like the Qt one: it builds
// one standard control per control model (BUTTON, EDIT, COMBOBOX, STATIC,
// msctls_progress32, msctls_statusbar32, msctls_updown32; the menu bar and the status
// grid have window classes of their own) with the model's geometry at the screen's
// scale, its text as the window text and its state, mirrors every later change of a
// model into its control, and forwards the user's input to the models' "user" methods
// through the HandlerGate. It decides nothing itself. Its parts, a file each:
//   win32/main_view.cpp       building the window, mirroring the models, placing
//   win32/control_factory.cpp the control of each kind of model (a ControlVisitor)
//   win32/keyboard_focus.cpp  the message filter: Tab, arrows, accelerators; the focus
//   win32/window_proc.cpp     the window procedures, scrolling, the screen's scale
//
// Every control carries the name of its model (TeButton5, StatusGrid...) as the
// window property "OrnatName" (a global atom), so that a test driver or a tool finds
// it by name. The controls lie in one client window (434 x 534 at 96 dpi) inside the
// top-level window, which scrolls it when start-up's fit to the screen switched the
// vertical scroll bar on.
//
// Keyboard (the window's message filter, FilterMessage): Tab and Shift+Tab go from
// control to control; the arrow keys move the focus among the tactic buttons without
// choosing one (a choice writes the tactic: only a click or Space chooses); Alt with the
// underlined letter of a button's caption presses it without moving the focus
// ("&ЗАПРОС ПАРАМЕТРОВ": Alt+З); Alt, F10, Alt+C and Alt+S go to the menu bar.
// Buttons, check boxes and radio buttons act only on a click, Space, or BM_CLICK, never
// on the focus reaching them.

#include <windows.h>

#include <commctrl.h>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "ui/main_window.h"
#include "win32/accessible_name.h"
#include "win32/fonts.h"
#include "win32/view_context.h"

namespace ornat::win32 {

class MenuBar;
class SpeedListBinding;
class SpinEditBinding;
class StatusGridView;

class MainView {
 public:
  // Sets the form's outer size (for start-up's fit to the screen) for the scale of the
  // primary monitor. Create builds the window.
  MainView(TForm1& form, HandlerGate& gate);
  ~MainView();
  MainView(const MainView&) = delete;
  MainView& operator=(const MainView&) = delete;

  // Builds the window and every control, hidden.
  void Create();
  // Window size and scroll bar as the form has them (after FormCreate).
  void FitWindow();
  // Places the window in the middle of its monitor's work area.
  void CentreOnScreen();
  void Show(int show_command);
  // For the message loop: keyboard navigation and accelerators.
  bool FilterMessage(MSG& msg);

  HWND Window() const { return window_; }
  HWND Client() const { return client_; }
  int Dpi() const { return ctx_.dpi; }
  HWND HandleOf(const TControl& control) const;
  MenuBar& Menu() { return *menu_bar_; }

  // The rectangle of a control at the present scale, in the client window's pixels.
  RECT PlacedRect(const TControl& control) const;

 private:
  // Fixed single border; the system menu (with close) and minimise only.
  static constexpr DWORD kWindowStyle =
      WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN;
  // The window property that carries a control's name (a global atom).
  static constexpr const wchar_t* kNameProperty = L"OrnatName";
  static constexpr UINT_PTR kSubclassId = 0x5e0;

  enum class Kind {
    kMenuBar,
    kGroupBox,
    kStatusBar,
    kLabel,
    kSpeedList,
    kSpinEdit,
    kPushButton,
    kCheckBox,
    kRadioButton,
    kGrid,
    kMemo,
    kProgress,
  };
  // One control model and the window that shows it, as the factory made and bound them.
  struct Bound {
    TControl* model = nullptr;
    Kind kind = Kind::kLabel;
    HWND hwnd = nullptr;
    // A second window shown, hidden and enabled with it (the spin editor's up-down).
    HWND buddy = nullptr;
    // Its caption is its window text (labels, group boxes, buttons, check boxes...).
    const TCaptionControl* captioned = nullptr;
    // The user's click (buttons, check boxes, radio buttons).
    std::function<void()> click;
    // The rest of the model's state, after the caption.
    std::function<void()> mirror;
    // Placing at the rectangle, where that is more than moving the window.
    std::function<void(const RECT&)> place;
    // The log's one text colour.
    std::function<TColor()> text_color;
    RECT placed{};
    bool placed_once = false;
  };
  // Makes the control of each kind of model and binds it (win32/control_factory.cpp).
  class ControlFactory;

  static LRESULT CALLBACK WindowProc(HWND, UINT, WPARAM, LPARAM);
  static LRESULT CALLBACK ClientProc(HWND, UINT, WPARAM, LPARAM);
  static LRESULT CALLBACK ControlProc(HWND, UINT, WPARAM, LPARAM, UINT_PTR, DWORD_PTR);
  LRESULT OnWindow(UINT msg, WPARAM wp, LPARAM lp);
  LRESULT OnClient(UINT msg, WPARAM wp, LPARAM lp, bool& handled);
  LRESULT OnControl(Bound& b, HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);

  void Build(TControl& control, int id);
  // Gives a window its name as the property kNameProperty.
  void NameWindow(HWND hwnd, const std::string& name);
  void Watch(Bound& b);
  void Mirror(Bound& b);
  void MirrorCaption(Bound& b);
  void MirrorStatusBar(HWND hwnd, const TStatusBar& bar);
  // A menu item's hint across the status bar while the item is highlighted, as Windows
  // programs show a menu's help; "" gives the panels back.
  void ShowMenuHint(const std::string& hint);
  void MirrorMemo(HWND hwnd, const TTeMemo& memo);
  void PlaceStatusBar(HWND hwnd, const TStatusBar& bar, const RECT& r);
  void Place(Bound& b);
  void Layout();
  void SetDpi(int dpi);
  void MirrorFocus();
  void NoteFocus(HWND hwnd);
  Bound* BoundOf(HWND hwnd);
  Bound* BoundOf(const TControl& control);
  // Tab order: the focusable controls, visible and enabled, in the definition's order.
  void MoveFocus(int step);
  void MoveAmongRadios(Bound& from, int step);
  // Alt + letter: a button whose caption underlines that letter.
  bool PressAccelerator(wchar_t letter);
  void Scroll(int pos);
  // The retry picture on the query button, at the present scale.
  void ShowQueryPicture(HWND button);

  TForm1& form_;
  HandlerGate& gate_;
  FontSet fonts_;
  ViewContext ctx_;
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
  HWND window_ = nullptr;
  HWND client_ = nullptr;
  HWND tooltip_ = nullptr;
  std::vector<std::unique_ptr<Bound>> bound_;
  std::unordered_map<const TControl*, Bound*> by_control_;
  std::unordered_map<HWND, Bound*> by_hwnd_;
  std::vector<ATOM> atoms_;
  AccessibleNames accessible_names_;
  std::unique_ptr<MenuBar> menu_bar_;
  HWND status_bar_ = nullptr;
  std::unique_ptr<SpeedListBinding> speed_list_;
  std::map<const TControl*, std::unique_ptr<SpinEditBinding>> spin_edits_;
  std::unique_ptr<StatusGridView> grid_;
  // The control whose click is under way (WM_LBUTTONUP, Space, BM_CLICK): only its
  // BN_CLICKED is the user's.
  HWND clicking_ = nullptr;
  bool alt_alone_ = false;
  bool mirroring_focus_ = false;
  // The log pane changed since it was last shown (Watch): mirrored by a posted message.
  static constexpr UINT kMirrorLaterMessage = WM_APP + 2;
  Bound* later_ = nullptr;
  bool later_posted_ = false;
  int scroll_pos_ = 0;
  HBRUSH face_brush_ = nullptr;
  HBRUSH white_brush_ = nullptr;
  HIMAGELIST query_images_ = nullptr;
};

}  // namespace ornat::win32
