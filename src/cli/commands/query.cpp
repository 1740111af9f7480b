// query: one parameter query ("ЗАПРОС ПАРАМЕТРОВ") of the detector at --address.

#include "cli/commands/command.h"
#include "cli/messages.h"

namespace ornat::cli {

int RunQuery(Session& session) {
  TForm1& form = session.form();
  Messages told;
  std::vector<ExchangeRecord> exchanges;
  Verdict verdict = session.Perform([&] { form.TeButton5.Click(); }, exchanges, told);
  verdict = JudgeQuery(exchanges, verdict, told);
  Tell(told);
  QueryResult result;
  if (verdict.Done()) result.shown = ReadShownParameters(form);
  result.speed = Speed(form.State.BaudIndex);
  session.Conclude(result, std::move(exchanges), verdict);
  Print(session, result);
  return verdict.exit;
}

}  // namespace ornat::cli
