// Port discovery and selection: the Port submenu is rebuilt from the platform's list
// of serial ports or, where that cannot be opened or is empty, from "comports.txt";
// one port is preselected (the current one, else COM1, else the first).

#include "serial/port_discovery.h"

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <optional>

#include "serial/comport.h"
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

  auto remove_items = [this] { PortItems.clear(); };  // each item leaves PORT1 as it goes
  auto add_item = [&](std::size_t i, const std::string& name, Marks& marks) {
    auto item = std::make_unique<TTeItem>("", name);
    item->OnClick = [this](TObject* s) { My(s); };
    PORT1.Insert(i, item.get());
    PortItems.push_back(std::move(item));
    if (name == "COM1") marks.com1 = i;
    if (name == port_before) marks.current = i;
  };
  auto select = [&](std::size_t first, const Marks& marks) {
    std::size_t chosen = marks.current ? *marks.current : marks.com1 ? *marks.com1 : first;
    TTeItem& item = *PortItems[chosen];
    item.SetChecked(true);
    ComPort1().SetPort(item.Caption());
    StatusBar1.SetPanelText(0, item.Caption());
    ComPort1().SetPort(item.Caption());
  };
  // Both variants of the file fill; `reporting` follows a list that could not be opened.
  auto fill_from_file = [&](bool reporting) {
    try {
      if (reporting) remove_items();
      std::string path = env_.working_dir.empty() ? std::string(kPortListFile)
                                                  : env_.working_dir + "/" + kPortListFile;
      std::vector<std::string> names = ReadPortListFile(path, kMaxFileLines);
      Marks marks;
      for (std::size_t i = 0; i < names.size(); ++i) add_item(i, names[i], marks);
      if (!names.empty()) {
        ComPort1().SetPort(PortItems[0]->Caption());
        StatusBar1.SetPanelText(0, PortItems[0]->Caption());
        ComPort1().SetPort(PortItems[0]->Caption());
        select(0, marks);
      }
      if (reporting) TeMemo1.Add(msg::kFileOk);
    } catch (const std::exception& e) {
      if (!reporting) TeMemo1.Clear();
      TeMemo1.SetFontColor(kLogOutcomeColor);
      TeMemo1.Add(std::string(msg::kFileError) + e.what() + ".");
    }
  };

  std::optional<std::vector<std::string>> names = source.ListPorts();
  if (names) {
    remove_items();
    if (!names->empty()) {
      // Every port the platform lists gets an item, however many there are.
      Marks marks;
      for (std::size_t i = 0; i < names->size(); ++i) add_item(i, (*names)[i], marks);
      try {
        select(0, marks);
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
  try {
    ComPort1().SetPort(clicked->Caption());
    StatusBar1.SetPanelText(0, clicked->Caption());
  } catch (const std::exception&) {
    // The port was open and cannot be reopened under the new name; panel 0 keeps its text.
  }
}

}  // namespace ornat
