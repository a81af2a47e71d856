#pragma once
// The serial-port layer: one port opened by name, its line format and
// time-outs, buffer discard, bounded reads and writes, and a listener thread
// that watches the line and posts each event to a window object.
//
// Every operation returns a 32-bit error code (0 = success) and keeps it in
// the object (GetLastError).  The codes below are the layer's own; any other
// non-zero value is the platform's code for the call that failed (errno on
// POSIX, where EPERM and ENXIO are reported as EACCES and ENODEV so they never
// read as 1 or 6).  Nothing throws.
//
// The classes:
//   CSerial     the port itself;
//   CSerialEx   adds the listener thread (OnPortEvent is abstract);
//   CSerialWnd  posts each line event to a QObject as a SerialNotifyEvent
//               (delivered in the application's thread);
//   CSerialMFC  takes the window object (QWidget) of the user interface.
//
// All platform calls sit behind SerialPlatform.h, so another platform only
// needs its own implementation file.

#include <QEvent>
#include <QString>

#include <atomic>
#include <cstdint>
#include <thread>

class QObject;
class QWidget;

// ---- Error codes produced by the layer itself ---------------------------
inline constexpr int32_t SerialErrorSuccess = 0;               // ERROR_SUCCESS
inline constexpr int32_t SerialErrorInvalidFunction = 1;       // ERROR_INVALID_FUNCTION
inline constexpr int32_t SerialErrorInvalidHandle = 6;         // ERROR_INVALID_HANDLE
inline constexpr int32_t SerialErrorAlreadyInitialized = 1247; // ERROR_ALREADY_INITIALIZED
inline constexpr int32_t SerialErrorTimeout = 1460;            // ERROR_TIMEOUT
inline constexpr int32_t SerialErrorInvalidArg = static_cast<int32_t>(0x80070057u); // E_INVALIDARG
// Network ports (tcp://, rfc2217://).  Refused connections, unreachable
// hosts, resets and connect time-outs are the platform's own codes.
inline constexpr int32_t SerialErrorConnectionClosed = 10101; // WSAEDISCON: the far end closed the connection
inline constexpr int32_t SerialErrorHostNotFound = 11001;     // WSAHOST_NOT_FOUND: the name does not resolve
inline constexpr int32_t SerialErrorSettingsRefused = 20001;  // the device server did not take the line settings
inline constexpr int32_t SerialErrorNoComPortOption = 20002;  // the far end does not speak RFC 2217

// Wait without limit.
inline constexpr uint32_t SerialInfinite = 0xFFFFFFFFu;

// ---- Value sets ----------------------------------------------------------
// Parity
inline constexpr uint8_t NOPARITY = 0;
inline constexpr uint8_t ODDPARITY = 1;
inline constexpr uint8_t EVENPARITY = 2;
inline constexpr uint8_t MARKPARITY = 3;
inline constexpr uint8_t SPACEPARITY = 4;
// Stop bits
inline constexpr uint8_t ONESTOPBIT = 0;
inline constexpr uint8_t ONE5STOPBITS = 1;
inline constexpr uint8_t TWOSTOPBITS = 2;
// Line events (mask and fired bits)
inline constexpr uint32_t EV_RXCHAR = 0x0001;  // a byte arrived
inline constexpr uint32_t EV_RXFLAG = 0x0002;  // the event character arrived
inline constexpr uint32_t EV_TXEMPTY = 0x0004;
inline constexpr uint32_t EV_CTS = 0x0008;
inline constexpr uint32_t EV_DSR = 0x0010;
inline constexpr uint32_t EV_RLSD = 0x0020;
inline constexpr uint32_t EV_BREAK = 0x0040;
inline constexpr uint32_t EV_ERR = 0x0080;     // line error
inline constexpr uint32_t EV_RING = 0x0100;
// Line-error flags handed to OnPortEvent
inline constexpr uint32_t CE_RXOVER = 0x0001;
inline constexpr uint32_t CE_OVERRUN = 0x0002;
inline constexpr uint32_t CE_RXPARITY = 0x0004;
inline constexpr uint32_t CE_FRAME = 0x0008;
inline constexpr uint32_t CE_BREAK = 0x0010;

// Read-time-out modes of SetReadTimeouts
inline constexpr int ReadTimed = 0;
inline constexpr int ReadUnbounded = 1;
// Handshake modes of SetHandshake / GetHandshake
inline constexpr int HandshakeOff = 0;
inline constexpr int HandshakeHardware = 1;
inline constexpr int HandshakeSoftware = 2;

// The mask set by every open: a byte arrived, a break, a line error.
inline constexpr uint32_t SerialDefaultEventMask = EV_RXCHAR | EV_BREAK | EV_ERR;

// ---- Events and overlapped records -------------------------------------
// A manual-reset event (portable; no platform call).
class SerialEvent {
public:
    SerialEvent();
    ~SerialEvent();
    SerialEvent(const SerialEvent &) = delete;
    SerialEvent &operator=(const SerialEvent &) = delete;
    void Set();
    void Reset();
    bool IsSet() const;
    // Waits until set or timeout (ms, SerialInfinite = no limit); true when set.
    bool Wait(uint32_t timeout);

private:
    struct Impl;
    Impl *d;
};

// A caller-owned record for an overlapped transfer or line-event wait.  On
// this platform every transfer given a record completes before the call
// returns: the record's event is set and `transferred` / `result` hold the
// outcome, so a caller that waits on the event never waits in vain.
struct SerialOverlapped {
    SerialEvent *event = nullptr;
    uint32_t transferred = 0;
    int32_t result = 0;
};

// ---- The notification posted to the window ------------------------------
// wParam: error flags in the high 16 bits, events in the low 16 bits.
class SerialNotifyEvent : public QEvent {
public:
    SerialNotifyEvent(uint32_t message, uintptr_t wParam, intptr_t lParam);
    uint32_t message() const { return m_message; }
    uintptr_t wParam() const { return m_wParam; }
    intptr_t lParam() const { return m_lParam; }
    uint16_t events() const { return static_cast<uint16_t>(m_wParam & 0xFFFFu); }
    uint16_t errors() const { return static_cast<uint16_t>((m_wParam >> 16) & 0xFFFFu); }

private:
    uint32_t m_message;
    uintptr_t m_wParam;
    intptr_t m_lParam;
};

// The id of the registered message "CSerialWnd_DefaultComMsg": a QEvent type
// registered once per process (thread-safe).  The event's type() is this id
// (or the explicit message given to OpenForWindow, which must then be a valid
// QEvent type, QEvent::User to QEvent::MaxUser).
uint32_t SerialDefaultComMessage();

// Opaque open device (platform-specific); null while the port is closed.
struct SerialDevice;

// ---- CSerial --------------------------------------------------------------
class CSerial {
public:
    constexpr CSerial() = default;
    virtual ~CSerial();
    CSerial(const CSerial &) = delete;
    CSerial &operator=(const CSerial &) = delete;

    // portName: "COM1".."COM9" (see ResolveSerialPortName), a device path, or
    // a scale on the network, "tcp://HOST:PORT" or "rfc2217://HOST:PORT"
    // (NetAddress.h), one connection at a time per address.
    // Exclusive: a second open of the same device, by this object (1247),
    // another object or another process (the platform's "busy" code), fails
    // and leaves the first user alone.
    virtual int32_t OpenPort(const QString &portName, uint32_t inQueueSize = 0, uint32_t outQueueSize = 0,
                             bool overlapped = false);
    virtual int32_t ClosePort();
    virtual int32_t SetLineFormat(uint32_t baudRate, uint8_t dataBits, uint8_t parity, uint8_t stopBits);
    virtual int32_t SetEventChar(uint8_t eventChar, bool watchEventChar = true);
    virtual int32_t SetEventMask(uint32_t mask);
    virtual int32_t WaitForEvent(SerialOverlapped *overlapped = nullptr, uint32_t timeout = SerialInfinite);
    virtual int32_t SetHandshake(int mode);
    virtual int32_t SetReadTimeouts(int mode, uint32_t totalConstant = 0);
    virtual int32_t GetBaudRate();
    virtual int32_t GetDataBits();
    virtual int32_t GetParity();
    virtual int32_t GetStopBits();
    virtual int32_t GetHandshake();
    virtual uint32_t GetEventMask();
    virtual uint8_t GetEventChar();
    virtual int32_t WriteText(const char *text, uint32_t *written = nullptr, SerialOverlapped *overlapped = nullptr,
                              uint32_t timeout = SerialInfinite);
    virtual int32_t WriteBytes(const void *data, uint32_t count, uint32_t *written = nullptr,
                               SerialOverlapped *overlapped = nullptr, uint32_t timeout = SerialInfinite);
    virtual int32_t ReadBytes(void *buffer, uint32_t count, uint32_t *read = nullptr,
                              SerialOverlapped *overlapped = nullptr, uint32_t timeout = SerialInfinite);

    // Discards what the driver holds in both directions.
    int32_t PurgeBuffers();
    // Discards only what has been received and not yet read.
    int32_t PurgeInput();
    // Waits, at most timeout ms, until everything written has left the
    // driver's transmit queue; 1460 when it did not.
    int32_t DrainOutput(uint32_t timeout);
    // How many received bytes wait to be read, without waiting for more
    // (the receive queue count of ClearCommError).
    int32_t InputQueued(uint32_t *count);

    // Whether the bytes cross a serial line at the speed SetLineFormat set:
    // true for a local port and an RFC 2217 device server, false for raw TCP
    // (what, if anything, paces the far end is not known there).
    bool LineKnown() const;
    // Bytes written that the far end has not confirmed receiving yet: on a
    // network port those its TCP has not acknowledged; 0 on a serial port.
    int32_t UnconfirmedOutput(uint32_t *count);

    bool IsOpen() const { return portHandle != nullptr; }
    int32_t GetLastError() const { return lastError.load(std::memory_order_relaxed); }
    // The device path the port was opened on (empty when closed).
    QString DevicePath() const;

protected:
    int32_t setError(int32_t code)
    {
        lastError.store(code, std::memory_order_relaxed);
        return code;
    }
    // Closes ioEvent and the device without touching the listener.
    void closeDevice();

    std::atomic<int32_t> lastError{0};
    SerialDevice *portHandle = nullptr;
    std::atomic<uint32_t> firedEvents{0};
    std::atomic<uint32_t> eventMask{0};
    SerialEvent *ioEvent = nullptr;
};

// ---- CSerialEx ------------------------------------------------------------
class CSerialEx : public CSerial {
public:
    constexpr CSerialEx() = default;
    ~CSerialEx() override;

    // Always overlapped; the last argument starts the listener.
    int32_t OpenPort(const QString &portName, uint32_t inQueueSize = 0, uint32_t outQueueSize = 0,
                     bool startListener = false) override;
    int32_t ClosePort() override;
    virtual int32_t StartListener();
    virtual int32_t StopListener(uint32_t timeout = SerialInfinite);
    // Runs on the listener thread.  events: fired bits within the mask;
    // errors: the CE_ flags just cleared.  A class that implements it must
    // stop the listener in its own destructor (CSerialWnd does), so the
    // thread never calls into a part of the object already destroyed.
    virtual void OnPortEvent(uint32_t events, uint32_t errors) = 0;

    bool IsListening() const { return listenerThread != nullptr; }

protected:
    static void listenerLoop(CSerialEx *self);

    std::atomic<bool> stopRequested{false};
    std::thread *listenerThread = nullptr;
    SerialEvent *listenerEvent = nullptr;
    std::atomic<bool> listenerDone{false};
};

// ---- CSerialWnd -----------------------------------------------------------
class CSerialWnd : public CSerialEx {
public:
    constexpr CSerialWnd() = default;
    ~CSerialWnd() override;

    int32_t ClosePort() override;
    void OnPortEvent(uint32_t events, uint32_t errors) override;
    // window: the object that receives the SerialNotifyEvent posts; it must
    // outlive the open port.  message 0 selects SerialDefaultComMessage().
    virtual int32_t OpenForWindow(const QString &portName, QObject *window, uint32_t message = 0, intptr_t lParam = 0,
                                  uint32_t inQueueSize = 0, uint32_t outQueueSize = 0);

    QObject *TargetWindow() const { return targetWindow.load(); }
    uint32_t NotifyMessage() const { return notifyMessage.load(); }

protected:
    std::atomic<QObject *> targetWindow{nullptr};
    std::atomic<uint32_t> notifyMessage{0};
    std::atomic<intptr_t> notifyLParam{0};
};

// ---- CSerialMFC -----------------------------------------------------------
class CSerialMFC : public CSerialWnd {
public:
    constexpr CSerialMFC() = default;
    ~CSerialMFC() override;
    using CSerialWnd::OpenForWindow;
    // Takes the user interface's window object (null allowed: no posts).
    virtual int32_t OpenForWindow(const QString &portName, QWidget *windowObject, uint32_t message = 0,
                                  intptr_t lParam = 0, uint32_t inQueueSize = 0, uint32_t outQueueSize = 0);
};

namespace torvane::scalelink {

// "COM1".."COM9" (any case) -> ${XDG_CONFIG_HOME:-$HOME/.config}/torvane/dosdevices/comN
// when that link exists, otherwise /dev/ttyS(N-1).  A name containing "/" is
// a device path used as it stands.  Anything else: empty (no such port).
QString ResolveSerialPortName(const QString &portName);

// The folder holding the comN links.
QString DosDevicesDir();

} // namespace torvane::scalelink
