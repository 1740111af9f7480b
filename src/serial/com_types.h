#pragma once
// Setting types of the serial port component. The order of every enumeration is
// fixed: ordinals index the component's tables (bit rates, DCB codes).

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <iterator>

namespace ornat {

enum class TBaudRate : std::uint8_t {
  brCustom,
  br110,
  br300,
  br600,
  br1200,
  br2400,
  br4800,
  br9600,
  br14400,
  br19200,
  br38400,
  br56000,
  br57600,
  br115200,
  br128000,
  br256000,
};

// Bit rate of a TBaudRate value (9600 for br9600); 0 for brCustom (which stands for
// CustomBaudRate).
constexpr int BaudRateToBits(TBaudRate rate) {
  constexpr int kBits[] = {0,     110,   300,   600,   1200,  2400,   4800,   9600,
                           14400, 19200, 38400, 56000, 57600, 115200, 128000, 256000};
  const auto i = static_cast<std::size_t>(rate);
  return i < std::size(kBits) ? kBits[i] : 0;
}

enum class TStopBits : std::uint8_t { sbOneStopBit, sbOne5StopBits, sbTwoStopBits };
enum class TDataBits : std::uint8_t { dbFive, dbSix, dbSeven, dbEight };
enum class TParityBits : std::uint8_t { prNone, prOdd, prEven, prMark, prSpace };
enum class TDTRFlowControl : std::uint8_t { dtrDisable, dtrEnable, dtrHandshake };
enum class TRTSFlowControl : std::uint8_t { rtsDisable, rtsEnable, rtsHandshake, rtsToggle };
enum class TFlowControl : std::uint8_t { fcHardware, fcSoftware, fcNone, fcCustom };
enum class TComEvent : std::uint8_t {
  evRxChar,
  evTxEmpty,
  evRxFlag,
  evRing,
  evBreak,
  evCTS,
  evDSR,
  evError,
  evRLSD,
  evRx80Full,
};
enum class TComError : std::uint8_t {
  ceFrame,
  ceRxParity,
  ceOverrun,
  ceBreak,
  ceIO,
  ceMode,
  ceRxOver,
  ceTxFull,
};
enum class TSyncMethod : std::uint8_t { smThreadSync, smWindowSync, smNone };

// A small set over an enumeration: bit n stands for ordinal n.
template <typename E, std::size_t N>
class EnumSet {
 public:
  constexpr EnumSet() = default;
  constexpr EnumSet(std::initializer_list<E> items) {
    for (E e : items) Include(e);
  }
  static constexpr EnumSet All() {
    EnumSet s;
    for (std::size_t i = 0; i < N; ++i) s.bits_ |= (1u << i);
    return s;
  }
  constexpr bool Contains(E e) const { return (bits_ >> static_cast<unsigned>(e)) & 1u; }
  constexpr void Include(E e) { bits_ |= (1u << static_cast<unsigned>(e)); }
  constexpr void Exclude(E e) { bits_ &= ~(1u << static_cast<unsigned>(e)); }
  constexpr bool Empty() const { return bits_ == 0; }
  constexpr std::uint32_t Bits() const { return bits_; }
  constexpr bool operator==(const EnumSet&) const = default;

 private:
  std::uint32_t bits_ = 0;
};

using TComEvents = EnumSet<TComEvent, 10>;
using TComErrors = EnumSet<TComError, 8>;

}  // namespace ornat
