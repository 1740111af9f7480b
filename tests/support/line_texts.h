#pragma once
// Texts and frame helpers the exchange, decoding and sequencer tests compare with,
// spelled out here on their own (not taken from the code under test). Where Latin
// and Cyrillic look-alikes mix, the letters are given as code points.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace ornat::testing {

// Cyrillic О (U+041E) and К (U+041A).
inline const std::string kOkLine = "   : \u041E\u041A.";
inline const std::string kErrorLine = "   : ОШИБКА.";
inline const std::string kTimeOutLine = "   : TIME OUT.";
inline const std::string kCrcErrorLine = "   : CRC ERROR.";
inline const std::string kPortErrorCom1 = "   : ОШИБКА ОТКРЫТИЯ ПОРТА COM1";
inline const std::string kWrongLengthLine = "   : НЕВЕРНАЯ ДЛИНА ОТВЕТА.";
// "ID" Latin.
inline const std::string kWrongIdLine = "   : НЕВЕРНЫЙ ID УСТРОЙСТВА.";
// "OK" Latin.
inline const std::string kResetOkLine = "   : СБРОС НАСТРОЕК ИНТЕРФЕЙСА -> OK.";
inline const std::string kResetErrorLine = "   : СБРОС НАСТРОЕК -> ОШИБКА...";
inline const std::string kNotFoundLine =
    "   : ПРИБОР <VA329(/330) \"ОРНАТ(-2)-Zev\"> НЕ ОБНАРУЖЕН.";
// An answer whose address byte is not the request's; the three-digit address that
// answered follows. All Cyrillic.
inline const std::string kWrongAddressPrefix = "   : ОТВЕТ С ЧУЖОГО АДРЕСА ";
// The line of a found detector, without the address; "(-330)" with a hyphen.
inline const std::string kFoundPrefix =
    "   : ОБНАРУЖЕН ПРИБОР <VA329(-330) \"ОРНАТ(-2)-Zev\"> ПО АДРЕСУ ";
// "VA" and "Zev" Latin.
inline const std::string kTypeCell = "    VA329(/330) \"ОРНАТ(-2)-Zev\"";
inline const std::string kNormalCell = "    НОРМА";
inline const std::string kAlarmCell = "    ТРЕВОГА";
inline const std::string kFaultCell = "    НЕИСПР.";
inline const std::string kUnknownCell = "    -??";
// The log of the parameter query that the factory detector (at 247, normal, tactic 0)
// answered, as the window shows it.
inline const std::vector<std::string> kQueryLog = {
    "TX : F7 03 00 00 00 08 50 9A ", "RX : F7 03 10 00 10 00 F7 00 04 00 00 00 00 00 00 00 00 ",
    "     00 00 51 4E ", kOkLine};

// The frame with its CRC-16/MODBUS appended, low byte first: for answers the tests
// script (requests are compared with literal bytes, CRC included).
inline std::vector<std::uint8_t> WithCrc(std::vector<std::uint8_t> frame) {
  std::uint16_t crc = 0xFFFF;
  for (std::uint8_t b : frame) {
    crc ^= b;
    for (int i = 0; i < 8; ++i)
      crc = (crc & 1) ? static_cast<std::uint16_t>((crc >> 1) ^ 0xA001)
                      : static_cast<std::uint16_t>(crc >> 1);
  }
  frame.push_back(static_cast<std::uint8_t>(crc & 0xFF));
  frame.push_back(static_cast<std::uint8_t>(crc >> 8));
  return frame;
}

// A bus-search probe: a read of one register from register 0, to any address.
inline bool IsProbe(const std::vector<std::uint8_t>& r) {
  return r.size() == 8 && r[1] == 0x03 && r[2] == 0 && r[3] == 0 && r[4] == 0 && r[5] == 1;
}

// "RX : " and the bytes, each as two digits and a space (one line, up to 17 bytes).
inline std::string RxLine(const std::vector<std::uint8_t>& bytes) {
  static const char* digits = "0123456789ABCDEF";
  std::string s = "RX : ";
  for (std::uint8_t b : bytes) {
    s += digits[b >> 4];
    s += digits[b & 15];
    s += ' ';
  }
  return s;
}

// "TX : " and the bytes of a request, as RxLine spells them.
inline std::string TxLine(const std::vector<std::uint8_t>& bytes) {
  return "TX" + RxLine(bytes).substr(2);
}

// The log lines of an answer: 17 bytes a line, "RX : " first, five spaces after.
inline std::vector<std::string> AnswerLines(const std::vector<std::uint8_t>& answer) {
  std::vector<std::string> lines;
  for (std::size_t at = 0; at < answer.size(); at += 17) {
    const std::vector<std::uint8_t> part(
        answer.begin() + static_cast<long>(at),
        answer.begin() + static_cast<long>(std::min(answer.size(), at + 17)));
    std::string line = RxLine(part);
    if (at > 0) line.replace(0, 5, "     ");
    lines.push_back(line);
  }
  return lines;
}

}  // namespace ornat::testing
