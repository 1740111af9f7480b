#pragma once
// The serial port component's errors: the codes 1 to 23, their texts as the message
// catalogues give them (ErrorTexts), and EComPort, which carries a code, the system's
// error number and, for a port in use, the programs that hold it.

#include <array>
#include <stdexcept>
#include <string>
#include <vector>

#include "serial/platform/comm_device.h"
#include "serial/port_error_kind.h"

namespace ornat {

// Codes of EComPort (the row of ErrorTexts).
enum : int {
  CError_OpenFailed = 1,
  CError_WriteFailed = 2,
  CError_ReadFailed = 3,
  CError_InvalidAsync = 4,
  CError_PurgeFailed = 5,
  CError_AsyncCheck = 6,
  CError_SetStateFailed = 7,
  CError_TimeoutsFailed = 8,
  CError_SetupComFailed = 9,
  CError_ClearComFailed = 10,
  CError_ModemStatFailed = 11,
  CError_EscapeComFailed = 12,
  CError_TransmitFailed = 13,
  CError_ConnChangeProp = 14,
  CError_EnumPortsFailed = 15,
  CError_StoreFailed = 16,
  CError_LoadFailed = 17,
  CError_RegFailed = 18,
  CError_LedStateFailed = 19,
  CError_ThreadCreated = 20,
  CError_WaitFailed = 21,
  CError_HasLink = 22,
  CError_RegError = 23,
};

// The text domain of the component's own catalogue (serialcomm.mo).
inline constexpr const char* kSerialTextDomain = "serialcomm";

// Registers the text domain "serialcomm" with its catalogues under locale_dir
// (<locale_dir>/<lang>/LC_MESSAGES/serialcomm.mo) and passes each of the 23 texts once
// through gettext's lookup: the default text domain, then "serialcomm". A program runs
// it at start, once it has set its locale (a lookup before that could only ever give
// the English text) and before any other thread reads the texts.
void LoadErrorTexts(const std::string& locale_dir);
// The 23 texts as LoadErrorTexts looked them up; the English texts before it runs.
// Index 0 is code 1.
const std::array<std::string, 23>& ErrorTexts();
// ErrorTexts()[code - 1]; an empty string for a code outside 1..23.
const std::string& ErrorText(int code);
// The untranslated English text of a code (the gettext key).
const char* ErrorTextKey(int code);

// "held by cat (pid 1234), minicom (pid 88)" (the phrase through gettext); a holder
// whose name is unknown shows as "pid 1234". Empty for no holders.
std::string HolderText(const std::vector<PortHolder>& holders);

// The step of the port that raises a code: 1 the open, 7, 8 and 9 the set-up after it,
// every other one the use of the open port.
PortStep StepOfErrorCode(int error_code);

// The component's exception. Message: ErrorText(code), followed directly by
// " (win error code: %d)", looked up as the texts are at each raise, with SystemError
// when SystemError is not -1.
class EComPort : public std::runtime_error {
 public:
  // With a system error (codes 1, 2, 3, 5, 7, 8, 9, 10, 11): the message carries it.
  EComPort(int error_code, int system_error);
  // Code 1 for a port that other programs hold: the message goes on after the
  // suffix with "; " and HolderText, so the numbered text and the suffix stand as
  // in every other message. No holders: as the constructor above.
  EComPort(int error_code, int system_error, std::vector<PortHolder> holders);
  // Without one (codes 4, 14): SystemError is -1 and the message is the text alone.
  explicit EComPort(int error_code);
  int ErrorCode() const { return error_code_; }
  int SystemError() const { return system_error_; }
  const std::vector<PortHolder>& Holders() const { return holders_; }
  // What SystemError means at the step of the code; kNone without one.
  PortErrorKind Kind() const;

 private:
  int error_code_;
  int system_error_;
  std::vector<PortHolder> holders_;
};

}  // namespace ornat
