#pragma once
// A TForm1 on a virtual clock with the scripted serial device (recorded), scripted dialogs and a
// port list the test fills; nothing runs until the test drives it.

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "runtime/dispatcher.h"
#include "runtime/virtual_scheduler.h"
#include "serial/platform/port_list.h"
#include "serial/platform/recording_comm_device.h"
#include "support/scripted_comm_device.h"
#include "ui/main_window.h"

namespace ornat::testing {

// A port list with the content a test sets; nullopt: the list cannot be opened.
class FakePortList : public PortListSource {
 public:
  std::optional<std::vector<std::string>> ports = std::vector<std::string>{};
  std::map<std::string, std::string> descriptions;  // what Describe gives, by port
  int calls = 0;
  std::optional<std::vector<std::string>> ListPorts() override {
    ++calls;
    return ports;
  }
  std::vector<std::string> DescribePorts(const std::vector<std::string>& names) override {
    std::vector<std::string> out;
    for (const auto& name : names)
      out.push_back(descriptions.count(name) ? descriptions[name] : "");
    return out;
  }
};

// A fresh temporary folder, removed with its content at the end.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  void Write(const std::string& name, const std::string& content) const;

 private:
  std::string path_;
};

struct BasicForm {
  // hold_line: the window takes its line's lock (LineLock) as the programs do; off, as
  // every test process shares the scripted device's port names.
  explicit BasicForm(int screen_height = 1080, bool hold_line = false,
                     std::vector<NamedLine> named_lines = {});
  ScriptedDialogs dialogs;
  HandlerGate gate{dialogs};
  VirtualScheduler clock;
  QueueDispatcher dispatcher{gate};
  ScriptedCommDevice script;
  RecordingCommDevice device{script};  // the window's device
  FakePortList ports;
  TempDir dir;
  std::unique_ptr<TForm1> form;
  // Runs FormCreate through the gate, as the program does.
  void Create();
};

}  // namespace ornat::testing
