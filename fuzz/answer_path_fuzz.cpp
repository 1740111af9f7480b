// What comes from the line, all the way through the completion of an exchange: bytes
// handed over while an operation awaits its answer -> Timer_RxTimer, fired by the
// virtual clock -> ValidateAnswer -> LogResponse -> DispatchResponse and whatever it
// runs (the decoding with its controls, the acknowledgements, the speed question, the
// search hit).
//
// Each input runs in a window of its own, created as the program creates it and put in
// a state the window can be in when an answer comes, so that an input that failed once
// fails again on its own. The flags are those the senders leave: the parameter query,
// the address change and the line-speed change set QueryPending before they send, so
// their answers always find it 1 (the decoding of a query answer sets the check boxes
// and radio buttons, whose handlers write to the detector unless QueryPending is 1);
// the other operations may find it either way (a failed query send leaves it 1 for
// whatever is sent next); an answer that comes while nothing awaits one finds it 0.
//
// Input: three option bytes, then the bytes handed over (at most 255: one read never
// takes more).
//   byte 0: the awaited operation, kOps[b % 10]; bit 7: the answer to the speed
//           question (Yes when set);
//   byte 1: the sequence that runs, kModes[b % 5];
//   byte 2: bits 0-2 BaudIndex; bit 3 QueryPending where the operation leaves it
//           open; bit 4 during a search: the probe counter stands at 248, the
//           search's last probe (otherwise 247); bits 6-7 ResetStepCount.
//
// What the completion guarantees, whatever the bytes:
//  - no crash, no sanitizer report, no read outside FrameBuffer (the build checks
//    every std::array index), no exception for the report;
//  - nothing goes to the detector: an answer is shown, never answered with a write;
//  - the request line stays; below it, exactly the bytes the validator left, 17 to a
//    line, or "RX :" where nothing is shown (no byte came, or a search probe's answer
//    failed its check); then only message lines of the catalogue, at most three, with
//    "   : CRC ERROR." last after a failed check and "   : TIME OUT." last when
//    nothing came (outside a search), and neither anywhere else;
//  - the log is blue; ReceivedCount, PendingOp and QueryPending are back to 0.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "modbus/exchange.h"
#include "modbus/rtu_codec.h"
#include "runtime/dispatcher.h"
#include "runtime/virtual_scheduler.h"
#include "serial/platform/port_list.h"
#include "serial/platform/recording_comm_device.h"
#include "support/line_texts.h"
#include "support/scripted_comm_device.h"
#include "ui/main_window.h"

namespace {

using ornat::testing::AnswerLines;

constexpr std::uint8_t kOps[] = {0, 1, 2, 3, 4, 5, 6, 30, 254, 255};
constexpr std::uint8_t kModes[] = {0, 2, 3, 254, 255};
constexpr std::uint8_t kSearch = 254;

// The parameter query to the detector at 247, as its sender logs it.
constexpr std::uint8_t kRequest[8] = {0xF7, 0x03, 0x00, 0x00, 0x00, 0x08, 0x50, 0x9A};
const std::string kRequestLine = "TX : F7 03 00 00 00 08 50 9A ";
// Blue (0x00BBGGRR).
constexpr std::uint32_t kBlue = 16711680;

class OnePort : public ornat::PortListSource {
 public:
  std::optional<std::vector<std::string>> ListPorts() override {
    return std::vector<std::string>{"COM1"};
  }
};

// A window on the virtual clock over the scripted device, recorded, created through the
// gate as the program creates it.
struct Window {
  ornat::ScriptedDialogs dialogs;
  ornat::HandlerGate gate{dialogs};
  ornat::VirtualScheduler clock;
  ornat::QueueDispatcher dispatcher{gate};
  ornat::testing::ScriptedCommDevice script;
  ornat::RecordingCommDevice device{script};
  OnePort ports;
  std::unique_ptr<ornat::TForm1> form;
  int completions = 0;
  Window() {
    ornat::FormEnvironment env;
    env.scheduler = &clock;
    env.gate = &gate;
    env.dispatcher = &dispatcher;
    env.dialogs = &dialogs;
    env.device = &device;
    env.ports = &ports;
    env.working_dir = "/nonexistent";
    form = std::make_unique<ornat::TForm1>(env);
    form->Timer_Rx.SetOnTimer([this](ornat::TObject* sender) {
      ++completions;
      form->Timer_RxTimer(sender);
    });
    gate.Enter([this] { form->FormCreate(form.get()); });
  }
};

bool IsCatalogueMessage(const std::string& line) {
  using namespace ornat::testing;
  static const std::string kFoundPrefix =
      "   : ОБНАРУЖЕН ПРИБОР <VA329(-330) \"ОРНАТ(-2)-Zev\"> ПО АДРЕСУ ";
  for (const std::string* m :
       {&kOkLine, &kErrorLine, &kTimeOutLine, &kCrcErrorLine, &kWrongLengthLine, &kWrongIdLine,
        &kResetOkLine, &kResetErrorLine, &kNotFoundLine})
    if (line == *m) return true;
  // The lines that end with a three-digit address.
  for (const std::string* prefix : {&kFoundPrefix, &kWrongAddressPrefix}) {
    if (line.size() != prefix->size() + 3 || line.compare(0, prefix->size(), *prefix)) continue;
    return std::all_of(line.end() - 3, line.end(), [](char c) { return c >= '0' && c <= '9'; });
  }
  return false;
}

[[noreturn]] void Fail(const char* what, const std::vector<std::string>& log) {
  std::fprintf(stderr, "answer path: %s\nlog:\n", what);
  for (const std::string& l : log) std::fprintf(stderr, "  |%s|\n", l.c_str());
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 3) return 0;
  Window win;
  ornat::TForm1& w = *win.form;
  ornat::SharedState& s = w.State;

  const std::uint8_t op = kOps[data[0] % sizeof kOps];
  const std::uint8_t mode = kModes[data[1] % sizeof kModes];
  const bool search = mode == kSearch;
  win.dialogs.answers.push_back((data[0] & 0x80) != 0 ? ornat::DialogAnswer::Yes
                                                      : ornat::DialogAnswer::No);
  s.SessionMode = mode;
  s.BaudIndex = static_cast<std::uint8_t>(data[2] & 7);
  s.ResetStepCount = static_cast<std::uint8_t>(data[2] >> 6);
  s.DeviceAddress = search && (data[2] & 0x10) != 0 ? 248 : 247;
  if (op == 1 || op == 2 || op == 3)
    s.QueryPending = 1;
  else if (op == 0)
    s.QueryPending = 0;
  else
    s.QueryPending = (data[2] & 0x08) != 0 ? 1 : 0;
  data += 3;
  size = std::min<std::size_t>(size - 3, 255);

  // The request as its sender leaves it: logged, Timer_Rx counting the response
  // timeout, the operation awaited.
  win.gate.Enter([&] {
    std::copy(std::begin(kRequest), std::end(kRequest), s.SentRequest.begin());
    w.LogRequest(kRequest);
    w.Timer_Rx.SetInterval(ornat::ResponseTimeoutMs(s.BaudIndex));
    w.Timer_Rx.SetEnabled(true);
    s.PendingOp = op;
    if (size == 0) return;
    // The hand-over of one read: the bytes from byte 0 (stale bytes of an earlier
    // answer beyond them), the count, 5 ms of settling.
    s.FrameBuffer.fill(0xCC);
    std::copy(data, data + size, s.FrameBuffer.begin());
    s.ReceivedCount = static_cast<std::uint16_t>(size);
    w.Timer_Rx.SetInterval(ornat::kSettlingMs);
  });

  // What the validator leaves, worked out on a copy.
  std::array<std::uint8_t, 256> left = s.FrameBuffer;
  std::uint16_t left_count = s.ReceivedCount;
  const bool valid = left_count != 0 && ornat::ValidateAnswer(left, left_count);

  win.clock.AdvanceMs(w.Timer_Rx.Interval());
  const std::vector<std::string>& log = w.TeMemo1.Lines();
  if (win.completions != 1) Fail("the exchange did not complete once", log);
  if (!win.dialogs.exceptions.empty()) Fail(win.dialogs.exceptions.front().c_str(), log);
  if (win.device.Count("Write") != 0) Fail("a request went to the detector", log);

  std::vector<std::string> head = {kRequestLine};
  if (size != 0 && (valid || !search)) {
    for (const std::string& l : AnswerLines({left.begin(), left.begin() + left_count}))
      head.push_back(l);
  } else {
    head.push_back("RX :");
  }
  if (log.size() < head.size() || !std::equal(head.begin(), head.end(), log.begin()))
    Fail("the request and answer lines differ from the bytes", log);
  const std::vector<std::string> messages(log.begin() + static_cast<long>(head.size()), log.end());
  if (messages.size() > 3) Fail("more than three message lines", log);
  for (const std::string& m : messages)
    if (!IsCatalogueMessage(m)) Fail("a line that is no message of the catalogue", log);
  std::string last_expected;
  if (!search && size == 0) last_expected = ornat::testing::kTimeOutLine;
  if (!search && size != 0 && !valid) last_expected = ornat::testing::kCrcErrorLine;
  for (std::size_t i = 0; i < messages.size(); ++i) {
    const bool engine_line =
        messages[i] == ornat::testing::kTimeOutLine || messages[i] == ornat::testing::kCrcErrorLine;
    if (engine_line && (i + 1 != messages.size() || messages[i] != last_expected))
      Fail("a time-out or CRC line where none belongs", log);
  }
  if (!last_expected.empty() && (messages.empty() || messages.back() != last_expected))
    Fail("the time-out or CRC line is missing", log);

  if (w.TeMemo1.FontColor() != kBlue) Fail("the log is not blue", log);
  if (s.ReceivedCount != 0 || s.PendingOp != 0 || s.QueryPending != 0)
    Fail("the completion left its flags set", log);
  return 0;
}
