#include "cli/option_values.h"

#include <algorithm>
#include <cctype>

#include "cli/cli_options.h"
#include "detector/shown_parameters.h"
#include "modbus/round_trip.h"
#include "ui/main_window.h"

namespace ornat::cli {

namespace {

constexpr const char* kSpeedList = "1200, 2400, 4800, 9600, 14400, 19200, 38400, 57600";
constexpr const char* kDelayList = "100, 150, 200, 250, 300, 350";

std::string Upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

std::string TacticList() {
  std::string list;
  for (const TacticChoice& choice : TacticChoices())
    list += (list.empty() ? "" : ", ") + std::to_string(choice.code) + " " + choice.name;
  return list;
}

}  // namespace

std::optional<long> WholeNumber(const std::string& text) {
  if (text.empty() || text.size() > 6) return std::nullopt;
  for (char c : text)
    if (!std::isdigit(static_cast<unsigned char>(c))) return std::nullopt;
  return std::stol(text);
}

std::uint8_t AddressValue(const std::string& text, const std::string& what) {
  const auto n = WholeNumber(text);
  if (!n || *n < 1 || *n > 247)
    throw UsageError(what + " \"" + text + "\" is not valid: a slave address is 1 to 247");
  return static_cast<std::uint8_t>(*n);
}

std::uint8_t BaudValue(const std::string& text, const std::string& what) {
  for (std::uint8_t i = 0; i < kBaudTable.size(); ++i)
    if (text == kBaudTable[i].speed_text) return i;
  throw UsageError(what + " \"" + text + "\" is not valid: the speeds are " + kSpeedList +
                   " bit/s");
}

std::uint8_t TacticValue(const std::string& text) {
  const auto n = WholeNumber(text);
  for (const TacticChoice& choice : TacticChoices())
    if ((n && *n == choice.code) || Upper(text) == choice.name) return choice.code;
  throw UsageError("tactic \"" + text + "\" is not valid: the tactics are " + TacticList() +
                   " (code 1 is not a tactic)");
}

std::uint16_t DelayValue(const std::string& text) {
  const auto n = WholeNumber(text);
  if (!n || *n < 100 || *n > 350 || *n % 50 != 0)
    throw UsageError("--delay \"" + text + "\" is not valid: the delays are " + kDelayList + " ms");
  return static_cast<std::uint16_t>(*n);
}

int NetDelayValue(const std::string& text) {
  const auto n = WholeNumber(text);
  if (!n || *n > kMaxNetDelayMs)
    throw UsageError("--net-delay \"" + text +
                     "\" is not valid: the round-trip allowance is 0 to " +
                     std::to_string(kMaxNetDelayMs) + " ms");
  return static_cast<int>(*n);
}

std::vector<std::uint8_t> SpeedsValue(const std::string& text) {
  std::vector<std::uint8_t> speeds;
  if (text == "all") {
    for (std::uint8_t i = 0; i < kBaudTable.size(); ++i) speeds.push_back(i);
    return speeds;
  }
  std::size_t pos = 0;
  while (pos <= text.size()) {
    const std::size_t comma = std::min(text.find(',', pos), text.size());
    const std::uint8_t row = BaudValue(text.substr(pos, comma - pos), "--speeds: speed");
    if (std::find(speeds.begin(), speeds.end(), row) == speeds.end()) speeds.push_back(row);
    pos = comma + 1;
  }
  return speeds;
}

int CountValue(const std::string& text) {
  const auto n = WholeNumber(text);
  if (!n || *n < 1) throw UsageError("--count \"" + text + "\" is not valid: 1 or more queries");
  return static_cast<int>(*n);
}

std::uint8_t ServiceBlockValue(const std::string& text) {
  const std::string block = Upper(text);
  if (block != "F0" && block != "F2" && block != "F3")
    throw UsageError("service \"" + text + "\" is not valid: the blocks are F0, F2 and F3");
  return block == "F0" ? 0 : block == "F2" ? 1 : 2;
}

bool OnOffValue(const std::string& text) {
  if (text != "on" && text != "off")
    throw UsageError("set test \"" + text + "\" is not valid: on or off");
  return text == "on";
}

std::vector<std::pair<std::uint8_t, std::uint8_t>> ParseAddressRuns(const std::string& text) {
  std::vector<std::pair<std::uint8_t, std::uint8_t>> runs;
  std::size_t pos = 0;
  while (pos <= text.size()) {
    const std::size_t comma = std::min(text.find(',', pos), text.size());
    const std::string part = text.substr(pos, comma - pos);
    const std::size_t dash = part.find('-');
    const std::uint8_t first = AddressValue(part.substr(0, dash), "--addresses: address");
    const std::uint8_t last = dash == std::string::npos
                                  ? first
                                  : AddressValue(part.substr(dash + 1), "--addresses: address");
    if (last < first)
      throw UsageError("--addresses: \"" + part + "\" runs backwards; write it " +
                       std::to_string(last) + "-" + std::to_string(first));
    runs.emplace_back(first, last);
    pos = comma + 1;
  }
  std::sort(runs.begin(), runs.end());
  std::vector<std::pair<std::uint8_t, std::uint8_t>> merged;
  for (const auto& run : runs) {
    if (!merged.empty() && run.first <= merged.back().second + 1)
      merged.back().second = std::max(merged.back().second, run.second);
    else
      merged.push_back(run);
  }
  return merged;
}

std::string AddressRunsText(const std::vector<std::pair<std::uint8_t, std::uint8_t>>& runs) {
  std::string text;
  for (const auto& [first, last] : runs) {
    if (!text.empty()) text += ',';
    text += std::to_string(first);
    if (last != first) {
      text += '-';
      text += std::to_string(last);
    }
  }
  return text;
}

}  // namespace ornat::cli
