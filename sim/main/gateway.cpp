// Simulator: the Modbus TCP gateway of --listen modbus-tcp://. Each MBAP request goes
// out on the gateway's serial side as the RTU frame the detectors hear; their answer
// is paced there at the line speed, and once its last byte is in, the gateway sends it
// back as an MBAP answer with the request's transaction id. No first byte within the
// gateway's wait (--gateway-timeout): exception 0x0B.

#include <algorithm>

#include "simulator.h"

namespace ornat::sim {

void Simulator::OnGatewayBytes(std::span<const std::uint8_t> bytes, Clock::time_point now) {
  std::vector<GatewayRequest> requests;
  if (!mbap_.Feed(bytes, requests)) {
    // Nothing after a bad header can be framed: the gateway drops the connection.
    log_.Rx(now, bytes, "not-mbap");
    line_.DropClient();
    CheckPeer(now);
    return;
  }
  for (GatewayRequest& r : requests) gateway_queue_.push_back(std::move(r));
  ServiceGatewayQueue(now);
}

bool Simulator::GatewayBusy(Clock::time_point now) const {
  // It waits for an answer (or its wait to end), then keeps the line's silence.
  if (now < deaf_until_ || !gateway_out_.empty()) return true;
  return std::any_of(tx_.begin(), tx_.end(),
                     [](const Transmission& t) { return t.gateway && !t.gave_up; });
}

void Simulator::ServiceGatewayQueue(Clock::time_point now) {
  // One request at a time on the serial side, as a gateway sends them: the next once
  // the last is answered or given up.
  while (!gateway_queue_.empty() && !GatewayBusy(now)) {
    GatewayRequest r = std::move(gateway_queue_.front());
    gateway_queue_.pop_front();
    const Bytes rtu = r.rtu;
    HandleRequest(rtu, now, std::move(r));
  }
}

void Simulator::GatewayGivesUp(const GatewayRequest& request, Clock::time_point at) {
  Bytes answer = GatewayAnswer(request, {});
  if (!answer.empty()) gateway_out_.push_back({at, std::move(answer), "gateway exception 0x0B"});
}

void Simulator::ServiceGatewayTransmissions(Clock::time_point now) {
  for (std::size_t i = tx_.size(); i-- > 0;) {
    Transmission& t = tx_[i];
    while (t.next < t.schedule.size() && t.origin + t.schedule[t.next].at <= now) {
      const Clock::time_point on_line = t.origin + t.schedule[t.next].at;
      if (!t.first_out) t.first_out = on_line;
      t.last_out = on_line;
      t.sent.push_back(t.schedule[t.next++].byte);
    }
    if (t.next < t.schedule.size()) continue;
    if (t.gateway && !t.gave_up) {
      Bytes answer = GatewayAnswer(*t.gateway, t.sent);
      if (!answer.empty()) gateway_out_.push_back({t.last_out, std::move(answer), {}});
    }
    FinishTransmission(i, t.gave_up ? "gateway-gave-up" : "");
  }
}

void Simulator::ServiceGatewayWrites(Clock::time_point now) {
  while (!gateway_out_.empty()) {
    auto due =
        std::min_element(gateway_out_.begin(), gateway_out_.end(),
                         [](const GatewayWrite& a, const GatewayWrite& b) { return a.at < b.at; });
    if (due->at > now) return;
    const GatewayWrite w = std::move(*due);
    gateway_out_.erase(due);
    std::size_t done = 0;
    std::string why;
    line_.Write(w.bytes, done, why);
    if (!w.event.empty()) log_.Event(now, w.event);
  }
}

void Simulator::OnClientGone() {
  mbap_ = MbapRequestReader{};
  gateway_out_.clear();
  gateway_queue_.clear();
  // Answers still on the gateway's serial side end there: their client has gone.
  for (Transmission& t : tx_) t.gave_up = true;
}

}  // namespace ornat::sim
