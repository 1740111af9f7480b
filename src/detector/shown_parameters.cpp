#include "detector/shown_parameters.h"

namespace ornat {

namespace {
std::string WithoutIndent(const std::string& cell) {
  const auto first = cell.find_first_not_of(' ');
  return first == std::string::npos ? std::string() : cell.substr(first);
}
}  // namespace

const std::array<TacticChoice, 9>& TacticChoices() {
  static const std::array<TacticChoice, 9> kChoices = {{
      {0, "T1MAX", &TForm1::T1MAX_Button, &TForm1::TeLabel8},
      {2, "T2MAX", &TForm1::T2MAX_Button, &TForm1::TeLabel11},
      {3, "T2MIN", &TForm1::T2MIN_Button, &TForm1::TeLabel12},
      {4, "T3_100MIN", &TForm1::T3_100MIN_Button, &TForm1::TeLabel13},
      {5, "T3_100MAX", &TForm1::T3_100MAX_Button, &TForm1::TeLabel10},
      {6, "T3_500MIN", &TForm1::T3_500MIN_Button, &TForm1::TeLabel15},
      {7, "T3_500MAX", &TForm1::T3_500MAX_Button, &TForm1::TeLabel14},
      {8, "IRMAX", &TForm1::IRMAX_Button, &TForm1::TeLabel9},
      {9, "IRMIN", &TForm1::IRMIN_Button, &TForm1::TeLabel2},
  }};
  return kChoices;
}

ShownParameters ReadShownParameters(const TForm1& form) {
  ShownParameters p;
  p.type = WithoutIndent(form.StatusGrid.Cell(1, 0));
  p.state = WithoutIndent(form.StatusGrid.Cell(1, 1));
  for (const TacticChoice& c : TacticChoices()) {
    if (!(form.*c.button).Checked()) continue;
    p.tactic_code = c.code;
    p.tactic_name = c.name;
    p.tactic_label = (form.*c.label).Caption();
  }
  p.latching = form.FIX_Button.Checked();
  p.test = form.TST_Button.Checked();
  return p;
}

}  // namespace ornat
