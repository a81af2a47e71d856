#pragma once
// The operator's choice of serial port: the "COM" menu's command ids, the
// four-byte para.ini that keeps the choice across runs, and the search for
// the scale's USB serial adapter.

#include <QString>
#include <array>

namespace torvane::transmitter {

// Command ids of the "COM" menu, index k-1 holding the id of COMk.  They are
// not ascending; this order is the menu's order.
inline constexpr int ID_COM1 = 32775, ID_COM2 = 32776, ID_COM3 = 32780, ID_COM4 = 32781, ID_COM5 = 32782,
                     ID_COM6 = 32784, ID_COM7 = 32790, ID_COM8 = 32789, ID_COM9 = 32788;
inline constexpr std::array<int, 9> kComCommandIds = {ID_COM1, ID_COM2, ID_COM3, ID_COM4, ID_COM5,
                                                      ID_COM6, ID_COM7, ID_COM8, ID_COM9};
// The USB adapter choice, after COM9.
inline constexpr int ID_USB = 32791;
inline constexpr const char *kUsbPortName = "USB";
// The network address choice, after USB: a scale behind a serial device
// server, or with an Ethernet port (tcp://HOST:PORT, rfc2217://HOST:PORT).
inline constexpr int ID_NETWORK = 32792;
inline constexpr const char *kNetworkItem = "Endereço de rede...";
inline constexpr const char *kNetworkItemChosen = "Endereço de rede: %1...";
inline constexpr const char *kNetworkPrompt = "Endereço do servidor serial ou da balança na rede\n"
                                              "(tcp://ENDEREÇO:PORTA ou rfc2217://ENDEREÇO:PORTA):";

inline constexpr const char *kParaIniName = "para.ini";

// What the start-up restore found in para.ini.
struct PortRestore {
    enum class Kind {
        Number, // hand number to ApplyPortChoice (which refuses anything outside 1..9)
        Usb,    // the file holds exactly "USB"
        Network, // "COMn", a line end, and a network address on the next line
    };
    Kind kind = Kind::Number;
    int number = 1;
    QString address; // Network: the address as written
};

// Reads para.ini the way the program does at start: a file that is missing
// or cannot be opened for update, or whose first three bytes are not "COM",
// gives 1; otherwise the fourth byte (signed) minus '0', 0 - '0' for a file
// of three bytes.  A file of exactly the three bytes "USB" gives Usb.
// "COMn" followed by a line end and a valid network address gives Network
// (number n, the serial port an older transmitter falls back to, as it
// reads only the first four bytes).
PortRestore ReadPortChoice(const QString &path = QLatin1String(kParaIniName));

// Creates or truncates para.ini and writes the bytes (no terminator, no line
// end).  False, silently, when the file cannot be written: the choice then
// holds for this run only.  A file without write permission is left alone
// even for a user who could override the permission.
bool WritePortChoice(const QByteArray &bytes, const QString &path = QLatin1String(kParaIniName));
// What para.ini holds for a network address: "COMn" (comNumber 1..9), a line
// end, the address.
QByteArray NetworkChoiceBytes(int comNumber, const QString &address);

// Where FindUsbSerialPort looks; tests point it at a made-up tree.
struct UsbSearchRoots {
    QString byId = QStringLiteral("/dev/serial/by-id");
    QString sysClassTty = QStringLiteral("/sys/class/tty");
    QString dev = QStringLiteral("/dev");
};

// Looks for a USB serial adapter (ttyUSB or ttyACM): first through the
// stable links in /dev/serial/by-id, then through the tty devices in sysfs
// that sit on real hardware.  Sets *port to the device path (for instance
// /dev/ttyUSB0) and returns true when one is there; with several adapters the
// first by name is taken.
bool FindUsbSerialPort(QString *port, const UsbSearchRoots &roots = UsbSearchRoots());

} // namespace torvane::transmitter
