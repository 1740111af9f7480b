#pragma once
// The detector's holding registers and value codes, and the operation codes the
// sequencer works with. Register values travel high byte first; in the answer to a
// read from register 0, register k stands in bytes 3 + 2k (high) and 4 + 2k (low).

#include <cstdint>

namespace ornat {

// --- holding registers 0..7 ----------------------------------------------------
inline constexpr std::uint16_t kRegIdentity = 0;    // 0x0010 for this detector type
inline constexpr std::uint16_t kRegAddress = 1;     // Modbus slave address 1..247
inline constexpr std::uint16_t kRegLineSpeed = 2;   // line-speed code = BaudIndex + 1
inline constexpr std::uint16_t kRegState = 3;       // low byte: 0 normal, 1 alarm, 2 fault
inline constexpr std::uint16_t kRegTactic = 4;      // low byte: tactic code 0, 2..9
inline constexpr std::uint16_t kRegLatching = 5;    // low byte 0: latching on
inline constexpr std::uint16_t kRegAlarmReset = 6;  // write kAlarmResetCommand
inline constexpr std::uint16_t kRegTestMode = 7;    // low byte not 0: test mode on

inline constexpr std::uint16_t kDetectorIdentity = 0x0010;
inline constexpr std::uint16_t kAlarmResetCommand = 0xAA55;
// Values the window writes to registers 5 and 7.
inline constexpr std::uint16_t kLatchingOn = 0;
inline constexpr std::uint16_t kLatchingOff = 1;
inline constexpr std::uint16_t kTestOn = 1;
inline constexpr std::uint16_t kTestOff = 0;

// The parameter query: 8 registers from register 0.
inline constexpr std::uint16_t kParameterCount = 8;

// Service blocks, read by the hidden buttons "F0", "F2", "F3" and never interpreted.
inline constexpr std::uint16_t kServiceBlockF0 = 0xF000;
inline constexpr std::uint16_t kServiceCountF0 = 10;
inline constexpr std::uint16_t kServiceBlockF2 = 0xF200;
inline constexpr std::uint16_t kServiceCountF2 = 3;
inline constexpr std::uint16_t kServiceBlockF3 = 0xF300;
inline constexpr std::uint16_t kServiceCountF3 = 2;

// --- SessionMode: the sequence that runs --------------------------------------
inline constexpr std::uint8_t kSessionIdle = 0;
inline constexpr std::uint8_t kSessionResetStep1 = 2;
inline constexpr std::uint8_t kSessionResetStep2 = 3;
inline constexpr std::uint8_t kSessionSearch = 254;
inline constexpr std::uint8_t kSessionCyclic = 255;

// --- PendingOp: the operation whose answer is awaited -------------------------
inline constexpr std::uint8_t kOpNone = 0;
inline constexpr std::uint8_t kOpAddressChange = 1;
inline constexpr std::uint8_t kOpLineSpeedChange = 2;
inline constexpr std::uint8_t kOpParameterQuery = 3;
inline constexpr std::uint8_t kOpResetStep1 = 4;
inline constexpr std::uint8_t kOpResetStep2 = 5;
inline constexpr std::uint8_t kOpConfigurationWrite = 6;
inline constexpr std::uint8_t kOpServiceRead = 30;
inline constexpr std::uint8_t kOpSearchProbe = 254;
inline constexpr std::uint8_t kOpFailed = 255;

}  // namespace ornat
