#pragma once
// A line whose speed a server keeps: tcp:// (a serial device server passing RTU frames
// on) and modbus-tcp:// (a Modbus TCP/RTU gateway). The server's serial port runs at the
// speed it was set up with; the PC's speed changes nothing on the line, and a detector
// told another speed (a speed change, the interface reset) answers at it where the
// server does not listen: it is lost until the server is set to that speed too. On
// rfc2217:// the server takes the PC's speed as a local port does: not such a line.

#include <string>
#include <string_view>

namespace ornat {

bool ServerKeepsSpeed(std::string_view port);

// The sentence the window's questions carry on such a line. "COM" Latin.
inline constexpr const char* kServerSpeedSentence =
    "Скорость линии задаёт сервер, а не COM-порт ПК: детектор на другой скорости "
    "будет потерян.";
// Asked before the write of a new speed, and before the interface reset, on such a
// line; "No" writes nothing.
inline const std::string kServerSpeedChangeQuestion =
    std::string(kServerSpeedSentence) + " Сменить скорость обмена детектора?";
inline const std::string kServerSpeedResetQuestion =
    std::string(kServerSpeedSentence) + " Сбросить настройки интерфейса (адрес 247, 9600 бит/с)?";

// `question` as the window asks it on the line named `port`: with the sentence above
// behind it on such a line, byte for byte as it is on any other.
std::string OnServerLine(std::string_view port, const std::string& question);

}  // namespace ornat
