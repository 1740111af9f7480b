// reset-interface: the window's interface reset, to address 247 at 9600 bit/s.

#include "cli/commands/command.h"

namespace ornat::cli {

int RunResetInterface(Session& session) {
  TForm1& form = session.form();
  Messages told;
  std::vector<ExchangeRecord> exchanges;
  Verdict verdict = session.Perform([&] { form.TeButton2.Click(); }, exchanges, told);
  verdict = JudgeWrites(exchanges, verdict, session.CheckQuery(247, 3), told);
  Tell(told);
  ResetInterfaceResult result;
  result.questions = session.window().dialogs().questions;
  session.Conclude(result, std::move(exchanges), verdict);
  Print(session, result);
  return verdict.exit;
}

}  // namespace ornat::cli
