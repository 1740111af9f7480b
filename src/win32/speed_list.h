#pragma once
// The speed list: a drop-down list without typing (COMBOBOX, CBS_DROPDOWNLIST), its
// items drawn centred. A change of the detector's speed is sent for a pick from the
// dropped-down list only: a click on an item, or Enter on the item the keys moved to.
// Everything else that would change the selection of a Windows combo box does not:
// on the closed list the arrow keys, Page Up/Down, Home, End and typed characters drop
// the list down instead; a list closed otherwise (Esc, F4, a click outside, the focus
// leaving) shows the model's item again; the wheel goes to the window.

#include <windows.h>

#include "ui/toolkit/controls.h"
#include "win32/view_context.h"

namespace ornat::win32 {

class SpeedListBinding {
 public:
  SpeedListBinding(TTeSComboBox& model, const ViewContext& ctx, HWND parent, int id);
  ~SpeedListBinding();
  SpeedListBinding(const SpeedListBinding&) = delete;
  SpeedListBinding& operator=(const SpeedListBinding&) = delete;

  HWND Combo() const { return combo_; }
  HWND List() const { return list_; }
  // Places the closed list at r, h = its height (22 pixels at 96 dpi).
  void Place(const RECT& r);
  // Items and selected item from the model.
  void Mirror();
  // WM_COMMAND notifications of the combo box (routed here by the view).
  void Command(WORD code);
  // WM_MEASUREITEM and WM_DRAWITEM of the combo box.
  static void Measure(MEASUREITEMSTRUCT& m, int dpi);
  void Draw(const DRAWITEMSTRUCT& d);

 private:
  static LRESULT CALLBACK ComboProc(HWND, UINT, WPARAM, LPARAM, UINT_PTR, DWORD_PTR);
  static LRESULT CALLBACK ListProc(HWND, UINT, WPARAM, LPARAM, UINT_PTR, DWORD_PTR);
  bool Dropped() const;

  TTeSComboBox& model_;
  const ViewContext& ctx_;
  HWND combo_ = nullptr;
  HWND list_ = nullptr;
  // The list is being closed by a pick (a click on an item, Enter).
  bool picked_ = false;
  bool mirroring_ = false;
};

}  // namespace ornat::win32
