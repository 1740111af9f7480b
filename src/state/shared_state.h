#pragma once
// The variables every subsystem of the window shares. They live as long as the
// window and are touched only on the user-interface thread; the serial event
// thread never writes them (bytes it reads are handed over by the exchange engine).

#include <array>
#include <cstdint>

#include "serial/com_types.h"

namespace ornat {

struct SharedState {
  // The request in bytes 0 to 7, then the answer from byte 0.
  std::array<std::uint8_t, 256> FrameBuffer{};
  // The request as the last sender wrote it, kept for its completion: by then the
  // answer has overwritten FrameBuffer. Its byte 0 is the address the answer must
  // come from.
  std::array<std::uint8_t, 8> SentRequest{};
  // Answer bytes at the start of FrameBuffer; never above 255 (ReadLimit is one byte).
  std::uint16_t ReceivedCount = 0;
  // Most bytes one read may take: expected answer length + 12, in 8-bit arithmetic.
  std::uint8_t ReadLimit = 0;
  // Slave address of the requests; the probe counter during a bus search.
  std::uint8_t DeviceAddress = 0;
  // Row 0..7 of the baud-rate table (1200 .. 57600 bit/s).
  std::uint8_t BaudIndex = 0;
  // The port's speed before an interface reset.
  TBaudRate SavedBaudRate = TBaudRate::brCustom;
  // 0 none, 2 and 3 interface reset, 254 bus search, 255 cyclic query.
  std::uint8_t SessionMode = 0;
  // The operation whose answer is awaited: 0, 1..6, 30, 254, 255.
  std::uint8_t PendingOp = 0;
  // A query or an interface change awaits its answer; configuration writes are refused.
  std::uint8_t QueryPending = 0;
  // A user action waits in Timer_Wait.
  std::uint8_t ActionDeferred = 0;
  // Acknowledged steps of the interface reset.
  std::uint8_t ResetStepCount = 0;
  // Response timeout of a bus-search probe, 100..350 ms.
  std::uint16_t SearchDelayMs = 150;
};

}  // namespace ornat
