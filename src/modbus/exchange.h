#pragma once
// The exchange engine's two tables, as free functions over explicit arguments. The
// engine itself (the three senders, ComPort1RxChar, Timer_RxTimer) is part of TForm1
// and lives in modbus/exchange.cpp.

#include <cstdint>
#include <string>
#include <vector>

#include "modbus/exchange_observer.h"
#include "modbus/protocol.h"
#include "serial/line_lock.h"

namespace ornat {

class EComPort;

// The response timeout a sender arms Timer_Rx with, by BaudIndex: 3000 ms at 1200
// bit/s, 1500 at 2400, 700 at 4800, 500 at 9600 and above (and for any index beyond
// the table).
int ResponseTimeoutMs(std::uint8_t baud_index);

// The settling time after a hand-over of bytes: the completion follows 5 ms later.
inline constexpr int kSettlingMs = 5;

// ReadLimit after a function-3 request for `count` registers: the expected answer
// 2 * n + 5 bytes, plus 12 bytes of room for what the validator may drop in front of
// it. Worked on one byte: n is the low byte of count (0 taken as 1), sums wrap at 256.
std::uint8_t ReadLimitForRead(std::uint16_t count);

// The room a read limit keeps in front of the expected answer (ReadLimit - 12 is the
// expected length): as many bytes as the validator may drop in front of it.
inline constexpr int kReadRoom = 12;

// ReadLimit after a function-6 request: its 8-byte echo + 12.
inline constexpr auto kWriteReadLimit = static_cast<std::uint8_t>(kWriteAnswerLength + kReadRoom);

// A send that could not open or write the port, as its record keeps it: the failure
// text (the component's message and the system's words for its error number), the
// error code and number, and the programs found holding the port.
void NoteSendFailure(ExchangeRecord& record, const EComPort& e);
// An exchange whose line went while its answer was awaited (the port's event wait
// failed with `error`): a port error on its record, code 21 (CError_WaitFailed) with the
// system's error number, whatever the log pane shows.
void NoteLineLost(ExchangeRecord& record, DevError error);
// The same as the log pane shows it below the request: "   : ОШИБКА ОТКРЫТИЯ ПОРТА " and
// the port's name, then, when programs were found holding the port (or its line), a line
// naming them.
std::vector<std::string> SendFailureLines(const std::string& port, const EComPort& e);

// The line under "TIME OUT." when a Modbus TCP gateway answered in the detector's place:
// "   : gateway exception 0x0B: the detector did not answer" (0x0A: "the gateway has no
// path to the line").
std::string GatewayNoAnswerLine(std::uint8_t code);
// What a send fails with when another ornat program holds its line: the open's code 1
// with the platform's number for a busy port, the holder named as a program holding the
// port is ("ornat-cli watch --port COM3 (pid 4711)").
EComPort LineInUse(const LineHolder& holder);

}  // namespace ornat
