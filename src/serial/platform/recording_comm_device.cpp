#include "serial/platform/recording_comm_device.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <utility>

namespace ornat {

RecordingCommDevice::Entry RecordingCommDevice::Enter(DeviceCall call) {
  std::lock_guard<std::mutex> lock(mutex_);
  Entry entry{++next_id_, 0};
  auto it = failures_.find(call.name);
  if (it != failures_.end() && it->second.times != 0) {
    entry.failure = it->second.error;
    if (it->second.times > 0) --it->second.times;
  }
  call.result = entry.failure;
  calls_.push_back(std::move(call));
  ids_.push_back(entry.id);
  cv_.notify_all();
  return entry;
}

DevError RecordingCommDevice::Leave(std::uint64_t id, DevError result) {
  std::lock_guard<std::mutex> lock(mutex_);
  // Searched from the end: the record may have been cleared while the call ran.
  for (std::size_t i = ids_.size(); i-- > 0;) {
    if (ids_[i] == id) {
      calls_[i].result = result;
      break;
    }
  }
  return result;
}

namespace {

DeviceCall Named(const char* name) {
  DeviceCall c;
  c.name = name;
  return c;
}

}  // namespace

template <typename Act>
DevError RecordingCommDevice::Record(DeviceCall call, Act act) {
  const Entry entry = Enter(std::move(call));
  if (entry.failure != 0) return entry.failure;
  return Leave(entry.id, act());
}

DevError RecordingCommDevice::Open(const std::string& port) {
  DeviceCall c = Named("Open");
  c.port = port;
  const Entry entry = Enter(std::move(c));
  {
    std::lock_guard<std::mutex> lock(mutex_);
    busy_on_demand_ = entry.failure == EBUSY;
  }
  if (entry.failure != 0) return entry.failure;
  return Leave(entry.id, target_.Open(port));
}

std::vector<PortHolder> RecordingCommDevice::HoldersAtLastOpen() const {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (busy_on_demand_) return holders_;
  }
  return target_.HoldersAtLastOpen();
}

DevError RecordingCommDevice::Close() {
  return Record(Named("Close"), [&] { return target_.Close(); });
}

DevError RecordingCommDevice::SetupQueues(int input_size, int output_size) {
  DeviceCall c = Named("SetupQueues");
  c.args = {input_size, output_size};
  return Record(std::move(c), [&] { return target_.SetupQueues(input_size, output_size); });
}

DevError RecordingCommDevice::SetLineSettings(const LineSettings& settings) {
  DeviceCall c = Named("SetLineSettings");
  c.line = settings;
  return Record(std::move(c), [&] { return target_.SetLineSettings(settings); });
}

DevError RecordingCommDevice::SetTimeouts(const CommTimeouts& timeouts) {
  DeviceCall c = Named("SetTimeouts");
  c.timeouts = timeouts;
  return Record(std::move(c), [&] { return target_.SetTimeouts(timeouts); });
}

DevError RecordingCommDevice::SetEventMask(std::uint32_t mask) {
  DeviceCall c = Named("SetEventMask");
  c.args = {static_cast<std::int64_t>(mask)};
  return Record(std::move(c), [&] { return target_.SetEventMask(mask); });
}

std::unique_ptr<CommStopSignal> RecordingCommDevice::CreateStopSignal() {
  // It has no error to give: recorded, never failed.
  Enter(Named("CreateStopSignal"));
  return target_.CreateStopSignal();
}

WaitResult RecordingCommDevice::WaitEvent(CommStopSignal& stop) {
  const Entry entry = Enter(Named("WaitEvent"));
  if (entry.failure != 0) return {WaitOutcome::kFailed, 0, entry.failure};
  const WaitResult r = target_.WaitEvent(stop);
  Leave(entry.id, r.outcome == WaitOutcome::kFailed ? r.error : 0);
  return r;
}

IoResult RecordingCommDevice::Read(void* buffer, int count) {
  DeviceCall c = Named("Read");
  c.args = {count};
  const Entry entry = Enter(std::move(c));
  if (entry.failure != 0) return {entry.failure, 0};
  const IoResult r = target_.Read(buffer, count);
  Leave(entry.id, r.error);
  return r;
}

IoResult RecordingCommDevice::Write(const void* buffer, int count) {
  DeviceCall c = Named("Write");
  c.args = {count};
  const auto* in = static_cast<const std::uint8_t*>(buffer);
  if (count > 0) c.data.assign(in, in + count);
  const Entry entry = Enter(std::move(c));
  if (entry.failure != 0) return {entry.failure, 0};
  const IoResult r = target_.Write(buffer, count);
  Leave(entry.id, r.error);
  return r;
}

DevError RecordingCommDevice::ClearError(std::uint32_t& errors, std::uint32_t& in_queue) {
  return Record(Named("ClearError"), [&] { return target_.ClearError(errors, in_queue); });
}

DevError RecordingCommDevice::GetModemStatus(std::uint32_t& status) {
  return Record(Named("GetModemStatus"), [&] { return target_.GetModemStatus(status); });
}

DevError RecordingCommDevice::Purge(std::uint32_t flags) {
  DeviceCall c = Named("Purge");
  c.args = {static_cast<std::int64_t>(flags)};
  return Record(std::move(c), [&] { return target_.Purge(flags); });
}

// --- the record -------------------------------------------------------------------

std::vector<DeviceCall> RecordingCommDevice::calls() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return calls_;
}

std::vector<std::string> RecordingCommDevice::Names() const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<std::string> names;
  for (const DeviceCall& c : calls_) names.push_back(c.name);
  return names;
}

std::vector<std::string> RecordingCommDevice::NamesWithoutWaits() const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<std::string> names;
  for (const DeviceCall& c : calls_)
    if (c.name != "WaitEvent" && c.name != "CreateStopSignal") names.push_back(c.name);
  return names;
}

int RecordingCommDevice::CountLocked(const std::string& name) const {
  return static_cast<int>(std::count_if(calls_.begin(), calls_.end(),
                                        [&](const DeviceCall& c) { return c.name == name; }));
}

int RecordingCommDevice::Count(const std::string& name) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return CountLocked(name);
}

DeviceCall RecordingCommDevice::Last(const std::string& name) const {
  std::lock_guard<std::mutex> lock(mutex_);
  for (auto it = calls_.rbegin(); it != calls_.rend(); ++it)
    if (it->name == name) return *it;
  return {};
}

void RecordingCommDevice::ClearCalls() {
  std::lock_guard<std::mutex> lock(mutex_);
  calls_.clear();
  ids_.clear();
}

bool RecordingCommDevice::WaitForCalls(const std::string& name, int n, int timeout_ms) const {
  std::unique_lock<std::mutex> lock(mutex_);
  return cv_.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                      [&] { return CountLocked(name) >= n; });
}

// --- failures on demand -----------------------------------------------------------

void RecordingCommDevice::FailNext(const std::string& name, DevError error, int times) {
  std::lock_guard<std::mutex> lock(mutex_);
  failures_[name] = {error, times};
}

void RecordingCommDevice::FailAlways(const std::string& name, DevError error) {
  std::lock_guard<std::mutex> lock(mutex_);
  failures_[name] = {error, -1};
}

void RecordingCommDevice::ClearFailures() {
  std::lock_guard<std::mutex> lock(mutex_);
  failures_.clear();
}

void RecordingCommDevice::SetHolders(std::vector<PortHolder> holders) {
  std::lock_guard<std::mutex> lock(mutex_);
  holders_ = std::move(holders);
}

}  // namespace ornat
