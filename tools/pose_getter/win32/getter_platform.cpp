#include "tools/pose_getter/getter_platform.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <winsock2.h>
#include <ws2tcpip.h>

#include <string>

namespace {
std::string SocketError(int code) {
  switch (code) {
  case WSAEADDRINUSE:
    return "address already in use (WSAEADDRINUSE)";
  case WSAEACCES:
    return "access denied (WSAEACCES)";
  default:
    return "Winsock error " + std::to_string(code);
  }
}
} // namespace

UdpSocket OpenUdpReceiver(uint16_t port, std::string &why) {
  WSADATA data;
  if (const int code = WSAStartup(MAKEWORD(2, 2), &data); code != 0) {
    why = SocketError(code);
    return kNoSocket;
  }
  const SOCKET s = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
  if (s == INVALID_SOCKET) {
    why = SocketError(WSAGetLastError());
    WSACleanup();
    return kNoSocket;
  }
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (bind(s, reinterpret_cast<const sockaddr *>(&address), static_cast<int>(sizeof address)) != 0) {
    why = SocketError(WSAGetLastError());
    closesocket(s);
    WSACleanup();
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
  WSACleanup();
}

// The driver terminates the helper itself; Windows has no parent to watch.
bool StarterAlive() {
  return true;
}
