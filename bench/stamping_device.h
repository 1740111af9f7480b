#pragma once
// StampingDevice: a device (the POSIX device unless another is given, such as the
// network device of a tcp:// line) with a stamp at the start and the end of every Open
// and Write, at the start of every Purge and the end of every Close, at the return of
// every Read that brought bytes, and the time that the look
// for other holders of the port took inside each Open, for the benchmarks. Started with
// ORNAT_BENCH_HOLDER_LOOK=0 in its environment it skips that look (the port is taken as free), so
// that the rest of the send path can be seen alone; the shipped device always looks. Not a test:
// nothing here asserts.

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "serial/platform/forwarding_comm_device.h"
#include "serial/platform/posix_comm_device.h"

namespace ornat::bench {

using Clock = std::chrono::steady_clock;

// The system calls of the device, with the look for holders timed (or skipped).
struct TimedCalls {
  TimedCalls() : sys(PosixSyscalls::Real()) {
    const char* look = std::getenv("ORNAT_BENCH_HOLDER_LOOK");
    look_for_holders = look == nullptr || std::strcmp(look, "0") != 0;
    holder_look = [this](const DeviceNode& node) {
      const auto t0 = Clock::now();
      std::vector<PortHolder> found;
      if (look_for_holders) found = LookForHolders(PosixSyscalls::Real(), node);
      const auto spent = Clock::now() - t0;
      std::lock_guard<std::mutex> lock(mutex);
      look_time += spent;
      return found;
    };
  }
  PosixSyscalls sys;
  HolderLook holder_look;
  bool look_for_holders = true;
  mutable std::mutex mutex;
  Clock::duration look_time{};  // summed over the looks of the Open under way
};

class StampingDevice : public ForwardingCommDevice {
 public:
  struct OpenStamp {
    Clock::time_point begin, end;
    Clock::duration look{};
    DevError error = 0;
  };
  struct WriteStamp {
    Clock::time_point begin, end;
  };

  // Stamps `target`'s calls; with none, the POSIX device's, its look for holders timed.
  explicit StampingDevice(std::unique_ptr<CommDevice> target = nullptr)
      : target_(target ? std::move(target)
                       : std::make_unique<PosixCommDevice>(timed_.sys, timed_.holder_look)) {}

  DevError Open(const std::string& port) override {
    {
      std::lock_guard<std::mutex> lock(timed_.mutex);
      timed_.look_time = {};
    }
    OpenStamp s;
    s.begin = Clock::now();
    const DevError e = Target().Open(port);
    s.end = Clock::now();
    s.error = e;
    std::lock_guard<std::mutex> lock(timed_.mutex);
    s.look = timed_.look_time;
    opens_.push_back(s);
    return e;
  }
  // Reads that returned bytes (on the event thread): when they returned.
  IoResult Read(void* buffer, int count) override {
    IoResult r = Target().Read(buffer, count);
    if (r.error == 0 && r.count > 0) {
      const auto now = Clock::now();
      std::lock_guard<std::mutex> lock(timed_.mutex);
      reads_.push_back(now);
    }
    return r;
  }
  IoResult Write(const void* buffer, int count) override {
    WriteStamp s;
    s.begin = Clock::now();
    IoResult r = Target().Write(buffer, count);
    s.end = Clock::now();
    std::lock_guard<std::mutex> lock(timed_.mutex);
    writes_.push_back(s);
    return r;
  }
  // The component's close: it aborts the transfers (Purge), stops and joins the event
  // thread, then closes the device. Each purge's start and each close's end.
  DevError Purge(std::uint32_t flags) override {
    {
      const auto now = Clock::now();
      std::lock_guard<std::mutex> lock(timed_.mutex);
      purges_.push_back(now);
    }
    return Target().Purge(flags);
  }
  DevError Close() override {
    const DevError e = Target().Close();
    const auto now = Clock::now();
    std::lock_guard<std::mutex> lock(timed_.mutex);
    closes_.push_back(now);
    return e;
  }
  std::vector<Clock::time_point> Purges() const {
    std::lock_guard<std::mutex> lock(timed_.mutex);
    return purges_;
  }
  std::vector<Clock::time_point> Closes() const {
    std::lock_guard<std::mutex> lock(timed_.mutex);
    return closes_;
  }
  bool LooksForHolders() const { return timed_.look_for_holders; }
  std::vector<Clock::time_point> Reads() const {
    std::lock_guard<std::mutex> lock(timed_.mutex);
    return reads_;
  }
  std::vector<OpenStamp> Opens() const {
    std::lock_guard<std::mutex> lock(timed_.mutex);
    return opens_;
  }
  std::vector<WriteStamp> WriteStamps() const {
    std::lock_guard<std::mutex> lock(timed_.mutex);
    return writes_;
  }
  // When each Write returned.
  std::vector<Clock::time_point> Writes() const {
    std::vector<Clock::time_point> out;
    for (const WriteStamp& w : WriteStamps()) out.push_back(w.end);
    return out;
  }

 protected:
  CommDevice& Target() const override { return *target_; }

 private:
  TimedCalls timed_;
  std::unique_ptr<CommDevice> target_;
  std::vector<OpenStamp> opens_;
  std::vector<WriteStamp> writes_;
  std::vector<Clock::time_point> reads_, purges_, closes_;
};

}  // namespace ornat::bench
