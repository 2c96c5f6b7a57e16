// The loopback peers over either platform's sockets (loopback_sockets.h).
#include "loopback_peers.h"

#include "loopback_sockets.h"

namespace upgrade::testing {

SilentUdpPort::SilentUdpPort() : socket_(sockets::bound(sockets::Kind::Datagram, port_)) {}

RefusingTcpPort::RefusingTcpPort() : socket_(sockets::bound(sockets::Kind::Stream, port_)) {}

BrowserResponder::BrowserResponder(Answer answer)
    : answer_(std::move(answer)), socket_(sockets::bound(sockets::Kind::Datagram, port_)) {
  worker_.start([this](int stopFd) {
    sockets::answerDatagrams(socket_.get(), stopFd, [this](const Bytes& request) {
      {
        const std::lock_guard lock(mutex_);
        requests_.push_back(request);
      }
      return answer_(request);
    });
  });
}

std::vector<Bytes> BrowserResponder::requests() const {
  const std::lock_guard lock(mutex_);
  return requests_;
}

Bytes browserResponse(std::string_view text) {
  Bytes datagram;
  datagram.reserve(text.size() + 3);
  datagram.push_back(0x05);
  datagram.push_back(static_cast<std::uint8_t>(text.size() & 0xFF));
  datagram.push_back(static_cast<std::uint8_t>(text.size() >> 8));
  for (const char c : text) {
    datagram.push_back(static_cast<std::uint8_t>(c));
  }
  return datagram;
}

}  // namespace upgrade::testing
