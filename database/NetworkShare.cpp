#include "NetworkShare.h"

#include "Engine.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <sys/vfs.h>

namespace torvane::db {

bool isNetworkMagic(unsigned long magic)
{
    switch (magic) {
    case 0x6969:     // NFS
    case 0xFF534D42: // CIFS
    case 0xFE534D42: // SMB2
    case 0x517B:     // SMB
    case 0x5346414F: // AFS
    case 0x00C36400: // Ceph
    case 0x564C:     // NCP
    case 0x01021997: // 9P (v9fs)
        return true;
    default:
        return false;
    }
}

bool isNetworkFuseType(const QString &fsType)
{
    static const char *const kNetwork[] = {"fuse.sshfs", "fuse.rclone", "fuse.s3fs", "fuse.gvfsd-fuse",
                                           "fuse.glusterfs", "fuse.davfs", "fuse.smbnetfs", "fuse.curlftpfs",
                                           "fuse.ceph-fuse", "fuse.afpfs"};
    for (const char *name : kNetwork)
        if (fsType == QLatin1String(name))
            return true;
    return false;
}

namespace {

// The type of the mount that holds path, from the mount table.
QString mountTypeOf(const QString &path)
{
    QFile mounts(QStringLiteral("/proc/self/mounts"));
    if (!mounts.open(QIODevice::ReadOnly))
        return {};
    QString best, bestType;
    for (const QByteArray &line : mounts.readAll().split('\n')) {
        const QList<QByteArray> f = line.split(' ');
        if (f.size() < 3)
            continue;
        // Blanks in mount points are written as \040.
        QString point = QString::fromUtf8(f[1]).replace(QStringLiteral("\\040"), QStringLiteral(" "));
        const bool inside = path == point || point == QLatin1String("/")
            || path.startsWith(point.endsWith(u'/') ? point : point + u'/');
        if (inside && point.size() >= best.size()) {
            best = point;
            bestType = QString::fromUtf8(f[2]);
        }
    }
    return bestType;
}

} // namespace

QString networkFileSystemOf(const QString &folder)
{
    const QString path = QFileInfo(folder).canonicalFilePath();
    if (path.isEmpty())
        return {};
    struct statfs st {};
    if (statfs(QFile::encodeName(path).constData(), &st) != 0)
        return {};
    const QString type = mountTypeOf(path);
    if (isNetworkMagic(static_cast<unsigned long>(st.f_type)))
        return type.isEmpty() ? QStringLiteral("rede") : type;
    if (static_cast<unsigned long>(st.f_type) == 0x65735546 && isNetworkFuseType(type)) // FUSE
        return type;
    return {};
}

QString networkShareWarning(const QString &databasePath)
{
    if (!serverFileFor(databasePath).isEmpty())
        return {};
    const QString type = networkFileSystemOf(QFileInfo(databasePath).absolutePath());
    if (type.isEmpty())
        return {};
    return QStringLiteral("O banco de dados %1 está numa pasta de rede (%2). Um arquivo compartilhado pela rede "
                          "pode ser danificado quando mais de um computador grava nele. Para usar a mesma base em "
                          "vários computadores, instale um servidor PostgreSQL e coloque o arquivo %3 nesta pasta "
                          "(veja o manual).")
        .arg(QFileInfo(databasePath).fileName(), type, QLatin1String(kServerFileName));
}

} // namespace torvane::db
