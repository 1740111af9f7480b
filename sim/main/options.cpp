#include "options.h"

#include <cstdio>
#include <optional>
#include <utility>

#include "model/console.h"
#include "port_registry.h"
#include "tcp_listener.h"
#include "usage.h"

namespace ornat::sim {

int ParseArgs(int argc, char** argv, Options& o) {
  std::vector<std::string> args(argv + 1, argv + argc);
  auto add_global = [&](const std::string& option) {
    o.global_options += (o.global_options.empty() ? "" : ",") + option;
  };
  for (std::size_t i = 0; i < args.size(); ++i) {
    std::string arg = args[i];
    std::optional<std::string> inline_value;
    if (const auto eq = arg.find('='); arg.rfind("--", 0) == 0 && eq != std::string::npos) {
      inline_value = arg.substr(eq + 1);
      arg = arg.substr(0, eq);
    }
    auto value = [&]() -> std::optional<std::string> {
      if (inline_value) return inline_value;
      if (i + 1 < args.size()) return args[++i];
      return std::nullopt;
    };
    auto missing = [&] {
      std::fprintf(stderr, "ornat-sim: %s needs a value (see --help)\n", arg.c_str());
      return 2;
    };
    long long n = 0;
    if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      return kHelpShown;
    } else if (arg == "--garble") {
      o.garble = true;
    } else if (arg == "--no-console") {
      o.console = false;
    } else if (arg == "--silent") {
      add_global("silent");
    } else if (arg == "--echo") {
      add_global("echo");
    } else if (arg == "--unpaced") {
      add_global("unpaced");
    } else {
      // One option a line.
      // clang-format off
      static const std::pair<const char*, const char*> kGlobalWithValue[] = {
          {"--bad-crc", "crc"},
          {"--stray", "stray"},
          {"--pause", "pause"},
          {"--exception", "exception"},
          {"--identity", "id"},
          {"--query-regs", "regs"},
          {"--delay", "delay"},
          {"--answer-from", "answer-from"},
          {"--trailing", "trailing"},
          {"--adapter-latency", "latency"},
      };
      // clang-format on
      bool handled = false;
      for (const auto& [flag, verb] : kGlobalWithValue) {
        if (arg != flag) continue;
        const auto v = value();
        if (!v) return missing();
        add_global(std::string(verb) + "=" + *v);
        handled = true;
      }
      if (handled) continue;
      static const char* const kWithValue[] = {"--name",       "--device",          "--detector",
                                               "--turnaround", "--wire-log",        "--seed",
                                               "--noise",      "--gateway-timeout", "--listen"};
      std::optional<std::string> v;
      for (const char* flag : kWithValue) {
        if (arg != flag) continue;
        v = value();
        if (!v) return missing();
      }
      if (!v) {
        std::fprintf(stderr, "ornat-sim: unknown option '%s' (see --help)\n", args[i].c_str());
        return 2;
      }
      if (arg == "--name") {
        o.name = *v;
        if (!IsValidPortName(o.name)) {
          std::fprintf(stderr, "ornat-sim: invalid port name '%s'\n", o.name.c_str());
          return 2;
        }
      } else if (arg == "--device") {
        o.device = *v;
      } else if (arg == "--listen") {
        const ListenUrlParse parsed = ParseListenUrl(*v);
        if (!parsed.error.empty()) {
          std::fprintf(stderr, "ornat-sim: --listen: %s\n", parsed.error.c_str());
          return 2;
        }
        o.listen = parsed.url;
      } else if (arg == "--gateway-timeout") {
        if (!ParseNumber(*v, 1, 60000, n)) {
          std::fprintf(stderr, "ornat-sim: --gateway-timeout takes 1..60000 ms\n");
          return 2;
        }
        o.gateway_timeout_ms = n;
      } else if (arg == "--detector") {
        o.detectors.push_back(*v);
      } else if (arg == "--turnaround") {
        if (!ParseNumber(*v, 0, 60000, n)) {
          std::fprintf(stderr, "ornat-sim: --turnaround takes 0..60000 ms\n");
          return 2;
        }
        o.turnaround_ms = n;
      } else if (arg == "--wire-log") {
        o.wire_log = *v;
      } else if (arg == "--seed") {
        if (!ParseNumber(*v, 0, 0xFFFFFFFF, n)) {
          std::fprintf(stderr, "ornat-sim: --seed takes a number\n");
          return 2;
        }
        o.seed = static_cast<std::uint32_t>(n);
      } else if (arg == "--noise") {
        const auto at = v->find('@');
        long long period = 0;
        if (at == std::string::npos || !ParseNumber(v->substr(0, at), 1, 256, n) ||
            !ParseNumber(v->substr(at + 1), 1, 60000, period)) {
          std::fprintf(stderr, "ornat-sim: --noise takes N@MS: 1..256 bytes every 1..60000 ms\n");
          return 2;
        }
        o.noise_bytes = static_cast<std::size_t>(n);
        o.noise_period_ms = period;
      }
    }
  }
  if (o.listen && !o.device.empty()) {
    std::fprintf(stderr, "ornat-sim: --listen and --device name two lines; give one\n");
    return 2;
  }
  if (o.detectors.empty()) o.detectors.push_back(std::to_string(kFactoryAddress));
  return 0;
}

std::vector<std::string> DetectorDefinitions(const Options& o) {
  std::vector<std::string> out;
  for (const std::string& definition : o.detectors) {
    std::string full = definition;
    if (!o.global_options.empty()) {
      const auto colon = definition.find(':');
      full = colon == std::string::npos ? definition + ":" + o.global_options
                                        : definition.substr(0, colon) + ":" + o.global_options +
                                              "," + definition.substr(colon + 1);
    }
    out.push_back(std::move(full));
  }
  return out;
}

}  // namespace ornat::sim
