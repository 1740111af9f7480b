#include "cli/headless_window.h"

#include <algorithm>

#include "cli/output.h"
#include "serial/comport.h"
#include "serial/device_factory.h"

namespace ornat::cli {

DialogAnswer CliDialogs::AskYesNo(const std::string& text) {
  questions.push_back(text);
  return std::find(yes_to.begin(), yes_to.end(), text) != yes_to.end() ? DialogAnswer::Yes
                                                                       : DialogAnswer::No;
}

void CliDialogs::ShowException(const std::string& message) {
  exceptions.push_back(message);
  Err(message);
}

void ExchangeRecorder::ExchangeEnded(const ExchangeRecord& record) {
  if (keep_) records_.push_back(record);
  if (on_end_) on_end_(record);
}

void ExchangeRecorder::DropFrom(std::size_t from) {
  if (from < records_.size())
    records_.erase(records_.begin() + static_cast<long>(from), records_.end());
}

namespace {
FormEnvironment WithLines(FormEnvironment env, std::vector<NamedLine> named_lines) {
  env.named_lines = std::move(named_lines);
  return env;
}
}  // namespace

// The platform's port list, and "comports.txt" in the working folder, as the window.
HeadlessWindow::HeadlessWindow(ExchangeObserver* journal, std::vector<NamedLine> named_lines)
    : device_(std::make_unique<SwitchingCommDevice>()),
      window_(WithLines(FormEnvironment::Realtime(loop_, gate_, dialogs_, *device_),
                        std::move(named_lines)),
              journal) {
  window_.observers().Add(&recorder_);
  window_.Start();
}

HeadlessWindow::~HeadlessWindow() = default;

bool HeadlessWindow::RunUntil(const std::function<bool()>& pred, std::chrono::milliseconds limit) {
  const auto until = std::chrono::steady_clock::now() + limit;
  while (!pred()) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        until - std::chrono::steady_clock::now());
    if (left.count() <= 0) return pred();
    loop_.RunUntil(pred, std::min(left, std::chrono::milliseconds(100)));
  }
  return true;
}

void HeadlessWindow::SetNetDelay(std::optional<int> ms) {
  Do([&] { form().SetNetDelayMs(ms); });
}

void HeadlessWindow::SelectPort(const std::string& name) {
  Do([&] { form().ChoosePort(name); });
}

void HeadlessWindow::SelectBaud(std::uint8_t baud_index) {
  Do([&] { form().BaudItem(baud_index).Click(); });
}

void HeadlessWindow::TypeAddress(std::uint8_t address) {
  Do([&] {
    form().TeSpinEdit1.SetText(std::to_string(address));
    // Enter: DeviceAddress follows the editor also when the text did not change.
    form().TeSpinEdit1.KeyPress('\r');
  });
}

std::vector<ExchangeRecord> HeadlessWindow::Perform(const std::function<void()>& action,
                                                    std::chrono::milliseconds limit) {
  const std::size_t before = recorder_.Records().size();
  const bool keeping = recorder_.Keeping();
  recorder_.Keep(true);
  Do(action);
  RunUntil([this] { return !form().Working(); }, limit);
  std::vector<ExchangeRecord> ended(recorder_.Records().begin() + static_cast<long>(before),
                                    recorder_.Records().end());
  if (!keeping) recorder_.DropFrom(before);
  recorder_.Keep(keeping);
  return ended;
}

}  // namespace ornat::cli
