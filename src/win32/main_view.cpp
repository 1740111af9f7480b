// Building the Win32 window: its two windows (the top-level one and the client area
// the controls lie in), a control per model (made by the ControlFactory), and from then
// on each model's changes mirrored into its control, at the model's place at the
// screen's scale.

#include "win32/main_view.h"

#include <commctrl.h>

#include <algorithm>

#include "text/wide.h"
#include "win32/dpi.h"
#include "win32/menu_bar.h"
#include "win32/speed_list.h"
#include "win32/spin_edit.h"
#include "win32/status_grid.h"
#include "win32/window_text.h"

namespace ornat::win32 {

namespace {
constexpr const wchar_t* kWindowClass = L"OrnatForm1";
constexpr const wchar_t* kClientClass = L"OrnatClient";

// A caption as a button draws it: "&" marks the underlined letter, "&&" is "&".
std::wstring Drawn(const std::wstring& caption) {
  std::wstring out;
  for (std::size_t i = 0; i < caption.size(); ++i) {
    if (caption[i] == L'&' && i + 1 < caption.size()) ++i;
    out += caption[i];
  }
  return out;
}
}  // namespace

MainView::MainView(TForm1& form, HandlerGate& gate) : form_(form), gate_(gate) {
  ctx_.gate = &gate_;
  ctx_.fonts = &fonts_;
  ctx_.dpi = SystemDpi();
  fonts_.SetDpi(ctx_.dpi);
  // The frame at this scale, as the definition's pixels: start-up's fit to the screen
  // compares the window's outer height with the screen's.
  const RECT outer =
      OuterRect(RECT{0, 0, Scale(form.ClientWidth, ctx_.dpi), Scale(form.ClientHeight, ctx_.dpi)},
                kWindowStyle, 0, ctx_.dpi);
  form_.OuterWidth = Unscale(outer.right - outer.left, ctx_.dpi);
  form_.OuterHeight = Unscale(outer.bottom - outer.top, ctx_.dpi);
  face_brush_ = ::GetSysColorBrush(COLOR_BTNFACE);
  white_brush_ = static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH));
}

MainView::~MainView() {
  alive_.reset();
  for (auto& b : bound_) {
    if (b->hwnd != nullptr) {
      ::RemoveWindowSubclass(b->hwnd, &MainView::ControlProc, kSubclassId);
      ::RemovePropW(b->hwnd, kNameProperty);
    }
  }
  spin_edits_.clear();
  speed_list_.reset();
  menu_bar_.reset();
  grid_.reset();
  if (window_ != nullptr) {
    ::SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
    ::DestroyWindow(window_);
  }
  for (ATOM a : atoms_) ::GlobalDeleteAtom(a);
  if (query_images_ != nullptr) ::ImageList_Destroy(query_images_);
}

void MainView::Create() {
  HINSTANCE instance = ::GetModuleHandleW(nullptr);
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = &MainView::WindowProc;
  wc.hInstance = instance;
  wc.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  wc.hIcon = static_cast<HICON>(::LoadImageW(instance, MAKEINTRESOURCEW(1), IMAGE_ICON,
                                             ::GetSystemMetrics(SM_CXICON),
                                             ::GetSystemMetrics(SM_CYICON), LR_DEFAULTCOLOR));
  wc.hIconSm = static_cast<HICON>(::LoadImageW(instance, MAKEINTRESOURCEW(1), IMAGE_ICON,
                                               ::GetSystemMetrics(SM_CXSMICON),
                                               ::GetSystemMetrics(SM_CYSMICON), LR_DEFAULTCOLOR));
  wc.lpszClassName = kWindowClass;
  ::RegisterClassExW(&wc);
  WNDCLASSEXW cc{};
  cc.cbSize = sizeof cc;
  cc.lpfnWndProc = &MainView::ClientProc;
  cc.hInstance = instance;
  cc.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
  cc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  cc.lpszClassName = kClientClass;
  ::RegisterClassExW(&cc);

  int dpi = ctx_.dpi;
  const RECT outer =
      OuterRect(RECT{0, 0, Scale(form_.ClientWidth, dpi), Scale(form_.ClientHeight, dpi)},
                kWindowStyle, 0, dpi);
  window_ = ::CreateWindowExW(0, kWindowClass, Wide(form_.Caption).c_str(), kWindowStyle,
                              CW_USEDEFAULT, CW_USEDEFAULT, outer.right - outer.left,
                              outer.bottom - outer.top, nullptr, nullptr, instance, this);
  ctx_.main = window_;
  // The monitor the window was made on decides its scale.
  const int actual = DpiOfWindow(window_);
  if (actual != dpi) {
    ctx_.dpi = dpi = actual;
    fonts_.SetDpi(dpi);
  }
  client_ = ::CreateWindowExW(WS_EX_CONTROLPARENT, kClientClass, L"",
                              WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN, 0, 0,
                              Scale(form_.ClientWidth, dpi), Scale(form_.ClientHeight, dpi),
                              window_, nullptr, instance, this);
  int id = 100;
  for (TControl* c : form_.AllControls()) Build(*c, id++);
  // A control defined later lies over the ones before it (the progress bar over the
  // log); labels are drawn on their parent, beneath every control that has a window of
  // its own ("to" lies under the "-->" button); the group boxes beneath all.
  for (auto& b : bound_) {
    ::SetWindowPos(b->hwnd, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    if (b->buddy != nullptr)
      ::SetWindowPos(b->buddy, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  }
  for (auto& b : bound_)
    if (b->kind == Kind::kLabel)
      ::SetWindowPos(b->hwnd, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  for (auto& b : bound_)
    if (b->kind == Kind::kGroupBox && b->model != &form_.TeGroupBox1)
      ::SetWindowPos(b->hwnd, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  ::SetWindowPos(HandleOf(form_.TeGroupBox1), HWND_BOTTOM, 0, 0, 0, 0,
                 SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);

  tooltip_ =
      ::CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr,
                        WS_POPUP | TTS_NOPREFIX | TTS_ALWAYSTIP, CW_USEDEFAULT, CW_USEDEFAULT,
                        CW_USEDEFAULT, CW_USEDEFAULT, window_, nullptr, instance, nullptr);
  Layout();
  for (auto& b : bound_) Watch(*b);
  // Every item of the definition reports its changes; the port items created at run
  // time report theirs through their parent (PORT1).
  std::vector<TTeItem*> watched = {&form_.TeMenuBar1.Items()};
  for (TTeItem* item : form_.AllMenuItems()) {
    const bool runtime = std::any_of(form_.PortItems.begin(), form_.PortItems.end(),
                                     [item](const auto& p) { return p.get() == item; });
    if (!runtime) watched.push_back(item);
  }
  for (TTeItem* item : watched) {
    item->Changed().Connect([weak = std::weak_ptr<bool>(alive_), this, item] {
      if (weak.lock() && menu_bar_) menu_bar_->ItemChanged(item);
    });
  }
  form_.Focus.Changed().Connect([weak = std::weak_ptr<bool>(alive_), this] {
    if (weak.lock()) MirrorFocus();
  });
}

void MainView::Watch(Bound& b) {
  if (b.kind == Kind::kMemo) {
    // The log pane is rebuilt whole at each change (cleared, coloured, each line added,
    // inside the send and inside the completion); it shows a handler's changes together
    // once the handler has returned, or in a modal box's loop, which dispatches posted
    // messages too, so the answer stands above the question. Every other control
    // follows its model at once: no click reaches one its model has just disabled.
    b.model->Changed().Connect([weak = std::weak_ptr<bool>(alive_), this, &b] {
      if (!weak.lock()) return;
      later_ = &b;
      if (later_posted_) return;
      later_posted_ = ::PostMessageW(window_, kMirrorLaterMessage, 0, 0) != FALSE;
      if (!later_posted_) Mirror(b);  // a full queue: shown at once, as before
    });
  } else {
    b.model->Changed().Connect([weak = std::weak_ptr<bool>(alive_), this, &b] {
      if (weak.lock()) Mirror(b);
    });
  }
  Mirror(b);
}

MainView::Bound* MainView::BoundOf(HWND hwnd) {
  auto it = by_hwnd_.find(hwnd);
  return it == by_hwnd_.end() ? nullptr : it->second;
}

MainView::Bound* MainView::BoundOf(const TControl& control) {
  auto it = by_control_.find(&control);
  return it == by_control_.end() ? nullptr : it->second;
}

HWND MainView::HandleOf(const TControl& control) const {
  auto it = by_control_.find(&control);
  return it == by_control_.end() ? nullptr : it->second->hwnd;
}

RECT MainView::PlacedRect(const TControl& control) const {
  int left = control.Left(), top = control.Top();
  for (const TControl* p = control.Parent(); p != nullptr; p = p->Parent()) {
    left += p->Left();
    top += p->Top();
  }
  return ScaleRect(left, top, control.Width(), control.Height(), ctx_.dpi);
}

void MainView::Place(Bound& b) {
  const RECT r = PlacedRect(*b.model);
  b.placed = r;
  b.placed_once = true;
  if (b.place) {
    b.place(r);
    return;
  }
  ::SetWindowPos(b.hwnd, nullptr, r.left, r.top, r.right - r.left, r.bottom - r.top,
                 SWP_NOZORDER | SWP_NOACTIVATE);
}

void MainView::PlaceStatusBar(HWND hwnd, const TStatusBar& bar, const RECT& r) {
  std::vector<int> edges;
  int x = 0;
  for (std::size_t i = 0; i < bar.PanelCount(); ++i) {
    x += bar.Panel(i).Width;
    edges.push_back(Scale(x, ctx_.dpi));
  }
  ::SendMessageW(hwnd, SB_SETPARTS, edges.size(), reinterpret_cast<LPARAM>(edges.data()));
  ::SendMessageW(hwnd, SB_SETMINHEIGHT, r.bottom - r.top, 0);
  ::SetWindowPos(hwnd, nullptr, r.left, r.top, r.right - r.left, r.bottom - r.top,
                 SWP_NOZORDER | SWP_NOACTIVATE);
}

void MainView::Layout() {
  ::SetWindowPos(client_, nullptr, 0, -scroll_pos_, Scale(form_.ClientWidth, ctx_.dpi),
                 Scale(form_.ClientHeight, ctx_.dpi), SWP_NOZORDER | SWP_NOACTIVATE);
  for (auto& b : bound_) {
    Place(*b);
    if (b->placed_once) Mirror(*b);
  }
}

void MainView::MirrorCaption(Bound& b) {
  const std::wstring text = Wide(b.captioned->Caption());
  if (WindowText(b.hwnd) != text) ::SetWindowTextW(b.hwnd, text.c_str());
  const int dpi = ctx_.dpi;
  const int width = b.placed.right - b.placed.left;
  HFONT font = fonts_.Get(FontRole::kWindow);
  switch (b.kind) {
    case Kind::kLabel:
      ::InvalidateRect(b.hwnd, nullptr, TRUE);
      break;
    case Kind::kGroupBox:
      font = fonts_.Fitting(FontRole::kWindow, text, width - Scale(18, dpi));
      break;
    case Kind::kPushButton: {
      const int picture =
          b.model == &form_.TeButton5 && query_images_ != nullptr ? Scale(22, dpi) : 0;
      font = fonts_.Fitting(FontRole::kWindow, Drawn(text), width - Scale(10, dpi) - picture);
      break;
    }
    case Kind::kCheckBox:
      font = fonts_.Fitting(FontRole::kWindow, text, width - Scale(18, dpi));
      break;
    default:
      break;
  }
  if (reinterpret_cast<HFONT>(::SendMessageW(b.hwnd, WM_GETFONT, 0, 0)) != font)
    ::SendMessageW(b.hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
}

void MainView::ShowMenuHint(const std::string& hint) {
  if (status_bar_ == nullptr) return;
  if (hint.empty()) {
    ::SendMessageW(status_bar_, SB_SIMPLE, FALSE, 0);  // the panels, with their texts
    return;
  }
  ::SendMessageW(status_bar_, SB_SIMPLE, TRUE, 0);
  const std::wstring text = Wide(hint);
  ::SendMessageW(status_bar_, SB_SETTEXTW, SB_SIMPLEID, reinterpret_cast<LPARAM>(text.c_str()));
}

void MainView::MirrorStatusBar(HWND hwnd, const TStatusBar& bar) {
  // The panels that must show all of their text (the last is cut at the window's edge
  // by design) decide the bar's font.
  HFONT font = fonts_.Get(FontRole::kWindow);
  for (std::size_t i = 0; i + 1 < bar.PanelCount(); ++i) {
    HFONT fit = fonts_.Fitting(FontRole::kWindow, Wide(bar.PanelText(i)),
                               Scale(bar.Panel(i).Width, ctx_.dpi) - Scale(8, ctx_.dpi));
    if (FontSet::TextWidth(fit, L"0000000000") < FontSet::TextWidth(font, L"0000000000"))
      font = fit;
  }
  if (reinterpret_cast<HFONT>(::SendMessageW(hwnd, WM_GETFONT, 0, 0)) != font)
    ::SendMessageW(hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
  for (std::size_t i = 0; i < bar.PanelCount(); ++i) {
    const TStatusPanel& panel = bar.Panel(i);
    // One tab before the text centres it, two right-align it.
    std::wstring text = Wide(panel.Text);
    if (panel.Alignment == TAlignment::taCenter) text = L"\t" + text;
    if (panel.Alignment == TAlignment::taRightJustify) text = L"\t\t" + text;
    const int length = LOWORD(::SendMessageW(hwnd, SB_GETTEXTLENGTHW, i, 0));
    std::wstring shown(static_cast<std::size_t>(length) + 1, L'\0');
    ::SendMessageW(hwnd, SB_GETTEXTW, i, reinterpret_cast<LPARAM>(shown.data()));
    shown.resize(static_cast<std::size_t>(length));
    if (shown != text && shown != Wide(panel.Text))
      ::SendMessageW(hwnd, SB_SETTEXTW, i, reinterpret_cast<LPARAM>(text.c_str()));
  }
}

void MainView::MirrorMemo(HWND hwnd, const TTeMemo& memo) {
  std::wstring text;
  for (std::size_t i = 0; i < memo.Lines().size(); ++i) {
    if (i > 0) text += L"\r\n";
    text += Wide(memo.Lines()[i]);
  }
  if (WindowText(hwnd) != text) ::SetWindowTextW(hwnd, text.c_str());
  // One colour for every line: the control asks for it when it paints.
  ::InvalidateRect(hwnd, nullptr, TRUE);
}

void MainView::Mirror(Bound& b) {
  TControl& c = *b.model;
  const RECT r = PlacedRect(c);
  if (!b.placed_once || !::EqualRect(&r, &b.placed)) Place(b);
  if (b.captioned != nullptr) MirrorCaption(b);
  if (b.mirror) b.mirror();
  for (HWND w : {b.hwnd, b.buddy}) {
    if (w == nullptr) continue;
    const bool visible = (::GetWindowLongW(w, GWL_STYLE) & WS_VISIBLE) != 0;
    if (visible != c.Visible()) ::ShowWindow(w, c.Visible() ? SW_SHOWNA : SW_HIDE);
    if ((::IsWindowEnabled(w) != FALSE) != c.Enabled()) ::EnableWindow(w, c.Enabled());
  }
  if (tooltip_ != nullptr) {
    TOOLINFOW ti{};
    ti.cbSize = sizeof ti;
    ti.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    ti.hwnd = client_;
    ti.uId = reinterpret_cast<UINT_PTR>(b.hwnd);
    std::wstring hint = Wide(c.Hint());
    ti.lpszText = hint.data();
    const bool known =
        ::SendMessageW(tooltip_, TTM_GETTOOLINFOW, 0, reinterpret_cast<LPARAM>(&ti)) != 0;
    ti.lpszText = hint.data();
    if (!hint.empty() && !known)
      ::SendMessageW(tooltip_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&ti));
    else if (!hint.empty())
      ::SendMessageW(tooltip_, TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&ti));
    else if (known)
      ::SendMessageW(tooltip_, TTM_DELTOOLW, 0, reinterpret_cast<LPARAM>(&ti));
  }
}

}  // namespace ornat::win32
