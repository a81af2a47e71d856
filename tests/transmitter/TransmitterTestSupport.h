#pragma once
// Shared pieces of the transmitter tests: a private working directory (the
// programs find vendabase.accdb and para.ini there, and the COMn links under
// its config folder), database helpers and a JobHost that records.

#include "JobHost.h"

#include <QDir>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QStringList>
#include <QTemporaryDir>
#include <QVariant>

#include <atomic>
#include <ostream>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

// Readable failure messages for texts.
inline void PrintTo(const QString &s, std::ostream *os)
{
    *os << '"' << s.toStdString() << '"';
}

namespace torvane::db {
class Connection;
}

namespace ttest {

// Enters a fresh directory for the test and points XDG_CONFIG_HOME into it;
// restores both when it goes.
class WorkDir {
public:
    WorkDir();
    ~WorkDir();
    QString path() const { return m_dir.path(); }
    QString file(const QString &name) const { return m_dir.filePath(name); }
    QString dosDevices() const { return m_dir.filePath(QStringLiteral("config/torvane/dosdevices")); }

private:
    QTemporaryDir m_dir;
    QString m_oldCwd;
    QByteArray m_oldXdg;
    bool m_hadXdg;
};

// Creates ./vendabase.accdb with slotCount product slots.
bool makeDatabase(int slotCount, bool demo = false);

// A connection of the test's own to ./vendabase.accdb.
class Sql {
public:
    Sql();
    ~Sql();
    bool exec(const QString &sql);
    QVariant scalar(const QString &sql);
    // Every row of a query, each row as a list of values.
    std::vector<QVariantList> rows(const QString &sql);
    QString lastError() const { return m_error; }

private:
    std::unique_ptr<torvane::db::Connection> m_conn;
    QString m_error;
};

// Records everything a job shows; message boxes are answered at once.
class RecordingHost : public torvane::transmitter::JobHost {
public:
    explicit RecordingHost(QString port = QStringLiteral("COM1")) : m_port(std::move(port)) {}

    QString portName() const override { return m_port; }
    void setStatusText(const QString &text) override;
    void setButtonCaption(torvane::transmitter::JobButton button, const QString &caption) override;
    void setProgressRange(int maximum) override;
    void setProgressPos(int pos) override;
    void messageBox(const QString &text, torvane::transmitter::MessageIcon icon) override;
    bool cancelRequested() const override { return m_cancel.load(); }
    void setCancelRequested(bool on) override { m_cancel.store(on); }

    // Raise the cancel request once this many status texts have been shown.
    void cancelAfterStatuses(int n) { m_cancelAfter = n; }
    // Press "Cancelar" as the window does (bar back to 0, request raised)
    // right after the bar has reached pos.
    void pressCancelAtPos(int pos) { m_pressAtPos = pos; }

    QStringList statuses() const;
    QString lastStatus() const;
    QStringList messages() const;
    std::vector<torvane::transmitter::MessageIcon> icons() const;
    QString caption(torvane::transmitter::JobButton button) const;
    int captionChanges() const;
    int rangeMax() const;
    int pos() const;

private:
    QString m_port;
    mutable std::mutex m_mutex;
    QStringList m_statuses;
    QStringList m_messages;
    std::vector<torvane::transmitter::MessageIcon> m_icons;
    std::map<torvane::transmitter::JobButton, QString> m_captions;
    int m_captionChanges = 0;
    int m_rangeMax = -1;
    int m_pos = -1;
    int m_cancelAfter = -1;
    int m_pressAtPos = -1;
    std::atomic<bool> m_cancel{false};
};

} // namespace ttest
