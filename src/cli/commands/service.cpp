// service F0|F2|F3: the service reads of the hidden buttons "F0", "F2" and "F3". The
// window shows the bytes and "ОК." and reads nothing in them; the registers are printed
// only from an answer that holds the whole block.

#include "cli/commands/command.h"
#include "detector/register_map.h"

namespace ornat::cli {

namespace {

struct ServiceBlock {
  const char* name;
  std::uint16_t first;
  std::uint16_t count;
  TButton TForm1::*button;
};
constexpr ServiceBlock kServiceBlocks[] = {
    {"F0", kServiceBlockF0, kServiceCountF0, &TForm1::Button1},
    {"F2", kServiceBlockF2, kServiceCountF2, &TForm1::Button2},
    {"F3", kServiceBlockF3, kServiceCountF3, &TForm1::Button3},
};

}  // namespace

int RunService(Session& session) {
  TForm1& form = session.form();
  const ServiceBlock& block = kServiceBlocks[session.options().service_block];
  ServiceResult result;
  result.block = block.name;
  result.first = block.first;
  result.count = block.count;
  Messages told;
  std::vector<ExchangeRecord> exchanges;
  Verdict verdict = session.Perform([&] { (form.*block.button).Click(); }, exchanges, told);
  if (verdict.Done()) result.answer = ValidAnswer(exchanges.back());
  verdict = JudgeServiceAnswer(verdict, result.answer, block.name, block.count,
                               form.State.DeviceAddress, told);
  Tell(told);
  session.Conclude(result, std::move(exchanges), verdict);
  Print(session, result);
  return verdict.exit;
}

}  // namespace ornat::cli
