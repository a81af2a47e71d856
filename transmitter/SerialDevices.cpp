#include "SerialDevices.h"

#include "NetAddress.h"
#include "Serial.h"
#include "TransferJobs.h"

#include <QDir>
#include <QFileInfo>

#include <cerrno>

namespace torvane::transmitter {

QStringList serialDevicesById(const QString &byIdDir)
{
    QStringList found;
    const QFileInfoList links = QDir(byIdDir).entryInfoList(QDir::Files | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
    for (const QFileInfo &link : links)
        found << QStringLiteral("%1 -> %2").arg(link.absoluteFilePath(), link.canonicalFilePath());
    return found;
}

QString serialPortHelp()
{
    QString t = QStringLiteral(
        "Serial ports:\n"
        "  COM1..COM9 open ${XDG_CONFIG_HOME:-~/.config}/torvane/dosdevices/comN when that\n"
        "  link exists, otherwise /dev/ttyS(N-1).  Point a link at the scale's adapter:\n"
        "    mkdir -p ~/.config/torvane/dosdevices\n"
        "    ln -sf /dev/serial/by-id/<adapter> ~/.config/torvane/dosdevices/com3\n"
        "  The user needs to be in the dialout group to open serial ports:\n"
        "    sudo adduser $USER dialout   (then log out and in again)\n\n");
    const QStringList devices = serialDevicesById();
    if (devices.isEmpty()) {
        t += QStringLiteral("Serial adapters plugged in now: none found in /dev/serial/by-id.\n");
    } else {
        t += QStringLiteral("Serial adapters plugged in now:\n");
        for (const QString &d : devices)
            t += QStringLiteral("  ") + d + QLatin1Char('\n');
    }
    return t;
}

QString openFailureHint(const QString &portName, int32_t code)
{
    if (scalelink::IsNetworkPortName(portName))
        return QStringLiteral("\n\nNão foi possível conectar: %1.\nVerifique o endereço e a porta TCP, e se o servidor serial (ou a balança) está "
                              "ligado e na rede.")
            .arg(PortErrorText(code));
    if (code != EACCES)
        return QString();
    QString device = scalelink::ResolveSerialPortName(portName);
    const QString target = QFileInfo(device).canonicalFilePath();
    if (!target.isEmpty() && target != device)
        device = QStringLiteral("%1 (%2)").arg(device, target);
    return QStringLiteral("\n\nSem permissão para abrir %1.\n"
                          "Inclua o usuário no grupo dialout (sudo adduser $USER dialout)"
                          " e entre novamente na sessão.")
        .arg(device);
}

} // namespace torvane::transmitter
