#include "cli/messages.h"

#include "cli/port_failure.h"
#include "cli/verdict.h"
#include "detector/register_map.h"
#include "journal/exchange_journal.h"
#include "modbus/answer_scan.h"
#include "modbus/protocol.h"
#include "ui/exchange_log.h"
#include "ui/main_window.h"

namespace ornat::cli {

std::string Speed(std::uint8_t baud_index) {
  return kBaudTable[baud_index < kBaudTable.size() ? baud_index : 3].speed_text;
}

std::string ShellWord(const std::string& word) {
  if (word.find_first_not_of(
          "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_./-") ==
      std::string::npos)
    return word;
  return "'" + word + "'";
}

std::string QueryCommand(const std::string& port, std::uint8_t address, std::uint8_t baud_index) {
  return "ornat-cli query --port " + ShellWord(port) + " --address " + std::to_string(address) +
         " --baud " + Speed(baud_index);
}

std::string SeveralDevicesText(int address) {
  return "two or more devices answer at address " + std::to_string(address) +
         ": power them one at a time and give each its own address with \"ornat-cli set "
         "address\"";
}

std::string Where(const ExchangeRecord& record) {
  return (record.request.empty() ? std::string("the line")
                                 : "address " + std::to_string(record.request[0])) +
         " at " + std::to_string(record.bit_rate) + " bit/s on " + record.port;
}

std::string FailureText(const ExchangeRecord& record, ExchangeOutcome outcome) {
  const std::string where = Where(record);
  const auto answer = ValidAnswer(record);
  switch (outcome) {
    case ExchangeOutcome::kNone:
      if (!answer.empty())
        return "the answer from " + where + " has function code " +
               std::to_string(answer.size() > 1 ? answer[1] : 0) +
               ", which the window does not take";
      [[fallthrough]];
    case ExchangeOutcome::kTimeOut:
      return "no answer from " + where + " (TIME OUT" +
             (record.gateway_code != 0
                  ? "; the gateway answered exception 0x" + ByteToHex(record.gateway_code)
                  : std::string()) +
             ")";
    case ExchangeOutcome::kPortError:
      return PortFailureText(record);
    case ExchangeOutcome::kWrongAddress:
      return "address " + (answer.empty() ? std::string("?") : std::to_string(answer[0])) +
             " answered the request to " + where +
             ": not taken as the addressed device's answer (another detector answering "
             "late, a second master on the line, or a faulty unit)";
    case ExchangeOutcome::kCrcError:
      return "the answer from " + where + " failed its CRC check (CRC ERROR)";
    case ExchangeOutcome::kException:
      return "the device at " + where + " refused the request" +
             (answer.size() >= 3 ? " with exception code " + std::to_string(answer[2]) : "");
    case ExchangeOutcome::kWrongId:
      return "the device at " + where + " is not an ORNAT(-2)-Zev" +
             (answer.size() >= 5
                  ? " (identity 0x" + ByteToHex(answer[3]) + ByteToHex(answer[4]) + ")"
                  : "");
    case ExchangeOutcome::kWrongLength:
      return "the answer from " + where + " has an unexpected length";
    case ExchangeOutcome::kResetError:
      return "the interface reset is not confirmed: its first step was not acknowledged";
    case ExchangeOutcome::kSeveralDevices:
      return SeveralDevicesText(SeveralAnswerers(record.AllBytes()).value_or(0));
    case ExchangeOutcome::kOk:
      break;
  }
  return "";
}

// The window says "ОК." after any answer of function 3, 6 or 16 and shows nothing for
// the others: a write's echo that came late (after its own request had timed out) would
// be taken for the query's answer.
std::string NotAQueryAnswerText(const ExchangeRecord& record) {
  const auto answer = ValidAnswer(record);
  if (answer.size() >= 2 && answer[1] == kReadHoldingRegisters) return "";
  return "the answer from " + Where(record) + " is no answer to the query: function code " +
         std::to_string(answer.size() >= 2 ? answer[1] : 0) +
         (answer.size() >= 2 && answer[1] == kWriteSingleRegister
              ? " (a write's echo, the late answer to an earlier request?)"
              : "");
}

std::string AnswererText(const ExchangeRecord& record) {
  const auto answer = ValidAnswer(record);
  if (answer.empty())
    return "a device whose bytes form no answer (" + HexText(record.AllBytes()) + ")";
  const std::string at = "at address " + std::to_string(answer[0]);
  if ((answer[1] & kExceptionFlag) != 0)
    return "a device " + at + " that refused the query with exception code " +
           std::to_string(answer.size() > 2 ? answer[2] : 0);
  if (answer[1] == kReadHoldingRegisters && answer.size() >= 7 && answer[2] >= 2) {
    const auto id = static_cast<std::uint16_t>(answer[3] * 256 + answer[4]);
    if (id == kDetectorIdentity) return "an ORNAT(-2)-Zev detector " + at;
    return "a device " + at + " of identity 0x" + ByteToHex(answer[3]) + ByteToHex(answer[4]) +
           " (not an ORNAT(-2)-Zev)";
  }
  return "a device " + at + " (answer " + HexText(answer) + ")";
}

std::string NothingSentText() {
  return "nothing was sent: the window's logic refused the command";
}

std::string NotEndedText(std::chrono::seconds limit) {
  return "the exchange did not end within " + std::to_string(limit.count()) + " s";
}

std::string EchoDiffersText(const std::vector<std::uint8_t>& request,
                            const std::vector<std::uint8_t>& echo) {
  return "the echo differs from the request: sent " + HexText(request) + ", echoed " +
         HexText(echo);
}

std::string MaybeCarriedOutText(const std::string& check) {
  return "the detector may have carried out the write all the same: only its acknowledgement "
         "is missing. Check with: " +
         check;
}

std::string LookNotEndedText(int address) {
  return "the look at address " + std::to_string(address) + " did not end; nothing written";
}

std::string AddressTakenText(int address, const std::string& occupied) {
  return "address " + std::to_string(address) + " is taken: " + occupied +
         " answered the query there; nothing written. Choose a free address, or give "
         "--force to move the detector there all the same";
}

std::string OtherAddressText(int acknowledged, int wanted) {
  return "the detector acknowledged address " + std::to_string(acknowledged) + ", not " +
         std::to_string(wanted);
}

std::string ServerKeepsSpeedText(const std::string& command, const std::string& port,
                                 const std::string& speed) {
  return command + ": on " + port +
         " the line's speed is the server's: the server keeps its own speed, and the "
         "detector would be lost at " +
         speed + ". Nothing was written; --force writes all the same.";
}

std::string OtherSpeedText(std::uint8_t acknowledged, std::uint8_t wanted) {
  return "the detector acknowledged " + Speed(acknowledged) + " bit/s, not " + Speed(wanted);
}

std::string ShortBlockText(int address, const std::vector<std::uint8_t>& answer, const char* block,
                           std::uint16_t count) {
  return "the answer from address " + std::to_string(address) + " holds " +
         std::to_string(answer.size() >= 3 ? answer[2] / 2 : 0) + " register(s), not the " +
         std::to_string(count) + " of block " + block + ": " + HexText(answer);
}

std::string LineUnlockedText(const std::string& port, const std::string& why) {
  return "the line \"" + port + "\" cannot be locked against other ornat programs (" + why +
         "); going on without";
}

std::string LineInUseText(const std::string& port, const std::string& holder) {
  return "the line \"" + port + "\" is in use by " + holder + "; wait for it to end or stop it";
}

}  // namespace ornat::cli
