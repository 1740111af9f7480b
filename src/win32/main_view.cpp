#include "win32/main_view.h"

#include <commctrl.h>
#include <imm.h>
#include <uxtheme.h>
#include <windowsx.h>

#include <algorithm>

#include "text/wide.h"
#include "ui/exchange_log.h"
#include "win32/dpi.h"
#include "win32/menu_bar.h"
#include "win32/speed_list.h"
#include "win32/spin_edit.h"
#include "win32/status_grid.h"
#include "win32/window_owner.h"

namespace ornat::win32 {

namespace {
constexpr const wchar_t* kWindowClass = L"OrnatForm1";
constexpr const wchar_t* kClientClass = L"OrnatClient";
constexpr const wchar_t* kNameProperty = L"OrnatName";
constexpr UINT_PTR kSubclassId = 0x5e0;
// Fixed single border; the system menu (with close) and minimise only.
constexpr DWORD kWindowStyle =
    WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN;
constexpr int kQueryIconId = 2;  // the retry picture (res/ornat.rc)

int S(int v, int dpi) {
  return Scale(v, dpi);
}

std::wstring WindowText(HWND hwnd) {
  const int n = ::GetWindowTextLengthW(hwnd);
  std::wstring text(static_cast<std::size_t>(n) + 1, L'\0');
  ::GetWindowTextW(hwnd, text.data(), n + 1);
  text.resize(static_cast<std::size_t>(n));
  return text;
}

// A caption as a button draws it: "&" marks the underlined letter, "&&" is "&".
std::wstring Drawn(const std::wstring& caption) {
  std::wstring out;
  for (std::size_t i = 0; i < caption.size(); ++i) {
    if (caption[i] == L'&' && i + 1 < caption.size()) ++i;
    out += caption[i];
  }
  return out;
}

wchar_t Upper(wchar_t c) {
  return static_cast<wchar_t>(
      reinterpret_cast<UINT_PTR>(::CharUpperW(reinterpret_cast<LPWSTR>(static_cast<UINT_PTR>(c)))));
}

// The underlined letter of a caption, or 0.
wchar_t Mnemonic(const std::wstring& caption) {
  for (std::size_t i = 0; i + 1 < caption.size(); ++i) {
    if (caption[i] != L'&') continue;
    if (caption[i + 1] == L'&') {
      ++i;
      continue;
    }
    return caption[i + 1];
  }
  return 0;
}

// The retry picture in its two looks, normal and disabled (grey, half transparent),
// in the order of a button's image list: normal, hot, pressed, disabled, default,
// stylus hot.
HIMAGELIST QueryImages(int size) {
  HICON icon =
      static_cast<HICON>(::LoadImageW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(kQueryIconId),
                                      IMAGE_ICON, size, size, LR_DEFAULTCOLOR));
  if (icon == nullptr) return nullptr;
  HIMAGELIST list = ::ImageList_Create(size, size, ILC_COLOR32, 6, 0);
  BITMAPINFO bi{};
  bi.bmiHeader.biSize = sizeof bi.bmiHeader;
  bi.bmiHeader.biWidth = size;
  bi.bmiHeader.biHeight = -size;
  bi.bmiHeader.biPlanes = 1;
  bi.bmiHeader.biBitCount = 32;
  bi.bmiHeader.biCompression = BI_RGB;
  HDC screen = ::GetDC(nullptr);
  HDC dc = ::CreateCompatibleDC(screen);
  auto image = [&](bool grey) {
    void* bits = nullptr;
    HBITMAP bmp = ::CreateDIBSection(screen, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (bmp == nullptr) return;
    HGDIOBJ old = ::SelectObject(dc, bmp);
    ::DrawIconEx(dc, 0, 0, icon, size, size, 0, nullptr, DI_NORMAL);
    ::SelectObject(dc, old);
    if (grey) {
      auto* px = static_cast<std::uint8_t*>(bits);
      for (int i = 0; i < size * size; ++i, px += 4) {
        const int y = (px[2] * 30 + px[1] * 59 + px[0] * 11) / 100;
        px[0] = px[1] = px[2] = static_cast<std::uint8_t>(y / 2);
        px[3] = static_cast<std::uint8_t>(px[3] / 2);
      }
    }
    ::ImageList_Add(list, bmp, nullptr);
    ::DeleteObject(bmp);
  };
  for (int state = 0; state < 6; ++state) image(state == 3);
  ::DeleteDC(dc);
  ::ReleaseDC(nullptr, screen);
  ::DestroyIcon(icon);
  return list;
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
      OuterRect(RECT{0, 0, S(form.ClientWidth, ctx_.dpi), S(form.ClientHeight, ctx_.dpi)},
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
  const RECT outer = OuterRect(RECT{0, 0, S(form_.ClientWidth, dpi), S(form_.ClientHeight, dpi)},
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
  client_ = ::CreateWindowExW(
      WS_EX_CONTROLPARENT, kClientClass, L"", WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN, 0, 0,
      S(form_.ClientWidth, dpi), S(form_.ClientHeight, dpi), window_, nullptr, instance, this);
  int id = 100;
  for (TControl* c : form_.AllControls()) Build(*c, id++);
  // A control defined later lies over the ones before it (the progress bar over the
  // log); labels are drawn on their parent, beneath every control that has a window of
  // its own ("to" lies under the "-->" button); the group boxes beneath all.
  for (auto& b : bound_) {
    ::SetWindowPos(b->hwnd, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    if (b->kind == Kind::kSpinEdit)
      ::SetWindowPos(spin_edits_.at(b->model)->UpDown(), HWND_TOP, 0, 0, 0, 0,
                     SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
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
  NameForScreenReaders();
}

void MainView::Build(TControl& control, int id) {
  auto bound = std::make_unique<Bound>();
  Bound& b = *bound;
  b.model = &control;
  HINSTANCE instance = ::GetModuleHandleW(nullptr);
  const auto menu_id = reinterpret_cast<HMENU>(static_cast<INT_PTR>(id));
  auto make = [&](const wchar_t* cls, DWORD style, DWORD ex = 0) {
    return ::CreateWindowExW(ex, cls, L"", WS_CHILD | WS_CLIPSIBLINGS | style, 0, 0, 0, 0, client_,
                             menu_id, instance, nullptr);
  };
  if (auto* m = dynamic_cast<TTeMenuBar*>(&control)) {
    b.kind = Kind::kMenuBar;
    menu_bar_ = std::make_unique<MenuBar>(*m, ctx_, client_);
    b.hwnd = menu_bar_->Hwnd();
  } else if (dynamic_cast<TStatusBar*>(&control) != nullptr) {
    b.kind = Kind::kStatusBar;
    b.hwnd = make(STATUSCLASSNAMEW, WS_VISIBLE | CCS_NOPARENTALIGN | CCS_NORESIZE | CCS_NODIVIDER);
  } else if (dynamic_cast<TTeGroupBox*>(&control) != nullptr) {
    b.kind = Kind::kGroupBox;
    b.hwnd = make(L"BUTTON", WS_VISIBLE | BS_GROUPBOX);
  } else if (dynamic_cast<TTeLabel*>(&control) != nullptr) {
    b.kind = Kind::kLabel;
    // Drawn here (WM_DRAWITEM), so that a text wider than its label fits; the window
    // text is the caption, as ever.
    b.hwnd = make(L"STATIC", WS_VISIBLE | SS_OWNERDRAW | SS_NOPREFIX);
  } else if (dynamic_cast<TTeButton*>(&control) != nullptr) {
    b.kind = Kind::kPushButton;
    b.hwnd = make(L"BUTTON", WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON);
    if (&control == &form_.TeButton5) {
      query_images_ = QueryImages(S(16, ctx_.dpi));
      if (query_images_ != nullptr) {
        BUTTON_IMAGELIST list{query_images_, RECT{S(2, ctx_.dpi), 0, 0, 0},
                              BUTTON_IMAGELIST_ALIGN_LEFT};
        ::SendMessageW(b.hwnd, BCM_SETIMAGELIST, 0, reinterpret_cast<LPARAM>(&list));
      }
    }
  } else if (dynamic_cast<TTeCheckBox*>(&control) != nullptr) {
    b.kind = Kind::kCheckBox;
    b.hwnd = make(L"BUTTON", WS_VISIBLE | WS_TABSTOP | BS_CHECKBOX);
  } else if (dynamic_cast<TTeRadioButton*>(&control) != nullptr) {
    b.kind = Kind::kRadioButton;
    b.hwnd = make(L"BUTTON", WS_VISIBLE | WS_TABSTOP | BS_RADIOBUTTON);
  } else if (auto* se = dynamic_cast<TTeSpinEdit*>(&control)) {
    b.kind = Kind::kSpinEdit;
    const int border = &control == &form_.TeSpinEdit2 ? 3 : 1;
    auto binding = std::make_unique<SpinEditBinding>(*se, ctx_, client_, border);
    b.hwnd = binding->Edit();
    ::SetWindowLongPtrW(b.hwnd, GWLP_ID, id);
    const std::wstring updown = Wide(control.Name() + "_UpDown");
    const ATOM atom = ::GlobalAddAtomW(updown.c_str());
    atoms_.push_back(atom);
    ::SetPropW(binding->UpDown(), kNameProperty,
               reinterpret_cast<HANDLE>(static_cast<UINT_PTR>(atom)));
    spin_edits_[&control] = std::move(binding);
  } else if (auto* co = dynamic_cast<TTeSComboBox*>(&control)) {
    b.kind = Kind::kSpeedList;
    speed_list_ = std::make_unique<SpeedListBinding>(*co, ctx_, client_, id);
    b.hwnd = speed_list_->Combo();
  } else if (dynamic_cast<TTeMemo*>(&control) != nullptr) {
    b.kind = Kind::kMemo;
    b.hwnd =
        make(L"EDIT",
             WS_VISIBLE | WS_TABSTOP | ES_MULTILINE | ES_READONLY | ES_AUTOHSCROLL | ES_AUTOVSCROLL,
             WS_EX_CLIENTEDGE);
    ::ImmAssociateContextEx(b.hwnd, nullptr, 0);
  } else if (auto* gr = dynamic_cast<TTeStringGrid*>(&control)) {
    b.kind = Kind::kGrid;
    grid_ = std::make_unique<StatusGridView>(*gr, ctx_, client_);
    b.hwnd = grid_->Hwnd();
  } else if (dynamic_cast<TTeProgressBar*>(&control) != nullptr) {
    b.kind = Kind::kProgress;
    // In blocks, as the definition has it: the classic look (the visual style's bar is
    // one smooth strip).
    b.hwnd = make(PROGRESS_CLASSW, WS_BORDER);
    ::SetWindowTheme(b.hwnd, L" ", L" ");
  } else {
    // A control kind without a view of its own: an empty placeholder keeps its place.
    b.kind = Kind::kLabel;
    b.hwnd = make(L"STATIC", WS_VISIBLE);
  }
  const ATOM atom = ::GlobalAddAtomW(Wide(control.Name()).c_str());
  atoms_.push_back(atom);
  ::SetPropW(b.hwnd, kNameProperty, reinterpret_cast<HANDLE>(static_cast<UINT_PTR>(atom)));
  ::SetWindowSubclass(b.hwnd, &MainView::ControlProc, kSubclassId, reinterpret_cast<DWORD_PTR>(&b));
  by_control_[&control] = &b;
  by_hwnd_[b.hwnd] = &b;
  bound_.push_back(std::move(bound));
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
  const int w = r.right - r.left, h = r.bottom - r.top;
  switch (b.kind) {
    case Kind::kMenuBar:
      menu_bar_->Place(r, fonts_.Get(FontRole::kWindow));
      return;
    case Kind::kSpinEdit: {
      auto& spin = *spin_edits_.at(b.model);
      ::SendMessageW(spin.Edit(), WM_SETFONT,
                     reinterpret_cast<WPARAM>(fonts_.Get(FontRole::kEditor)), FALSE);
      spin.Place(r);
      return;
    }
    case Kind::kSpeedList:
      ::SendMessageW(b.hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(fonts_.Get(FontRole::kSpeedList)),
                     FALSE);
      speed_list_->Place(r);
      return;
    case Kind::kGrid:
      grid_->Place(r, fonts_.Get(FontRole::kWindow));
      return;
    case Kind::kMemo:
      ::SendMessageW(b.hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(fonts_.Get(FontRole::kLog)),
                     FALSE);
      break;
    case Kind::kStatusBar: {
      auto& bar = static_cast<TStatusBar&>(*b.model);
      std::vector<int> edges;
      int x = 0;
      for (std::size_t i = 0; i < bar.PanelCount(); ++i) {
        x += bar.Panel(i).Width;
        edges.push_back(S(x, ctx_.dpi));
      }
      ::SendMessageW(b.hwnd, SB_SETPARTS, edges.size(), reinterpret_cast<LPARAM>(edges.data()));
      ::SendMessageW(b.hwnd, SB_SETMINHEIGHT, h, 0);
      break;
    }
    default:
      break;
  }
  ::SetWindowPos(b.hwnd, nullptr, r.left, r.top, w, h, SWP_NOZORDER | SWP_NOACTIVATE);
}

void MainView::Layout() {
  ::SetWindowPos(client_, nullptr, 0, -scroll_pos_, S(form_.ClientWidth, ctx_.dpi),
                 S(form_.ClientHeight, ctx_.dpi), SWP_NOZORDER | SWP_NOACTIVATE);
  for (auto& b : bound_) {
    Place(*b);
    if (b->placed_once) Mirror(*b);
  }
}

void MainView::MirrorCaption(Bound& b) {
  auto* captioned = dynamic_cast<TCaptionControl*>(b.model);
  if (captioned == nullptr) return;
  const std::wstring text = Wide(captioned->Caption());
  if (WindowText(b.hwnd) != text) ::SetWindowTextW(b.hwnd, text.c_str());
  const int dpi = ctx_.dpi;
  const int width = b.placed.right - b.placed.left;
  HFONT font = fonts_.Get(FontRole::kWindow);
  switch (b.kind) {
    case Kind::kLabel:
      ::InvalidateRect(b.hwnd, nullptr, TRUE);
      break;
    case Kind::kGroupBox:
      font = fonts_.Fitting(FontRole::kWindow, text, width - S(18, dpi));
      break;
    case Kind::kPushButton: {
      const int picture = b.model == &form_.TeButton5 && query_images_ != nullptr ? S(22, dpi) : 0;
      font = fonts_.Fitting(FontRole::kWindow, Drawn(text), width - S(10, dpi) - picture);
      break;
    }
    case Kind::kCheckBox:
      font = fonts_.Fitting(FontRole::kWindow, text, width - S(18, dpi));
      break;
    default:
      break;
  }
  if (reinterpret_cast<HFONT>(::SendMessageW(b.hwnd, WM_GETFONT, 0, 0)) != font)
    ::SendMessageW(b.hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
}

void MainView::MirrorStatusBar(Bound& b) {
  auto& bar = static_cast<TStatusBar&>(*b.model);
  // The panels that must show all of their text (the last is cut at the window's edge
  // by design) decide the bar's font.
  HFONT font = fonts_.Get(FontRole::kWindow);
  for (std::size_t i = 0; i + 1 < bar.PanelCount(); ++i) {
    HFONT fit = fonts_.Fitting(FontRole::kWindow, Wide(bar.PanelText(i)),
                               S(bar.Panel(i).Width, ctx_.dpi) - S(8, ctx_.dpi));
    if (FontSet::TextWidth(fit, L"0000000000") < FontSet::TextWidth(font, L"0000000000"))
      font = fit;
  }
  if (reinterpret_cast<HFONT>(::SendMessageW(b.hwnd, WM_GETFONT, 0, 0)) != font)
    ::SendMessageW(b.hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
  for (std::size_t i = 0; i < bar.PanelCount(); ++i) {
    const TStatusPanel& panel = bar.Panel(i);
    // One tab before the text centres it, two right-align it.
    std::wstring text = Wide(panel.Text);
    if (panel.Alignment == TAlignment::taCenter) text = L"\t" + text;
    if (panel.Alignment == TAlignment::taRightJustify) text = L"\t\t" + text;
    const int length = LOWORD(::SendMessageW(b.hwnd, SB_GETTEXTLENGTHW, i, 0));
    std::wstring shown(static_cast<std::size_t>(length) + 1, L'\0');
    ::SendMessageW(b.hwnd, SB_GETTEXTW, i, reinterpret_cast<LPARAM>(shown.data()));
    shown.resize(static_cast<std::size_t>(length));
    if (shown != text && shown != Wide(panel.Text))
      ::SendMessageW(b.hwnd, SB_SETTEXTW, i, reinterpret_cast<LPARAM>(text.c_str()));
  }
}

void MainView::MirrorMemo(Bound& b) {
  auto& memo = static_cast<TTeMemo&>(*b.model);
  std::wstring text;
  for (std::size_t i = 0; i < memo.Lines().size(); ++i) {
    if (i > 0) text += L"\r\n";
    text += Wide(memo.Lines()[i]);
  }
  if (WindowText(b.hwnd) != text) ::SetWindowTextW(b.hwnd, text.c_str());
  // One colour for every line: the control asks for it when it paints.
  ::InvalidateRect(b.hwnd, nullptr, TRUE);
}

void MainView::Mirror(Bound& b) {
  TControl& c = *b.model;
  const RECT r = PlacedRect(c);
  if (!b.placed_once || !::EqualRect(&r, &b.placed)) Place(b);
  switch (b.kind) {
    case Kind::kMenuBar:
      menu_bar_->Mirror();
      break;
    case Kind::kStatusBar:
      MirrorStatusBar(b);
      break;
    case Kind::kGroupBox:
    case Kind::kLabel:
    case Kind::kPushButton:
      MirrorCaption(b);
      break;
    case Kind::kCheckBox:
      MirrorCaption(b);
      ::SendMessageW(b.hwnd, BM_SETCHECK,
                     static_cast<TTeCheckBox&>(c).Checked() ? BST_CHECKED : BST_UNCHECKED, 0);
      break;
    case Kind::kRadioButton:
      MirrorCaption(b);
      ::SendMessageW(b.hwnd, BM_SETCHECK,
                     static_cast<TTeRadioButton&>(c).Checked() ? BST_CHECKED : BST_UNCHECKED, 0);
      break;
    case Kind::kSpinEdit:
      spin_edits_.at(&c)->Mirror();
      break;
    case Kind::kSpeedList:
      speed_list_->Mirror();
      break;
    case Kind::kMemo:
      MirrorMemo(b);
      break;
    case Kind::kGrid:
      grid_->Mirror();
      break;
    case Kind::kProgress: {
      auto& bar = static_cast<TTeProgressBar&>(c);
      ::SendMessageW(b.hwnd, PBM_SETRANGE32, static_cast<WPARAM>(bar.Min()), bar.Max());
      ::SendMessageW(b.hwnd, PBM_SETPOS, static_cast<WPARAM>(bar.Position()), 0);
      break;
    }
  }
  std::vector<HWND> windows = {b.hwnd};
  if (b.kind == Kind::kSpinEdit) windows.push_back(spin_edits_.at(&c)->UpDown());
  for (HWND w : windows) {
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

void MainView::NameForScreenReaders() {
  for (auto& b : bound_) {
    if (b->kind != Kind::kRadioButton) continue;
    const TTeLabel* label =
        LabelBeside(static_cast<TTeRadioButton&>(*b->model), form_.AllControls());
    if (label != nullptr) accessible_names_.Name(b->hwnd, Wide(label->Caption()));
  }
}

// --- focus and keyboard --------------------------------------------------------

void MainView::MirrorFocus() {
  if (mirroring_focus_) return;
  TControl* active = form_.Focus.Active();
  HWND w = active != nullptr ? HandleOf(*active) : nullptr;
  if (w == nullptr || ::GetFocus() == w) return;
  ::SetFocus(w);
}

void MainView::NoteFocus(HWND hwnd) {
  Bound* b = BoundOf(hwnd);
  if (b == nullptr || form_.Focus.Active() == b->model) return;
  mirroring_focus_ = true;
  form_.Focus.Focus(b->model);
  mirroring_focus_ = false;
}

void MainView::MoveFocus(int step) {
  std::vector<Bound*> order;
  for (auto& b : bound_) {
    switch (b->kind) {
      case Kind::kMenuBar:
      case Kind::kSpeedList:
      case Kind::kSpinEdit:
      case Kind::kPushButton:
      case Kind::kCheckBox:
      case Kind::kRadioButton:
      case Kind::kGrid:
      case Kind::kMemo:
        if (::IsWindowVisible(b->hwnd) && ::IsWindowEnabled(b->hwnd)) order.push_back(b.get());
        break;
      default:
        break;
    }
  }
  if (order.empty()) return;
  const Bound* now = BoundOf(::GetFocus());
  int at = -1;
  for (std::size_t i = 0; i < order.size(); ++i)
    if (order[i] == now) at = static_cast<int>(i);
  const int n = static_cast<int>(order.size());
  const int next = at < 0 ? (step > 0 ? 0 : n - 1) : (at + step + n) % n;
  ::SetFocus(order[static_cast<std::size_t>(next)]->hwnd);
}

void MainView::MoveAmongRadios(Bound& from, int step) {
  std::vector<HWND> group;
  for (TTeRadioButton* r : form_.TacticGroup.Members()) {
    HWND w = HandleOf(*r);
    if (w != nullptr && ::IsWindowVisible(w) && ::IsWindowEnabled(w)) group.push_back(w);
  }
  auto it = std::find(group.begin(), group.end(), from.hwnd);
  if (it == group.end()) return;
  const int n = static_cast<int>(group.size());
  const int at = static_cast<int>(it - group.begin());
  // The focus moves; nothing is chosen.
  ::SetFocus(group[static_cast<std::size_t>((at + step + n) % n)]);
}

bool MainView::PressAccelerator(wchar_t letter) {
  for (auto& b : bound_) {
    if (b->kind != Kind::kPushButton && b->kind != Kind::kCheckBox) continue;
    if (!b->model->Visible() || !b->model->Enabled()) continue;
    const wchar_t m = Mnemonic(Wide(static_cast<TCaptionControl&>(*b->model).Caption()));
    if (m == 0 || Upper(m) != Upper(letter)) continue;
    TControl* model = b->model;
    // As a click of the button; the focus stays where it is.
    if (auto* button = dynamic_cast<TTeButton*>(model))
      gate_.Enter([button] { button->Click(); });
    else if (auto* box = dynamic_cast<TTeCheckBox*>(model))
      gate_.Enter([box] { box->Click(); });
    return true;
  }
  return false;
}

bool MainView::FilterMessage(MSG& msg) {
  if (window_ == nullptr || (msg.hwnd != window_ && !::IsChild(window_, msg.hwnd))) return false;
  const bool ctrl = ::GetKeyState(VK_CONTROL) < 0;
  const bool shift = ::GetKeyState(VK_SHIFT) < 0;
  switch (msg.message) {
    case WM_KEYDOWN: {
      alt_alone_ = false;
      if (msg.wParam == VK_TAB && !ctrl) {
        MoveFocus(shift ? -1 : 1);
        return true;
      }
      if (msg.wParam == VK_F10 && !shift) {
        menu_bar_->ToggleActive();
        return true;
      }
      Bound* focus = BoundOf(::GetFocus());
      if (focus != nullptr && focus->kind == Kind::kRadioButton) {
        switch (msg.wParam) {
          case VK_UP:
          case VK_LEFT:
            MoveAmongRadios(*focus, -1);
            return true;
          case VK_DOWN:
          case VK_RIGHT:
            MoveAmongRadios(*focus, 1);
            return true;
          default:
            break;
        }
      }
      return false;
    }
    case WM_SYSKEYDOWN:
      if (msg.wParam == VK_MENU) {
        if ((msg.lParam & (1 << 30)) == 0) alt_alone_ = true;
        return true;
      }
      alt_alone_ = false;
      if (msg.wParam == VK_F10 && !shift) {
        menu_bar_->ToggleActive();
        return true;
      }
      return false;
    case WM_SYSKEYUP:
      if (msg.wParam == VK_MENU) {
        // Alt pressed and released alone: the menu bar, not the system menu's keyboard
        // mode.
        if (alt_alone_) menu_bar_->ToggleActive();
        alt_alone_ = false;
        return true;
      }
      return msg.wParam == VK_F10;
    case WM_SYSCHAR: {
      const auto ch = static_cast<wchar_t>(msg.wParam);
      if (ch == L' ') return false;  // the system menu
      if (PressAccelerator(ch)) return true;
      menu_bar_->OpenByLetter(ch);
      return true;
    }
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
    case WM_MBUTTONDOWN:
    case WM_NCLBUTTONDOWN:
      alt_alone_ = false;
      return false;
    default:
      return false;
  }
}

// --- window procedures -----------------------------------------------------------

void MainView::Scroll(int pos) {
  SCROLLINFO si{};
  si.cbSize = sizeof si;
  si.fMask = SIF_RANGE | SIF_PAGE;
  ::GetScrollInfo(window_, SB_VERT, &si);
  const int max = std::max(0, si.nMax - static_cast<int>(si.nPage) + 1);
  pos = std::clamp(pos, 0, max);
  if (pos == scroll_pos_) return;
  scroll_pos_ = pos;
  si.fMask = SIF_POS;
  si.nPos = pos;
  ::SetScrollInfo(window_, SB_VERT, &si, TRUE);
  ::SetWindowPos(client_, nullptr, 0, -scroll_pos_, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

LRESULT MainView::OnWindow(UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case kMirrorLaterMessage:
      later_posted_ = false;
      if (later_ != nullptr) Mirror(*later_);
      return 0;
    case WM_ACTIVATE: {
      const LRESULT r = ::DefWindowProcW(window_, msg, wp, lp);
      if (LOWORD(wp) != WA_INACTIVE && HIWORD(wp) == 0)
        gate_.Enter([weak = std::weak_ptr<bool>(alive_), this] {
          if (weak.lock()) form_.FormActivate(&form_);
        });
      return r;
    }
    case WM_CLOSE:
      ::DestroyWindow(window_);
      return 0;
    case WM_DESTROY:
      // Closed by the user: the program ends.
      ::PostQuitMessage(0);
      return 0;
    case WM_VSCROLL: {
      SCROLLINFO si{};
      si.cbSize = sizeof si;
      si.fMask = SIF_ALL;
      ::GetScrollInfo(window_, SB_VERT, &si);
      int pos = scroll_pos_;
      const int line = S(16, ctx_.dpi);
      switch (LOWORD(wp)) {
        case SB_LINEUP:
          pos -= line;
          break;
        case SB_LINEDOWN:
          pos += line;
          break;
        case SB_PAGEUP:
          pos -= static_cast<int>(si.nPage);
          break;
        case SB_PAGEDOWN:
          pos += static_cast<int>(si.nPage);
          break;
        case SB_THUMBTRACK:  // the contents follow the thumb while it is dragged
        case SB_THUMBPOSITION:
          pos = si.nTrackPos;
          break;
        case SB_TOP:
          pos = 0;
          break;
        case SB_BOTTOM:
          pos = si.nMax;
          break;
        default:
          break;
      }
      Scroll(pos);
      return 0;
    }
    case WM_MOUSEWHEEL:
      if (form_.VertScrollBarVisible) {
        const int delta = GET_WHEEL_DELTA_WPARAM(wp);
        Scroll(scroll_pos_ - delta * S(48, ctx_.dpi) / WHEEL_DELTA);
      }
      return 0;
    case WM_MOUSEHWHEEL:
      return 0;
    case WM_DPICHANGED: {
      SetDpi(HIWORD(wp));
      const auto* suggested = reinterpret_cast<const RECT*>(lp);
      ::SetWindowPos(window_, nullptr, suggested->left, suggested->top, 0, 0,
                     SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
      FitWindow();
      return 0;
    }
    case WM_MENUSELECT:
      if (menu_bar_) menu_bar_->MenuSelect(wp, lp);
      return 0;
    case WM_SYSCOMMAND:
      // The keyboard's way into a menu (Alt, F10) is the menu bar's.
      if ((wp & 0xFFF0) == SC_KEYMENU && lp != L' ') {
        if (lp == 0) menu_bar_->ToggleActive();
        return 0;
      }
      break;
    default:
      break;
  }
  return ::DefWindowProcW(window_, msg, wp, lp);
}

LRESULT MainView::OnClient(UINT msg, WPARAM wp, LPARAM lp, bool& handled) {
  handled = true;
  switch (msg) {
    case WM_COMMAND: {
      const auto from = reinterpret_cast<HWND>(lp);
      Bound* b = BoundOf(from);
      if (b == nullptr) break;
      if (b->kind == Kind::kSpeedList) {
        speed_list_->Command(HIWORD(wp));
        return 0;
      }
      if (HIWORD(wp) != BN_CLICKED || clicking_ != from) return 0;
      // A click of the user's: the model decides what it does; the control shows the
      // model's state afterwards.
      TControl* model = b->model;
      if (auto* button = dynamic_cast<TTeButton*>(model))
        gate_.Enter([button] { button->Click(); });
      else if (auto* box = dynamic_cast<TTeCheckBox*>(model))
        gate_.Enter([box] { box->Click(); });
      else if (auto* radio = dynamic_cast<TTeRadioButton*>(model))
        gate_.Enter([radio] { radio->Click(); });
      Mirror(*b);
      return 0;
    }
    case WM_NOTIFY: {
      const auto* hdr = reinterpret_cast<const NMHDR*>(lp);
      if (hdr->code == UDN_DELTAPOS) {
        for (auto& [control, spin] : spin_edits_)
          if (spin->UpDown() == hdr->hwndFrom)
            return spin->DeltaPos(*reinterpret_cast<const NMUPDOWN*>(lp));
      }
      break;
    }
    case WM_MEASUREITEM: {
      auto* m = reinterpret_cast<MEASUREITEMSTRUCT*>(lp);
      if (m->CtlType == ODT_COMBOBOX) {
        SpeedListBinding::Measure(*m, ctx_.dpi);
        return TRUE;
      }
      break;
    }
    case WM_DRAWITEM: {
      const auto* d = reinterpret_cast<const DRAWITEMSTRUCT*>(lp);
      if (d->CtlType == ODT_STATIC) {
        ::FillRect(d->hDC, &d->rcItem, face_brush_);
        const int saved = ::SaveDC(d->hDC);
        ::SelectObject(d->hDC, fonts_.Get(FontRole::kWindow));
        ::SetBkMode(d->hDC, TRANSPARENT);
        ::SetTextColor(d->hDC, ::GetSysColor(::IsWindowEnabled(d->hwndItem) ? COLOR_WINDOWTEXT
                                                                            : COLOR_GRAYTEXT));
        DrawFittedText(d->hDC, WindowText(d->hwndItem), d->rcItem);
        ::RestoreDC(d->hDC, saved);
        return TRUE;
      }
      if (d->CtlType == ODT_COMBOBOX && speed_list_ && d->hwndItem == speed_list_->Combo()) {
        speed_list_->Draw(*d);
        return TRUE;
      }
      break;
    }
    case WM_CTLCOLORSTATIC: {
      const auto dc = reinterpret_cast<HDC>(wp);
      Bound* b = BoundOf(reinterpret_cast<HWND>(lp));
      if (b != nullptr && b->kind == Kind::kMemo) {
        // The log's one text colour, on white.
        ::SetTextColor(dc, static_cast<COLORREF>(static_cast<TTeMemo&>(*b->model).FontColor()));
        ::SetBkColor(dc, RGB(255, 255, 255));
        return reinterpret_cast<LRESULT>(white_brush_);
      }
      ::SetTextColor(dc, ::GetSysColor(COLOR_WINDOWTEXT));
      ::SetBkColor(dc, ::GetSysColor(COLOR_BTNFACE));
      return reinterpret_cast<LRESULT>(face_brush_);
    }
    case WM_CTLCOLORBTN:
      return reinterpret_cast<LRESULT>(face_brush_);
    case WM_MOUSEWHEEL:
    case WM_MOUSEHWHEEL:
      ctx_.ForwardWheel(msg, wp, lp);
      return 0;
    default:
      break;
  }
  handled = false;
  return 0;
}

LRESULT MainView::OnControl(Bound& b, HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_MOUSEWHEEL:
    case WM_MOUSEHWHEEL:
      ctx_.ForwardWheel(msg, wp, lp);
      return 0;
    case WM_SETFOCUS:
      NoteFocus(hwnd);
      break;
    case WM_LBUTTONUP:
    case BM_CLICK:
    case WM_KEYUP:
      if (b.kind == Kind::kPushButton || b.kind == Kind::kCheckBox ||
          b.kind == Kind::kRadioButton) {
        if (msg == WM_KEYUP && wp != VK_SPACE) break;
        HWND before = clicking_;
        clicking_ = hwnd;
        const LRESULT r = ::DefSubclassProc(hwnd, msg, wp, lp);
        clicking_ = before;
        return r;
      }
      break;
    case WM_ERASEBKGND:
      // A group box paints its frame and caption only; its inside is the window's face.
      if (b.kind == Kind::kGroupBox) {
        RECT r{};
        ::GetClientRect(hwnd, &r);
        ::FillRect(reinterpret_cast<HDC>(wp), &r, face_brush_);
        return TRUE;
      }
      break;
    case WM_SETCURSOR:
      if (b.kind == Kind::kMemo) {
        ::SetCursor(::LoadCursorW(nullptr, IDC_ARROW));
        return TRUE;
      }
      break;
    case WM_GETOBJECT: {
      bool handled = false;
      const LRESULT r = accessible_names_.Answer(hwnd, wp, lp, handled);
      if (handled) return r;
      break;
    }
    case WM_PASTE:
    case WM_CUT:
    case WM_CLEAR:
    case WM_UNDO:
    case WM_SETTEXT:
      // The log shows the model's lines only; the view's own WM_SETTEXT comes through.
      if (b.kind == Kind::kMemo && msg != WM_SETTEXT) return 0;
      break;
    default:
      break;
  }
  return ::DefSubclassProc(hwnd, msg, wp, lp);
}

LRESULT CALLBACK MainView::WindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  bool created = false;
  auto* self = WindowOwner<MainView>(hwnd, msg, lp, created);
  // Without its view (being destroyed by its owner) the window ends nothing.
  if (self == nullptr) return ::DefWindowProcW(hwnd, msg, wp, lp);
  if (created) self->window_ = hwnd;
  return self->OnWindow(msg, wp, lp);
}

LRESULT CALLBACK MainView::ClientProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  bool created = false;
  auto* self = WindowOwner<MainView>(hwnd, msg, lp, created);
  if (self != nullptr) {
    bool handled = false;
    const LRESULT r = self->OnClient(msg, wp, lp, handled);
    if (handled) return r;
  }
  return ::DefWindowProcW(hwnd, msg, wp, lp);
}

LRESULT CALLBACK MainView::ControlProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR,
                                       DWORD_PTR ref) {
  auto* b = reinterpret_cast<Bound*>(ref);
  auto* self = reinterpret_cast<MainView*>(::GetWindowLongPtrW(::GetParent(hwnd), GWLP_USERDATA));
  if (self == nullptr) return ::DefSubclassProc(hwnd, msg, wp, lp);
  return self->OnControl(*b, hwnd, msg, wp, lp);
}

// --- size and place --------------------------------------------------------------

void MainView::SetDpi(int dpi) {
  if (dpi == ctx_.dpi) return;
  ctx_.dpi = dpi;
  fonts_.SetDpi(dpi);
  if (query_images_ != nullptr) {
    HIMAGELIST images = QueryImages(S(16, dpi));
    if (images != nullptr) {
      BUTTON_IMAGELIST list{images, RECT{S(2, dpi), 0, 0, 0}, BUTTON_IMAGELIST_ALIGN_LEFT};
      ::SendMessageW(HandleOf(form_.TeButton5), BCM_SETIMAGELIST, 0,
                     reinterpret_cast<LPARAM>(&list));
      ::ImageList_Destroy(query_images_);
      query_images_ = images;
    }
  }
  // Every control at its new place, with its fonts made again.
  for (auto& b : bound_) b->placed_once = false;
  Layout();
}

void MainView::FitWindow() {
  const int dpi = ctx_.dpi;
  const bool scroll = form_.VertScrollBarVisible;
  DWORD style = kWindowStyle | (scroll ? WS_VSCROLL : 0);
  ::SetWindowLongW(window_, GWL_STYLE,
                   static_cast<LONG>(style | (::GetWindowLongW(window_, GWL_STYLE) & WS_VISIBLE)));
  const int client_w = S(form_.ClientWidth, dpi);
  const int client_h = S(form_.ClientHeight, dpi);
  RECT outer = OuterRect(RECT{0, 0, client_w, client_h}, kWindowStyle, 0, dpi);
  int width = outer.right - outer.left;
  int height = outer.bottom - outer.top;
  if (scroll) {
    // Shortened to the screen; wider by the scroll bar, so the client stays 434 wide.
    height = S(form_.OuterHeight, dpi);
    width += MetricForDpi(SM_CXVSCROLL, dpi);
  }
  ::SetWindowPos(window_, nullptr, 0, 0, width, height,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED);
  if (scroll) {
    RECT client{};
    ::GetClientRect(window_, &client);
    SCROLLINFO si{};
    si.cbSize = sizeof si;
    si.fMask = SIF_RANGE | SIF_PAGE | SIF_POS;
    si.nMin = 0;
    si.nMax = client_h - 1;
    si.nPage = static_cast<UINT>(client.bottom);
    si.nPos = scroll_pos_;
    ::SetScrollInfo(window_, SB_VERT, &si, TRUE);
  }
}

void MainView::CentreOnScreen() {
  RECT r{};
  ::GetWindowRect(window_, &r);
  HMONITOR monitor = ::MonitorFromWindow(window_, MONITOR_DEFAULTTOPRIMARY);
  MONITORINFO info{};
  info.cbSize = sizeof info;
  ::GetMonitorInfoW(monitor, &info);
  const RECT work = info.rcWork;
  const int w = r.right - r.left, h = r.bottom - r.top;
  const int x = std::max<int>(work.left, work.left + (work.right - work.left - w) / 2);
  const int y = std::max<int>(work.top, work.top + (work.bottom - work.top - h) / 2);
  ::SetWindowPos(window_, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void MainView::Show(int show_command) {
  ::ShowWindow(window_, show_command);
  ::UpdateWindow(window_);
}

}  // namespace ornat::win32
