#pragma once
// Names for screen readers where a control's window text is not what it shows: each
// tactic radio button keeps its stored caption "   ШС1" as its window text (the narrow
// button never shows it), and the label beside it is its name.
//
// A name is given two ways, for the two ways readers ask:
// - Dynamic Annotation (IAccPropServices::SetHwndPropStr with PROPID_ACC_NAME), which
//   Windows' own accessible objects and UI Automation's proxies of the standard
//   controls honour;
// - the control's own answer to WM_GETOBJECT for its client area: Windows' standard
//   accessible object of the control (CreateStdAccessibleObject) with this name in
//   place of the window text, everything else its own. That is what an MSAA reader
//   gets through AccessibleObjectFromWindow, on Windows and under Wine, whose
//   IAccPropServices keeps no annotation (E_NOTIMPL).
// COM must be initialised on the window's thread (ornat.exe: apartment-threaded).

#include <windows.h>

#include <string>
#include <unordered_map>

namespace ornat::win32 {

class AccessibleNames {
 public:
  void Name(HWND control, const std::wstring& name);
  // For the control's window procedure: the answer to WM_GETOBJECT for the client
  // area of a named control (handled true), else nothing (handled false).
  LRESULT Answer(HWND control, WPARAM wp, LPARAM lp, bool& handled) const;

 private:
  std::unordered_map<HWND, std::wstring> names_;
};

}  // namespace ornat::win32
