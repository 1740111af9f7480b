#include "model/console.h"

#include <charconv>
#include <cstdio>
#include <sstream>

namespace ornat::sim {
namespace {

std::vector<std::string_view> Split(std::string_view line) {
  std::vector<std::string_view> out;
  std::size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t' || line[i] == '\r')) ++i;
    const std::size_t start = i;
    while (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '\r') ++i;
    if (i > start) out.push_back(line.substr(start, i - start));
  }
  return out;
}

bool ParseOnOff(std::string_view text, bool& out) {
  if (text == "on" || text == "1") {
    out = true;
    return true;
  }
  if (text == "off" || text == "0") {
    out = false;
    return true;
  }
  return false;
}

bool ParseChance(std::string_view text, double& out) {
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
  return ec == std::errc() && end == text.data() + text.size() && out >= 0.0 && out <= 1.0;
}

std::string Hex4(unsigned v) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "0x%04X", v & 0xFFFFu);
  return buf;
}

const char* StateName(std::uint16_t state) {
  switch (state) {
    case kStateNormal:
      return "normal";
    case kStateAlarm:
      return "alarm";
    case kStateFault:
      return "fault";
    default:
      return "?";
  }
}

std::string DescribeFaults(const Faults& f) {
  std::ostringstream s;
  if (f.silent) s << " silent";
  if (f.bad_crc_probability > 0) s << " crc=" << f.bad_crc_probability;
  if (f.echo_request) s << " echo";
  if (f.stray_bytes > 0) s << " stray=" << f.stray_bytes << "*0x" << Hex4(f.stray_value).substr(4);
  if (f.pause.count() > 0) {
    s << " pause=" << f.pause.count() << "ms";
    if (f.pause_after) s << "@" << *f.pause_after;
  }
  if (f.forced_exception) s << " exception=" << unsigned{*f.forced_exception};
  if (f.query_registers != 8) s << " regs=" << f.query_registers;
  if (f.extra_delay.count() > 0) s << " delay=" << f.extra_delay.count() << "ms";
  if (f.unpaced) s << " unpaced";
  if (f.answer_from) s << " answer-from=" << unsigned{*f.answer_from};
  if (f.trailing_bytes > 0)
    s << " trailing=" << f.trailing_bytes << "*0x" << Hex4(f.trailing_value).substr(4);
  if (f.adapter_latency.count() > 0) s << " latency=" << f.adapter_latency.count() << "ms";
  const std::string out = s.str();
  return out.empty() ? " none" : out;
}

}  // namespace

bool ParseNumber(std::string_view text, long long lo, long long hi, long long& out) {
  int base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    text.remove_prefix(2);
    base = 16;
  }
  if (text.empty()) return false;
  long long v = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v, base);
  if (ec != std::errc() || end != text.data() + text.size() || v < lo || v > hi) return false;
  out = v;
  return true;
}

std::string ApplyDetectorCommand(Bus::Detector& d, std::string_view verb,
                                 const std::vector<std::string_view>& args) {
  auto need = [&](std::size_t lo, std::size_t hi) {
    return args.size() >= lo && args.size() <= hi;
  };
  auto number = [&](std::size_t i, long long lo, long long hi, long long& v) {
    return i < args.size() && ParseNumber(args[i], lo, hi, v);
  };
  auto usage = [&](const char* what) { return std::string(verb) + ": " + what; };
  long long v = 0;
  long long w = 0;
  bool on = false;

  if (verb == "alarm" || verb == "fault" || verb == "normal") {
    if (!need(0, 0)) return usage("takes no argument");
    d.model.SetState(verb == "alarm" ? kStateAlarm : verb == "fault" ? kStateFault : kStateNormal);
  } else if (verb == "state") {
    if (!need(1, 1) || !number(0, 0, 0xFFFF, v)) return usage("state code 0..65535");
    d.model.SetState(static_cast<std::uint16_t>(v));
  } else if (verb == "tactic") {
    if (!need(1, 1) || !number(0, 0, 0xFFFF, v)) return usage("tactic code 0..65535");
    d.model.SetRegister(kRegTactic, static_cast<std::uint16_t>(v));
  } else if (verb == "test" || verb == "latch") {
    if (!need(1, 1) || !ParseOnOff(args[0], on)) return usage("on or off");
    // Register 5 holds 0 when latching is on.
    if (verb == "test") d.model.SetRegister(kRegTestMode, on ? 1 : 0);
    if (verb == "latch") d.model.SetRegister(kRegLatching, on ? 0 : 1);
  } else if (verb == "addr") {
    if (!need(1, 1) || !number(0, 1, kHighestAddress, v)) return usage("address 1..247");
    d.model.SetAddress(static_cast<std::uint8_t>(v));
  } else if (verb == "speed") {
    if (!need(1, 1) || !number(0, 1, 8, v)) return usage("line-speed code 1..8");
    d.model.SetSpeedCode(static_cast<std::uint16_t>(v));
  } else if (verb == "set") {
    if (!need(2, 2) || !number(0, 0, 0xFFFF, v) || !number(1, 0, 0xFFFF, w)) {
      return usage("register and value");
    }
    if (!d.model.SetRegister(static_cast<std::uint16_t>(v), static_cast<std::uint16_t>(w))) {
      return usage("no such register");
    }
  } else if (verb == "id") {
    if (!need(1, 1) || !number(0, 0, 0xFFFF, v)) return usage("identity 0..0xFFFF");
    d.model.SetIdentity(static_cast<std::uint16_t>(v));
  } else if (verb == "regs") {
    if (!need(1, 1) || !number(0, 1, 8, v)) return usage("registers 1..8");
    d.faults.query_registers = static_cast<std::uint16_t>(v);
  } else if (verb == "silent" || verb == "echo" || verb == "unpaced") {
    if (!need(1, 1) || !ParseOnOff(args[0], on)) return usage("on or off");
    (verb == "silent" ? d.faults.silent
     : verb == "echo" ? d.faults.echo_request
                      : d.faults.unpaced) = on;
  } else if (verb == "crc") {
    double p = 0;
    if (!need(1, 1) || !ParseChance(args[0], p)) return usage("chance 0..1");
    d.faults.bad_crc_probability = p;
  } else if (verb == "stray") {
    if (!need(1, 2) || !number(0, 0, 64, v)) return usage("count 0..64 [byte value]");
    w = d.faults.stray_value;
    if (args.size() == 2 && !number(1, 0, 255, w)) return usage("byte value 0..255");
    d.faults.stray_bytes = static_cast<std::size_t>(v);
    d.faults.stray_value = static_cast<std::uint8_t>(w);
  } else if (verb == "trailing") {
    if (!need(1, 2) || !number(0, 0, 64, v)) return usage("count 0..64 [byte value]");
    w = d.faults.trailing_value;
    if (args.size() == 2 && !number(1, 0, 255, w)) return usage("byte value 0..255");
    d.faults.trailing_bytes = static_cast<std::size_t>(v);
    d.faults.trailing_value = static_cast<std::uint8_t>(w);
  } else if (verb == "latency") {
    if (!need(1, 1) || !number(0, 0, 1000, v)) return usage("milliseconds 0..1000");
    d.faults.adapter_latency = std::chrono::milliseconds(v);
  } else if (verb == "pause") {
    if (!need(1, 2) || !number(0, 0, 60000, v)) return usage("milliseconds 0..60000 [after bytes]");
    if (args.size() == 2 && !number(1, 1, 300, w)) return usage("after bytes 1..300");
    d.faults.pause = std::chrono::milliseconds(v);
    d.faults.pause_after =
        args.size() == 2 ? std::optional<std::size_t>(static_cast<std::size_t>(w)) : std::nullopt;
  } else if (verb == "exception") {
    if (need(1, 1) && args[0] == "off") {
      d.faults.forced_exception.reset();
    } else {
      if (!need(1, 1) || !number(0, 0, 255, v)) return usage("exception code 0..255 or off");
      d.faults.forced_exception = static_cast<std::uint8_t>(v);
    }
  } else if (verb == "answer-from") {
    if (need(1, 1) && args[0] == "off") {
      d.faults.answer_from.reset();
    } else {
      if (!need(1, 1) || !number(0, 0, 255, v)) return usage("address 0..255 or off");
      d.faults.answer_from = static_cast<std::uint8_t>(v);
    }
  } else if (verb == "delay") {
    if (!need(1, 1) || !number(0, 0, 60000, v)) return usage("milliseconds 0..60000");
    d.faults.extra_delay = std::chrono::milliseconds(v);
  } else if (verb == "clear") {
    if (!need(0, 0)) return usage("takes no argument");
    d.faults = Faults{};
  } else if (verb == "factory") {
    if (!need(0, 0)) return usage("takes no argument");
    d.model = DetectorModel();
  } else {
    return "unknown command '" + std::string(verb) + "' (try help)";
  }
  return {};
}

bool ParseDetectorDefinition(std::string_view definition, Bus::Detector& out, std::string& error) {
  const std::size_t colon = definition.find(':');
  long long address = 0;
  if (!ParseNumber(definition.substr(0, colon), 1, kHighestAddress, address)) {
    error = "detector address 1..247 expected in '" + std::string(definition) + "'";
    return false;
  }
  Bus::Detector d{DetectorModel(static_cast<std::uint8_t>(address)), Faults{}};
  std::string_view rest =
      colon == std::string_view::npos ? std::string_view{} : definition.substr(colon + 1);
  while (!rest.empty()) {
    const std::size_t comma = rest.find(',');
    std::string_view option = rest.substr(0, comma);
    rest = comma == std::string_view::npos ? std::string_view{} : rest.substr(comma + 1);
    if (option.empty()) continue;
    const std::size_t eq = option.find('=');
    const std::string_view verb = option.substr(0, eq);
    std::vector<std::string_view> args;
    if (eq != std::string_view::npos) {
      std::string_view value = option.substr(eq + 1);
      const std::size_t at = value.find('@');
      args.push_back(value.substr(0, at));
      if (at != std::string_view::npos) args.push_back(value.substr(at + 1));
    } else if (verb == "silent" || verb == "echo" || verb == "unpaced" || verb == "test" ||
               verb == "latch") {
      args.push_back("on");
    }
    const std::string why = ApplyDetectorCommand(d, verb, args);
    if (!why.empty()) {
      error = "in '" + std::string(definition) + "': " + why;
      return false;
    }
  }
  out = std::move(d);
  return true;
}

std::string DescribeDetector(const Bus& bus, std::size_t index) {
  const Bus::Detector& d = bus.at(index);
  const DetectorModel& m = d.model;
  auto reg = [&](std::uint16_t r) { return static_cast<unsigned>(m.Register(r).value_or(0)); };
  std::ostringstream s;
  s << "#" << index << " addr=" << unsigned{m.address()} << " speed=" << m.speed_code() << " ("
    << m.bit_rate() << ") id=" << Hex4(reg(kRegIdentity)) << " state=" << m.state() << " ("
    << StateName(m.state()) << ") tactic=" << reg(kRegTactic) << " latch=" << reg(kRegLatching)
    << " test=" << reg(kRegTestMode) << " faults:" << DescribeFaults(d.faults);
  return s.str();
}

std::vector<std::string> ConsoleHelp() {
  return {
      "Detector commands (act on the selected detector; '@ADDR cmd' for one command):",
      "  alarm | fault | normal     set the state (register 3)",
      "  state N                    any state code",
      "  tactic N                   tactic code (register 4), any value",
      "  test on|off                test mode (register 7)",
      "  latch on|off               alarm latching (register 5: 0 = on)",
      "  addr N                     slave address 1..247, at once",
      "  speed CODE                 line-speed code 1..8 (1200..57600 bit/s), at once",
      "  set REG VALUE              store any value in any register (0..7, 0xF000.., ...)",
      "  id VALUE                   identity in register 0 (0x0010 is the right one)",
      "  factory                    the detector as from the factory (247, 9600 bit/s)",
      "Faults (also as 'fault-inject KIND ARGS'):",
      "  silent on|off              no answer at all; requests are not carried out",
      "  crc P                      corrupt the answer's CRC with chance P (0..1)",
      "  echo on|off                send the request back before the answer",
      "  stray N [BYTE]             N noise bytes (default 0xFF) before the answer",
      "  pause MS [AFTER]           a silence of MS ms after AFTER answer bytes (mid)",
      "  exception CODE|off         answer every request with this exception code",
      "  regs N                     answer the parameter query with N registers (1..8)",
      "  delay MS                   answer MS ms later than the turnaround",
      "  unpaced on|off             the whole answer at once, not one byte per 10 bits",
      "  answer-from ADDR|off       answer with ADDR in byte 0 (CRC fitted), as another unit",
      "  trailing N [BYTE]          N bytes (default 0x00) right behind the answer",
      "  latency MS                 the master's adapter hands bytes over every MS ms",
      "  clear                      no faults",
      "Line and program:",
      "  show                       every detector with its registers and faults",
      "  select ADDR | select #N    choose the detector the commands act on",
      "  add ADDR[:OPTIONS]         put another detector on the line",
      "  garble on|off              answer random bytes to frames at a foreign speed",
      "  turnaround MS              silence before every answer (default 5)",
      "  help                       this text",
      "  quit                       end the program",
  };
}

Console::Result Console::Execute(std::string_view line) {
  Result result;
  std::vector<std::string_view> words = Split(line);
  if (words.empty() || words[0].front() == '#') return result;
  auto fail = [&](std::string why) {
    result.lines.push_back("ERR " + why);
    return result;
  };

  std::size_t target = selected_;
  if (words[0].front() == '@') {
    long long address = 0;
    if (!ParseNumber(words[0].substr(1), 0, 255, address)) return fail("bad address in '@'");
    const auto found = bus_.Find(static_cast<std::uint8_t>(address));
    if (!found) return fail("no detector at address " + std::to_string(address));
    target = *found;
    words.erase(words.begin());
    if (words.empty()) return fail("command expected after '@'");
  }
  std::string_view verb = words[0];
  std::vector<std::string_view> args(words.begin() + 1, words.end());
  if (verb == "fault-inject") {
    if (args.empty()) return fail("fault-inject: fault kind expected");
    verb = args[0];
    args.erase(args.begin());
    if (verb == "off" || verb == "none") verb = "clear";
  }

  long long v = 0;
  bool on = false;
  if (verb == "help") {
    result.lines = ConsoleHelp();
  } else if (verb == "show") {
    for (std::size_t i = 0; i < bus_.size(); ++i) {
      result.lines.push_back((i == selected_ ? "* " : "  ") + DescribeDetector(bus_, i));
    }
    result.lines.push_back(std::string("  line: turnaround=") +
                           std::to_string(bus_.options().turnaround.count() / 1000) +
                           "ms garble=" + (bus_.options().garble_foreign_speed ? "on" : "off"));
  } else if (verb == "quit" || verb == "exit") {
    result.quit = true;
  } else if (verb == "select") {
    if (args.size() != 1) return fail("select: ADDR or #N");
    if (args[0].front() == '#') {
      if (!ParseNumber(args[0].substr(1), 0, static_cast<long long>(bus_.size()) - 1, v)) {
        return fail("select: no detector " + std::string(args[0]));
      }
      selected_ = static_cast<std::size_t>(v);
    } else {
      if (!ParseNumber(args[0], 0, 255, v)) return fail("select: ADDR or #N");
      const auto found = bus_.Find(static_cast<std::uint8_t>(v));
      if (!found) return fail("no detector at address " + std::string(args[0]));
      selected_ = *found;
    }
    result.lines.push_back("OK " + DescribeDetector(bus_, selected_));
    return result;
  } else if (verb == "add") {
    if (args.size() != 1) return fail("add: ADDR[:OPTIONS]");
    Bus::Detector d{DetectorModel(), Faults{}};
    std::string why;
    if (!ParseDetectorDefinition(args[0], d, why)) return fail("add: " + why);
    const std::size_t i = bus_.Add(std::move(d.model), d.faults);
    result.lines.push_back("OK " + DescribeDetector(bus_, i));
    return result;
  } else if (verb == "garble") {
    if (args.size() != 1 || !ParseOnOff(args[0], on)) return fail("garble: on or off");
    bus_.options().garble_foreign_speed = on;
  } else if (verb == "turnaround") {
    if (args.size() != 1 || !ParseNumber(args[0], 0, 60000, v)) return fail("turnaround: ms");
    bus_.options().turnaround = std::chrono::milliseconds(v);
  } else {
    if (bus_.size() == 0) return fail("no detector on the line");
    const std::string why = ApplyDetectorCommand(bus_.at(target), verb, args);
    if (!why.empty()) return fail(why);
    result.lines.push_back("OK " + DescribeDetector(bus_, target));
    return result;
  }
  result.lines.push_back("OK");
  return result;
}

}  // namespace ornat::sim
