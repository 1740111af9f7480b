#pragma once
// Base of everything that can be the Sender of an event, and the event types.

#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace ornat {

class TObject {
 public:
  virtual ~TObject() = default;
};

// A component with a name: the name the window definition gives it ("TeButton5").
class TComponent : public TObject {
 public:
  explicit TComponent(std::string name = {}) : name_(std::move(name)) {}
  const std::string& Name() const { return name_; }
  void SetName(std::string name) { name_ = std::move(name); }

 private:
  std::string name_;
};

using TNotifyEvent = std::function<void(TObject* Sender)>;

// Observers of a model (the Qt view); raised after every change of visible state.
class ChangeSignal {
 public:
  using Slot = std::function<void()>;
  void Connect(Slot s) { slots_.push_back(std::move(s)); }
  void Emit() const {
    for (const auto& s : slots_) s();
  }

 private:
  std::vector<Slot> slots_;
};

}  // namespace ornat
