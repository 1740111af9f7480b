#pragma once
// The exchange log (TeMemo1) and the status grid: line formats, the catalogue of
// every message line the window writes, the grid's initial content and its cell
// drawing. Look-alike letters are noted where Latin and Cyrillic mix.

#include <cstdint>
#include <string>

#include "text/hex.h"
#include "ui/toolkit/controls.h"

namespace ornat {

namespace msg {
// Exchange engine. All Cyrillic; the port name follows.
inline constexpr const char* kPortOpenError = "   : ОШИБКА ОТКРЫТИЯ ПОРТА ";
// All Latin.
inline constexpr const char* kCrcError = "   : CRC ERROR.";
inline constexpr const char* kTimeOut = "   : TIME OUT.";
// Cyrillic О (U+041E) and К (U+041A).
inline constexpr const char* kOk = "   : \xD0\x9E\xD0\x9A.";
// All Cyrillic.
inline constexpr const char* kError = "   : ОШИБКА.";
// "ID" Latin.
inline constexpr const char* kWrongId = "   : НЕВЕРНЫЙ ID УСТРОЙСТВА.";
inline constexpr const char* kWrongLength = "   : НЕВЕРНАЯ ДЛИНА ОТВЕТА.";
// "OK" Latin.
inline constexpr const char* kResetOk = "   : СБРОС НАСТРОЕК ИНТЕРФЕЙСА -> OK.";
inline constexpr const char* kResetError = "   : СБРОС НАСТРОЕК -> ОШИБКА...";
// "(-330)" with a hyphen, "Zev" Latin; the three-digit address follows.
inline constexpr const char* kDeviceFound =
    "   : ОБНАРУЖЕН ПРИБОР <VA329(-330) \"ОРНАТ(-2)-Zev\"> ПО АДРЕСУ ";
// All Cyrillic; the three-digit address that answered follows. A valid answer whose
// address byte is not the request's: another device's, not decoded, acknowledging
// nothing.
inline constexpr const char* kWrongAddress = "   : ОТВЕТ С ЧУЖОГО АДРЕСА ";
// "(/330)" with a slash.
inline constexpr const char* kDeviceNotFound =
    "   : ПРИБОР <VA329(/330) \"ОРНАТ(-2)-Zev\"> НЕ ОБНАРУЖЕН.";
// Port discovery. "COM" Latin.
inline constexpr const char* kRegistryError = "   : РЕЕСТР - ОШИБКА ДОСТУПА К СПИСКУ COM-ПОРТОВ.";
// "COMPORTS.TXT" Latin; five full stops.
inline constexpr const char* kFileRequest = "   : ЗАПРОС СПИСКА ИЗ ФАЙЛА \"COMPORTS.TXT\".....";
// Latin O and K.
inline constexpr const char* kFileOk = "   : OK.";
// The first С is Cyrillic (U+0421), "OMPORTS.TXT" Latin; the error text and "." follow.
inline constexpr const char* kFileError = "   : ФАЙЛ \"\xD0\xA1OMPORTS.TXT\": - ";
}  // namespace msg

// Colours of the log text.
inline constexpr TColor kLogRequestColor = clRed;
inline constexpr TColor kLogOutcomeColor = clBlue;

// Fill of a selected grid cell (red 182, green 189, blue 210).
inline constexpr TColor kGridSelectedColor = 13811126;

using text::ByteToHex;

// "TX : " and the 8 request bytes, each followed by one space (29 characters).
std::string RequestLine(const std::uint8_t* frame);

// Shows n received bytes (1..255) as answer lines: 17 bytes to a line, the first
// line after "RX : ", the others after five spaces.
void AddAnswerLines(TTeMemo& log, const std::uint8_t* bytes, std::uint16_t n);

// Cells (0, 0) and (0, 1) and the two column widths.
void InitStatusGrid(TTeStringGrid& grid);

// Empties the value column (type and state): what it showed is no longer the state of
// the detector the window now talks to, or no longer current.
void EmptyStatusValues(TTeStringGrid& grid);

// Paints one cell of the status grid: fill by state, then one clipped line of text.
void DrawStatusCell(const TTeStringGrid& grid, int col, int row, const TRect& rect,
                    TGridDrawState state, TCanvas& canvas);

}  // namespace ornat
