#pragma once
// The sockets under the network ports (NetPort.cpp), behind one seam like the
// serial device: SocketPosix.cpp implements it; a Windows build adds its
// own file.  Every call returns 0 or an error code (the platform's, or the
// layer's own from Serial.h).  Nothing here blocks without a bound.

#include <QString>

#include <cstdint>

namespace torvane::scalelink::platform::net {

using Socket = intptr_t;
inline constexpr Socket kNoSocket = -1;

// Resolves host (a name, or an IPv4/IPv6 address) and connects to port,
// trying each address in turn, all within timeoutMs: a name server that does
// not answer or a host that does not answer ends in time.  The socket is
// non-blocking, sends small writes at once (no Nagle delay) and keeps the
// connection alive (a far end that vanishes is noticed).
int32_t connectSocket(const QString &host, uint16_t port, uint32_t timeoutMs, Socket *socket);
void closeSocket(Socket socket);

// Non-blocking transfers: *moved is what went; 0 with *moved 0 means "not
// now".  receiveSome gives SerialErrorConnectionClosed when the far end
// has closed the connection.
int32_t sendSome(Socket socket, const void *data, uint32_t count, uint32_t *moved);
int32_t receiveSome(Socket socket, void *buffer, uint32_t count, uint32_t *moved);
// Waits at most timeoutMs (SerialInfinite: no limit) until the socket can
// be read (or written); *ready tells whether it can.
int32_t waitSocket(Socket socket, bool forWrite, uint32_t timeoutMs, bool *ready);
// Bytes sent that the far end's TCP has not acknowledged yet.
int32_t unacknowledged(Socket socket, uint32_t *count);

// The listener's watch on a socket: each arrival of data is one event, and
// wakeWatch ends a wait from another thread.
struct Watch;
int32_t openWatch(Socket socket, Watch **watch);
// *arrived: data arrived (false: time-out or woken).
int32_t waitWatch(Watch *watch, uint32_t timeoutMs, bool *arrived);
void wakeWatch(Watch *watch);
void closeWatch(Watch *watch);

// One user of an address at a time, across programs and users: a lock file
// per address in the machine's lock folder.  EBUSY when another holds it.
int32_t lockAddress(const QString &key, intptr_t *handle);
void unlockAddress(intptr_t handle);

} // namespace torvane::scalelink::platform::net
