#include "serial/network/lines_file.h"

#include <algorithm>

#include "serial/network/port_url.h"

namespace ornat {

namespace {

std::string_view Trim(std::string_view text) {
  const auto space = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
  while (!text.empty() && space(text.front())) text.remove_prefix(1);
  while (!text.empty() && space(text.back())) text.remove_suffix(1);
  return text;
}

// text in double quotes. (Built by appending: GCC 12 warns falsely on "\"" + string.)
std::string Quoted(std::string_view text) {
  std::string out = "\"";
  out.append(text).push_back('"');
  return out;
}

// Takes a trailing " net-delay=MS" off the target into named.net_delay_ms; the problem
// with its value, or "".
std::string TakeNetDelay(NamedLine& named) {
  constexpr std::string_view kKey = "net-delay=";
  const std::size_t space = named.target.find_last_of(" \t");
  const std::size_t start = space == std::string::npos ? 0 : space + 1;
  if (named.target.compare(start, kKey.size(), kKey) != 0) return {};
  const std::string value = named.target.substr(start + kKey.size());
  named.target = std::string(Trim(std::string_view(named.target).substr(0, start)));
  const bool digits = !value.empty() && value.size() <= 5 &&
                      value.find_first_not_of("0123456789") == std::string::npos;
  if (!digits || std::stoi(value) > kMaxNetDelayMs)
    return Quoted("net-delay=" + value) + ": the round-trip allowance is 0 to " +
           std::to_string(kMaxNetDelayMs) + " ms";
  named.net_delay_ms = std::stoi(value);
  return {};
}

// The problem with one "NAME = TARGET" line, or "" when it names a line.
std::string Judge(std::string_view line, const LinesFile& file, NamedLine& named) {
  const std::size_t eq = line.find('=');
  if (eq == std::string_view::npos) return Quoted(line) + " is not NAME = TARGET";
  named.name = std::string(Trim(line.substr(0, eq)));
  named.target = std::string(Trim(line.substr(eq + 1)));
  if (named.name.empty()) return "no name before '='";
  if (std::string delay = TakeNetDelay(named); !delay.empty()) return delay;
  if (named.target.empty()) return "no port after " + Quoted(named.name + " =");
  if (HasUrlScheme(named.name))
    return "the name " + Quoted(named.name) + " is a URL: give the line a name of its own";
  if (HasUrlScheme(named.target)) {
    const PortUrlParse url = ParsePortUrl(named.target);
    if (!url.url) return url.error;
  }
  const auto same = std::find_if(file.lines.begin(), file.lines.end(),
                                 [&](const NamedLine& l) { return l.name == named.name; });
  if (same != file.lines.end())
    return Quoted(named.name) + " is named already on line " + std::to_string(same->line_number);
  return {};
}

}  // namespace

LinesFile ParseLinesFile(std::string_view text) {
  LinesFile file;
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
  int number = 0;
  while (!text.empty()) {
    const std::size_t nl = text.find('\n');
    const std::string_view line = Trim(text.substr(0, nl));
    text.remove_prefix(nl == std::string_view::npos ? text.size() : nl + 1);
    ++number;
    if (line.empty() || line.front() == '#') continue;
    NamedLine named;
    named.line_number = number;
    std::string problem = Judge(line, file, named);
    if (problem.empty())
      file.lines.push_back(std::move(named));
    else
      file.problems.push_back({number, std::move(problem)});
  }
  return file;
}

}  // namespace ornat
