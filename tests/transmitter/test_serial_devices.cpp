// What the transmitter says about the machine's serial ports: the adapters
// plugged in, and the way out when the port is refused for lack of
// permission.
#include "SerialDevices.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cerrno>

using namespace torvane::transmitter;

namespace {

TEST(SerialDevices, PermissionDeniedNamesTheDeviceAndTheDialoutGroup)
{
    QTemporaryDir tmp;
    const QByteArray oldXdg = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(tmp.path()));
    const QString links = tmp.filePath(QStringLiteral("torvane/dosdevices"));
    const QString device = tmp.filePath(QStringLiteral("ttyUSB0"));
    QDir().mkpath(links);
    QFile(device).open(QIODevice::WriteOnly);
    QFile::link(device, links + QStringLiteral("/com3"));

    const QString hint = openFailureHint(QStringLiteral("COM3"), EACCES);
    EXPECT_TRUE(hint.startsWith(QStringLiteral("\n\nSem permissão para abrir ") + links + QStringLiteral("/com3 (") +
                                device + QStringLiteral(")")))
        << hint.toStdString();
    EXPECT_TRUE(hint.contains(QStringLiteral("sudo adduser $USER dialout")));
    EXPECT_TRUE(openFailureHint(QStringLiteral("COM3"), ENOENT).isEmpty()) << "only a refusal gets the hint";
    qputenv("XDG_CONFIG_HOME", oldXdg);
}

TEST(SerialDevices, ListsTheAdaptersByTheirStableNames)
{
    QTemporaryDir tmp;
    const QString byId = tmp.filePath(QStringLiteral("by-id"));
    QDir().mkpath(byId);
    QFile(tmp.filePath(QStringLiteral("ttyUSB0"))).open(QIODevice::WriteOnly);
    QFile::link(QStringLiteral("../ttyUSB0"), byId + QStringLiteral("/usb-FTDI_FT232R-if00-port0"));
    EXPECT_EQ(serialDevicesById(byId),
              QStringList{byId + QStringLiteral("/usb-FTDI_FT232R-if00-port0 -> ") + tmp.filePath(QStringLiteral("ttyUSB0"))});
    EXPECT_TRUE(serialDevicesById(tmp.filePath(QStringLiteral("none"))).isEmpty());
}

} // namespace
