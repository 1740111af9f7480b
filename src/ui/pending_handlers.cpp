// Handlers whose subsystem is still being built. Each moves to its subsystem's file
// (see ui/main_window.h) and leaves this file; until then it says so when called.

#include <stdexcept>

#include "ui/main_window.h"

namespace ornat {

namespace {
[[noreturn]] void NotBuilt(const char* what) {
  throw std::logic_error(std::string(what) + ": not built yet");
}
}  // namespace

// exchange engine
void TForm1::SendWriteRegister(std::uint16_t, std::uint16_t, TTeMemo&) {
  NotBuilt("SendWriteRegister");
}
void TForm1::SendWriteRegisterTo(std::uint8_t, std::uint16_t, std::uint16_t, TTeMemo&) {
  NotBuilt("SendWriteRegisterTo");
}
void TForm1::SendReadRegisters(std::uint16_t, std::uint16_t, TTeMemo&) {
  NotBuilt("SendReadRegisters");
}
void TForm1::ComPort1RxChar(TObject*, int) {}
void TForm1::Timer_RxTimer(TObject*) {
  NotBuilt("Timer_RxTimer");
}

// decoding
std::uint8_t TForm1::DecodeParameters() {
  NotBuilt("DecodeParameters");
}
void TForm1::T1MAX_ButtonClick(TObject*) {
  NotBuilt("T1MAX_ButtonClick");
}
void TForm1::T2MAX_ButtonClick(TObject*) {
  NotBuilt("T2MAX_ButtonClick");
}
void TForm1::T2MIN_ButtonClick(TObject*) {
  NotBuilt("T2MIN_ButtonClick");
}
void TForm1::T3_100MIN_ButtonClick(TObject*) {
  NotBuilt("T3_100MIN_ButtonClick");
}
void TForm1::T3_100MAX_ButtonClick(TObject*) {
  NotBuilt("T3_100MAX_ButtonClick");
}
void TForm1::T3_500MIN_ButtonClick(TObject*) {
  NotBuilt("T3_500MIN_ButtonClick");
}
void TForm1::T3_500MAX_ButtonClick(TObject*) {
  NotBuilt("T3_500MAX_ButtonClick");
}
void TForm1::IRMAX_ButtonClick(TObject*) {
  NotBuilt("IRMAX_ButtonClick");
}
void TForm1::IRMIN_ButtonClick(TObject*) {
  NotBuilt("IRMIN_ButtonClick");
}
void TForm1::FIX_ButtonClick(TObject*) {
  NotBuilt("FIX_ButtonClick");
}
void TForm1::TST_ButtonClick(TObject*) {
  NotBuilt("TST_ButtonClick");
}
void TForm1::Button1Click(TObject*) {
  NotBuilt("Button1Click");
}
void TForm1::Button2Click(TObject*) {
  NotBuilt("Button2Click");
}
void TForm1::Button3Click(TObject*) {
  NotBuilt("Button3Click");
}

// sequencer
void TForm1::DispatchResponse() {}
std::uint8_t TForm1::DeferIfBusy(Action) {
  NotBuilt("DeferIfBusy");
}
void TForm1::Timer_ProgrammTimer(TObject*) {
  NotBuilt("Timer_ProgrammTimer");
}
void TForm1::TeButton5Click(TObject*) {
  NotBuilt("TeButton5Click");
}
void TForm1::TeCheckBox1Click(TObject*) {
  NotBuilt("TeCheckBox1Click");
}
void TForm1::TeButton3Click(TObject*) {
  NotBuilt("TeButton3Click");
}

}  // namespace ornat
