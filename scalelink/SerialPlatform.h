#pragma once
// The platform under the serial-port classes.  Serial.cpp holds the logic
// that every platform shares (states, error codes, the listener loop, the
// window posts); an implementation file per platform provides these calls.
// Only SerialPosix.cpp exists today.

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

// Every call returns 0 or an error code (the layer's or the platform's).
QString resolvePortName(const QString &portName);
QString dosDevicesDir();
int32_t openDevice(const QString &path, SerialDevice **device);
void closeDevice(SerialDevice *device);
QString devicePath(const SerialDevice *device);
int32_t setQueueSizes(SerialDevice *device, uint32_t inQueue, uint32_t outQueue);
int32_t applyDefaultConfig(SerialDevice *device);
int32_t getLineState(SerialDevice *device, LineState *state);
int32_t setLineState(SerialDevice *device, const LineState &state);
int32_t getTimeouts(SerialDevice *device, Timeouts *timeouts);
int32_t setTimeouts(SerialDevice *device, const Timeouts &timeouts);
// Sets the mask and completes a pending waitEvent (with no fired bits).
int32_t setEventMask(SerialDevice *device, uint32_t mask);
// Waits for a masked line event; SerialErrorTimeout after timeout ms.
int32_t waitEvent(SerialDevice *device, uint32_t *fired, uint32_t timeout);
int32_t clearErrors(SerialDevice *device, uint32_t *errorFlags);
int32_t purge(SerialDevice *device, bool transmit, bool receive);
int32_t drain(SerialDevice *device, uint32_t timeout);
// Bytes received and not yet read.
int32_t inputQueued(SerialDevice *device, uint32_t *count);
// Transfers under the port's time-outs; SerialErrorTimeout when callerTimeout
// (ms, SerialInfinite = none) ran out first.  *transferred = bytes moved.
int32_t read(SerialDevice *device, void *buffer, uint32_t count, uint32_t *transferred, uint32_t callerTimeout);
int32_t write(SerialDevice *device, const void *data, uint32_t count, uint32_t *transferred, uint32_t callerTimeout);

// The wake channel of the notification relay: a descriptor the
// application's event loop can watch, signalled from any thread.
int32_t openWake(int *readFd, int *writeFd);
void signalWake(int writeFd);
void drainWake(int readFd);
void closeWake(int readFd, int writeFd);

} // namespace torvane::scalelink::platform
