// reset-interface: the window's interface reset, to address 247 at 9600 bit/s.

#include "cli/commands/command.h"

namespace ornat::cli {

int RunResetInterface(Session& session) {
  TForm1& form = session.form();
  Messages told;
  std::vector<ExchangeRecord> exchanges;
  const Verdict verdict =
      session.Write([&] { form.TeButton2.Click(); }, exchanges, told, session.CheckQuery(247, 3));
  Tell(told);
  ResetInterfaceResult result;
  result.questions = session.window().dialogs().questions;
  session.Conclude(result, std::move(exchanges), verdict);
  Print(session, result);
  return verdict.exit;
}

}  // namespace ornat::cli
