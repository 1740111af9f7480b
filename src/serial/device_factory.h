#pragma once
// Where the device of a port comes from. A port's name chooses its transport and the
// transport makes the device: today the platform's serial device (PosixCommDevice,
// Win32CommDevice) for every name. A new transport (tcp://, rfc2217://,
// modbus-tcp://) is one CommDevice file and one line in the table of
// device_factory.cpp.
//
// The window's ComPort1 holds one CommDevice for its whole life (FormEnvironment::
// device), while its Port may change between exchanges (the Port menu). So the front
// ends give it a SwitchingCommDevice, which at each open takes the device that the
// name's transport makes, and keeps the one it has while the transport stays the same
// (the POSIX device's watch on its node lives as long as the device object). A
// "tcp://host:502" chosen in the Port menu then swaps the device at the next open,
// with no change to TComPort, TForm1 or the front ends.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "serial/platform/comm_device.h"

namespace ornat {

// The device for a port name.
std::unique_ptr<CommDevice> MakeCommDevice(const std::string& port_name);

// A CommDevice that passes every call to the device of the port it last opened. Open
// changes the device only while it is closed (an open device refuses Open with its own
// error), so the event thread, which runs only while the port is open, never sees the
// change.
class SwitchingCommDevice : public CommDevice {
 public:
  // Starts with the device of a local serial port's name.
  SwitchingCommDevice();

  DevError Open(const std::string& port) override;
  std::vector<PortHolder> HoldersAtLastOpen() const override {
    return current_->HoldersAtLastOpen();
  }
  bool IsOpen() const override { return current_->IsOpen(); }
  DevError Close() override { return current_->Close(); }
  DevError SetupQueues(int input_size, int output_size) override {
    return current_->SetupQueues(input_size, output_size);
  }
  DevError SetLineSettings(const LineSettings& s) override { return current_->SetLineSettings(s); }
  DevError SetTimeouts(const CommTimeouts& t) override { return current_->SetTimeouts(t); }
  DevError SetEventMask(std::uint32_t mask) override { return current_->SetEventMask(mask); }
  std::unique_ptr<CommStopSignal> CreateStopSignal() override {
    return current_->CreateStopSignal();
  }
  WaitResult WaitEvent(CommStopSignal& stop) override { return current_->WaitEvent(stop); }
  IoResult Read(void* buffer, int count) override { return current_->Read(buffer, count); }
  IoResult Write(const void* buffer, int count) override { return current_->Write(buffer, count); }
  DevError ClearError(std::uint32_t& errors, std::uint32_t& in_queue) override {
    return current_->ClearError(errors, in_queue);
  }
  DevError GetModemStatus(std::uint32_t& status) override {
    return current_->GetModemStatus(status);
  }
  DevError Purge(std::uint32_t flags) override { return current_->Purge(flags); }

  // The device the calls go to now.
  CommDevice& Current() { return *current_; }

 private:
  std::size_t transport_;
  std::unique_ptr<CommDevice> current_;
};

}  // namespace ornat
