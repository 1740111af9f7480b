// set test on|off: the UV+IR test mode (register 7). The check box shows the
// detector's test mode only after a query, and only a change of it writes: read first,
// then click it if it is not as asked.

#include "cli/commands/command.h"

namespace ornat::cli {

int RunSetTest(Session& session) {
  TForm1& form = session.form();
  TestResult result;
  result.on = session.options().test_on;
  Messages told;
  std::vector<ExchangeRecord> exchanges;
  Verdict verdict = session.Perform([&] { form.TeButton5.Click(); }, exchanges, told);
  verdict = JudgeQuery(exchanges, verdict, told);
  if (verdict.Done() && form.TST_Button.Checked() != result.on) {
    std::vector<ExchangeRecord> write;
    verdict = session.Write([&] { form.TST_Button.Click(); }, write, told);
    exchanges.insert(exchanges.end(), write.begin(), write.end());
    result.written = true;
  }
  Tell(told);
  session.Conclude(result, std::move(exchanges), verdict);
  Print(session, result);
  return verdict.exit;
}

}  // namespace ornat::cli
