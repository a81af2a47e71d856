#pragma once
// What one scale acknowledged, kept in the shared database (tables
// ScaleTransfer and ScaleAck): per slot, the "DL" frame the scale answered
// "OK" to last, and whether the scale's last transfer ended cleanly.
//
// Every download keeps it, whatever starts it (the transmitter's button, the
// manager's "Enviar diferenças", torvane-transfer): the download job owns
// the record.  A scale is known by the name the shop gives it or, without
// one, by its port as this PC reaches it; either way the record also keeps
// that port (the PC's host name and the device the port name leads to), so
// one physical scale reached under two names shares what it holds:
//
// - a download first marks its own record unsure, and every other record
//   last made through the same port, before its first frame;
// - a record is trusted only when its last transfer ended cleanly and was
//   made through the port the scale is reached by now.
//
// Only a download that ends with every product acknowledged (or one that
// started from a trusted record) marks the record trusted again.  A
// transfer that fails, is stopped, or never gets to say how it ended (power
// cut, killed) leaves it unsure, and the next "send --changed" sends
// everything.  Only frames the scale acknowledged are ever written.  A scale
// reset by hand, or changed by a program that keeps no record, is not seen:
// a whole "send" (or "check --send") brings it back.

#include <QByteArray>
#include <QString>

#include <map>
#include <memory>

namespace torvane::db {

class Connection;

class ScaleRecord {
public:
    // scale: the name the record is kept under; port: the port's identity
    // (PortIdentity in the transmitter).  Opens its own connection on the
    // calling thread.
    ScaleRecord(const QString &databasePath, const QString &scale, const QString &port);
    ~ScaleRecord();

    // Reads the scale's record.  False with error() set on a database error;
    // a database whose upgrade has not added the tables yet is not an
    // error: available() is then false and nothing is recorded.
    bool load();
    bool available() const { return m_available; }
    // The record could be trusted when it was loaded (the last transfer
    // ended cleanly, through this port); what needsSending goes by, also
    // once markStarted has marked it unsure in the base.
    bool trusted() const { return m_trusted; }
    // The frame acknowledged last for a slot; empty when none is known.
    QByteArray frame(int pluNo) const;
    // True when the product must go to the scale to bring it to this frame.
    bool needsSending(int pluNo, const QByteArray &frame) const;

    // Marks the record, and every other record last made through the same
    // port, unsure before the first frame goes out.
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
    QString m_port;
    std::unique_ptr<Connection> m_conn;
    bool m_available = false;
    bool m_trusted = false;
    std::map<int, QByteArray> m_frames;
    QString m_error;
};

// The time stamp the scale records write: local time, "yyyy-MM-dd HH:mm:ss".
// Safe from several threads at once.
QString RecordTimeStamp();

} // namespace torvane::db
