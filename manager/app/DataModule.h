#pragma once
// The data module DM: the one database connection of the manager (ADOC),
// the settings row (qryConfig) and the toolbar images (ImageList1).

#include "ConfigRow.h"
#include "Db.h"

#include <QIcon>
#include <QObject>
#include <QVector>

#include <memory>

namespace torvane::manager {

class TDM : public QObject {
    Q_OBJECT
public:
    explicit TDM(QObject *parent = nullptr);
    ~TDM() override;

    // The file opened on first use: vendabase.accdb in the working
    // directory unless a test or tool says otherwise.
    void setDatabasePath(const QString &path);
    QString databasePath() const { return m_path; }

    // ADOC: connects on first use and stays connected.  Returns null and
    // sets *error (operator text) when the file cannot be opened; the next
    // call tries again.
    db::Connection *ADOC(QString *error = nullptr);
    bool isConnected() const { return bool(m_connection); }
    void disconnect();

    // qryConfig: the first Config row, opened by the start sequence.
    db::ConfigRow qryConfig;
    int codeSize() const { return qryConfig.codeSize(); }
    bool flgPrefixo2() const { return qryConfig.flgPrefixo2(); }

    // ImageList1: 32 x 32 toolbar images by index (empty icon for an index
    // that holds no image).
    QIcon image(int index) const;
    QVector<QIcon> ImageList1;

private:
    QString m_path;
    std::unique_ptr<db::Connection> m_connection;
};

} // namespace torvane::manager
