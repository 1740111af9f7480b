// set tactic: a click on the tactic's radio button, whose handler writes register 4.

#include "cli/commands/command.h"

namespace ornat::cli {

int RunSetTactic(Session& session) {
  TForm1& form = session.form();
  const TacticChoice* choice = nullptr;
  for (const TacticChoice& c : TacticChoices())
    if (c.code == session.options().tactic_code) choice = &c;
  Messages told;
  std::vector<ExchangeRecord> exchanges;
  const Verdict verdict = session.Write([&] { (form.*choice->button).Click(); }, exchanges, told);
  Tell(told);
  TacticResult result;
  result.code = choice->code;
  result.name = choice->name;
  result.label = (form.*choice->label).Caption();
  session.Conclude(result, std::move(exchanges), verdict);
  Print(session, result);
  return verdict.exit;
}

}  // namespace ornat::cli
