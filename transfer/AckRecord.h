#pragma once
// What one scale acknowledged, kept in the shared database (tables
// ScaleTransfer and ScaleAck): per slot, the "DL" frame the scale answered
// "OK" to last, and whether the scale's last transfer ended cleanly.
//
// The record is trusted only when that last transfer ended cleanly: every
// download first marks it unsure and only a download that ends with every
// product acknowledged (or one that started from a trusted record) marks it
// trusted again.  A transfer that fails, is stopped, or never gets to say
// how it ended (power cut, killed) leaves it unsure, and the next
// "send --changed" sends everything.  Only frames the scale acknowledged are
// ever written.

#include <QByteArray>
#include <QString>

#include <map>
#include <memory>
#include <vector>

namespace torvane::db {
class Connection;
}

namespace torvane::transfer {

class AckRecord {
public:
    // Opens its own connection (on the calling thread) to the file.
    AckRecord(const QString &databasePath, const QString &scale);
    ~AckRecord();

    // Reads the scale's record.  False with error() set on a database error;
    // a database whose upgrade has not added the tables yet is not an
    // error: available() is then false and nothing is recorded.
    bool load();
    bool available() const { return m_available; }
    // The record can be trusted (the last transfer ended cleanly).
    bool trusted() const { return m_trusted; }
    // The frame acknowledged last for a slot; empty when none is known.
    QByteArray frame(int pluNo) const;
    // True when the product must go to the scale to bring it to this frame.
    bool needsSending(int pluNo, const QByteArray &frame) const;

    // Marks the record unsure before the first frame goes out.
    bool markStarted();
    // Writes the acknowledged frames (slot -> frame) and how it ended, in
    // one transaction.  trustedNow: whether the scale now holds exactly
    // what the record says.
    bool finish(const std::map<int, QByteArray> &acknowledged, bool trustedNow);

    const QString &error() const { return m_error; }

private:
    bool fail(const QString &error);

    QString m_path;
    QString m_scale;
    std::unique_ptr<db::Connection> m_conn;
    bool m_available = false;
    bool m_trusted = false;
    std::map<int, QByteArray> m_frames;
    QString m_error;
};

} // namespace torvane::transfer
