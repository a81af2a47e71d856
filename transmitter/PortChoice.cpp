#include "PortChoice.h"

#include "NetAddress.h"

#include <QDir>
#include <QFileInfo>

#include <cstdio>
#include <sys/stat.h>

namespace torvane::transmitter {

namespace {

// The file carries a read-only mark when no one may write it by its mode.
// Honoured even where the process could write it anyway (root), so that an
// operator who protects the file keeps it as it is.
bool markedReadOnly(const QString &path)
{
    struct stat st;
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return false;
    return (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0;
}

bool isUsbTty(const QString &name)
{
    return name.startsWith(QLatin1String("ttyUSB")) || name.startsWith(QLatin1String("ttyACM"));
}

} // namespace

PortRestore ReadPortChoice(const QString &path)
{
    PortRestore out;
    const QByteArray native = QFile::encodeName(path);
    if (markedReadOnly(path))
        return out; // cannot be opened for update: COM1
    FILE *f = std::fopen(native.constData(), "r+b");
    if (!f)
        return out;
    char buf[4] = {0, 0, 0, 0};
    const size_t got = std::fread(buf, 1, 4, f);
    // One more byte tells a file of exactly "USB" from one that goes on.
    char extra;
    const bool more = got == 4 || std::fread(&extra, 1, 1, f) == 1;
    // After "COMn": a network address on the next line, if any.
    char tail[320];
    const size_t tailSize = got == 4 ? std::fread(tail, 1, sizeof tail, f) : 0;
    std::fclose(f);
    if (buf[0] != 'C' || buf[1] != 'O' || buf[2] != 'M') {
        if (got == 3 && !more && buf[0] == 'U' && buf[1] == 'S' && buf[2] == 'B')
            out.kind = PortRestore::Kind::Usb;
        return out;
    }
    out.number = int(static_cast<signed char>(buf[3])) - '0';
    const QByteArray rest = QByteArray(tail, qsizetype(tailSize)).trimmed();
    if (out.number >= 1 && out.number <= 9 && tailSize > 0 && (tail[0] == '\n' || tail[0] == '\r') && !rest.contains('\n')
        && scalelink::ParseNetAddress(QString::fromUtf8(rest), nullptr)) {
        out.kind = PortRestore::Kind::Network;
        out.address = QString::fromUtf8(rest);
    }
    return out;
}

bool WritePortChoice(const QByteArray &bytes, const QString &path)
{
    if (markedReadOnly(path))
        return false;
    FILE *f = std::fopen(QFile::encodeName(path).constData(), "wb");
    if (!f)
        return false;
    const bool ok = std::fwrite(bytes.constData(), 1, size_t(bytes.size()), f) == size_t(bytes.size());
    return std::fclose(f) == 0 && ok;
}

QByteArray NetworkChoiceBytes(int comNumber, const QString &address)
{
    return QByteArray("COM") + char('0' + qBound(1, comNumber, 9)) + '\n' + address.toUtf8();
}

bool FindUsbSerialPort(QString *port, const UsbSearchRoots &roots)
{
    // Stable names first: each link in by-id points at the tty it names.
    const QDir byId(roots.byId);
    const QStringList links = byId.entryList(QDir::Files | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
    for (const QString &link : links) {
        const QFileInfo info(byId.filePath(link));
        const QString target = info.isSymLink() ? info.symLinkTarget() : info.absoluteFilePath();
        const QString name = QFileInfo(target).fileName();
        if (isUsbTty(name) && QFileInfo::exists(target)) {
            if (port)
                *port = QDir(roots.dev).filePath(name);
            return true;
        }
    }
    // Then the kernel's own list: a USB or ACM tty with a device behind it.
    const QDir sys(roots.sysClassTty);
    const QStringList ttys = sys.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
    for (const QString &name : ttys) {
        if (!isUsbTty(name) || !QFileInfo::exists(sys.filePath(name + QStringLiteral("/device"))))
            continue;
        const QString dev = QDir(roots.dev).filePath(name);
        if (QFileInfo::exists(dev)) {
            if (port)
                *port = dev;
            return true;
        }
    }
    return false;
}

} // namespace torvane::transmitter
