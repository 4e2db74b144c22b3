#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

// What the helper needs from the platform beyond the shared mapping; each
// platform implements these in its own folder.

using UdpSocket = std::intptr_t;
inline constexpr UdpSocket kNoSocket = -1;

// A datagram socket bound to 127.0.0.1:port; kNoSocket when it cannot be
// had (the port taken, most often), with the system's reason in `why`.
UdpSocket OpenUdpReceiver(uint16_t port, std::string &why);
// The size of one datagram received within `timeout` (cut to `capacity`); 0
// when none came.
std::size_t ReceiveDatagram(UdpSocket socket, uint8_t *buffer, std::size_t capacity, std::chrono::milliseconds timeout);
void CloseUdpReceiver(UdpSocket socket);

// False once the process that started the helper has gone: an orphaned helper
// would otherwise run, and hold its port, for ever.
bool StarterAlive();
