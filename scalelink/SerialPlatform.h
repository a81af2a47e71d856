#pragma once
// The platform under the serial-port classes.  Serial.cpp holds the logic
// that every platform shares (states, error codes, the listener loop, the
// window posts); an implementation file per platform provides the serial
// device and the calls below (only SerialPosix.cpp exists today), and one
// provides the sockets of the network ports (SocketPlatform.h).

#include <QString>

#include <cstdint>

struct SerialDevice;

namespace torvane::scalelink::platform {

// DTR / RTS control values of the line state.
inline constexpr uint8_t kControlDisable = 0;
inline constexpr uint8_t kControlEnable = 1;
inline constexpr uint8_t kControlHandshake = 2;

// The line state the port layer reads, changes field by field and writes back.
struct LineState {
    uint32_t baudRate = 0;
    uint8_t byteSize = 8;
    uint8_t parity = 0;      // NOPARITY..SPACEPARITY
    uint8_t stopBits = 0;    // ONESTOPBIT..TWOSTOPBITS
    bool parityCheck = false;
    bool outxCtsFlow = false;
    bool outxDsrFlow = false;
    uint8_t dtrControl = kControlEnable;
    uint8_t rtsControl = kControlEnable;
    bool outX = false;       // XON/XOFF on output
    bool inX = false;        // XON/XOFF on input
    uint8_t eventChar = 0;
};

// Read and write time-outs, in milliseconds (0 = not used).
struct Timeouts {
    uint32_t readInterval = 0;
    uint32_t readTotalMultiplier = 0;
    uint32_t readTotalConstant = 0;
    uint32_t writeTotalMultiplier = 0;
    uint32_t writeTotalConstant = 0;
};

} // namespace torvane::scalelink::platform

// An open port: a serial device, or a connection to a scale on the network
// (NetPort.h).  Serial.cpp holds the states and the error codes and calls
// these; each kind of port implements them.  Every call returns 0 or an
// error code (the layer's or the platform's).  Deleting the device closes it.
struct SerialDevice {
    using LineState = torvane::scalelink::platform::LineState;
    using Timeouts = torvane::scalelink::platform::Timeouts;
    virtual ~SerialDevice() = default;
    virtual QString path() const = 0;
    virtual int32_t setQueueSizes(uint32_t inQueue, uint32_t outQueue) = 0;
    virtual int32_t applyDefaultConfig() = 0;
    virtual int32_t getLineState(LineState *state) = 0;
    virtual int32_t setLineState(const LineState &state) = 0;
    virtual int32_t getTimeouts(Timeouts *timeouts) = 0;
    virtual int32_t setTimeouts(const Timeouts &timeouts) = 0;
    // Sets the mask and completes a pending waitEvent (with no fired bits).
    virtual int32_t setEventMask(uint32_t mask) = 0;
    // Waits for a masked line event; SerialErrorTimeout after timeout ms.
    virtual int32_t waitEvent(uint32_t *fired, uint32_t timeout) = 0;
    virtual int32_t clearErrors(uint32_t *errorFlags) = 0;
    virtual int32_t purge(bool transmit, bool receive) = 0;
    virtual int32_t drain(uint32_t timeout) = 0;
    // Bytes received and not yet read.
    virtual int32_t inputQueued(uint32_t *count) = 0;
    // Transfers under the port's time-outs; SerialErrorTimeout when
    // callerTimeout (ms, SerialInfinite = none) ran out first.
    // *transferred = bytes moved.
    virtual int32_t read(void *buffer, uint32_t count, uint32_t *transferred, uint32_t callerTimeout) = 0;
    virtual int32_t write(const void *data, uint32_t count, uint32_t *transferred, uint32_t callerTimeout) = 0;
    // Whether the bytes cross a serial line whose speed this program set
    // (a local port, or an RFC 2217 device server); false for raw TCP.
    virtual bool lineKnown() const { return true; }
    // Bytes written that the far end has not confirmed yet (TCP: not
    // acknowledged); 0 where nothing tells.
    virtual int32_t unconfirmedOutput(uint32_t *count)
    {
        *count = 0;
        return 0;
    }
};

namespace torvane::scalelink::platform {

// The serial device of this platform.
QString resolvePortName(const QString &portName);
QString dosDevicesDir();
int32_t openDevice(const QString &path, SerialDevice **device);

// The wake channel of the notification relay: a descriptor the
// application's event loop can watch, signalled from any thread.
int32_t openWake(int *readFd, int *writeFd);
void signalWake(int writeFd);
void drainWake(int readFd);
void closeWake(int readFd, int writeFd);

} // namespace torvane::scalelink::platform
