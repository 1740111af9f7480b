#pragma once
// The address editors: an EDIT with an up-down control over its right 15 pixels. The
// model (TTeSpinEdit) decides every change of the text: the view never lets the EDIT
// change its own text. Typed keys and deletions go to TTeSpinEdit::Type, text from
// the clipboard, from EM_REPLACESEL or from a WM_SETTEXT of another program to
// TTeSpinEdit::Paste (a number 1 to 247, or nothing changes); undo is refused; the
// model's text is shown again after each of them. Enter goes to KeyPress, leaving the
// field for another control of the window to Exit; the buttons and the arrow keys step
// the value. The wheel does nothing here, and the IME is off.

#include <windows.h>

#include <commctrl.h>

#include <functional>
#include <string>

#include "ui/toolkit/controls.h"
#include "win32/view_context.h"

namespace ornat::win32 {

class SpinEditBinding {
 public:
  // border: the blank margin inside the frame, in pixels at 96 dpi (1 or 3).
  SpinEditBinding(TTeSpinEdit& model, const ViewContext& ctx, HWND parent, int border);
  ~SpinEditBinding();
  SpinEditBinding(const SpinEditBinding&) = delete;
  SpinEditBinding& operator=(const SpinEditBinding&) = delete;

  HWND Edit() const { return edit_; }
  HWND UpDown() const { return updown_; }
  // Places the editor at r (pixels of the client area).
  void Place(const RECT& r);
  // Shows the model's text; the caret stays where it can.
  void Mirror();
  // The up-down's UDN_DELTAPOS (routed here by the view); returns the notification's
  // result (nonzero: the control keeps its own position).
  LRESULT DeltaPos(const NMUPDOWN& n);

 private:
  static LRESULT CALLBACK EditProc(HWND, UINT, WPARAM, LPARAM, UINT_PTR, DWORD_PTR);
  static LRESULT CALLBACK UpDownProc(HWND, UINT, WPARAM, LPARAM, UINT_PTR, DWORD_PTR);
  LRESULT OnEdit(UINT msg, WPARAM wp, LPARAM lp, bool& handled);
  // The selection as [from, from + count).
  void Selection(std::size_t& from, std::size_t& count) const;
  // Runs an edit of the model through the gate; an edit held by the gate is dropped if
  // the text changed before it could run. Shows the result, caret at the returned place.
  void Edit(bool typed, std::size_t from, std::size_t count, const std::string& text);
  void TypeKey(wchar_t ch);
  void Delete(bool forward);
  void CopySelection();
  std::wstring ClipboardText() const;
  void Forward(std::function<void()> input);

  TTeSpinEdit& model_;
  const ViewContext& ctx_;
  int border_;
  HWND edit_ = nullptr;
  HWND updown_ = nullptr;
  bool mirroring_ = false;
};

}  // namespace ornat::win32
