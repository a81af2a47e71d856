#pragma once
// Port names of scales on the shop's network:
//
//   tcp://HOST:PORT      raw TCP: the bytes of the line as they are (a serial
//                        device server set to 57600 8N1 by its own
//                        configuration, or a scale with an Ethernet port);
//   rfc2217://HOST:PORT  Telnet with the COM-PORT-OPTION of RFC 2217: the
//                        program sets the device server's line itself.
//
// HOST is a name, an IPv4 address or an IPv6 address in brackets
// ("tcp://[fd00::21]:4001").  The scheme and the name take any case.

#include <QString>

#include <cstdint>

namespace torvane::scalelink {

enum class NetScheme { Tcp, Rfc2217 };

struct NetAddress {
    NetScheme scheme = NetScheme::Tcp;
    QString host; // without brackets
    uint16_t port = 0;

    // The address as it is shown and kept: scheme and name in lower case.
    QString text() const;
    // The same device server whatever the scheme: the name of its lock.
    QString lockKey() const;
};

// Whether the name asks for a network port (it starts with "tcp://" or
// "rfc2217://"); such a name is never a device path.
bool IsNetworkPortName(const QString &name);

// Reads a network port name.  False with *error (the operator's words, with
// an example) when it is not one.
bool ParseNetAddress(const QString &name, NetAddress *address, QString *error = nullptr);

} // namespace torvane::scalelink
