#include "support/fake_win32_api.h"

#include <algorithm>
#include <chrono>
#include <cstring>

#include "text/utf16.h"

namespace ornat::testing {

using namespace win32;

namespace {

thread_local Dword t_last_error = 0;

std::uint64_t N(const void* p) {
  return static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(p));
}
Handle H(std::uint64_t n) {
  return reinterpret_cast<Handle>(static_cast<std::uintptr_t>(n));
}

constexpr Dword kErrorIoIncomplete = 996;

}  // namespace

FakeWin32::FakeWin32() {
  api_.CreateFileA = [this](const char* name, Dword access, Dword share, void* security,
                            Dword creation, Dword flags, Handle tmpl) -> Handle {
    std::unique_lock<std::mutex> lock(mutex_);
    if (Enter({"CreateFileA", {access, share, N(security), creation, flags, N(tmpl)}, name}, lock))
      return InvalidHandle();
    device_open_ = true;
    return H(kDevice);
  };
  api_.CreateFileW = [this](const char16_t* name, Dword access, Dword share, void* security,
                            Dword creation, Dword flags, Handle tmpl) -> Handle {
    std::unique_lock<std::mutex> lock(mutex_);
    if (Enter({"CreateFileW",
               {access, share, N(security), creation, flags, N(tmpl)},
               text::Utf8FromUtf16(name)},
              lock))
      return InvalidHandle();
    device_open_ = true;
    return H(kDevice);
  };
  api_.CloseHandle = [this](Handle h) -> Bool {
    std::unique_lock<std::mutex> lock(mutex_);
    if (Enter({"CloseHandle", {N(h)}}, lock)) return 0;
    if (N(h) == kDevice && device_open_) {
      device_open_ = false;
      return 1;
    }
    if (events_.erase(N(h)) == 1) return 1;
    t_last_error = kErrorInvalidHandle;
    return 0;
  };
  api_.SetupComm = [this](Handle h, Dword in, Dword out) -> Bool {
    std::unique_lock<std::mutex> lock(mutex_);
    return Enter({"SetupComm", {N(h), in, out}}, lock) ? 0 : 1;
  };
  api_.SetCommState = [this](Handle h, const Dcb* dcb) -> Bool {
    std::unique_lock<std::mutex> lock(mutex_);
    Win32Call c{"SetCommState", {N(h)}};
    c.dcb = *dcb;
    return Enter(c, lock) ? 0 : 1;
  };
  api_.SetCommTimeouts = [this](Handle h, const CommTimeoutsRecord* t) -> Bool {
    std::unique_lock<std::mutex> lock(mutex_);
    Win32Call c{"SetCommTimeouts", {N(h)}};
    c.timeouts = *t;
    return Enter(c, lock) ? 0 : 1;
  };
  api_.SetCommMask = [this](Handle h, Dword mask) -> Bool {
    std::unique_lock<std::mutex> lock(mutex_);
    if (Enter({"SetCommMask", {N(h), mask}}, lock)) return 0;
    // A new mask completes a pending event wait with no event.
    if (pending_.count("WaitCommEvent") != 0) {
      *pending_["WaitCommEvent"].mask = 0;
      Finish("WaitCommEvent", 0, 0);
    }
    return 1;
  };
  api_.WaitCommEvent = [this](Handle h, Dword* mask, Overlapped* ov) -> Bool {
    std::unique_lock<std::mutex> lock(mutex_);
    if (Enter({"WaitCommEvent", {N(h), N(ov)}}, lock)) return 0;
    events_[N(ov->hEvent)].signalled = false;
    pending_["WaitCommEvent"] = {ov, nullptr, mask, 0};
    cv_.notify_all();
    t_last_error = kErrorIoPending;
    return 0;
  };
  api_.ReadFile = [this](Handle h, void* buffer, Dword count, Dword* done, Overlapped* ov) -> Bool {
    std::unique_lock<std::mutex> lock(mutex_);
    if (Enter({"ReadFile", {N(h), count, N(ov)}}, lock)) return 0;
    events_[N(ov->hEvent)].signalled = false;
    if (read_now_) {
      const Dword n = std::min<Dword>(count, static_cast<Dword>(read_now_->size()));
      std::memcpy(buffer, read_now_->data(), n);
      read_now_.reset();
      ov->Internal = 0;
      ov->InternalHigh = n;
      if (done != nullptr) *done = n;
      Signal(ov->hEvent);
      return 1;
    }
    pending_["ReadFile"] = {ov, buffer, nullptr, count};
    cv_.notify_all();
    t_last_error = kErrorIoPending;
    return 0;
  };
  api_.WriteFile = [this](Handle h, const void*, Dword count, Dword* done, Overlapped* ov) -> Bool {
    std::unique_lock<std::mutex> lock(mutex_);
    if (Enter({"WriteFile", {N(h), count, N(ov)}}, lock)) return 0;
    events_[N(ov->hEvent)].signalled = false;
    if (write_now_) {
      const Dword n = std::min(count, *write_now_);
      write_now_.reset();
      ov->Internal = 0;
      ov->InternalHigh = n;
      if (done != nullptr) *done = n;
      Signal(ov->hEvent);
      return 1;
    }
    pending_["WriteFile"] = {ov, nullptr, nullptr, count};
    cv_.notify_all();
    t_last_error = kErrorIoPending;
    return 0;
  };
  api_.GetOverlappedResult = [this](Handle h, Overlapped* ov, Dword* done, Bool wait) -> Bool {
    std::unique_lock<std::mutex> lock(mutex_);
    if (Enter({"GetOverlappedResult", {N(h), N(ov), static_cast<std::uint64_t>(wait)}}, lock))
      return 0;
    for (const auto& [kind, p] : pending_) {
      if (p.ov == ov) {
        t_last_error = kErrorIoIncomplete;
        return 0;
      }
    }
    if (ov->Internal != 0) {
      t_last_error = static_cast<Dword>(ov->Internal);
      return 0;
    }
    *done = static_cast<Dword>(ov->InternalHigh);
    return 1;
  };
  api_.ClearCommError = [this](Handle h, Dword* errors, ComStat* stat) -> Bool {
    std::unique_lock<std::mutex> lock(mutex_);
    if (Enter({"ClearCommError", {N(h)}}, lock)) return 0;
    *errors = line_errors_;
    line_errors_ = 0;
    stat->cbInQue = in_queue_;
    return 1;
  };
  api_.GetCommModemStatus = [this](Handle h, Dword* status) -> Bool {
    std::unique_lock<std::mutex> lock(mutex_);
    if (Enter({"GetCommModemStatus", {N(h)}}, lock)) return 0;
    *status = modem_status_;
    return 1;
  };
  api_.PurgeComm = [this](Handle h, Dword flags) -> Bool {
    std::unique_lock<std::mutex> lock(mutex_);
    if (Enter({"PurgeComm", {N(h), flags}}, lock)) return 0;
    if (purge_ends_transfers_) {
      if ((flags & PURGE_RXABORT) != 0 && pending_.count("ReadFile") != 0)
        Finish("ReadFile", kErrorOperationAborted, 0);
      if ((flags & PURGE_TXABORT) != 0 && pending_.count("WriteFile") != 0)
        Finish("WriteFile", kErrorOperationAborted, 0);
    }
    return 1;
  };
  api_.CancelIoEx = [this](Handle h, Overlapped* ov) -> Bool {
    std::unique_lock<std::mutex> lock(mutex_);
    if (Enter({"CancelIoEx", {N(h), N(ov)}}, lock)) return 0;
    for (const auto& [kind, p] : pending_) {
      if (p.ov == ov) {
        const std::string k = kind;
        Finish(k, kErrorOperationAborted, 0);
        return 1;
      }
    }
    t_last_error = kErrorNotFound;
    return 0;
  };
  api_.CreateEventA = [this](void* security, Bool manual, Bool initial,
                             const char* name) -> Handle {
    std::unique_lock<std::mutex> lock(mutex_);
    if (Enter({"CreateEventA",
               {N(security), static_cast<std::uint64_t>(manual),
                static_cast<std::uint64_t>(initial), N(name)}},
              lock))
      return nullptr;
    const std::uint64_t h = next_event_++;
    events_[h].signalled = initial != 0;
    return H(h);
  };
  api_.SetEvent = [this](Handle h) -> Bool {
    std::unique_lock<std::mutex> lock(mutex_);
    if (Enter({"SetEvent", {N(h)}}, lock)) return 0;
    Signal(h);
    return 1;
  };
  api_.WaitForSingleObject = [this](Handle h, Dword ms) -> Dword {
    {
      std::unique_lock<std::mutex> lock(mutex_);
      if (Enter({"WaitForSingleObject", {N(h), ms}}, lock)) return kWaitFailed;
    }
    return WaitAny({h}, ms);
  };
  api_.WaitForMultipleObjects = [this](Dword count, const Handle* handles, Bool all,
                                       Dword ms) -> Dword {
    std::vector<Handle> list(handles, handles + count);
    {
      std::unique_lock<std::mutex> lock(mutex_);
      Win32Call c{"WaitForMultipleObjects", {count, static_cast<std::uint64_t>(all), ms}};
      for (Handle h : list) c.args.push_back(N(h));
      if (Enter(c, lock)) return kWaitFailed;
    }
    return WaitAny(list, ms);
  };
  api_.GetLastError = []() -> Dword { return t_last_error; };

  api_.RegOpenKeyExA = [this](HKey key, const char* sub_key, Dword options, Dword sam,
                              HKey* result) -> Long {
    std::unique_lock<std::mutex> lock(mutex_);
    Win32Call c{"RegOpenKeyExA", {N(key), options, sam}, sub_key};
    if (Enter(c, lock)) return static_cast<Long>(t_last_error);
    if (refuse_key_ != 0) return refuse_key_;
    key_open_ = true;
    *result = H(kKey);
    return kErrorSuccess;
  };
  api_.RegQueryInfoKeyA = [this](HKey key, Dword* values, Dword* longest) -> Long {
    std::unique_lock<std::mutex> lock(mutex_);
    if (Enter({"RegQueryInfoKeyA", {N(key)}}, lock)) return static_cast<Long>(t_last_error);
    *values = static_cast<Dword>(registry_.size());
    Dword n = 0;
    for (const auto& v : registry_) n = std::max(n, static_cast<Dword>(v.name.size()));
    *longest = n;
    return kErrorSuccess;
  };
  api_.RegEnumValueA = [this](HKey key, Dword index, char* name, Dword* name_len) -> Long {
    std::unique_lock<std::mutex> lock(mutex_);
    if (Enter({"RegEnumValueA", {N(key), index, *name_len}}, lock))
      return static_cast<Long>(t_last_error);
    if (index >= registry_.size()) return kErrorNoMoreItems;
    const std::string& n = registry_[index].name;
    if (n.size() + 1 > *name_len) return kErrorMoreData;
    std::memcpy(name, n.c_str(), n.size() + 1);
    *name_len = static_cast<Dword>(n.size());
    return kErrorSuccess;
  };
  api_.RegQueryValueExA = [this](HKey key, const char* name, Dword* type, std::uint8_t* data,
                                 Dword* data_len) -> Long {
    std::unique_lock<std::mutex> lock(mutex_);
    if (Enter({"RegQueryValueExA", {N(key), N(data), *data_len}, name}, lock))
      return static_cast<Long>(t_last_error);
    for (const auto& v : registry_) {
      if (v.name != name) continue;
      *type = v.type;
      if (data != nullptr) {
        if (*data_len < v.data.size()) return kErrorMoreData;
        std::memcpy(data, v.data.data(), v.data.size());
      }
      *data_len = static_cast<Dword>(v.data.size());
      return kErrorSuccess;
    }
    return static_cast<Long>(kErrorFileNotFound);
  };
  api_.RegCloseKey = [this](HKey key) -> Long {
    std::unique_lock<std::mutex> lock(mutex_);
    if (Enter({"RegCloseKey", {N(key)}}, lock)) return static_cast<Long>(t_last_error);
    if (N(key) != kKey || !key_open_) return static_cast<Long>(kErrorInvalidHandle);
    key_open_ = false;
    return kErrorSuccess;
  };

  api_.SetupDiGetClassDevsPorts = [this]() -> HDevInfo {
    dev_info_open_ = true;
    return H(kDevInfo);
  };
  api_.SetupDiEnumDeviceInfo = [this](HDevInfo, Dword index, DevInfoData* data) -> Bool {
    data->DevInst = index;
    t_last_error = kErrorNoMoreItems;
    return index < port_devices_.size();
  };
  api_.SetupDiGetDeviceRegistryPropertyW = [this](HDevInfo, DevInfoData* data, Dword property,
                                                  Dword* type, std::uint8_t* buffer, Dword size,
                                                  Dword* required) -> Bool {
    const auto& name = port_devices_.at(data->DevInst);
    if (property != kSpdrpFriendlyName || !name) return 0;
    *type = kRegSz;
    *required = static_cast<Dword>((name->size() + 1) * 2);
    t_last_error = kErrorInsufficientBuffer;
    if (size < *required) return 0;
    std::memcpy(buffer, name->c_str(), *required);  // little-endian, as Windows runs
    return 1;
  };
  api_.SetupDiDestroyDeviceInfoList = [this](HDevInfo set) -> Bool {
    const bool ours = N(set) == kDevInfo && dev_info_open_;
    dev_info_open_ = false;
    return ours;
  };
}

void FakeWin32::SetPortDevices(std::vector<std::optional<std::u16string>> friendly_names) {
  port_devices_ = std::move(friendly_names);
}

bool FakeWin32::Enter(Win32Call call, std::unique_lock<std::mutex>&) {
  auto it = failures_.find(call.name);
  calls_.push_back(std::move(call));
  cv_.notify_all();
  if (it == failures_.end() || it->second.empty()) return false;
  t_last_error = it->second.front();
  it->second.erase(it->second.begin());
  return true;
}

void FakeWin32::Signal(Handle h) {
  auto it = events_.find(N(h));
  if (it != events_.end()) it->second.signalled = true;
  cv_.notify_all();
}

void FakeWin32::Finish(const std::string& kind, std::uint32_t status, Dword count) {
  auto it = pending_.find(kind);
  if (it == pending_.end()) return;
  Overlapped* ov = it->second.ov;
  pending_.erase(it);
  ov->Internal = status;
  ov->InternalHigh = count;
  Signal(ov->hEvent);
}

Dword FakeWin32::WaitAny(const std::vector<Handle>& handles, Dword ms) {
  std::unique_lock<std::mutex> lock(mutex_);
  auto ready = [&]() -> std::optional<Dword> {
    for (std::size_t i = 0; i < handles.size(); ++i) {
      auto it = events_.find(N(handles[i]));
      if (it == events_.end()) return kWaitFailed;
      if (it->second.signalled) return static_cast<Dword>(kWaitObject0 + i);
    }
    return std::nullopt;
  };
  std::optional<Dword> r;
  if (ms == kInfinite) {
    cv_.wait(lock, [&] { return (r = ready()).has_value(); });
  } else if (!cv_.wait_for(lock, std::chrono::milliseconds(ms),
                           [&] { return (r = ready()).has_value(); })) {
    return kWaitTimeout;
  }
  if (*r == kWaitFailed) t_last_error = kErrorInvalidHandle;
  return *r;
}

std::vector<Win32Call> FakeWin32::Calls() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return calls_;
}

std::vector<std::string> FakeWin32::Names() const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<std::string> out;
  for (const auto& c : calls_) out.push_back(c.name);
  return out;
}

std::vector<std::string> FakeWin32::NamesOf(const std::vector<std::string>& only) const {
  std::vector<std::string> out;
  for (const std::string& n : Names())
    if (std::find(only.begin(), only.end(), n) != only.end()) out.push_back(n);
  return out;
}

int FakeWin32::Count(const std::string& name) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return static_cast<int>(std::count_if(calls_.begin(), calls_.end(),
                                        [&](const Win32Call& c) { return c.name == name; }));
}

void FakeWin32::ClearCalls() {
  std::lock_guard<std::mutex> lock(mutex_);
  calls_.clear();
}

std::vector<std::uint64_t> FakeWin32::OpenHandles() const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<std::uint64_t> out;
  if (device_open_) out.push_back(kDevice);
  for (const auto& [h, e] : events_) out.push_back(h);
  return out;
}

void FakeWin32::FailNext(const std::string& name, Dword error, int times) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (int i = 0; i < times; ++i) failures_[name].push_back(error);
}

void FakeWin32::PurgeEndsTransfers(bool yes) {
  std::lock_guard<std::mutex> lock(mutex_);
  purge_ends_transfers_ = yes;
}

void FakeWin32::ScriptReadNow(const std::vector<std::uint8_t>& bytes) {
  std::lock_guard<std::mutex> lock(mutex_);
  read_now_ = bytes;
}

void FakeWin32::ScriptWriteNow(Dword count) {
  std::lock_guard<std::mutex> lock(mutex_);
  write_now_ = count;
}

bool FakeWin32::WaitForPending(const std::string& kind, int timeout_ms) const {
  std::unique_lock<std::mutex> lock(mutex_);
  return cv_.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                      [&] { return pending_.count(kind) != 0; });
}

bool FakeWin32::CompleteRead(const std::vector<std::uint8_t>& bytes) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = pending_.find("ReadFile");
  if (it == pending_.end()) return false;
  const Dword n = std::min<Dword>(it->second.count, static_cast<Dword>(bytes.size()));
  std::memcpy(it->second.buffer, bytes.data(), n);
  Finish("ReadFile", 0, n);
  return true;
}

bool FakeWin32::CompleteWrite(Dword count) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = pending_.find("WriteFile");
  if (it == pending_.end()) return false;
  Finish("WriteFile", 0, std::min(count, it->second.count));
  return true;
}

bool FakeWin32::CompleteWait(Dword mask) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = pending_.find("WaitCommEvent");
  if (it == pending_.end()) return false;
  *it->second.mask = mask;
  Finish("WaitCommEvent", 0, 0);
  return true;
}

bool FakeWin32::FailWait(Dword error) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (pending_.count("WaitCommEvent") == 0) return false;
  Finish("WaitCommEvent", error, 0);
  return true;
}

void FakeWin32::SetInQueue(Dword bytes) {
  std::lock_guard<std::mutex> lock(mutex_);
  in_queue_ = bytes;
}

void FakeWin32::SetLineErrors(Dword flags) {
  std::lock_guard<std::mutex> lock(mutex_);
  line_errors_ = flags;
}

void FakeWin32::SetModemStatus(Dword flags) {
  std::lock_guard<std::mutex> lock(mutex_);
  modem_status_ = flags;
}

void FakeWin32::SetRegistryValues(std::vector<RegistryValue> values) {
  std::lock_guard<std::mutex> lock(mutex_);
  registry_ = std::move(values);
}

void FakeWin32::RefuseKey(Long error) {
  std::lock_guard<std::mutex> lock(mutex_);
  refuse_key_ = error;
}

}  // namespace ornat::testing
