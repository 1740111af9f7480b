// com_probe: the serial port component over the real Win32 device, worked line by line
// from stdin so that a test on the other side of the line can play its part between
// the steps. Each command prints one line on stdout.
//
//   open PORT         ComPort1's settings and event thread; arriving bytes are read
//                     in OnRxChar (limit 33) and each read printed as "rx N HEX"
//   open-quiet PORT   the same settings, no event thread
//   write HEX...      "wrote N"
//   queue             "queue N" (ClearCommError's cbInQue)
//   read N            "read N HEX" (ReadBytes on this thread)
//   read-bg N         "reading", then ReadBytes on a thread of its own, which prints
//                     "read N HEX" or the error when it ends
//   close             "closed"
//   quit
// A failure prints "error CODE SYSTEM-ERROR MESSAGE".

#include <cstdio>
#include <iostream>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "runtime/dispatcher.h"
#include "runtime/handler_gate.h"
#include "serial/comport.h"
#include "serial/platform/platform.h"
#include "ui/toolkit/dialogs.h"

namespace {

using namespace ornat;

std::mutex out_mutex;

void Say(const std::string& line) {
  std::lock_guard<std::mutex> lock(out_mutex);
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

// "WORD N HEX...": GCC 12 at -O3 warns about a concatenation of temporaries here.
std::string Bytes(const char* word, const std::uint8_t* bytes, int n) {
  std::string out = word;
  out += ' ';
  out += std::to_string(n);
  char b[4];
  for (int i = 0; i < n; ++i) {
    std::snprintf(b, sizeof b, " %02X", bytes[i]);
    out += b;
  }
  return out;
}

class NoDialogs : public Dialogs {
 public:
  DialogAnswer AskYesNo(const std::string&) override { return DialogAnswer::No; }
  void ShowException(const std::string& message) override { Say("exception " + message); }
};

}  // namespace

int main() {
  NoDialogs dialogs;
  HandlerGate gate(dialogs);
  QueueDispatcher dispatcher(gate);
  std::unique_ptr<CommDevice> device = MakePlatformCommDevice();
  TComPort port("ComPort1", *device, dispatcher);
  port.Timeouts().SetReadInterval(150);
  port.SetSyncMethod(TSyncMethod::smNone);
  const TComEvents all = port.Events();
  port.OnRxChar = [&](TObject*, int) {
    std::uint8_t buffer[33];
    const int n = port.ReadBytes(buffer, 33);
    Say(Bytes("rx", buffer, n));
  };

  std::thread background;
  auto join = [&] {
    if (background.joinable()) background.join();
  };
  std::string line;
  while (std::getline(std::cin, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::istringstream in(line);
    std::string command;
    in >> command;
    try {
      if (command == "open" || command == "open-quiet") {
        std::string name;
        in >> name;
        port.SetEvents(command == "open" ? all : TComEvents{});
        port.SetPort(name);
        port.OpenPort();
        Say("opened");
      } else if (command == "write") {
        std::vector<std::uint8_t> bytes;
        for (std::string b; in >> b;)
          bytes.push_back(static_cast<std::uint8_t>(std::stoi(b, nullptr, 16)));
        Say("wrote " +
            std::to_string(port.WriteBytes(bytes.data(), static_cast<int>(bytes.size()))));
      } else if (command == "queue") {
        Say("queue " + std::to_string(port.QueuedInputCount()));
      } else if (command == "read") {
        int count = 0;
        in >> count;
        std::vector<std::uint8_t> buffer(static_cast<std::size_t>(count > 0 ? count : 1));
        const int n = port.ReadBytes(buffer.data(), count);
        Say(Bytes("read", buffer.data(), n));
      } else if (command == "read-bg") {
        int count = 0;
        in >> count;
        join();
        background = std::thread([&port, count] {
          std::vector<std::uint8_t> buffer(static_cast<std::size_t>(count > 0 ? count : 1));
          try {
            const int n = port.ReadBytes(buffer.data(), count);
            Say(Bytes("read", buffer.data(), n));
          } catch (const EComPort& e) {
            Say("error " + std::to_string(e.ErrorCode()) + " " + std::to_string(e.SystemError()) +
                " " + e.what());
          }
        });
        Say("reading");
      } else if (command == "close") {
        port.ClosePort();
        join();
        Say("closed");
      } else if (command == "quit") {
        break;
      } else {
        Say("unknown " + command);
      }
    } catch (const EComPort& e) {
      Say("error " + std::to_string(e.ErrorCode()) + " " + std::to_string(e.SystemError()) + " " +
          e.what());
    }
  }
  port.ClosePort();
  join();
  return 0;
}
