#include "serial/network/telnet_codec.h"

namespace ornat {

void AppendTelnetData(std::vector<std::uint8_t>& out, const std::uint8_t* data, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) {
    out.push_back(data[i]);
    if (data[i] == telnet::kIac) out.push_back(telnet::kIac);
  }
}

void TelnetDecoder::Feed(const std::uint8_t* bytes, std::size_t n, std::vector<std::uint8_t>& data,
                         std::vector<TelnetCommand>& commands) {
  auto finish = [&](bool well_formed) {
    pending_.well_formed = well_formed;
    commands.push_back(std::move(pending_));
    pending_ = {};
    state_ = State::kData;
  };
  for (std::size_t i = 0; i < n; ++i) {
    const std::uint8_t b = bytes[i];
    switch (state_) {
      case State::kData:
        if (b == telnet::kIac)
          state_ = State::kIac;
        else
          data.push_back(b);
        break;
      case State::kIac:
        pending_.verb = b;
        if (b == telnet::kIac) {
          data.push_back(b);
          pending_ = {};
          state_ = State::kData;
        } else if (b >= telnet::kWill && b <= telnet::kDont) {
          state_ = State::kOption;
        } else if (b == telnet::kSb) {
          state_ = State::kSbOption;
        } else {
          finish(b >= telnet::kLowestCommand);
        }
        break;
      case State::kOption:
        pending_.option = b;
        finish(true);
        break;
      case State::kSbOption:
        pending_.option = b;
        overlong_ = false;
        state_ = State::kSb;
        break;
      case State::kSb:
        if (b == telnet::kIac) {
          state_ = State::kSbIac;
        } else if (pending_.payload.size() < kMaxSubnegotiation) {
          pending_.payload.push_back(b);
        } else {
          overlong_ = true;
        }
        break;
      case State::kSbIac:
        if (b == telnet::kIac) {
          if (pending_.payload.size() < kMaxSubnegotiation)
            pending_.payload.push_back(b);
          else
            overlong_ = true;
          state_ = State::kSb;
        } else if (b == telnet::kSe) {
          finish(!overlong_);
        } else {
          // Another command inside a subnegotiation: the peer never ended it. Give what
          // came as a broken subnegotiation and read the command after it.
          finish(false);
          state_ = State::kIac;
          --i;
        }
        break;
    }
  }
}

void TelnetDecoder::Reset() {
  state_ = State::kData;
  pending_ = {};
  overlong_ = false;
}

}  // namespace ornat
