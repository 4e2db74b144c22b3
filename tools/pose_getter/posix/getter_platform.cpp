#include "tools/pose_getter/getter_platform.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {
const pid_t starter = getppid();
} // namespace

UdpSocket OpenUdpReceiver(uint16_t port, std::string &why) {
  const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    why = std::strerror(errno);
    return kNoSocket;
  }
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (bind(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0) {
    why = std::strerror(errno);
    close(fd);
    return kNoSocket;
  }
  return fd;
}

std::size_t ReceiveDatagram(UdpSocket socket, uint8_t *buffer, std::size_t capacity,
                            std::chrono::milliseconds timeout) {
  pollfd p{static_cast<int>(socket), POLLIN, 0};
  if (poll(&p, 1, static_cast<int>(timeout.count())) <= 0) return 0;
  const ssize_t n = recv(static_cast<int>(socket), buffer, capacity, 0);
  return n > 0 ? static_cast<std::size_t>(n) : 0;
}

void CloseUdpReceiver(UdpSocket socket) {
  close(static_cast<int>(socket));
}

bool StarterAlive() {
  return getppid() == starter;
}
