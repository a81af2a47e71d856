#pragma once
// A pseudo-terminal pair for the port tests: the port under test opens the
// slave path; the test plays the other end on the master.

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <vector>

class PtyPair {
public:
    PtyPair();
    ~PtyPair();
    PtyPair(const PtyPair &) = delete;
    PtyPair &operator=(const PtyPair &) = delete;

    bool ok() const { return m_master >= 0; }
    QString slavePath() const { return m_slavePath; }
    int masterFd() const { return m_master; }
    // The pair's own descriptor on the slave (to look at its line settings).
    int slaveFd() const { return m_slaveHolder; }

    // Writes bytes from the scale's side.
    void send(const std::vector<uint8_t> &bytes);
    void send(const QByteArray &bytes);
    // Reads what the port wrote: waits up to timeoutMs for `count` bytes.
    std::vector<uint8_t> receive(std::size_t count, int timeoutMs = 1000);
    // Everything waiting now, without blocking.
    std::vector<uint8_t> receiveAvailable();

private:
    int m_master = -1;
    int m_slaveHolder = -1;
    QString m_slavePath;
};
