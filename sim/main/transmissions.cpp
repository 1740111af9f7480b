// Simulator: the answers and the line noise on their way out to the master, byte by byte
// at their times on the wire, and the address and speed changes that take effect once
// an answer is out (said on stdout as EVENT lines and logged).

#include <algorithm>
#include <random>

#include "simulator.h"

namespace ornat::sim {

bool Simulator::AnswerOnTheWire(Clock::time_point at) const {
  if (at < deaf_until_) return true;
  const std::uint32_t rate = line_.BitRate();
  for (const Transmission& t : tx_) {
    // From the start of its first byte (one byte before its stop bit) to its last.
    const Clock::time_point first = t.origin + t.schedule.front().at - ByteDuration(rate);
    if (at >= first || t.next > 0) return true;
  }
  return false;
}

std::vector<bool> Simulator::BusyDetectors() const {
  std::vector<bool> busy(bus_.size(), false);
  for (const Transmission& t : tx_)
    for (std::size_t i : t.reply.Answering())
      if (i < busy.size()) busy[i] = true;
  return busy;
}

void Simulator::ServiceNoise(Clock::time_point now) {
  // Noise on the gateway's serial side is not modelled: it reaches no client.
  if (o_.noise_bytes == 0 || gateway()) return;
  const auto period = std::chrono::milliseconds(o_.noise_period_ms);
  if (!next_noise_) next_noise_ = t0_ + period;
  if (now < *next_noise_) return;
  while (*next_noise_ <= now) *next_noise_ += period;
  // Noise on a line nobody listens to is lost, as the answers are.
  if (line_.has_peer_events() && line_.PeerHungUp()) return;
  std::uniform_int_distribution<int> byte(0, 255);
  Bytes noise(o_.noise_bytes);
  for (auto& b : noise) b = static_cast<std::uint8_t>(byte(bus_.rng()));
  std::size_t done = 0;
  std::string why;
  line_.Write(noise, done, why);
  if (done > 0)
    log_.Tx(now, now, std::span(noise.data(), done), "noise" + (why.empty() ? "" : "," + why));
}

void Simulator::ServiceTransmissions(Clock::time_point now) {
  if (gateway()) {
    ServiceGatewayTransmissions(now);
    return;
  }
  // Every due byte of every answer, in the order they reach the master.
  struct Due {
    Clock::time_point at;
    std::size_t tx;
  };
  std::vector<Due> due;
  for (std::size_t i = 0; i < tx_.size(); ++i) {
    const Transmission& t = tx_[i];
    for (std::size_t k = t.next; k < t.schedule.size() && t.origin + t.schedule[k].at <= now; ++k)
      due.push_back({t.origin + t.schedule[k].at, i});
  }
  if (due.empty()) return;
  std::stable_sort(due.begin(), due.end(), [](const Due& a, const Due& b) { return a.at < b.at; });
  // Bytes written while nobody has the port open would wait in the pty and greet the
  // next program that opens it; on a real line they would simply be lost, as they are
  // with no TCP client.
  if (line_.has_peer_events() && line_.PeerHungUp()) {
    CheckPeer(now);
    while (!tx_.empty()) FinishTransmission(0, "port-closed");
    return;
  }
  Bytes bytes;
  for (const Due& d : due) {
    Transmission& t = tx_[d.tx];
    bytes.push_back(t.schedule[t.next++].byte);
  }
  std::size_t done = 0;
  std::string why;
  const bool whole = line_.Write(bytes, done, why);
  const Clock::time_point out = Clock::now();
  // What was written, back to the answers it belongs to.
  std::vector<std::size_t> sent_of(tx_.size(), 0);
  for (std::size_t k = 0; k < done; ++k) ++sent_of[due[k].tx];
  std::vector<std::size_t> lost_of(tx_.size(), 0);
  for (std::size_t k = done; k < due.size(); ++k) ++lost_of[due[k].tx];
  for (std::size_t i = 0; i < tx_.size(); ++i) {
    Transmission& t = tx_[i];
    if (sent_of[i] > 0) {
      const std::size_t first = t.next - sent_of[i] - lost_of[i];
      if (!t.first_out) t.first_out = out;
      t.last_out = out;
      for (std::size_t k = first; k < first + sent_of[i]; ++k) t.sent.push_back(t.schedule[k].byte);
    }
    if (lost_of[i] > 0 && why == "overflow") t.note = "overflow";
  }
  if (!whole && why != "overflow") {
    while (!tx_.empty()) FinishTransmission(0, why);
    return;
  }
  for (std::size_t i = tx_.size(); i-- > 0;)
    if (tx_[i].next == tx_[i].schedule.size()) FinishTransmission(i, {});
}

void Simulator::FinishTransmission(std::size_t index, const std::string& extra_note) {
  Transmission t = std::move(tx_[index]);
  tx_.erase(tx_.begin() + static_cast<std::ptrdiff_t>(index));
  std::string note = t.note;
  if (!extra_note.empty()) note += (note.empty() ? "" : ",") + extra_note;
  if (!t.sent.empty()) log_.Tx(*t.first_out, t.last_out, t.sent, note);
  const Clock::time_point end = t.first_out ? t.last_out : Clock::now();
  deaf_until_ = std::max(deaf_until_, end + assembler_.gap());
  // The detector finished its answer whether or not anyone was listening: the new
  // address and speed apply from here on.
  ApplyCommits(t.reply, end);
}

void Simulator::ApplyCommits(const Reply& reply, Clock::time_point at) {
  if (reply.commits.empty()) return;
  struct Before {
    std::size_t i;
    unsigned address;
    unsigned speed;
  };
  std::vector<Before> before;
  for (const Commit& c : reply.commits) {
    const DetectorModel& m = bus_.at(c.detector).model;
    before.push_back({c.detector, m.address(), m.speed_code()});
  }
  bus_.CommitAfterAnswer(reply);
  for (const Before& b : before) {
    const DetectorModel& m = bus_.at(b.i).model;
    // Appended, not "#" + std::to_string(...): GCC 12 at -O3 takes that insert at the
    // front for an overlapping copy (-Wrestrict), a false alarm.
    std::string who = "#";
    who += std::to_string(b.i);
    if (m.address() != b.address) {
      const std::string text = who + " address " + std::to_string(b.address) + " -> " +
                               std::to_string(unsigned{m.address()});
      Say("EVENT " + text);
      log_.Event(at, text);
    }
    if (m.speed_code() != b.speed) {
      const std::string text =
          who + " speed " + std::to_string(b.speed) + " -> " + std::to_string(m.speed_code());
      Say("EVENT " + text);
      log_.Event(at, text);
      if (b.i == 0) line_.FollowSpeed(m.bit_rate());
    }
  }
}

}  // namespace ornat::sim
