// set address NEW: the detector's address (register 1), after a look at NEW.

#include "cli/commands/command.h"
#include "cli/messages.h"

namespace ornat::cli {

int RunSetAddress(Session& session) {
  TForm1& form = session.form();
  HeadlessWindow& window = session.window();
  const std::uint8_t wanted = session.options().new_address;
  const std::uint8_t before = form.State.DeviceAddress;
  const std::uint8_t baud = form.State.BaudIndex;
  AddressResult result;
  result.previous = before;
  Messages told;
  std::vector<ExchangeRecord> exchanges;
  // Two devices on one address answer each other's requests at once and garble both:
  // the new address is looked at first, with the window's parameter query there (a
  // read). The current address is the detector's own.
  Verdict verdict;
  if (wanted != before && !session.options().force) {
    window.TypeAddress(wanted);
    exchanges = window.Perform([&] { form.TeButton5.Click(); }, kCommandLimit);
    window.TypeAddress(before);
    verdict = JudgeLook(exchanges, form.Working(), wanted, result.occupied, told);
  }
  result.written = verdict.Done();
  if (result.written) {
    window.Do([&] { form.TeSpinEdit2.SetText(std::to_string(wanted)); });
    std::vector<ExchangeRecord> write;
    verdict = session.Write([&] { form.TeButton1.Click(); }, write, told,
                            session.CheckQuery(wanted, baud) + " (the new address), or " +
                                session.CheckQuery(before, baud) + " (the old one)");
    exchanges.insert(exchanges.end(), write.begin(), write.end());
  }
  // The window follows the address the detector echoes.
  result.acknowledged = form.State.DeviceAddress;
  verdict = JudgeAcknowledged(verdict, result.acknowledged == wanted,
                              OtherAddressText(result.acknowledged, wanted), told);
  Tell(told);
  session.Conclude(result, std::move(exchanges), verdict);
  Print(session, result);
  return verdict.exit;
}

}  // namespace ornat::cli
