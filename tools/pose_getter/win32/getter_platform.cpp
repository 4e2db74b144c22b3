#include "tools/pose_getter/getter_platform.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <winsock2.h>
#include <ws2tcpip.h>

UdpSocket OpenUdpReceiver(uint16_t port) {
  WSADATA data;
  if (WSAStartup(MAKEWORD(2, 2), &data) != 0) return kNoSocket;
  const SOCKET s = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
  if (s == INVALID_SOCKET) return kNoSocket;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (bind(s, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0) {
    closesocket(s);
    return kNoSocket;
  }
  return static_cast<UdpSocket>(s);
}

std::size_t ReceiveDatagram(UdpSocket socket, uint8_t *buffer, std::size_t capacity,
                            std::chrono::milliseconds timeout) {
  const auto s = static_cast<SOCKET>(socket);
  fd_set readable;
  FD_ZERO(&readable);
  FD_SET(s, &readable);
  timeval wait{static_cast<long>(timeout.count() / 1000), static_cast<long>(timeout.count() % 1000 * 1000)};
  if (select(0, &readable, nullptr, nullptr, &wait) <= 0) return 0;
  // An oversized datagram fails with WSAEMSGSIZE but fills the buffer; the
  // parser rejects it by its size all the same.
  const int n = recv(s, reinterpret_cast<char *>(buffer), static_cast<int>(capacity), 0);
  if (n > 0) return static_cast<std::size_t>(n);
  return WSAGetLastError() == WSAEMSGSIZE ? capacity : 0;
}

void CloseUdpReceiver(UdpSocket socket) {
  closesocket(static_cast<SOCKET>(socket));
}

// The driver terminates the helper itself; Windows has no parent to watch.
bool StarterAlive() {
  return true;
}
