// Serial read latency and idle cost over a pseudo-terminal, through the real
// TComPort, TComThread and PosixCommDevice. Prints figures; asserts nothing.
//
//   1. How long after the last byte of a burst a ReadBytes(20) with ComPort1's
//      150 ms interval returns, for 50 bursts of 8 bytes (median and worst).
//      Aim: within 150 ms + 3 ms.
//   2. The CPU time (user + system, getrusage of the process) that an open port with
//      its event thread consumes over 10 s without traffic. Aim: under 1 ms per s.
//
// Usage: bench_serial_read_latency [bursts] [idle_seconds]

#include <pty.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "cpu_time.h"
#include "runtime/dispatcher.h"
#include "runtime/handler_gate.h"
#include "serial/comport.h"
#include "serial/platform/posix_comm_device.h"
#include "ui/toolkit/dialogs.h"

namespace {

using Clock = std::chrono::steady_clock;

using ornat::bench::CpuSeconds;

}  // namespace

int main(int argc, char** argv) {
  using namespace ornat;
  const int bursts = argc > 1 ? std::atoi(argv[1]) : 50;
  const int idle_seconds = argc > 2 ? std::atoi(argv[2]) : 10;

  int master = -1, slave = -1;
  char name[128] = {};
  if (openpty(&master, &slave, name, nullptr, nullptr) != 0) {
    std::perror("openpty");
    return 1;
  }
  close(slave);

  ScriptedDialogs dialogs;
  HandlerGate gate(dialogs);
  QueueDispatcher dispatcher(gate);
  PosixCommDevice device;
  TComPort port("ComPort1", device, dispatcher);
  port.SetPort(name);
  port.Timeouts().SetReadInterval(150);
  port.SetSyncMethod(TSyncMethod::smNone);

  std::mutex mu;
  std::condition_variable cv;
  std::vector<Clock::time_point> returned;
  std::vector<int> counts;
  port.OnRxChar = [&](TObject*, int) {
    std::uint8_t buf[20];
    int n = port.ReadBytes(buf, 20);
    auto t = Clock::now();
    {
      std::lock_guard<std::mutex> lock(mu);
      returned.push_back(t);
      counts.push_back(n);
    }
    cv.notify_all();
  };
  try {
    port.OpenPort();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "open: %s\n", e.what());
    return 1;
  }

  // 1. Read latency after the last byte.
  std::vector<double> after_ms;
  const std::uint8_t frame[8] = {0xF7, 0x03, 0x02, 0x00, 0x05, 0x44, 0x11, 0x22};
  int short_reads = 0;
  for (int i = 0; i < bursts; ++i) {
    std::size_t before;
    {
      std::lock_guard<std::mutex> lock(mu);
      before = returned.size();
    }
    if (write(master, frame, sizeof frame) != static_cast<ssize_t>(sizeof frame)) {
      std::perror("write");
      return 1;
    }
    const auto last_byte = Clock::now();
    std::unique_lock<std::mutex> lock(mu);
    if (!cv.wait_for(lock, std::chrono::seconds(2), [&] { return returned.size() > before; })) {
      std::fprintf(stderr, "burst %d: no read returned\n", i);
      return 1;
    }
    after_ms.push_back(
        std::chrono::duration<double, std::milli>(returned[before] - last_byte).count());
    if (counts[before] != 8) ++short_reads;
    lock.unlock();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  std::vector<double> sorted = after_ms;
  std::sort(sorted.begin(), sorted.end());
  const double median = sorted.empty() ? 0 : sorted[sorted.size() / 2];
  const double worst = sorted.empty() ? 0 : sorted.back();
  const double best = sorted.empty() ? 0 : sorted.front();
  std::printf("serial_read_latency: ReadBytes(20), 8-byte bursts, ReadInterval 150 ms, %d bursts\n",
              bursts);
  std::printf(
      "  return after last byte: median %.2f ms, worst %.2f ms, best %.2f ms (aim <= 153 ms)\n",
      median, worst, best);
  std::printf("  reads that returned other than 8 bytes: %d\n", short_reads);
  std::printf("RESULT read_return_median %.3f ms\n", median);
  std::printf("RESULT read_return_worst %.3f ms\n", worst);

  // 2. Idle CPU of an open port with its event thread.
  const double cpu0 = CpuSeconds();
  const auto t0 = Clock::now();
  std::this_thread::sleep_for(std::chrono::seconds(idle_seconds));
  const double wall = std::chrono::duration<double>(Clock::now() - t0).count();
  const double cpu_ms = (CpuSeconds() - cpu0) * 1000.0;
  std::printf("  idle open port: %.3f ms CPU over %.1f s = %.4f ms CPU per s (aim < 1 ms/s)\n",
              cpu_ms, wall, cpu_ms / wall);
  std::printf("RESULT idle_port_cpu %.4f ms/s\n", cpu_ms / wall);

  port.ClosePort();
  close(master);
  return 0;
}
