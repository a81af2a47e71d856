#pragma once
// The simulator as a scale on the network: it listens on a TCP address and
// carries one connection at a time to the simulated serial line, raw
// ("tcp://", as a device server set to 57600 8N1 or an Ethernet scale) or as
// an RFC 2217 device server ("rfc2217://": option negotiation, the line
// settings confirmed, purges, 0xFF escaped).  ScaleSimulator::serve runs on
// lineFd() as on a serial line, so every fault and the pacing work the same;
// the scale's memory outlives each connection.

#include <QString>

#include <atomic>
#include <cstdint>
#include <functional>

namespace torvane::scalesim {

class NetListener {
public:
    NetListener() = default;
    ~NetListener();
    NetListener(const NetListener &) = delete;
    NetListener &operator=(const NetListener &) = delete;

    // where: "[tcp://|rfc2217://]HOST:PORT"; port 0 takes a free one.  False
    // with *error set when it cannot listen there.
    bool open(const QString &where, QString *error);
    // The address it listens on, with the port it got ("tcp://127.0.0.1:40123").
    QString address() const;
    uint16_t port() const { return m_port; }
    // The simulated line's end to hand to ScaleSimulator::serve.
    int lineFd() const { return m_lineFd; }

    // Fault: answer every line setting with 9600 baud, 7 bits, even parity
    // (a device server that keeps its own settings).
    void setRefuseSettings(bool on) { m_refuseSettings = on; }
    void setLogSink(std::function<void(const QString &)> sink) { m_log = std::move(sink); }

    // Relays until stop; run it on a thread of its own.
    void run(const std::atomic<bool> &stop);

private:
    void log(const QString &line) const;

    bool m_rfc2217 = false;
    bool m_refuseSettings = false;
    QString m_host;
    uint16_t m_port = 0;
    int m_listenFd = -1;
    int m_lineFd = -1;  // given to serve
    int m_relayFd = -1; // the relay's end of the line
    std::function<void(const QString &)> m_log;
};

} // namespace torvane::scalesim
