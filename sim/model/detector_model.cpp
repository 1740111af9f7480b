#include "model/detector_model.h"

namespace ornat::sim {
namespace {

constexpr std::array<std::uint32_t, 8> kBitRates{1200,  2400,  4800,  9600,
                                                 14400, 19200, 38400, 57600};

constexpr std::uint16_t kMostRegistersPerRead = 125;

// Readings of block 0xF200 and the self-test word, by state.
struct StateReadings {
  std::uint16_t uv_pulses;
  std::uint16_t ir_millivolts;
  std::uint16_t self_test;
};
constexpr StateReadings ReadingsFor(std::uint16_t state) {
  switch (state) {
    case kStateAlarm:
      return {180, 2870, 0x0000};
    case kStateFault:
      return {0, 0, 0x0001};
    default:
      return {2, 415, 0x0000};
  }
}

// Register numbers and values travel high byte first.
std::uint16_t Word(std::span<const std::uint8_t> frame, std::size_t at) {
  return static_cast<std::uint16_t>((frame[at] << 8) | frame[at + 1]);
}

bool IsTactic(std::uint16_t v) {
  return v == 0 || (v >= 2 && v <= 9);
}

}  // namespace

std::uint32_t BitRateOfSpeedCode(std::uint16_t code) {
  if (code < 1 || code > kBitRates.size()) return 0;
  return kBitRates[code - 1];
}

std::uint16_t SpeedCodeOfBitRate(std::uint32_t bit_rate) {
  for (std::size_t i = 0; i < kBitRates.size(); ++i) {
    if (kBitRates[i] == bit_rate) return static_cast<std::uint16_t>(i + 1);
  }
  return 0;
}

Bytes ExceptionAnswer(std::uint8_t address, std::uint8_t function, std::uint8_t code) {
  Bytes out{address, static_cast<std::uint8_t>(function | kExceptionFlag), code};
  AppendCrc(out);
  return out;
}

DetectorModel::DetectorModel(std::uint8_t address) {
  regs_ = {kDetectorIdentity, address, kFactorySpeedCode, kStateNormal, 0, 0, 0, 0};
  device_record_ = {0x0149, 0x0207, 0x0122, 0x8865, 2019, 0x0A11, 0x0000, 0x3A2C, 3, 1};
  readings_ = {0, 0, 236};
  supply_ = {241, 0};
  const StateReadings r = ReadingsFor(kStateNormal);
  readings_[0] = r.uv_pulses;
  readings_[1] = r.ir_millivolts;
  supply_[1] = r.self_test;
}

std::uint16_t* DetectorModel::Cell(std::uint16_t reg) {
  return const_cast<std::uint16_t*>(static_cast<const DetectorModel*>(this)->Cell(reg));
}

const std::uint16_t* DetectorModel::Cell(std::uint16_t reg) const {
  if (reg < regs_.size()) return &regs_[reg];
  if (reg >= 0xF000 && reg < 0xF000 + device_record_.size()) return &device_record_[reg - 0xF000];
  if (reg >= 0xF200 && reg < 0xF200 + readings_.size()) return &readings_[reg - 0xF200];
  if (reg >= 0xF300 && reg < 0xF300 + supply_.size()) return &supply_[reg - 0xF300];
  return nullptr;
}

std::optional<std::uint16_t> DetectorModel::Register(std::uint16_t reg) const {
  const std::uint16_t* cell = Cell(reg);
  if (!cell) return std::nullopt;
  return *cell;
}

bool DetectorModel::SetRegister(std::uint16_t reg, std::uint16_t value) {
  if (reg == kRegState) {
    EnterState(value);
    return true;
  }
  std::uint16_t* cell = Cell(reg);
  if (!cell) return false;
  *cell = value;
  return true;
}

void DetectorModel::SetState(std::uint16_t state) {
  EnterState(state);
}
void DetectorModel::SetAddress(std::uint8_t address) {
  regs_[kRegAddress] = address;
}
void DetectorModel::SetSpeedCode(std::uint16_t code) {
  regs_[kRegSpeedCode] = code;
}
void DetectorModel::SetIdentity(std::uint16_t identity) {
  regs_[kRegIdentity] = identity;
}

void DetectorModel::EnterState(std::uint16_t state) {
  const std::uint16_t before = regs_[kRegState];
  regs_[kRegState] = state;
  if (state != before) {
    if (state == kStateAlarm) ++device_record_[8];
    if (state == kStateFault) ++device_record_[9];
  }
  const StateReadings r = ReadingsFor(state);
  readings_[0] = r.uv_pulses;
  readings_[1] = r.ir_millivolts;
  supply_[1] = r.self_test;
}

void DetectorModel::CommitAfterAnswer(const PendingChange& change) {
  if (change.address) regs_[kRegAddress] = *change.address;
  if (change.speed_code) regs_[kRegSpeedCode] = *change.speed_code;
}

Answer DetectorModel::HandleFrame(std::span<const std::uint8_t> frame) {
  // A real slave cannot tell a corrupted frame from noise: it stays silent.
  if (!HasGoodCrc(frame)) return {};
  const std::uint8_t to = frame[0];
  const bool broadcast = to == 0;
  if (!broadcast && to != address()) return {};
  const std::uint8_t function = frame[1];
  switch (function) {
    case kReadHoldingRegisters:
      // A read asks for an answer, which a broadcast cannot have.
      if (broadcast || frame.size() != kRequestLength) return {};
      return ReadHolding(frame);
    case kWriteSingleRegister:
      if (frame.size() != kRequestLength) return {};
      return WriteSingle(frame, broadcast);
    default:
      if (broadcast) return {};
      return {
          ExceptionAnswer(to, function, static_cast<std::uint8_t>(ExceptionCode::kIllegalFunction)),
          {}};
  }
}

Answer DetectorModel::ReadHolding(std::span<const std::uint8_t> frame) {
  const std::uint8_t me = address();
  const std::uint16_t first = Word(frame, 2);
  const std::uint16_t count = Word(frame, 4);
  if (count < 1 || count > kMostRegistersPerRead) {
    return {ExceptionAnswer(me, kReadHoldingRegisters,
                            static_cast<std::uint8_t>(ExceptionCode::kIllegalDataValue)),
            {}};
  }
  // The whole range must lie in one area: registers 0..7 or one service block.
  const std::uint32_t last = std::uint32_t{first} + count - 1;
  bool inside = last < regs_.size();
  for (const ServiceBlock& block : kServiceBlocks) {
    if (first >= block.first && last < std::uint32_t{block.first} + block.count) inside = true;
  }
  if (!inside) {
    return {ExceptionAnswer(me, kReadHoldingRegisters,
                            static_cast<std::uint8_t>(ExceptionCode::kIllegalDataAddress)),
            {}};
  }
  Bytes out{me, kReadHoldingRegisters, static_cast<std::uint8_t>(2 * count)};
  for (std::uint32_t reg = first; reg <= last; ++reg) {
    const std::uint16_t v = *Cell(static_cast<std::uint16_t>(reg));
    out.push_back(static_cast<std::uint8_t>(v >> 8));
    out.push_back(static_cast<std::uint8_t>(v & 0xFF));
  }
  AppendCrc(out);
  return {out, {}};
}

Answer DetectorModel::WriteSingle(std::span<const std::uint8_t> frame, bool broadcast) {
  const std::uint8_t me = address();
  const std::uint16_t reg = Word(frame, 2);
  const std::uint16_t value = Word(frame, 4);
  auto refuse = [&](ExceptionCode code) -> Answer {
    if (broadcast) return {};
    return {ExceptionAnswer(me, kWriteSingleRegister, static_cast<std::uint8_t>(code)), {}};
  };

  PendingChange change;
  switch (reg) {
    case kRegAddress:
      if (value < 1 || value > kHighestAddress) return refuse(ExceptionCode::kIllegalDataValue);
      change.address = static_cast<std::uint8_t>(value);
      break;
    case kRegSpeedCode:
      if (BitRateOfSpeedCode(value) == 0) return refuse(ExceptionCode::kIllegalDataValue);
      change.speed_code = value;
      break;
    case kRegTactic:
      if (!IsTactic(value)) return refuse(ExceptionCode::kIllegalDataValue);
      regs_[kRegTactic] = value;
      break;
    case kRegLatching:
    case kRegTestMode:
      if (value > 1) return refuse(ExceptionCode::kIllegalDataValue);
      regs_[reg] = value;
      break;
    case kRegAlarmReset:
      if (value != kAlarmResetCommand) return refuse(ExceptionCode::kIllegalDataValue);
      // The command ends an alarm; a fault stays until the detector clears it itself.
      // The register is a trigger and always reads 0.
      if (state() == kStateAlarm) EnterState(kStateNormal);
      break;
    default:
      // Identity, state and the service blocks are read only; nothing else exists.
      return refuse(ExceptionCode::kIllegalDataAddress);
  }
  if (broadcast) return {{}, change};
  return {Bytes(frame.begin(), frame.end()), change};
}

}  // namespace ornat::sim
