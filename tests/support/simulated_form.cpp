#include "support/simulated_form.h"

namespace ornat::testing {

SimulatedForm::SimulatedForm(bool with_detector, bool hold_line) {
  if (with_detector) line.AddDetector(247);
  ports.ports = std::vector<std::string>{"COM1"};
  FormEnvironment env;
  env.scheduler = &clock;
  env.gate = &gate;
  env.dispatcher = &dispatcher;
  env.dialogs = &dialogs;
  env.device = &device;
  env.ports = &ports;
  env.working_dir = dir.path();
  env.exchange_observer = &exchanges;
  env.hold_line = hold_line;
  form = std::make_unique<TForm1>(env);
  // Record each completion: the window's own handler, wrapped.
  form->Timer_Rx.SetOnTimer([this](TObject* sender) {
    completions_.push_back(clock.Now());
    form->Timer_RxTimer(sender);
  });
  Do([this] { form->FormCreate(form.get()); });
}

SimulatedForm::~SimulatedForm() {
  // Closing the port joins the event thread while the line is still there.
  form.reset();
}

void SimulatedForm::Do(const std::function<void()>& fn) {
  gate.Enter(fn);
}

void SimulatedForm::Click(TTeButton& button) {
  Do([&] { button.Click(); });
}
void SimulatedForm::Click(TTeCheckBox& box) {
  Do([&] { box.Click(); });
}
void SimulatedForm::Click(TTeRadioButton& button) {
  Do([&] { button.Click(); });
}
void SimulatedForm::Click(TTeItem& item) {
  Do([&] { item.Click(); });
}

void SimulatedForm::SelectSearchDelay(int ms) {
  TTeItem* items[] = {&form->CustomItem7,  &form->CustomItem8,  &form->CustomItem9,
                      &form->CustomItem10, &form->CustomItem11, &form->CustomItem12};
  Click(*items[(ms - 100) / 50]);
}

long SimulatedForm::NowMs() const {
  return static_cast<long>(std::chrono::duration_cast<Millis>(clock.Now()).count());
}

bool SimulatedForm::RunUntilIdle(Millis limit) {
  return clock.RunUntilIdle(limit);
}

bool SimulatedForm::RunUntil(const std::function<bool()>& pred, Millis limit) {
  const Micros deadline = clock.Now() + limit;
  while (!pred()) {
    std::optional<Micros> next = clock.NextDue();
    if (!next || *next > deadline) {
      clock.Advance(deadline - clock.Now());
      return pred();
    }
    clock.Step();
  }
  return true;
}

bool SimulatedForm::RunToCompletion(Millis limit) {
  const std::size_t before = completions_.size();
  return RunUntil([&] { return completions_.size() > before; }, limit);
}

void SimulatedForm::ForgetHistory() {
  line.ClearHistory();
  device.ClearCalls();
  completions_.clear();
}

std::vector<std::string> SimulatedForm::LogLines() const {
  return form->TeMemo1.Lines();
}

std::vector<long> SimulatedForm::RequestTimesMs() const {
  std::vector<long> out;
  for (Micros t : line.RequestTimes())
    out.push_back(static_cast<long>(std::chrono::duration_cast<Millis>(t).count()));
  return out;
}

}  // namespace ornat::testing
