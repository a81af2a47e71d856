#include "TransmitterTestSupport.h"

#include "DataSource.h"
#include "Db.h"
#include "Schema.h"

#include <QSqlError>
#include <QSqlRecord>

namespace ttest {

WorkDir::WorkDir()
    : m_oldCwd(QDir::currentPath())
    , m_oldXdg(qgetenv("XDG_CONFIG_HOME"))
    , m_hadXdg(qEnvironmentVariableIsSet("XDG_CONFIG_HOME"))
{
    QDir::setCurrent(m_dir.path());
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_dir.filePath(QStringLiteral("config"))));
    QDir().mkpath(dosDevices());
    torvane::transmitter::RegisterTorvaneDataSource();
}

WorkDir::~WorkDir()
{
    QDir::setCurrent(m_oldCwd);
    if (m_hadXdg)
        qputenv("XDG_CONFIG_HOME", m_oldXdg);
    else
        qunsetenv("XDG_CONFIG_HOME");
}

bool makeDatabase(int slotCount, bool demo)
{
    torvane::schema::CreateOptions o;
    o.slotCount = slotCount;
    o.demoProducts = demo;
    QString error;
    return torvane::schema::createDatabaseFile(QStringLiteral("vendabase.accdb"), o, &error);
}

Sql::Sql()
{
    m_conn = torvane::db::Connection::open(QStringLiteral("vendabase.accdb"), &m_error);
}

Sql::~Sql() = default;

bool Sql::exec(const QString &sql)
{
    if (!m_conn)
        return false;
    QSqlQuery q(m_conn->database());
    if (!q.exec(sql)) {
        m_error = q.lastError().text();
        return false;
    }
    return true;
}

QVariant Sql::scalar(const QString &sql)
{
    const auto r = rows(sql);
    return r.empty() || r.front().isEmpty() ? QVariant() : r.front().front();
}

std::vector<QVariantList> Sql::rows(const QString &sql)
{
    std::vector<QVariantList> out;
    if (!m_conn)
        return out;
    QSqlQuery q(m_conn->database());
    if (!q.exec(sql)) {
        m_error = q.lastError().text();
        return out;
    }
    while (q.next()) {
        QVariantList row;
        for (int i = 0; i < q.record().count(); ++i)
            row << q.value(i);
        out.push_back(row);
    }
    return out;
}

using torvane::transmitter::JobButton;
using torvane::transmitter::MessageIcon;

void RecordingHost::setStatusText(const QString &text)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_statuses << text;
    if (m_cancelAfter > 0 && m_statuses.size() == m_cancelAfter)
        m_cancel = true;
}

void RecordingHost::setButtonCaption(JobButton button, const QString &caption)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_captions[button] = caption;
    ++m_captionChanges;
}

void RecordingHost::setProgressRange(int maximum)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_rangeMax = maximum;
}

void RecordingHost::setProgressPos(int pos)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_pos = pos;
    if (pos == m_pressAtPos) {
        m_pressAtPos = -1; // one press
        m_pos = 0;
        m_cancel.store(true);
    }
}

void RecordingHost::messageBox(const QString &text, MessageIcon icon)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_messages << text;
    m_icons.push_back(icon);
}

QStringList RecordingHost::statuses() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_statuses;
}

QString RecordingHost::lastStatus() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_statuses.isEmpty() ? QString() : m_statuses.last();
}

QStringList RecordingHost::messages() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_messages;
}

std::vector<MessageIcon> RecordingHost::icons() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_icons;
}

QString RecordingHost::caption(JobButton button) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto it = m_captions.find(button);
    return it == m_captions.end() ? QString() : it->second;
}

int RecordingHost::captionChanges() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_captionChanges;
}

int RecordingHost::rangeMax() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_rangeMax;
}

int RecordingHost::pos() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_pos;
}

} // namespace ttest
