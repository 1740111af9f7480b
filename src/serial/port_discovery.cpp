// Port discovery and selection: the Port submenu is rebuilt from the platform's list
// of serial ports or, where that cannot be opened or is empty, from "comports.txt",
// followed by the user's named lines (within the menu's 32 items); one item is
// preselected (the current one, else COM1, else the first). An item's hint is what
// the system knows of its port, or a named line's target.

#include "serial/port_discovery.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <fstream>
#include <optional>

#include "serial/comport.h"
#include "serial/network/lines_file.h"
#include "serial/platform/platform.h"
#include "serial/platform/port_list.h"
#include "ui/exchange_log.h"
#include "ui/main_window.h"

namespace ornat {

namespace {
constexpr const char* kPortListFile = "comports.txt";
constexpr std::size_t kMaxFileLines = 10;
// A file far larger than ten port names is not a port list; read no more than this.
constexpr std::size_t kMaxFileBytes = 64 * 1024;

struct Marks {
  std::optional<std::size_t> current;  // the item named as Port was before discovery
  std::optional<std::size_t> com1;     // the item named "COM1"
};
}  // namespace

std::string FileErrorText(int err) {
  switch (err) {
    case ENOENT:
      return "File not found";
    case ENOTDIR:
      return "Path not found";
    case EMFILE:
    case ENFILE:
      return "Too many open files";
    case EACCES:
    case EPERM:
      return "File access denied";
    default:
      return "I/O error " + std::to_string(err);
  }
}

std::vector<std::string> SplitPortListLines(const std::string& content, std::size_t max_lines) {
  std::vector<std::string> lines;
  std::size_t pos = 0;
  while (lines.size() < max_lines && pos < content.size()) {
    std::size_t end = content.find('\n', pos);
    std::size_t next = end == std::string::npos ? content.size() : end + 1;
    std::size_t stop = end == std::string::npos ? content.size() : end;
    // A Windows line end is CR LF; the CR goes with the LF.
    if (end != std::string::npos && stop > pos && content[stop - 1] == '\r') --stop;
    lines.push_back(content.substr(pos, stop - pos));
    pos = next;
  }
  return lines;
}

std::vector<std::string> ReadPortListFile(const std::string& path, std::size_t max_lines) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) throw EPortListFile(FileErrorText(errno));
  std::string content;
  char chunk[4096];
  std::size_t got;
  while (content.size() < kMaxFileBytes && (got = std::fread(chunk, 1, sizeof chunk, f)) > 0)
    content.append(chunk, got);
  bool failed = std::ferror(f) != 0;
  int err = errno;
  std::fclose(f);
  if (failed) throw EPortListFile(FileErrorText(err));
  return SplitPortListLines(content, max_lines);
}

void TForm1::TeMenuBar1MouseDown(TObject*, TMouseButton, int, int, int) {
  EnumeratePorts();
}

void TForm1::EnumeratePorts() {
  PortListSource& source = env_.ports != nullptr ? *env_.ports : PlatformPortList();
  const std::string port_before = ComPort1().Port();
  // A named line is the current one when the user chose it: its target is the port and
  // panel 0 shows its name (a port found under the same name as a target stays apart).
  const std::string panel_before = StatusBar1.PanelText(0);

  auto remove_items = [this] {
    PortItems.clear();  // each item leaves PORT1 as it goes
    PortItemPorts.clear();
    PortsFound = 0;
  };
  auto add_item = [&](const std::string& caption, const std::string& port, std::string hint,
                      bool named, Marks& marks) {
    const std::size_t i = PortItems.size();
    auto item = std::make_unique<TTeItem>("", caption);
    item->SetHint(std::move(hint));
    item->OnClick = [this](TObject* s) { My(s); };
    PORT1.Insert(i, item.get());
    PortItems.push_back(std::move(item));
    PortItemPorts.push_back(port);
    if (!named && caption == "COM1") marks.com1 = i;
    if (port == port_before && (!named || caption == panel_before)) marks.current = i;
  };
  // The ports found, each with what the system knows of it.
  auto add_found = [&](const std::vector<std::string>& names, Marks& marks) {
    const std::vector<std::string> about = source.DescribePorts(names);
    for (std::size_t i = 0; i < names.size(); ++i)
      add_item(names[i], names[i], i < about.size() ? about[i] : "", false, marks);
    PortsFound = PortItems.size();
  };
  // The user's lines after the ports found, as many as the menu has room for.
  auto add_named = [&](Marks& marks) {
    for (const NamedLine& line : env_.named_lines) {
      if (PortItems.size() >= kMaxPortItems) break;
      std::string hint = line.target;
      if (line.net_delay_ms) hint += " net-delay=" + std::to_string(*line.net_delay_ms);
      add_item(line.name, line.target, std::move(hint), true, marks);
    }
  };
  auto select = [&](const Marks& marks) {
    std::size_t chosen = marks.current ? *marks.current : marks.com1 ? *marks.com1 : 0;
    TTeItem& item = *PortItems[chosen];
    item.SetChecked(true);
    ComPort1().SetPort(PortItemPorts[chosen]);
    StatusBar1.SetPanelText(0, item.Caption());
    ComPort1().SetPort(PortItemPorts[chosen]);
  };
  // Both variants of the file fill; `reporting` follows a list that could not be opened.
  auto fill_from_file = [&](bool reporting) {
    Marks marks;
    bool named_added = false;
    try {
      if (reporting) remove_items();
      std::string path = env_.working_dir.empty() ? std::string(kPortListFile)
                                                  : env_.working_dir + "/" + kPortListFile;
      std::vector<std::string> names = ReadPortListFile(path, kMaxFileLines);
      add_found(names, marks);
      if (!names.empty()) {
        ComPort1().SetPort(PortItemPorts[0]);
        StatusBar1.SetPanelText(0, PortItems[0]->Caption());
        ComPort1().SetPort(PortItemPorts[0]);
      }
      add_named(marks);
      named_added = true;
      if (!PortItems.empty()) select(marks);
      if (reporting) TeMemo1.Add(msg::kFileOk);
    } catch (const std::exception& e) {
      if (!reporting) TeMemo1.Clear();
      TeMemo1.SetFontColor(kLogOutcomeColor);
      TeMemo1.Add(std::string(msg::kFileError) + e.what() + ".");
      // Without the file the named lines are still there to choose.
      if (!named_added && !env_.named_lines.empty()) {
        add_named(marks);
        try {
          if (!PortItems.empty()) select(marks);
        } catch (const std::exception&) {
          // As a port of the list: a port that cannot be reopened is dropped quietly.
        }
      }
    }
  };

  std::optional<std::vector<std::string>> names = source.ListPorts();
  if (names) {
    remove_items();
    if (!names->empty()) {
      // Every port the platform lists gets an item, however many there are.
      Marks marks;
      add_found(*names, marks);
      add_named(marks);
      try {
        select(marks);
      } catch (const std::exception&) {
        // A port that cannot be reopened under the chosen name: dropped without a word.
      }
    } else {
      fill_from_file(false);
    }
  } else {
    TeMemo1.Clear();
    TeMemo1.Add(msg::kRegistryError);
    TeMemo1.Add(msg::kFileRequest);
    fill_from_file(true);
  }
}

void TForm1::My(TObject* Sender) {
  auto* clicked = dynamic_cast<TTeItem*>(Sender);
  if (clicked == nullptr) return;
  for (std::size_t i = 0; i < PORT1.Count(); ++i) PORT1.Item(i)->SetChecked(false);
  clicked->SetChecked(true);
  std::string port = clicked->Caption();
  for (std::size_t i = 0; i < PortItems.size() && i < PortItemPorts.size(); ++i)
    if (PortItems[i].get() == clicked) port = PortItemPorts[i];
  try {
    ComPort1().SetPort(port);
    StatusBar1.SetPanelText(0, clicked->Caption());
  } catch (const std::exception&) {
    // The port was open and cannot be reopened under the new name; panel 0 keeps its text.
  }
}

const NamedLine* TForm1::ChosenNamedLine() const {
  for (const NamedLine& line : env_.named_lines)
    if (line.target == ComPort1_->Port() && line.name == StatusBar1.PanelText(0)) return &line;
  return nullptr;
}

void TForm1::ChoosePort(const std::string& name) {
  for (const auto& item : PortItems) {
    if (item->Caption() == name) {
      item->Click();
      return;
    }
  }
  auto line = std::find_if(env_.named_lines.begin(), env_.named_lines.end(),
                           [&](const NamedLine& l) { return l.name == name; });
  if (line == env_.named_lines.end())
    line = env_.named_lines.insert(env_.named_lines.end(), NamedLine{name, name, {}, 0});
  for (std::size_t i = 0; i < PORT1.Count(); ++i) PORT1.Item(i)->SetChecked(false);
  ComPort1().SetPort(line->target);
  StatusBar1.SetPanelText(0, line->name);
}

}  // namespace ornat
