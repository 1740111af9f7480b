#pragma once
// What the window shows of a detector after a parameter query, read back from its
// controls: the status grid's two value cells, the checked tactic button and the
// label beside it, the latching and test check boxes. The front end without a window
// (ornat-cli) and the survey read the detector through this, as an engineer reads the
// window.

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "ui/main_window.h"

namespace ornat {

// One of the nine tactic buttons: the code its handler writes to register 4, a short
// name (the control's name without "_Button") and the button and label themselves.
struct TacticChoice {
  std::uint8_t code;
  const char* name;  // "T1MAX", "IRMIN", ...
  TTeRadioButton TForm1::*button;
  TTeLabel TForm1::*label;
};

// The nine choices in the order of their codes (0, 2, 3 ... 9).
const std::array<TacticChoice, 9>& TacticChoices();

struct ShownParameters {
  std::string type;   // the type cell without its indent; "" when the answer was rejected
  std::string state;  // "НОРМА", "ТРЕВОГА", "НЕИСПР.", "-??" or ""
  // The checked tactic button; none for codes 1 and 10..255.
  std::optional<std::uint8_t> tactic_code;
  std::string tactic_name;   // "T2MIN"
  std::string tactic_label;  // "- УФ-2 - MIN"
  bool latching = false;     // " - ФИКС. ТРЕВОГИ" checked
  bool test = false;         // " - ТЕСТ (УФ+ИК)" checked
};

ShownParameters ReadShownParameters(const TForm1& form);

}  // namespace ornat
