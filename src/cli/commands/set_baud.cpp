// set baud SPEED: the detector's line speed (register 2), chosen from the speed list.

#include "cli/commands/command.h"
#include "cli/messages.h"
#include "detector/server_speed.h"

namespace ornat::cli {

int RunSetBaud(Session& session) {
  TForm1& form = session.form();
  const std::uint8_t wanted = session.options().new_baud_index;
  const std::uint8_t pc = form.State.BaudIndex;
  const std::uint8_t address = form.State.DeviceAddress;
  if (const auto refused =
          GuardServerSpeed(session, kServerSpeedChangeQuestion, Speed(wanted) + " bit/s"))
    return *refused;
  Messages told;
  std::vector<ExchangeRecord> exchanges;
  Verdict verdict = session.Write([&] { form.TeSComboBox1.Select(wanted); }, exchanges, told,
                                  session.CheckQuery(address, wanted) + " (the new speed), or " +
                                      session.CheckQuery(address, pc) + " (the old one)");
  // BaudAcknowledged sets BaudIndex to the echoed speed and asks whether the PC is to
  // follow; a command line answers No, as it has no later exchange to make.
  const std::uint8_t acknowledged = form.State.BaudIndex;
  verdict = JudgeAcknowledged(verdict, acknowledged == wanted, OtherSpeedText(acknowledged, wanted),
                              told);
  Tell(told);
  BaudResult result;
  result.acknowledged = Speed(acknowledged);
  result.pc = Speed(pc);
  result.questions = session.window().dialogs().questions;
  session.Conclude(result, std::move(exchanges), verdict);
  Print(session, result);
  return verdict.exit;
}

}  // namespace ornat::cli
