// gui_driver: drives ornat.exe from a process of its own, as a screen reader or a test
// tool does, through the window's standard controls only: FindWindowW by the caption,
// EnumChildWindows, each control's name (its "OrnatName" property), class, rectangle,
// window text and state, BM_CLICK, posted keys and wheel turns, and a picture of the
// window. It reads one command a line on stdin and answers each on stdout, so the test
// on the other side plays its part between the steps. Texts travel as UTF-8 with \t,
// \n, \r and \\ escaped.
//
//   find CAPTION MS          waits for the window: "ok"
//   window                   "window DPI LEFT TOP WIDTH HEIGHT CLIENTW CLIENTH STYLE CAPTION"
//   controls                 "control NAME CLASS LEFT TOP WIDTH HEIGHT VISIBLE ENABLED
//                            CHECK TEXT" each (client coordinates of the window), "end"
//   panels                   "panel I LEFT TOP WIDTH HEIGHT TEXT" each, "end"
//   text NAME                "text TEXT"
//   name NAME                the control's name as a screen reader asks for it
//                            (AccessibleObjectFromWindow, IAccessible::get_accName):
//                            "name TEXT"
//   wait NAME PART MS        waits until NAME's text contains PART: "ok" or "timeout TEXT"
//   click NAME               BM_CLICK: "ok"
//   press NAME X Y           a left click at X,Y of the control (posted): "ok"
//   key NAME VK [sys]        WM_KEYDOWN/UP (WM_SYSKEYDOWN/UP) posted to NAME: "ok"
//   char NAME CODE [sys]     WM_CHAR (WM_SYSCHAR) with a UTF-16 code posted to NAME: "ok"
//   wheel NAME DELTA         WM_MOUSEWHEEL over NAME's middle, posted to NAME: "ok"
//   settext NAME TEXT        WM_SETTEXT: "ok"
//   paste NAME TEXT          TEXT on the clipboard, WM_PASTE to NAME: "ok"
//   focus                    the name of the control with the focus: "focus NAME"
//   boxes                    the message boxes open: "box CAPTION TEXT" each, "end"
//   answer BUTTON            presses a button of the open message box ("&Yes"): "ok"
//   shot FILE                the window's picture as a 24-bit BMP: "ok W H"
//   close                    WM_CLOSE to the window: "ok"
//   sleep MS                 "ok"
//   quit
// A command that cannot be done answers "error WHY".

#include <windows.h>

#include <commctrl.h>
// The interface ids defined here: the import library's IID_IAccessible is no id.
#include <initguid.h>
#include <oleacc.h>

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::wstring Wide(const std::string& s) {
  if (s.empty()) return {};
  const int n = ::MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
  std::wstring w(static_cast<std::size_t>(n), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), w.data(), n);
  return w;
}

std::string Utf8(const std::wstring& w) {
  if (w.empty()) return {};
  const int n = ::WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), nullptr, 0,
                                      nullptr, nullptr);
  std::string s(static_cast<std::size_t>(n), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), s.data(), n, nullptr,
                        nullptr);
  return s;
}

std::string Escape(const std::string& s) {
  std::string out;
  for (char c : s) {
    switch (c) {
      case '\\':
        out += "\\\\";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      default:
        out += c;
    }
  }
  return out;
}

std::string Unescape(const std::string& s) {
  std::string out;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] != '\\' || i + 1 == s.size()) {
      out += s[i];
      continue;
    }
    const char c = s[++i];
    out += c == 't' ? '\t' : c == 'n' ? '\n' : c == 'r' ? '\r' : c == 's' ? ' ' : c;
  }
  return out;
}

void Say(const std::string& line) {
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

HWND g_window = nullptr;

std::wstring TextOf(HWND hwnd) {
  DWORD_PTR length = 0;
  if (!::SendMessageTimeoutW(hwnd, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 5000, &length))
    return {};
  std::wstring text(length + 1, L'\0');
  DWORD_PTR got = 0;
  ::SendMessageTimeoutW(hwnd, WM_GETTEXT, length + 1, reinterpret_cast<LPARAM>(text.data()),
                        SMTO_ABORTIFHUNG, 5000, &got);
  text.resize(got);
  return text;
}

std::string NameOf(HWND hwnd) {
  const auto atom = static_cast<ATOM>(reinterpret_cast<UINT_PTR>(::GetPropW(hwnd, L"OrnatName")));
  if (atom == 0) return {};
  wchar_t name[256] = {};
  const UINT n = ::GlobalGetAtomNameW(atom, name, 256);
  return Utf8(std::wstring(name, n));
}

struct Found {
  std::string name;
  HWND hwnd = nullptr;
};

BOOL CALLBACK Collect(HWND hwnd, LPARAM lp) {
  auto* all = reinterpret_cast<std::vector<Found>*>(lp);
  const std::string name = NameOf(hwnd);
  if (!name.empty()) all->push_back(Found{name, hwnd});
  return TRUE;
}

std::vector<Found> Controls() {
  std::vector<Found> all;
  if (g_window != nullptr) ::EnumChildWindows(g_window, &Collect, reinterpret_cast<LPARAM>(&all));
  return all;
}

HWND Control(const std::string& name) {
  for (const Found& f : Controls())
    if (f.name == name) return f.hwnd;
  return nullptr;
}

RECT InClient(HWND hwnd) {
  RECT r{};
  ::GetWindowRect(hwnd, &r);
  POINT origin{0, 0};
  ::ClientToScreen(g_window, &origin);
  ::OffsetRect(&r, -origin.x, -origin.y);
  return r;
}

std::string RectText(const RECT& r) {
  return std::to_string(r.left) + " " + std::to_string(r.top) + " " +
         std::to_string(r.right - r.left) + " " + std::to_string(r.bottom - r.top);
}

// Memory in the window's process for the status bar's replies, which carry pointers.
class Remote {
 public:
  explicit Remote(HWND hwnd, std::size_t size) : size_(size) {
    DWORD pid = 0;
    ::GetWindowThreadProcessId(hwnd, &pid);
    process_ = ::OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid);
    if (process_ != nullptr)
      at_ = ::VirtualAllocEx(process_, nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
  }
  ~Remote() {
    if (at_ != nullptr) ::VirtualFreeEx(process_, at_, 0, MEM_RELEASE);
    if (process_ != nullptr) ::CloseHandle(process_);
  }
  Remote(const Remote&) = delete;
  Remote& operator=(const Remote&) = delete;
  bool Ok() const { return at_ != nullptr; }
  LPARAM Address() const { return reinterpret_cast<LPARAM>(at_); }
  bool Read(void* into, std::size_t n) const {
    SIZE_T got = 0;
    return ::ReadProcessMemory(process_, at_, into, n < size_ ? n : size_, &got) != FALSE;
  }

 private:
  HANDLE process_ = nullptr;
  void* at_ = nullptr;
  std::size_t size_;
};

void Panels() {
  HWND bar = Control("StatusBar1");
  if (bar == nullptr) return Say("error no status bar");
  const int parts = static_cast<int>(::SendMessageW(bar, SB_GETPARTS, 0, 0));
  Remote remote(bar, 4096);
  if (!remote.Ok()) return Say("error no memory in the window's process");
  RECT bar_rect = InClient(bar);
  for (int i = 0; i < parts; ++i) {
    RECT r{};
    ::SendMessageW(bar, SB_GETRECT, static_cast<WPARAM>(i), remote.Address());
    remote.Read(&r, sizeof r);
    ::OffsetRect(&r, bar_rect.left, bar_rect.top);
    const int length = LOWORD(::SendMessageW(bar, SB_GETTEXTLENGTHW, static_cast<WPARAM>(i), 0));
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    ::SendMessageW(bar, SB_GETTEXTW, static_cast<WPARAM>(i), remote.Address());
    remote.Read(text.data(), text.size() * sizeof(wchar_t));
    text.resize(static_cast<std::size_t>(length));
    Say("panel " + std::to_string(i) + " " + RectText(r) + " " + Escape(Utf8(text)));
  }
  Say("end");
}

BOOL CALLBACK CollectBoxes(HWND hwnd, LPARAM lp) {
  wchar_t cls[64] = {};
  ::GetClassNameW(hwnd, cls, 64);
  DWORD pid = 0, ours = 0;
  ::GetWindowThreadProcessId(hwnd, &pid);
  ::GetWindowThreadProcessId(g_window, &ours);
  if (std::wstring(cls) == L"#32770" && pid == ours && ::IsWindowVisible(hwnd))
    reinterpret_cast<std::vector<HWND>*>(lp)->push_back(hwnd);
  return TRUE;
}

std::vector<HWND> Boxes() {
  std::vector<HWND> boxes;
  ::EnumWindows(&CollectBoxes, reinterpret_cast<LPARAM>(&boxes));
  return boxes;
}

BOOL CALLBACK BoxText(HWND hwnd, LPARAM lp) {
  wchar_t cls[64] = {};
  ::GetClassNameW(hwnd, cls, 64);
  // The message is the static with the most text.
  auto* text = reinterpret_cast<std::wstring*>(lp);
  if (std::wstring(cls) == L"Static") {
    std::wstring t = TextOf(hwnd);
    if (t.size() > text->size()) *text = t;
  }
  return TRUE;
}

struct ButtonSearch {
  std::wstring caption;
  HWND found = nullptr;
};

BOOL CALLBACK FindButton(HWND hwnd, LPARAM lp) {
  auto* search = reinterpret_cast<ButtonSearch*>(lp);
  wchar_t cls[64] = {};
  ::GetClassNameW(hwnd, cls, 64);
  if (std::wstring(cls) == L"Button" && TextOf(hwnd) == search->caption) {
    search->found = hwnd;
    return FALSE;
  }
  return TRUE;
}

bool Shot(const std::string& path, int& width, int& height) {
  RECT r{};
  ::GetWindowRect(g_window, &r);
  width = r.right - r.left;
  height = r.bottom - r.top;
  HDC screen = ::GetDC(nullptr);
  HDC dc = ::CreateCompatibleDC(screen);
  BITMAPINFO bi{};
  bi.bmiHeader.biSize = sizeof bi.bmiHeader;
  bi.bmiHeader.biWidth = width;
  bi.bmiHeader.biHeight = height;  // bottom-up, as BMP files are
  bi.bmiHeader.biPlanes = 1;
  bi.bmiHeader.biBitCount = 24;
  bi.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HBITMAP bmp = ::CreateDIBSection(screen, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (bmp == nullptr) return false;
  HGDIOBJ old = ::SelectObject(dc, bmp);
  ::BitBlt(dc, 0, 0, width, height, screen, r.left, r.top, SRCCOPY | CAPTUREBLT);
  ::GdiFlush();
  ::SelectObject(dc, old);
  const DWORD stride = ((static_cast<DWORD>(width) * 3 + 3) / 4) * 4;
  const DWORD image = stride * static_cast<DWORD>(height);
  BITMAPFILEHEADER fh{};
  fh.bfType = 0x4D42;
  fh.bfOffBits = sizeof fh + sizeof bi.bmiHeader;
  fh.bfSize = fh.bfOffBits + image;
  bool ok = false;
  if (std::FILE* f = std::fopen(path.c_str(), "wb")) {
    ok = std::fwrite(&fh, sizeof fh, 1, f) == 1 &&
         std::fwrite(&bi.bmiHeader, sizeof bi.bmiHeader, 1, f) == 1 &&
         std::fwrite(bits, 1, image, f) == image;
    ok = std::fclose(f) == 0 && ok;
  }
  ::DeleteObject(bmp);
  ::DeleteDC(dc);
  ::ReleaseDC(nullptr, screen);
  return ok;
}

LPARAM PointIn(HWND hwnd, int x, int y) {
  (void)hwnd;
  return MAKELPARAM(x, y);
}

void Command(const std::string& line) {
  std::istringstream in(line);
  std::string verb;
  in >> verb;
  auto rest = [&] {
    std::string r;
    std::getline(in, r);
    if (!r.empty() && r[0] == ' ') r.erase(0, 1);
    return Unescape(r);
  };
  if (verb == "find") {
    std::string caption;
    int ms = 0;
    in >> caption >> ms;
    const std::wstring wanted = Wide(Unescape(caption));
    const DWORD until = ::GetTickCount() + static_cast<DWORD>(ms);
    do {
      g_window = ::FindWindowW(L"OrnatForm1", wanted.c_str());
      if (g_window != nullptr && ::IsWindowVisible(g_window)) return Say("ok");
      ::Sleep(50);
    } while (static_cast<LONG>(until - ::GetTickCount()) > 0);
    return Say("error no window");
  }
  if (verb == "sleep") {
    int ms = 0;
    in >> ms;
    ::Sleep(static_cast<DWORD>(ms));
    return Say("ok");
  }
  if (g_window == nullptr || !::IsWindow(g_window)) return Say("error no window");
  if (verb == "window") {
    RECT r{}, c{};
    ::GetWindowRect(g_window, &r);
    ::GetClientRect(g_window, &c);
    using Fn = UINT(WINAPI*)(HWND);
    auto dpi_of = reinterpret_cast<Fn>(reinterpret_cast<void*>(
        ::GetProcAddress(::GetModuleHandleW(L"user32.dll"), "GetDpiForWindow")));
    const UINT dpi = dpi_of != nullptr ? dpi_of(g_window) : 96;
    return Say("window " + std::to_string(dpi) + " " + RectText(r) + " " + std::to_string(c.right) +
               " " + std::to_string(c.bottom) + " " +
               std::to_string(static_cast<unsigned long>(::GetWindowLongW(g_window, GWL_STYLE))) +
               " " + Escape(Utf8(TextOf(g_window))));
  }
  if (verb == "controls") {
    for (const Found& f : Controls()) {
      wchar_t cls[64] = {};
      ::GetClassNameW(f.hwnd, cls, 64);
      const bool visible = (::GetWindowLongW(f.hwnd, GWL_STYLE) & WS_VISIBLE) != 0;
      const LRESULT check =
          std::wstring(cls) == L"Button" ? ::SendMessageW(f.hwnd, BM_GETCHECK, 0, 0) : 0;
      Say("control " + f.name + " " + Utf8(cls) + " " + RectText(InClient(f.hwnd)) + " " +
          (visible ? "1" : "0") + " " + (::IsWindowEnabled(f.hwnd) ? "1" : "0") + " " +
          std::to_string(check) + " " + Escape(Utf8(TextOf(f.hwnd))));
    }
    return Say("end");
  }
  if (verb == "panels") return Panels();
  if (verb == "focus") {
    DWORD tid = ::GetWindowThreadProcessId(g_window, nullptr);
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    ::GetGUIThreadInfo(tid, &info);
    return Say("focus " + (info.hwndFocus != nullptr ? NameOf(info.hwndFocus) : std::string()));
  }
  if (verb == "boxes") {
    for (HWND box : Boxes()) {
      std::wstring text;
      ::EnumChildWindows(box, &BoxText, reinterpret_cast<LPARAM>(&text));
      Say("box " + Escape(Utf8(TextOf(box))) + "\t" + Escape(Utf8(text)));
    }
    return Say("end");
  }
  if (verb == "answer") {
    const std::wstring caption = Wide(rest());
    for (HWND box : Boxes()) {
      ButtonSearch search{caption, nullptr};
      ::EnumChildWindows(box, &FindButton, reinterpret_cast<LPARAM>(&search));
      if (search.found != nullptr) {
        ::PostMessageW(search.found, BM_CLICK, 0, 0);
        return Say("ok");
      }
    }
    return Say("error no such button");
  }
  if (verb == "shot") {
    int w = 0, h = 0;
    if (!Shot(rest(), w, h)) return Say("error cannot write the picture");
    return Say("ok " + std::to_string(w) + " " + std::to_string(h));
  }
  if (verb == "close") {
    ::PostMessageW(g_window, WM_CLOSE, 0, 0);
    return Say("ok");
  }
  std::string name;
  in >> name;
  HWND target = Control(name);
  if (target == nullptr) return Say("error no control " + name);
  if (verb == "text") return Say("text " + Escape(Utf8(TextOf(target))));
  if (verb == "name") {
    IAccessible* acc = nullptr;
    if (FAILED(::AccessibleObjectFromWindow(target, static_cast<DWORD>(OBJID_CLIENT),
                                            IID_IAccessible, reinterpret_cast<void**>(&acc))) ||
        acc == nullptr)
      return Say("error no accessible object");
    VARIANT self{};
    self.vt = VT_I4;
    self.lVal = CHILDID_SELF;
    BSTR read = nullptr;
    const HRESULT hr = acc->get_accName(self, &read);
    acc->Release();
    if (FAILED(hr)) return Say("error get_accName failed");
    const std::wstring text = read != nullptr ? std::wstring(read, ::SysStringLen(read)) : L"";
    ::SysFreeString(read);
    return Say("name " + Escape(Utf8(text)));
  }
  if (verb == "wait") {
    std::string part;
    int ms = 0;
    in >> part >> ms;
    const std::wstring wanted = Wide(Unescape(part));
    const DWORD until = ::GetTickCount() + static_cast<DWORD>(ms);
    std::wstring text;
    do {
      text = TextOf(target);
      if (text.find(wanted) != std::wstring::npos) return Say("ok");
      ::Sleep(20);
    } while (static_cast<LONG>(until - ::GetTickCount()) > 0);
    return Say("timeout " + Escape(Utf8(text)));
  }
  if (verb == "click") {
    DWORD_PTR result = 0;
    ::SendMessageTimeoutW(target, BM_CLICK, 0, 0, SMTO_ABORTIFHUNG, 10000, &result);
    return Say("ok");
  }
  if (verb == "press") {
    int x = 0, y = 0;
    in >> x >> y;
    ::PostMessageW(target, WM_LBUTTONDOWN, MK_LBUTTON, PointIn(target, x, y));
    ::PostMessageW(target, WM_LBUTTONUP, 0, PointIn(target, x, y));
    return Say("ok");
  }
  if (verb == "key" || verb == "char") {
    unsigned code = 0;
    std::string sys;
    in >> code >> sys;
    const bool alt = sys == "sys";
    if (verb == "char") {
      ::PostMessageW(target, alt ? WM_SYSCHAR : WM_CHAR, code, alt ? (1 << 29) | 1 : 1);
    } else {
      ::PostMessageW(target, alt ? WM_SYSKEYDOWN : WM_KEYDOWN, code, alt ? (1 << 29) | 1 : 1);
      ::PostMessageW(target, alt ? WM_SYSKEYUP : WM_KEYUP, code,
                     (alt ? (1 << 29) : 0) | (1u << 30) | (1u << 31) | 1);
    }
    return Say("ok");
  }
  if (verb == "wheel") {
    int delta = 0;
    in >> delta;
    RECT r{};
    ::GetWindowRect(target, &r);
    ::PostMessageW(target, WM_MOUSEWHEEL, MAKEWPARAM(0, static_cast<short>(delta)),
                   MAKELPARAM((r.left + r.right) / 2, (r.top + r.bottom) / 2));
    return Say("ok");
  }
  if (verb == "settext") {
    const std::wstring text = Wide(rest());
    DWORD_PTR result = 0;
    ::SendMessageTimeoutW(target, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()),
                          SMTO_ABORTIFHUNG, 5000, &result);
    return Say("ok");
  }
  if (verb == "paste") {
    const std::wstring text = Wide(rest());
    if (!::OpenClipboard(nullptr)) return Say("error no clipboard");
    ::EmptyClipboard();
    HGLOBAL data = ::GlobalAlloc(GMEM_MOVEABLE, (text.size() + 1) * sizeof(wchar_t));
    if (auto* p = static_cast<wchar_t*>(::GlobalLock(data))) {
      std::copy(text.c_str(), text.c_str() + text.size() + 1, p);
      ::GlobalUnlock(data);
    }
    ::SetClipboardData(CF_UNICODETEXT, data);
    ::CloseClipboard();
    DWORD_PTR result = 0;
    ::SendMessageTimeoutW(target, WM_PASTE, 0, 0, SMTO_ABORTIFHUNG, 5000, &result);
    return Say("ok");
  }
  Say("error unknown command " + verb);
}

}  // namespace

int main() {
  // A client of the window's accessible objects, without a message loop of its own.
  ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  std::string line;
  while (std::getline(std::cin, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line == "quit") break;
    if (!line.empty()) Command(line);
  }
  ::CoUninitialize();
  return 0;
}
