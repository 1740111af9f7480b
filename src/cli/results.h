#pragma once
// What each command found, as plain data: a command computes one of these, and
// render_text.h and render_json.h print it, so that the text and the JSON document of a
// command always tell the same run.

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "cli/verdict.h"
#include "detector/shown_parameters.h"
#include "detector/survey.h"
#include "modbus/exchange_observer.h"
#include "serial/network/lines_file.h"

namespace ornat::cli {

// The head of a command's document: the command as typed, the port, the PC's speed
// (bit/s) and the address.
struct DocumentHead {
  std::string command;
  std::string port;
  int baud = 0;
  int address = 0;
};

// A command that ran exchanges and judged them.
struct ExchangesResult {
  DocumentHead head;
  Verdict verdict;   // the command's
  Verdict reported;  // the document's: the command's, with the journal counted
  std::vector<ExchangeRecord> exchanges;
};

struct PortsResult {
  std::vector<std::string> ports;  // the ports found
  // -v: what the system knows of each port found ("" for nothing); empty without -v.
  std::vector<std::string> descriptions;
  std::vector<NamedLine> lines;  // the lines file's named lines
  std::string selected;          // the port preselected (a named line's target)
};

struct QueryResult : ExchangesResult {
  std::optional<ShownParameters> shown;  // when the query was answered well
  std::string speed;                     // the PC's, as the menu shows it
};

// One line of watch: a query (or bytes with no query) as it ended.
struct WatchLine {
  std::string time;                        // ISO 8601, local offset
  const ExchangeRecord* record = nullptr;  // the exchange, while the line is printed
  Verdict verdict;                         // query's verdict of this exchange
  std::optional<ShownParameters> shown;
  std::vector<std::string> changed;  // what differs from the previous answer
  std::string why;                   // no detector shown: why (text output)
};

struct WatchSummary {
  std::string how;  // "done", "stopped by Ctrl-C", ...
  WatchTally tally;
  double seconds = 0;
};

struct ResetAlarmResult : ExchangesResult {};

struct TacticResult : ExchangesResult {
  int code = 0;
  std::string name;
  std::string label;
};

struct TestResult : ExchangesResult {
  bool on = false;
  bool written = false;
};

struct AddressResult : ExchangesResult {
  int previous = 0;
  std::string occupied;  // what answered at the new address; empty: free or not looked at
  bool written = false;
  int acknowledged = 0;  // the address the window follows
};

struct BaudResult : ExchangesResult {
  std::string acknowledged;  // the speed the detector echoed
  std::string pc;            // the PC's speed, which stays
  std::vector<std::string> questions;
};

struct ResetInterfaceResult : ExchangesResult {
  std::vector<std::string> questions;
};

struct ServiceResult : ExchangesResult {
  const char* block = "";
  std::uint16_t first = 0;
  std::uint16_t count = 0;
  std::vector<std::uint8_t> answer;  // empty unless it holds the whole block
};

struct SearchResult {
  DocumentHead head;
  bool found = false;
  std::string speed;
  SearchFindings findings;
  std::uint16_t delay_ms = 0;
  bool interrupted = false;
  double seconds = 0;
  int exit = kExitDone;  // the document's, with the journal counted
  std::vector<std::string> log;
};

struct SurveyResult {
  std::string port;
  std::vector<std::uint8_t> speeds;
  std::vector<std::pair<std::uint8_t, std::uint8_t>> ranges;
  std::vector<int> windows_ms;  // one per speed
  std::vector<SurveyDevice> devices;
  std::vector<SurveyNoise> noise;
  std::vector<int> several;  // addresses where several devices answer
  int late_answers = 0;
  int probes = 0;
  int probes_again = 0;
  bool interrupted = false;
  bool port_failed = false;
  std::string port_failure;  // why, when it failed
  int stopped_at = 0;        // the address probed last
  std::uint8_t stopped_baud = 0;
  double seconds = 0;
  double nominal_seconds = 0;
  int exit = kExitDone;  // the document's, with the journal counted
};

// Another ornat program holds the line: nothing is sent.
struct LineInUseResult {
  DocumentHead head;
  std::string outcome;
  long long pid = 0;
  std::string runs;
  ExchangeRecord record;  // the refused send, as the journal has it
};

}  // namespace ornat::cli
