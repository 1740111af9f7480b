#pragma once
// ForwardingCommDevice: a CommDevice that passes every call on to another one. A device
// that wraps another (the device that switches with the port's transport, the
// recording decorator) derives from it and overrides only the calls it changes.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "serial/platform/comm_device.h"

namespace ornat {

class ForwardingCommDevice : public CommDevice {
 public:
  DevError Open(const std::string& port) override { return Target().Open(port); }
  std::vector<PortHolder> HoldersAtLastOpen() const override {
    return Target().HoldersAtLastOpen();
  }
  bool IsOpen() const override { return Target().IsOpen(); }
  DevError Close() override { return Target().Close(); }
  DevError SetupQueues(int input_size, int output_size) override {
    return Target().SetupQueues(input_size, output_size);
  }
  DevError SetLineSettings(const LineSettings& s) override { return Target().SetLineSettings(s); }
  DevError SetTimeouts(const CommTimeouts& t) override { return Target().SetTimeouts(t); }
  DevError SetEventMask(std::uint32_t mask) override { return Target().SetEventMask(mask); }
  std::unique_ptr<CommStopSignal> CreateStopSignal() override {
    return Target().CreateStopSignal();
  }
  WaitResult WaitEvent(CommStopSignal& stop) override { return Target().WaitEvent(stop); }
  IoResult Read(void* buffer, int count) override { return Target().Read(buffer, count); }
  IoResult Write(const void* buffer, int count) override { return Target().Write(buffer, count); }
  DevError ClearError(std::uint32_t& errors, std::uint32_t& in_queue) override {
    return Target().ClearError(errors, in_queue);
  }
  DevError GetModemStatus(std::uint32_t& status) override {
    return Target().GetModemStatus(status);
  }
  DevError Purge(std::uint32_t flags) override { return Target().Purge(flags); }
  std::uint8_t GatewayNoAnswerCode() const override { return Target().GatewayNoAnswerCode(); }
  NetworkFrames LastNetworkFrames() const override { return Target().LastNetworkFrames(); }
  std::string LastProblem() const override { return Target().LastProblem(); }

 protected:
  // The device the calls go to now.
  virtual CommDevice& Target() const = 0;
};

}  // namespace ornat
