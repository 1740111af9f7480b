#include "win32/message_loop.h"

#include <timeapi.h>

#ifndef CREATE_WAITABLE_TIMER_HIGH_RESOLUTION
#define CREATE_WAITABLE_TIMER_HIGH_RESOLUTION 0x00000002
#endif

namespace ornat::win32 {

namespace {
constexpr UINT kWakeMessage = WM_APP + 1;
constexpr UINT_PTR kRelayTimer = 1;
constexpr const wchar_t* kWakeClass = L"OrnatMessageLoopWake";

EventQueue::TimePoint SteadyNow() {
  return EventQueue::Clock::now();
}
}  // namespace

MessageLoop::MessageLoop(HandlerGate& gate)
    : gate_(gate),
      ui_thread_(::GetCurrentThreadId()),
      start_(SteadyNow()),
      queue_(SteadyNow, [this] { Wake(); }) {
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = &MessageLoop::WakeProc;
  wc.hInstance = ::GetModuleHandleW(nullptr);
  wc.lpszClassName = kWakeClass;
  ::RegisterClassExW(&wc);  // a second loop finds it registered
  wake_hwnd_ = ::CreateWindowExW(0, kWakeClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                 wc.hInstance, nullptr);
  ::SetWindowLongPtrW(wake_hwnd_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  // Windows 10 1803 and later; elsewhere a plain timer on a 1 ms tick.
  timer_ = ::CreateWaitableTimerExW(nullptr, nullptr, CREATE_WAITABLE_TIMER_HIGH_RESOLUTION,
                                    TIMER_ALL_ACCESS);
  if (timer_ != nullptr) {
    high_resolution_ = true;
  } else {
    tick_set_ = ::timeBeginPeriod(1) == TIMERR_NOERROR;
    timer_ = ::CreateWaitableTimerExW(nullptr, nullptr, 0, TIMER_ALL_ACCESS);
  }
}

MessageLoop::~MessageLoop() {
  if (wake_hwnd_ != nullptr) {
    ::KillTimer(wake_hwnd_, kRelayTimer);
    ::SetWindowLongPtrW(wake_hwnd_, GWLP_USERDATA, 0);
    ::DestroyWindow(wake_hwnd_);
  }
  if (timer_ != nullptr) ::CloseHandle(timer_);
  if (tick_set_) ::timeEndPeriod(1);
}

const char* MessageLoop::TimerKind() const {
  if (high_resolution_) return "high-resolution waitable timer";
  return tick_set_ ? "waitable timer, 1 ms tick" : "waitable timer";
}

Scheduler::TaskId MessageLoop::ScheduleAfter(Micros delay, std::function<void()> task) {
  if (delay < Micros(0)) delay = Micros(0);
  // The loop sets the waitable timer to the earliest task each time before it waits.
  return queue_.Schedule(SteadyNow() + delay, std::move(task));
}

void MessageLoop::Cancel(TaskId id) {
  queue_.Cancel(id);
}

Micros MessageLoop::Now() const {
  return std::chrono::duration_cast<Micros>(SteadyNow() - start_);
}

void MessageLoop::Post(std::function<void()> work) {
  queue_.Post([this, w = std::move(work)]() mutable { gate_.Enter(std::move(w)); });
}

void MessageLoop::Send(std::function<void()> work) {
  if (OnUiThread()) {
    work();
    return;
  }
  sync_.Call(std::move(work), [this] {
    wake_pending_.store(true);
    ::PostMessageW(wake_hwnd_, kWakeMessage, 0, 0);
  });
}

void MessageLoop::ServeSynchronous() {
  sync_.ServeAll();
}

bool MessageLoop::OnUiThread() const {
  return ::GetCurrentThreadId() == ui_thread_;
}

void MessageLoop::Wake() {
  // One wake-up message at a time is enough: its handling takes all that is queued.
  if (!wake_pending_.exchange(true)) ::PostMessageW(wake_hwnd_, kWakeMessage, 0, 0);
}

LRESULT CALLBACK MessageLoop::WakeProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  auto* self = reinterpret_cast<MessageLoop*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (self != nullptr && (msg == kWakeMessage || (msg == WM_TIMER && wp == kRelayTimer))) {
    if (msg == kWakeMessage) self->wake_pending_.store(false);
    self->RunDue();
    return 0;
  }
  return ::DefWindowProcW(hwnd, msg, wp, lp);
}

void MessageLoop::EnterNested() {
  if (nested_++ == 0) ::SetTimer(wake_hwnd_, kRelayTimer, USER_TIMER_MINIMUM, nullptr);
}

void MessageLoop::LeaveNested() {
  if (--nested_ == 0) ::KillTimer(wake_hwnd_, kRelayTimer);
}

void MessageLoop::RunDue() {
  EnterNested();
  sync_.ServeAll();
  queue_.RunDue();
  LeaveNested();
}

void MessageLoop::ArmTimer() {
  const auto next = queue_.NextDue();
  if (!next || timer_ == nullptr) {
    if (timer_ != nullptr) ::CancelWaitableTimer(timer_);
    return;
  }
  // Relative due time in 100 ns units, rounded up (never early), negative.
  const auto left = *next - SteadyNow();
  const auto ticks =
      std::chrono::ceil<std::chrono::duration<long long, std::ratio<1, 10000000>>>(left).count();
  LARGE_INTEGER due;
  due.QuadPart = -(ticks > 0 ? ticks : 1);
  ::SetWaitableTimer(timer_, &due, 0, nullptr, nullptr, FALSE);
}

bool MessageLoop::Pump(const Filter& filter, int& exit_code) {
  MSG msg;
  while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) {
      exit_code = static_cast<int>(msg.wParam);
      return false;
    }
    EnterNested();
    if (!filter || !filter(msg)) {
      ::TranslateMessage(&msg);
      ::DispatchMessageW(&msg);
    }
    LeaveNested();
    RunDue();
  }
  RunDue();
  return true;
}

int MessageLoop::Run(const Filter& filter) {
  int exit_code = 0;
  while (Pump(filter, exit_code)) {
    ArmTimer();
    const DWORD n = timer_ != nullptr ? 1 : 0;
    ::MsgWaitForMultipleObjectsEx(n, &timer_, INFINITE, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
  }
  return exit_code;
}

bool MessageLoop::RunUntil(const std::function<bool()>& pred, Millis timeout,
                           const Filter& filter) {
  const auto until = SteadyNow() + timeout;
  int exit_code = 0;
  while (!pred()) {
    if (!Pump(filter, exit_code)) {
      ::PostQuitMessage(exit_code);  // for the loop around
      return pred();
    }
    if (pred()) return true;
    const auto now = SteadyNow();
    if (now >= until) return pred();
    ArmTimer();
    const auto left = std::chrono::ceil<Millis>(until - now).count();
    const DWORD n = timer_ != nullptr ? 1 : 0;
    ::MsgWaitForMultipleObjectsEx(n, &timer_, static_cast<DWORD>(left), QS_ALLINPUT,
                                  MWMO_INPUTAVAILABLE);
  }
  return true;
}

}  // namespace ornat::win32
