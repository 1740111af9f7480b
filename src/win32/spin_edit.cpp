#include "win32/spin_edit.h"

#include <commctrl.h>
#include <imm.h>

#include <algorithm>
#include <memory>
#include <optional>

#include "text/wide.h"
#include "win32/dpi.h"

namespace ornat::win32 {

namespace {
constexpr int kButtonWidth = 15;
constexpr UINT_PTR kSubclassId = 0x5e1;
}  // namespace

SpinEditBinding::SpinEditBinding(TTeSpinEdit& model, const ViewContext& ctx, HWND parent,
                                 int border)
    : model_(model), ctx_(ctx), border_(border) {
  HINSTANCE instance = ::GetModuleHandleW(nullptr);
  edit_ = ::CreateWindowExW(0, L"EDIT", L"",
                            // Multi-line only so that its text can be centred vertically
                            // (EM_SETRECT); it never holds more than one line.
                            WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_CLIPSIBLINGS | WS_BORDER |
                                ES_CENTER | ES_AUTOHSCROLL | ES_MULTILINE,
                            0, 0, 0, 0, parent, nullptr, instance, nullptr);
  updown_ = ::CreateWindowExW(0, UPDOWN_CLASSW, L"", WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS, 0, 0,
                              0, 0, parent, nullptr, instance, nullptr);
  // The control's own position never shows: every press is a step of the model.
  ::SendMessageW(updown_, UDM_SETRANGE32, 0, 100);
  ::SendMessageW(updown_, UDM_SETPOS32, 0, 50);
  // The up-down lies over the EDIT's right end.
  ::SetWindowPos(edit_, updown_, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  // No input method: a composition would bring text the model never saw.
  ::ImmAssociateContextEx(edit_, nullptr, 0);
  ::SetWindowSubclass(edit_, &SpinEditBinding::EditProc, kSubclassId,
                      reinterpret_cast<DWORD_PTR>(this));
  ::SetWindowSubclass(updown_, &SpinEditBinding::UpDownProc, kSubclassId,
                      reinterpret_cast<DWORD_PTR>(this));
  Mirror();
}

SpinEditBinding::~SpinEditBinding() {
  ::RemoveWindowSubclass(edit_, &SpinEditBinding::EditProc, kSubclassId);
  ::RemoveWindowSubclass(updown_, &SpinEditBinding::UpDownProc, kSubclassId);
}

void SpinEditBinding::Place(const RECT& r) {
  const int dpi = ctx_.dpi;
  const int button = Scale(kButtonWidth, dpi);
  const int frame = std::max(1, Scale(1, dpi));
  ::SetWindowPos(edit_, nullptr, r.left, r.top, r.right - r.left, r.bottom - r.top,
                 SWP_NOZORDER | SWP_NOACTIVATE);
  ::SetWindowPos(updown_, nullptr, r.right - frame - button, r.top + frame, button,
                 r.bottom - r.top - 2 * frame, SWP_NOZORDER | SWP_NOACTIVATE);
  // The text between the border's margin and the buttons, centred vertically.
  const int margin = Scale(border_, dpi);
  RECT client{};
  ::GetClientRect(edit_, &client);
  HDC dc = ::GetDC(edit_);
  HGDIOBJ old =
      ::SelectObject(dc, reinterpret_cast<HFONT>(::SendMessageW(edit_, WM_GETFONT, 0, 0)));
  TEXTMETRICW tm{};
  ::GetTextMetricsW(dc, &tm);
  ::SelectObject(dc, old);
  ::ReleaseDC(edit_, dc);
  const int top = std::max<int>(0, (client.bottom - tm.tmHeight) / 2);
  RECT text{client.left + margin, top, client.right - margin - button + frame, top + tm.tmHeight};
  ::SendMessageW(edit_, EM_SETRECTNP, 0, reinterpret_cast<LPARAM>(&text));
  ::InvalidateRect(edit_, nullptr, TRUE);
}

void SpinEditBinding::Mirror() {
  const std::wstring text = Wide(model_.Text());
  const int length = ::GetWindowTextLengthW(edit_);
  std::wstring shown(static_cast<std::size_t>(length) + 1, L'\0');
  ::GetWindowTextW(edit_, shown.data(), length + 1);
  shown.resize(static_cast<std::size_t>(length));
  if (shown == text) return;
  DWORD start = 0, end = 0;
  ::SendMessageW(edit_, EM_GETSEL, reinterpret_cast<WPARAM>(&start),
                 reinterpret_cast<LPARAM>(&end));
  mirroring_ = true;
  ::SetWindowTextW(edit_, text.c_str());
  mirroring_ = false;
  const DWORD caret = std::min<DWORD>(end, static_cast<DWORD>(text.size()));
  ::SendMessageW(edit_, EM_SETSEL, caret, caret);
  ::SendMessageW(edit_, EM_EMPTYUNDOBUFFER, 0, 0);
}

void SpinEditBinding::Selection(std::size_t& from, std::size_t& count) const {
  DWORD start = 0, end = 0;
  ::SendMessageW(edit_, EM_GETSEL, reinterpret_cast<WPARAM>(&start),
                 reinterpret_cast<LPARAM>(&end));
  if (end < start) std::swap(start, end);
  from = start;
  count = end - start;
}

void SpinEditBinding::Forward(std::function<void()> input) {
  ctx_.gate->Enter(std::move(input));
  Mirror();
}

void SpinEditBinding::Edit(bool typed, std::size_t from, std::size_t count,
                           const std::string& text) {
  DWORD start = 0, end = 0;
  ::SendMessageW(edit_, EM_GETSEL, reinterpret_cast<WPARAM>(&start),
                 reinterpret_cast<LPARAM>(&end));
  auto caret = std::make_shared<std::optional<std::size_t>>();
  ctx_.gate->Enter([this, caret, typed, from, count, text, on = model_.Text()] {
    // An edit belongs to the text it was made on.
    if (model_.Text() != on) return;
    *caret = typed ? model_.Type(from, count, text) : model_.Paste(from, count, text);
  });
  Mirror();
  if (caret->has_value()) {
    const auto at = static_cast<WPARAM>(**caret);
    ::SendMessageW(edit_, EM_SETSEL, at, static_cast<LPARAM>(at));
  } else {
    ::SendMessageW(edit_, EM_SETSEL, start, static_cast<LPARAM>(end));
  }
}

void SpinEditBinding::TypeKey(wchar_t ch) {
  std::size_t from = 0, count = 0;
  Selection(from, count);
  Edit(true, from, count, Utf8(&ch, 1));
}

void SpinEditBinding::Delete(bool forward) {
  std::size_t from = 0, count = 0;
  Selection(from, count);
  if (count == 0) {
    const std::size_t length = model_.Text().size();
    if (forward) {
      if (from >= length) return;
      count = 1;
    } else {
      if (from == 0) return;
      from -= 1;
      count = 1;
    }
  }
  Edit(true, from, count, std::string());
}

void SpinEditBinding::CopySelection() {
  ::DefSubclassProc(edit_, WM_COPY, 0, 0);
}

std::wstring SpinEditBinding::ClipboardText() const {
  std::wstring text;
  if (!::OpenClipboard(edit_)) return text;
  if (HANDLE data = ::GetClipboardData(CF_UNICODETEXT)) {
    if (auto* p = static_cast<const wchar_t*>(::GlobalLock(data))) {
      text = p;
      ::GlobalUnlock(data);
    }
  }
  ::CloseClipboard();
  return text;
}

LRESULT SpinEditBinding::OnEdit(UINT msg, WPARAM wp, LPARAM lp, bool& handled) {
  handled = true;
  switch (msg) {
    case WM_CHAR: {
      const auto ch = static_cast<wchar_t>(wp);
      // Every typed character reaches the key handler first (the ones its 8-bit key
      // can hold); Enter brings the value into range before it does.
      if (ch < 0x80) {
        const char key = static_cast<char>(ch);
        Forward([this, key] { model_.KeyPress(key); });
      }
      switch (ch) {
        case L'\r':
          return 0;
        case L'\b':
          Delete(false);
          return 0;
        case 0x01:  // Ctrl+A
          ::SendMessageW(edit_, EM_SETSEL, 0, -1);
          return 0;
        case 0x03:  // Ctrl+C
          CopySelection();
          return 0;
        case 0x16:  // Ctrl+V
          ::SendMessageW(edit_, WM_PASTE, 0, 0);
          return 0;
        case 0x18:  // Ctrl+X
          ::SendMessageW(edit_, WM_CUT, 0, 0);
          return 0;
        default:
          break;
      }
      if (ch >= 0x20 && ch != 0x7F) TypeKey(ch);
      return 0;
    }
    case WM_KEYDOWN:
      switch (wp) {
        case VK_UP:
          Forward([this] { model_.StepUp(); });
          return 0;
        case VK_DOWN:
          Forward([this] { model_.StepDown(); });
          return 0;
        case VK_DELETE:
          if (::GetKeyState(VK_SHIFT) < 0)
            ::SendMessageW(edit_, WM_CUT, 0, 0);
          else
            Delete(true);
          return 0;
        case VK_INSERT:
          if (::GetKeyState(VK_SHIFT) < 0) {
            ::SendMessageW(edit_, WM_PASTE, 0, 0);
            return 0;
          }
          break;
        default:
          break;
      }
      handled = false;
      return 0;
    case WM_PASTE: {
      std::size_t from = 0, count = 0;
      Selection(from, count);
      Edit(false, from, count, Utf8(ClipboardText()));
      return 0;
    }
    case EM_REPLACESEL: {
      std::size_t from = 0, count = 0;
      Selection(from, count);
      const auto* text = reinterpret_cast<const wchar_t*>(lp);
      Edit(false, from, count, text != nullptr ? Utf8(std::wstring(text)) : std::string());
      return 0;
    }
    case WM_SETTEXT: {
      if (mirroring_) break;
      // Another program (an assistive tool) setting the text: as if it were pasted
      // over the whole of it.
      const auto* text = reinterpret_cast<const wchar_t*>(lp);
      Edit(false, 0, model_.Text().size(),
           text != nullptr ? Utf8(std::wstring(text)) : std::string());
      return TRUE;
    }
    case WM_CUT: {
      std::size_t from = 0, count = 0;
      Selection(from, count);
      if (count == 0) return 0;
      CopySelection();
      Edit(true, from, count, std::string());
      return 0;
    }
    case WM_CLEAR: {
      std::size_t from = 0, count = 0;
      Selection(from, count);
      if (count > 0) Edit(true, from, count, std::string());
      return 0;
    }
    case WM_UNDO:
    case EM_UNDO:
      return FALSE;
    case WM_IME_STARTCOMPOSITION:
    case WM_IME_COMPOSITION:
    case WM_IME_CHAR:
      return 0;
    case WM_MOUSEWHEEL:
    case WM_MOUSEHWHEEL:
      ctx_.ForwardWheel(msg, wp, lp);
      return 0;
    case WM_KILLFOCUS: {
      const LRESULT r = ::DefSubclassProc(edit_, msg, wp, lp);
      // Leaving the field for another control of the window, not the window going
      // inactive or a message box taking the focus.
      const auto next = reinterpret_cast<HWND>(wp);
      if (next != nullptr && ctx_.main != nullptr && ::IsChild(ctx_.main, next))
        Forward([this] { model_.Exit(); });
      return r;
    }
    default:
      break;
  }
  handled = false;
  return 0;
}

LRESULT CALLBACK SpinEditBinding::EditProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR,
                                           DWORD_PTR ref) {
  auto* self = reinterpret_cast<SpinEditBinding*>(ref);
  bool handled = false;
  const LRESULT r = self->OnEdit(msg, wp, lp, handled);
  return handled ? r : ::DefSubclassProc(hwnd, msg, wp, lp);
}

LRESULT CALLBACK SpinEditBinding::UpDownProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR,
                                             DWORD_PTR ref) {
  auto* self = reinterpret_cast<SpinEditBinding*>(ref);
  if (msg == WM_MOUSEWHEEL || msg == WM_MOUSEHWHEEL) {
    self->ctx_.ForwardWheel(msg, wp, lp);
    return 0;
  }
  return ::DefSubclassProc(hwnd, msg, wp, lp);
}

LRESULT SpinEditBinding::DeltaPos(const NMUPDOWN& n) {
  if (n.iDelta > 0)
    Forward([this] { model_.StepUp(); });
  else if (n.iDelta < 0)
    Forward([this] { model_.StepDown(); });
  return TRUE;
}

}  // namespace ornat::win32
