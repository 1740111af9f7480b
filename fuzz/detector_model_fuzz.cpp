// The simulated detector on any bytes: the frame assembler cuts them into bursts,
// each frame goes to a detector and the answer is well formed: addressed from the
// detector, with a CRC that fits, and never longer than a Modbus frame.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "model/detector_model.h"
#include "model/frame_assembler.h"
#include "model/modbus_crc.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace ornat::sim;
  if (size < 1) return 0;
  DetectorModel model(static_cast<std::uint8_t>(data[0] % 247 + 1));
  FrameAssembler assembler;
  // Byte pairs: a gap in characters before the byte, then the byte.
  std::chrono::nanoseconds now{0};
  auto check = [&](const std::vector<FrameAssembler::Event>& events) {
    for (const auto& e : events) {
      if (e.kind != FrameAssembler::Event::Kind::kFrame) continue;
      const std::uint8_t before = model.address();
      Answer a = model.HandleFrame(e.bytes);
      if (!a.bytes.empty()) {
        if (a.bytes.size() < 5 || a.bytes.size() > 256) std::abort();
        if (a.bytes[0] != before) std::abort();
        Bytes body(a.bytes.begin(), a.bytes.end() - 2);
        AppendCrc(body);
        if (body != a.bytes) std::abort();
      }
      model.CommitAfterAnswer(a.change);
      if (model.address() < 1 || model.address() > 247) std::abort();
    }
  };
  for (std::size_t i = 1; i + 1 < size; i += 2) {
    now += std::chrono::microseconds(1042) * (data[i] % 8);
    check(assembler.Feed(std::span<const std::uint8_t>(&data[i + 1], 1), now));
  }
  check(assembler.Poll(now + std::chrono::seconds(1)));
  return 0;
}
