// The Win32 window's side of the view kit: for each kind of control model, the native
// control that shows it (a standard control, or one of our own window classes), bound
// to it: how it is placed, how it mirrors the model, and which "user" method of the
// model a click reaches. Every control carries its model's name as the window property
// "OrnatName" and is subclassed by the view (MainView::ControlProc).

#include "win32/main_view.h"

#include <commctrl.h>
#include <imm.h>
#include <uxtheme.h>

#include "text/wide.h"
#include "ui/toolkit/control_visitor.h"
#include "win32/dpi.h"
#include "win32/menu_bar.h"
#include "win32/speed_list.h"
#include "win32/spin_edit.h"
#include "win32/status_grid.h"

namespace ornat::win32 {

namespace {
constexpr int kQueryIconId = 2;  // the retry picture (res/ornat.rc)

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

// Moves a control to r.
void MoveTo(HWND hwnd, const RECT& r) {
  ::SetWindowPos(hwnd, nullptr, r.left, r.top, r.right - r.left, r.bottom - r.top,
                 SWP_NOZORDER | SWP_NOACTIVATE);
}
}  // namespace

// Fills in the Bound of the control it visits: its kind, its window (a child of the
// client area with the control id `id`) and its bindings.
class MainView::ControlFactory : public ControlVisitor {
 public:
  ControlFactory(MainView& view, Bound& b, int id) : view_(view), b_(b), id_(id) {}

  void Visit(TTeMenuBar& m) override {
    b_.kind = Kind::kMenuBar;
    view_.menu_bar_ = std::make_unique<MenuBar>(m, view_.ctx_, view_.client_);
    MainView* view = &view_;
    view_.menu_bar_->SetHintView([view](const std::string& hint) { view->ShowMenuHint(hint); });
    BindOwnClass(view_.menu_bar_.get());
  }

  void Visit(TStatusBar& s) override {
    b_.kind = Kind::kStatusBar;
    HWND hwnd = b_.hwnd =
        Make(STATUSCLASSNAMEW, WS_VISIBLE | CCS_NOPARENTALIGN | CCS_NORESIZE | CCS_NODIVIDER);
    view_.status_bar_ = hwnd;
    MainView* view = &view_;
    b_.place = [view, hwnd, &s](const RECT& r) { view->PlaceStatusBar(hwnd, s, r); };
    b_.mirror = [view, hwnd, &s] { view->MirrorStatusBar(hwnd, s); };
  }

  void Visit(TTeGroupBox& g) override {
    b_.kind = Kind::kGroupBox;
    b_.hwnd = Make(L"BUTTON", WS_VISIBLE | BS_GROUPBOX);
    b_.captioned = &g;
  }

  void Visit(TTeLabel& l) override {
    b_.kind = Kind::kLabel;
    // Drawn here (WM_DRAWITEM), so that a text wider than its label fits; the window
    // text is the caption, as ever.
    b_.hwnd = Make(L"STATIC", WS_VISIBLE | SS_OWNERDRAW | SS_NOPREFIX);
    b_.captioned = &l;
  }

  void Visit(TTeButton& button) override {
    b_.kind = Kind::kPushButton;
    b_.hwnd = Make(L"BUTTON", WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON);
    b_.captioned = &button;
    b_.click = [&button] { button.Click(); };
    if (&button == &view_.form_.TeButton5) view_.ShowQueryPicture(b_.hwnd);
  }

  void Visit(TTeCheckBox& box) override {
    b_.kind = Kind::kCheckBox;
    HWND hwnd = b_.hwnd = Make(L"BUTTON", WS_VISIBLE | WS_TABSTOP | BS_CHECKBOX);
    b_.captioned = &box;
    b_.click = [&box] { box.Click(); };
    b_.mirror = [hwnd, &box] {
      ::SendMessageW(hwnd, BM_SETCHECK, box.Checked() ? BST_CHECKED : BST_UNCHECKED, 0);
    };
  }

  void Visit(TTeRadioButton& radio) override {
    b_.kind = Kind::kRadioButton;
    HWND hwnd = b_.hwnd = Make(L"BUTTON", WS_VISIBLE | WS_TABSTOP | BS_RADIOBUTTON);
    b_.captioned = &radio;
    b_.click = [&radio] { radio.Click(); };
    b_.mirror = [hwnd, &radio] {
      ::SendMessageW(hwnd, BM_SETCHECK, radio.Checked() ? BST_CHECKED : BST_UNCHECKED, 0);
    };
    // Named for screen readers by the label beside it (accessible_name.h).
    if (const TTeLabel* label = LabelBeside(radio, view_.form_.AllControls()))
      view_.accessible_names_.Name(hwnd, Wide(label->Caption()));
  }

  void Visit(TTeSpinEdit& editor) override {
    b_.kind = Kind::kSpinEdit;
    const int border = &editor == &view_.form_.TeSpinEdit2 ? 3 : 1;
    auto binding = std::make_unique<SpinEditBinding>(editor, view_.ctx_, view_.client_, border);
    SpinEditBinding* spin = binding.get();
    b_.hwnd = spin->Edit();
    b_.buddy = spin->UpDown();
    ::SetWindowLongPtrW(b_.hwnd, GWLP_ID, id_);
    view_.NameWindow(spin->UpDown(), editor.Name() + "_UpDown");
    b_.place = [spin, &fonts = view_.fonts_](const RECT& r) {
      ::SendMessageW(spin->Edit(), WM_SETFONT,
                     reinterpret_cast<WPARAM>(fonts.Get(FontRole::kEditor)), FALSE);
      spin->Place(r);
    };
    b_.mirror = [spin] { spin->Mirror(); };
    view_.spin_edits_[&editor] = std::move(binding);
  }

  void Visit(TTeSComboBox& combo) override {
    b_.kind = Kind::kSpeedList;
    view_.speed_list_ = std::make_unique<SpeedListBinding>(combo, view_.ctx_, view_.client_, id_);
    SpeedListBinding* list = view_.speed_list_.get();
    b_.hwnd = list->Combo();
    b_.place = [list, &fonts = view_.fonts_](const RECT& r) {
      ::SendMessageW(list->Combo(), WM_SETFONT,
                     reinterpret_cast<WPARAM>(fonts.Get(FontRole::kSpeedList)), FALSE);
      list->Place(r);
    };
    b_.mirror = [list] { list->Mirror(); };
  }

  void Visit(TTeMemo& memo) override {
    b_.kind = Kind::kMemo;
    HWND hwnd = b_.hwnd =
        Make(L"EDIT",
             WS_VISIBLE | WS_TABSTOP | ES_MULTILINE | ES_READONLY | ES_AUTOHSCROLL | ES_AUTOVSCROLL,
             WS_EX_CLIENTEDGE);
    ::ImmAssociateContextEx(hwnd, nullptr, 0);
    MainView* view = &view_;
    b_.place = [hwnd, &fonts = view_.fonts_](const RECT& r) {
      ::SendMessageW(hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(fonts.Get(FontRole::kLog)), FALSE);
      MoveTo(hwnd, r);
    };
    b_.mirror = [view, hwnd, &memo] { view->MirrorMemo(hwnd, memo); };
    b_.text_color = [&memo] { return memo.FontColor(); };
  }

  void Visit(TTeStringGrid& grid) override {
    b_.kind = Kind::kGrid;
    view_.grid_ = std::make_unique<StatusGridView>(grid, view_.ctx_, view_.client_);
    BindOwnClass(view_.grid_.get());
  }

  void Visit(TTeProgressBar& bar) override {
    b_.kind = Kind::kProgress;
    // In blocks, as the definition has it: the classic look (the visual style's bar is
    // one smooth strip).
    HWND hwnd = b_.hwnd = Make(PROGRESS_CLASSW, WS_BORDER);
    ::SetWindowTheme(hwnd, L" ", L" ");
    b_.mirror = [hwnd, &bar] {
      ::SendMessageW(hwnd, PBM_SETRANGE32, static_cast<WPARAM>(bar.Min()), bar.Max());
      ::SendMessageW(hwnd, PBM_SETPOS, static_cast<WPARAM>(bar.Position()), 0);
    };
  }

 private:
  // A control of a window class of our own (the menu bar, the status grid): placed in
  // the window's font, mirrored by itself.
  template <class OwnClass>
  void BindOwnClass(OwnClass* shown) {
    b_.hwnd = shown->Hwnd();
    b_.place = [shown, &fonts = view_.fonts_](const RECT& r) {
      shown->Place(r, fonts.Get(FontRole::kWindow));
    };
    b_.mirror = [shown] { shown->Mirror(); };
  }

  HWND Make(const wchar_t* cls, DWORD style, DWORD ex = 0) const {
    return ::CreateWindowExW(ex, cls, L"", WS_CHILD | WS_CLIPSIBLINGS | style, 0, 0, 0, 0,
                             view_.client_, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id_)),
                             ::GetModuleHandleW(nullptr), nullptr);
  }

  MainView& view_;
  Bound& b_;
  int id_;
};

void MainView::Build(TControl& control, int id) {
  auto bound = std::make_unique<Bound>();
  Bound& b = *bound;
  b.model = &control;
  ControlFactory factory(*this, b, id);
  control.Accept(factory);
  NameWindow(b.hwnd, control.Name());
  ::SetWindowSubclass(b.hwnd, &MainView::ControlProc, kSubclassId, reinterpret_cast<DWORD_PTR>(&b));
  by_control_[&control] = &b;
  by_hwnd_[b.hwnd] = &b;
  bound_.push_back(std::move(bound));
}

void MainView::NameWindow(HWND hwnd, const std::string& name) {
  const ATOM atom = ::GlobalAddAtomW(Wide(name).c_str());
  atoms_.push_back(atom);
  ::SetPropW(hwnd, kNameProperty, reinterpret_cast<HANDLE>(static_cast<UINT_PTR>(atom)));
}

void MainView::ShowQueryPicture(HWND button) {
  const int dpi = ctx_.dpi;
  HIMAGELIST images = QueryImages(Scale(16, dpi));
  if (images == nullptr) return;
  BUTTON_IMAGELIST list{images, RECT{Scale(2, dpi), 0, 0, 0}, BUTTON_IMAGELIST_ALIGN_LEFT};
  ::SendMessageW(button, BCM_SETIMAGELIST, 0, reinterpret_cast<LPARAM>(&list));
  if (query_images_ != nullptr) ::ImageList_Destroy(query_images_);
  query_images_ = images;
}

}  // namespace ornat::win32
