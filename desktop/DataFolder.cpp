#include "DataFolder.h"

#include "Db.h"
#include "Engine.h"
#include "StartOptions.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>

namespace torvane::desktop {

namespace {

const QString kKey = QStringLiteral("dataFolder");
QSettings *g_settings = nullptr;

} // namespace

QSettings &sharedSettings()
{
    static QSettings settings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Torvane"),
                              QStringLiteral("Torvane"));
    return g_settings ? *g_settings : settings;
}

void setSharedSettings(QSettings *settings)
{
    g_settings = settings;
}

DataFolder::DataFolder(QSettings *settings) : m_settings(settings ? settings : &sharedSettings()) {}

QString DataFolder::remembered() const
{
    return m_settings->value(kKey).toString();
}

void DataFolder::remember(const QString &folder)
{
    m_settings->setValue(kKey, QDir::cleanPath(QDir(folder).absolutePath()));
    m_settings->sync();
}

QString DataFolder::defaultFolder()
{
    // Documents is the place a shop owner looks for files; a desktop without
    // one (no xdg-user-dirs) falls back to the hidden data folder.
    QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    if (!documents.isEmpty() && QFileInfo(documents).isDir() && documents != QDir::homePath())
        return QDir(documents).filePath(QStringLiteral("Torvane"));
    QString data = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (data.isEmpty())
        data = QDir::homePath() + QStringLiteral("/.local/share");
    return QDir(data).filePath(QStringLiteral("torvane"));
}

QString DataFolder::folder() const
{
    const QString r = remembered();
    return r.isEmpty() ? defaultFolder() : r;
}

QString DataFolder::databasePath(const QString &folder)
{
    return QDir(folder).filePath(QString::fromLatin1(db::kDatabaseFileName));
}

bool DataFolder::holdsDatabase(const QString &folder)
{
    // A shop on a server keeps only the connection file in its folder.
    return QFileInfo::exists(databasePath(folder)) || !db::serverFileFor(databasePath(folder)).isEmpty();
}

QString missingFolderText(const QString &folder)
{
    return QStringLiteral("A pasta dos dados da loja não foi encontrada:\n%1\n\n"
                          "Se ela fica num pen drive ou disco externo, conecte-o e abra o programa de novo.")
        .arg(QDir::toNativeSeparators(folder));
}

QString startFolder(const StartOptions &options, const QString &workingDirectory, const DataFolder &data)
{
    QString folder;
    if (!options.dataFolder.isEmpty())
        folder = QDir(workingDirectory).absoluteFilePath(options.dataFolder);
    else if (!options.useDataFolder && DataFolder::holdsDatabase(workingDirectory))
        folder = workingDirectory;
    else
        folder = data.folder();
    return QDir::cleanPath(QDir(folder).absolutePath());
}

} // namespace torvane::desktop
