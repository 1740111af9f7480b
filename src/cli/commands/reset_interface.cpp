// reset-interface: the window's interface reset, to address 247 at 9600 bit/s.

#include "cli/commands/command.h"
#include "detector/server_speed.h"

namespace ornat::cli {

int RunResetInterface(Session& session) {
  TForm1& form = session.form();
  if (const auto refused = GuardServerSpeed(session, kServerSpeedResetQuestion, "9600 bit/s"))
    return *refused;
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
