// reset-alarm: the alarm-reset command (register 6 := 0xAA55).

#include "cli/commands/command.h"

namespace ornat::cli {

int RunResetAlarm(Session& session) {
  TForm1& form = session.form();
  Messages told;
  std::vector<ExchangeRecord> exchanges;
  const Verdict verdict = session.Write([&] { form.TeButton3.Click(); }, exchanges, told);
  Tell(told);
  ResetAlarmResult result;
  session.Conclude(result, std::move(exchanges), verdict);
  Print(session, result);
  return verdict.exit;
}

}  // namespace ornat::cli
