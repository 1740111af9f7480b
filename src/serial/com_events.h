#pragma once
// The line events in the one order in which a batch is delivered, each with its EV_*
// bit of the device's event mask: the event thread translates masks with it and the
// port runs its deliveries in it.

#include <cstdint>

#include "serial/com_types.h"
#include "serial/platform/comm_device.h"

namespace ornat {

struct ComEventBit {
  TComEvent event;
  std::uint32_t mask;
};

// An error batch is reported before the bytes of the same batch.
inline constexpr ComEventBit kComEventOrder[] = {
    {TComEvent::evError, EV_ERR},       {TComEvent::evRxChar, EV_RXCHAR},
    {TComEvent::evTxEmpty, EV_TXEMPTY}, {TComEvent::evBreak, EV_BREAK},
    {TComEvent::evRing, EV_RING},       {TComEvent::evCTS, EV_CTS},
    {TComEvent::evDSR, EV_DSR},         {TComEvent::evRxFlag, EV_RXFLAG},
    {TComEvent::evRLSD, EV_RLSD},       {TComEvent::evRx80Full, EV_RX80FULL},
};

// EV_* mask of a set (bits not in the table never arise).
constexpr std::uint32_t EventsToMask(TComEvents events) {
  std::uint32_t mask = 0;
  for (const ComEventBit& e : kComEventOrder)
    if (events.Contains(e.event)) mask |= e.mask;
  return mask;
}

// The set of a mask; mask bits not in the table are dropped.
constexpr TComEvents MaskToEvents(std::uint32_t mask) {
  TComEvents events;
  for (const ComEventBit& e : kComEventOrder)
    if (mask & e.mask) events.Include(e.event);
  return events;
}

}  // namespace ornat
