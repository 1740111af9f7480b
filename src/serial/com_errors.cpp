#include "serial/com_errors.h"

#include <atomic>
#include <cstdio>

#include "serial/translation.h"

namespace ornat {

namespace {

constexpr const char* kErrorTextKeys[23] = {
    "Unable to open com port",
    "WriteFile function failed",
    "ReadFile function failed",
    "Invalid Async parameter",
    "PurgeComm function failed",
    "Unable to get async status",
    "SetCommState function failed",
    "SetCommTimeouts failed",
    "SetupComm function failed",
    "ClearCommError function failed",
    "GetCommModemStatus function failed",
    "EscapeCommFunction function failed",
    "TransmitCommChar function failed",
    "Cannot set property while connected",
    "EnumPorts function failed",
    "Failed to store settings",
    "Failed to load settings",
    "Link (un)registration failed",
    "Cannot change led state if ComPort is selected",
    "Cannot wait for event if event thread is created",
    "WaitForEvent method failed",
    "A component is linked to OnRxBuf event",
    "Registry error",
};

constexpr const char* kSystemErrorSuffix = " (win error code: %d)";

// Set by LoadErrorTexts. Before it the suffix stays English too, so that a message
// never mixes an English text with a translated suffix.
std::atomic<bool> texts_loaded{false};

// The lookup of a text in the platform's catalogues (the default text domain, then
// "serialcomm"); without a translation the key stands: the English text.
const char* Translate(const char* key) {
  if (!texts_loaded.load(std::memory_order_acquire)) return key;
  return LookUpText(key);
}

// The English texts until LoadErrorTexts has looked them up.
std::array<std::string, 23>& TextsInstance() {
  static std::array<std::string, 23> texts = [] {
    std::array<std::string, 23> english;
    for (std::size_t i = 0; i < english.size(); ++i) english[i] = kErrorTextKeys[i];
    return english;
  }();
  return texts;
}

std::string BuildMessage(int code, int system_error) {
  std::string text = ErrorText(code);
  if (system_error == -1) return text;
  const char* suffix = Translate(kSystemErrorSuffix);  // looked up at each raise
  char buf[128];
  std::snprintf(buf, sizeof buf, suffix, system_error);
  return text + buf;
}

}  // namespace

void LoadErrorTexts(const std::string& locale_dir) {
  BindSerialCatalogue(locale_dir);
  texts_loaded.store(true, std::memory_order_release);
  std::array<std::string, 23>& texts = TextsInstance();
  for (std::size_t i = 0; i < texts.size(); ++i) texts[i] = Translate(kErrorTextKeys[i]);
}

const std::array<std::string, 23>& ErrorTexts() {
  return TextsInstance();
}

const std::string& ErrorText(int code) {
  static const std::string empty;
  if (code < 1 || code > 23) return empty;
  return TextsInstance()[static_cast<std::size_t>(code - 1)];
}

const char* ErrorTextKey(int code) {
  if (code < 1 || code > 23) return "";
  return kErrorTextKeys[code - 1];
}

std::string HolderText(const std::vector<PortHolder>& holders) {
  if (holders.empty()) return {};
  std::string text = Translate("held by ");
  for (std::size_t i = 0; i < holders.size(); ++i) {
    const PortHolder& h = holders[i];
    if (i > 0) text += ", ";
    const std::string pid = "pid " + std::to_string(h.pid);
    text += h.name.empty() ? pid : h.name + " (" + pid + ")";
  }
  return text;
}

PortStep StepOfErrorCode(int error_code) {
  switch (error_code) {
    case CError_OpenFailed:
      return PortStep::kOpen;
    case CError_SetStateFailed:
    case CError_TimeoutsFailed:
    case CError_SetupComFailed:
      return PortStep::kSetUp;
    default:
      return PortStep::kUse;
  }
}

EComPort::EComPort(int error_code, int system_error)
    : std::runtime_error(BuildMessage(error_code, system_error)),
      error_code_(error_code),
      system_error_(system_error) {}

EComPort::EComPort(int error_code, int system_error, std::vector<PortHolder> holders)
    : std::runtime_error(BuildMessage(error_code, system_error) +
                         (holders.empty() ? "" : "; " + HolderText(holders))),
      error_code_(error_code),
      system_error_(system_error),
      holders_(std::move(holders)) {}

EComPort::EComPort(int error_code) : EComPort(error_code, -1) {}

PortErrorKind EComPort::Kind() const {
  if (system_error_ <= 0) return PortErrorKind::kNone;
  return ClassifyPortError(system_error_, StepOfErrorCode(error_code_));
}

}  // namespace ornat
