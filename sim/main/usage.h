#pragma once
// The text of `ornat-sim --help`: the options, the standard output's lines, the console
// commands and the wire log's format, as docs/simulator.md describes them at length.

namespace ornat::sim {

extern const char kUsage[];

}  // namespace ornat::sim
