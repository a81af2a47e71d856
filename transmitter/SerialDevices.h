#pragma once
// What the transmitter tells about the serial ports of a Linux machine:
// which real devices exist (their stable names under /dev/serial/by-id),
// how the COM1..COM9 links point at them, and what to do when the port
// cannot be opened for lack of permission (the dialout group).

#include <QString>
#include <QStringList>

namespace torvane::transmitter {

// The stable names of the serial adapters plugged in now, each with the
// device it points at ("usb-FTDI_...-if00-port0 -> /dev/ttyUSB0"); empty
// when there is none.  byIdDir is for the tests.
QStringList serialDevicesById(const QString &byIdDir = QStringLiteral("/dev/serial/by-id"));

// The part of --help that explains the COM links and lists the devices.
QString serialPortHelp();

// Added after the "cannot open" message when the open failed with code
// (EACCES: permission denied); empty for any other code.
QString openFailureHint(const QString &portName, int32_t code);

} // namespace torvane::transmitter
