#include "serial/network/net_connect.h"

#include <memory>
#include <thread>
#include <vector>

namespace ornat {

namespace {

// The resolution's result, shared with the thread that runs it: a resolution that
// outlives its limit finishes on its own and frees this.
struct Resolution {
  std::mutex mu;
  std::condition_variable cv;
  bool done = false;
  int error = 0;
  std::vector<NetAddress> addresses;
};

std::string Target(const PortUrl& url) {
  return (url.ipv6 ? "[" + url.host + "]" : url.host) + ":" + std::to_string(url.port);
}

int Resolve(const NetSyscalls& sys, const PortUrl& url, std::vector<NetAddress>& addresses) {
  auto r = std::make_shared<Resolution>();
  const NetClock::time_point until = sys.now() + kResolveLimit;
  std::thread([r, resolve = sys.getaddrinfo, host = url.host, port = url.port] {
    std::vector<NetAddress> found;
    const int error = resolve(host, port, found);
    {
      std::lock_guard<std::mutex> lock(r->mu);
      r->error = error;
      r->addresses = std::move(found);
      r->done = true;
    }
    r->cv.notify_all();
  }).detach();
  std::unique_lock<std::mutex> lock(r->mu);
  while (!r->done && sys.now() < until) sys.wait_until(r->cv, lock, until);
  if (!r->done) return sys.errors.timed_out;
  addresses = r->addresses;
  return r->error;
}

}  // namespace

NetConnection ConnectTo(const NetSyscalls& sys, const PortUrl& url) {
  NetConnection c;
  std::vector<NetAddress> addresses;
  if (int e = Resolve(sys, url, addresses); e != 0) {
    c.error = e;
    c.problem = e == sys.errors.timed_out
                    ? "the name \"" + url.host + "\" did not resolve within " +
                          std::to_string(kResolveLimit.count() / 1000) + " s"
                    : "the name \"" + url.host + "\" does not resolve";
    return c;
  }
  const NetClock::time_point until = sys.now() + kConnectLimit;
  c.error = sys.errors.timed_out;
  for (const NetAddress& address : addresses) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(until - sys.now());
    if (left.count() <= 0) break;
    int error = 0;
    const NetSocket s = sys.socket(address.family, error);
    if (s == kNoSocket) {
      c.error = error;
      continue;
    }
    error = sys.connect(s, address);
    if (error == sys.errors.in_progress) {
      bool ready = false;
      error = sys.poll_writable(s, static_cast<int>(left.count()), ready);
      if (error == 0) error = ready ? sys.connect_error(s) : sys.errors.timed_out;
    }
    if (error == 0) error = sys.set_blocking_nodelay(s);
    if (error == 0) {
      c.socket = s;
      c.error = 0;
      return c;
    }
    sys.close(s);
    c.error = error;
  }
  c.problem = c.error == sys.errors.timed_out
                  ? Target(url) + " did not accept a connection within " +
                        std::to_string(kConnectLimit.count() / 1000) + " s"
                  : Target(url) + " did not accept a connection";
  return c;
}

}  // namespace ornat
