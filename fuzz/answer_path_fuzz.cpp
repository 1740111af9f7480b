// What comes from the line, all the way through: bytes -> ValidateAnswer ->
// LogResponse -> DispatchResponse, under every awaited operation and sequence. No
// crash, no sanitizer report, no read outside FrameBuffer (the build checks every
// std::array index), and the log shows exactly the bytes the validator left.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>

#include "modbus/rtu_codec.h"
#include "support/fake_comm_device.h"
#include "ui/main_window.h"
#include "ui/toolkit/dispatcher.h"
#include "ui/toolkit/virtual_scheduler.h"

namespace {

struct Harness {
  ornat::ScriptedDialogs dialogs;
  ornat::HandlerGate gate{dialogs};
  ornat::VirtualScheduler clock;
  ornat::QueueDispatcher dispatcher{gate};
  ornat::testing::FakeCommDevice device;
  std::unique_ptr<ornat::TForm1> form;
  Harness() {
    ornat::FormEnvironment env;
    env.scheduler = &clock;
    env.gate = &gate;
    env.dispatcher = &dispatcher;
    env.dialogs = &dialogs;
    env.device = &device;
    env.working_dir = "/nonexistent";
    form = std::make_unique<ornat::TForm1>(env);
    form->FormCreate(form.get());
  }
};

constexpr std::uint8_t kOps[] = {0, 1, 2, 3, 4, 5, 6, 30, 254, 255};
constexpr std::uint8_t kModes[] = {0, 2, 3, 254, 255};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static Harness* h = new Harness();
  if (size < 3) return 0;
  ornat::TForm1& w = *h->form;
  ornat::SharedState& s = w.State;
  s.PendingOp = kOps[data[0] % sizeof kOps];
  s.SessionMode = kModes[data[1] % sizeof kModes];
  s.BaudIndex = static_cast<std::uint8_t>(data[2] % 8);
  s.ResetStepCount = static_cast<std::uint8_t>(data[2] >> 6);
  const bool answer_yes = (data[0] & 0x80) != 0;
  data += 3;
  size -= 3;
  if (size > 255) size = 255;
  // Stale bytes of an earlier answer beyond the new one.
  s.FrameBuffer.fill(0xCC);
  for (std::size_t i = 0; i < size; ++i) s.FrameBuffer[i] = data[i];
  s.ReceivedCount = static_cast<std::uint16_t>(size);
  h->dialogs.answers.clear();
  h->dialogs.answers.push_back(answer_yes ? ornat::DialogAnswer::Yes : ornat::DialogAnswer::No);

  w.TeMemo1.Clear();
  w.TeMemo1.Add("RX :");
  if (s.ReceivedCount == 0) return 0;
  const bool valid = ornat::ValidateAnswer(s.FrameBuffer, s.ReceivedCount);
  if (s.ReceivedCount > 255) std::abort();
  if (!valid && s.SessionMode == 254) return 0;
  if (!valid) s.PendingOp = 255;
  const std::uint16_t shown = s.ReceivedCount;
  h->gate.Enter([&] { w.LogResponse(); });
  // ceil(n / 17) answer lines, then at most a handful of messages.
  const std::size_t answer_lines = (shown + 16) / 17;
  if (w.TeMemo1.Count() < answer_lines || w.TeMemo1.Count() > answer_lines + 3) std::abort();
  if (!h->dialogs.exceptions.empty()) std::abort();
  s.SessionMode = 0;
  return 0;
}
