#pragma once
// The simulated ОРНАТ(-2)-Zev flame detector: its holding registers and the answers a
// correct detector gives to Modbus-RTU requests. Line faults (silence, bad CRC, echoes,
// stray bytes, pauses, forced exceptions, short parameter answers) are not in here; they
// are shaped around these answers by faults.h, and several detectors share a line in
// bus.h.
//
// Holding registers (all 16-bit, high byte first on the wire):
//   0 identity        0x0010; read only
//   1 slave address   1..247, 247 from the factory
//   2 line-speed code 1..8 = 1200, 2400, 4800, 9600, 14400, 19200, 38400, 57600 bit/s;
//                     4 (9600) from the factory
//   3 state           0 normal, 1 alarm, 2 fault; read only (the detector decides it)
//   4 tactic          0 and 2..9; 1 is not a tactic and is refused
//   5 alarm latching  0 on (an alarm holds until reset), 1 off
//   6 alarm reset     write 0xAA55 to end an alarm (state 1 -> 0); reads back 0
//   7 test mode       0 off, 1 on (UV+IR test with the test lamp)
// A new address or line speed takes effect only once the echo of its write has gone
// out, at the old address and speed: HandleFrame returns the change, and the caller
// applies it with CommitAfterAnswer when the last byte of the answer is on the line.
//
// Service blocks (read only, function 3 within one block):
//   0xF000 x 10  device record
//     F000 product code 329 (0x0149, VA329)
//     F001 firmware version, major in the high byte: 0x0207 = 2.07
//     F002 serial number, high word  } 19 040 357 = 0x0122'8865
//     F003 serial number, low word   }
//     F004 year of manufacture, 2019
//     F005 month and day of manufacture, month in the high byte: 0x0A11 = 17 October
//     F006 hours of operation, high word  } 14 892 h = 0x0000'3A2C
//     F007 hours of operation, low word   }
//     F008 alarms counted since manufacture (3; one more for each alarm raised)
//     F009 faults counted since manufacture (1; one more for each fault raised)
//   0xF200 x 3   sensor readings, following the state
//     F200 UV sensor pulses per second: 2 normal, 180 in alarm, 0 in fault
//     F201 IR channel level in mV: 415 normal, 2870 in alarm, 0 in fault
//     F202 internal temperature in 0.1 degC, two's complement: 236 = 23.6 degC
//   0xF300 x 2   supply and self-test
//     F300 supply voltage in 0.1 V: 241 = 24.1 V
//     F301 self-test result bits, 0 = all passed; bit 0 UV tube, bit 1 IR sensor,
//          bit 2 test lamp, bit 3 memory; 0x0001 in fault
//
// Requests: function 3 (read holding registers, count 1..125, the range within
// registers 0..7 or within one service block) and function 6 (write single register,
// answered by its echo). Refused requests get an exception answer: function | 0x80
// and code 1 (function not supported), 2 (register or range not there, or read only)
// or 3 (count or value not accepted). Frames whose CRC fails, frames for another
// address and broadcasts (address 0) get no answer; a broadcast write is carried out,
// as Modbus slaves do. Function 3 and 6 frames that are not 8 bytes long are ignored.

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "modbus/protocol.h"
#include "model/modbus_crc.h"

namespace ornat::sim {

inline constexpr std::uint16_t kDetectorIdentity = 0x0010;
inline constexpr std::uint8_t kFactoryAddress = 247;
inline constexpr std::uint16_t kFactorySpeedCode = 4;  // 9600 bit/s
inline constexpr std::uint16_t kAlarmResetCommand = 0xAA55;

// Holding register numbers.
enum Register : std::uint16_t {
  kRegIdentity = 0,
  kRegAddress = 1,
  kRegSpeedCode = 2,
  kRegState = 3,
  kRegTactic = 4,
  kRegLatching = 5,
  kRegAlarmReset = 6,
  kRegTestMode = 7,
};

// Values of register 3.
enum DetectorState : std::uint16_t { kStateNormal = 0, kStateAlarm = 1, kStateFault = 2 };

enum class ExceptionCode : std::uint8_t {
  kIllegalFunction = 1,
  kIllegalDataAddress = 2,
  kIllegalDataValue = 3,
};

struct ServiceBlock {
  std::uint16_t first;
  std::uint16_t count;
};
inline constexpr std::array<ServiceBlock, 3> kServiceBlocks{{
    {0xF000, 10},
    {0xF200, 3},
    {0xF300, 2},
}};

// The bit rate of line-speed code 1..8; 0 for any other code.
std::uint32_t BitRateOfSpeedCode(std::uint16_t code);
// The line-speed code of a bit rate of the table; 0 when the rate has none.
std::uint16_t SpeedCodeOfBitRate(std::uint32_t bit_rate);

// The exception answer `address`, `function` | 0x80, `code`, CRC (5 bytes).
Bytes ExceptionAnswer(std::uint8_t address, std::uint8_t function, std::uint8_t code);

// Interface changes held back until the answer that acknowledges them is out.
struct PendingChange {
  std::optional<std::uint8_t> address;
  std::optional<std::uint16_t> speed_code;
  bool empty() const { return !address && !speed_code; }
  bool operator==(const PendingChange&) const = default;
};

struct Answer {
  Bytes bytes;           // the answer frame with its CRC; empty: the detector stays silent
  PendingChange change;  // apply with CommitAfterAnswer once the last byte is out
};

class DetectorModel {
 public:
  // A detector as it leaves the factory, at `address` (1..247) and 9600 bit/s, in the
  // normal state, tactic 0, latching on, test mode off.
  explicit DetectorModel(std::uint8_t address = kFactoryAddress);

  // Handles one received frame, CRC included. Returns the answer (empty for silence)
  // and the interface change the request asks for, not yet applied.
  Answer HandleFrame(std::span<const std::uint8_t> frame);

  // Applies an interface change returned by HandleFrame. Call it when the last byte of
  // that answer has gone out (or, for a broadcast, at once); the detector then listens
  // at its new address and speed.
  void CommitAfterAnswer(const PendingChange& change);

  std::uint8_t address() const { return static_cast<std::uint8_t>(regs_[kRegAddress]); }
  std::uint16_t speed_code() const { return regs_[kRegSpeedCode]; }
  // The bit rate of the line-speed code (0 when the code is outside 1..8, which only
  // a raw SetRegister can make).
  std::uint32_t bit_rate() const { return BitRateOfSpeedCode(speed_code()); }
  std::uint16_t state() const { return regs_[kRegState]; }

  // Live changes from the console. They take effect at once and keep the service
  // readings consistent with the state.
  void SetState(std::uint16_t state);
  void SetAddress(std::uint8_t address);
  void SetSpeedCode(std::uint16_t code);
  void SetIdentity(std::uint16_t identity);

  // The value of holding register `reg` (0..7) or of a service register; nullopt when
  // there is no such register.
  std::optional<std::uint16_t> Register(std::uint16_t reg) const;
  // Stores a raw value in any register, the read-only ones included, with no checks;
  // state changes made this way update the readings as SetState does. Returns false
  // when there is no such register.
  bool SetRegister(std::uint16_t reg, std::uint16_t value);

 private:
  std::uint16_t* Cell(std::uint16_t reg);
  const std::uint16_t* Cell(std::uint16_t reg) const;
  Answer ReadHolding(std::span<const std::uint8_t> frame);
  Answer WriteSingle(std::span<const std::uint8_t> frame, bool broadcast);
  void EnterState(std::uint16_t state);

  std::array<std::uint16_t, 8> regs_{};
  std::array<std::uint16_t, 10> device_record_{};
  std::array<std::uint16_t, 3> readings_{};
  std::array<std::uint16_t, 2> supply_{};
};

}  // namespace ornat::sim
