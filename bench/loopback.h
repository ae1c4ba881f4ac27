// Plain POSIX sockets on 127.0.0.1 for the benchmarks' own clients and
// servers (the plug-in brings its own sockets layer).
#pragma once

#include <cstddef>
#include <cstdint>

namespace bench {

// A connected TCP socket to 127.0.0.1:port, or -1 (errno set).
int ConnectLoopback(uint16_t port, bool noDelay);
// A UDP socket connected to 127.0.0.1:port, or -1.
int ConnectLoopbackUdp(uint16_t port);
// A socket of `type` (SOCK_STREAM or SOCK_DGRAM) bound to 127.0.0.1 on a
// port the system chose, or -1. `port` receives the port.
int BindLoopback(int type, uint16_t* port);
// A port that nothing on this machine was bound to a moment ago.
uint16_t FreePort(int type);
// Sends all `length` bytes; false when the connection failed.
bool SendAll(int fd, const void* data, std::size_t length);

}  // namespace bench
