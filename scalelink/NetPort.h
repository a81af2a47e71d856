#pragma once
// The network back end of the port layer: a scale reached through a serial
// device server, or a scale with an Ethernet port, named "tcp://HOST:PORT"
// or "rfc2217://HOST:PORT" (NetAddress.h).  CSerial opens it by that name
// and keeps every promise of a serial port:
//
//  - one user at a time per address (in this process and, through a lock
//    file, in every other);
//  - the same read and write time-outs, bounded waits and purges;
//  - no hang: the name look-up and the connect end within kConnectTimeoutMs,
//    a far end that vanishes is noticed by TCP keep-alive, and a connection
//    that is refused, reset or closed is an error code of its own;
//  - rfc2217: the line settings go to the device server, which must confirm
//    each (SerialErrorSettingsRefused otherwise), and each purge purges the
//    server's buffers as well; 0xFF is escaped both ways; the server's
//    line-state notifications become the line events EV_BREAK / EV_ERR.

#include "NetAddress.h"

#include <QString>

#include <cstdint>

struct SerialDevice;

namespace torvane::scalelink {

// Name look-up and connect together, and the RFC 2217 negotiation.
inline constexpr uint32_t kConnectTimeoutMs = 4000;
inline constexpr uint32_t kNegotiationTimeoutMs = 3000;

// Opens the network port named portName: the error code, or 0 and the device.
int32_t OpenNetDevice(const QString &portName, SerialDevice **device);

} // namespace torvane::scalelink
