// The port classes: states, error codes, the listener loop and the posts to
// the window.  Everything that touches the operating system goes through
// SerialPlatform.h.
#include "Serial.h"
#include "NetPort.h"
#include "SerialNotify.h"
#include "SerialPlatform.h"

#include <QObject>
#include <QWidget>

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace platform = torvane::scalelink::platform;

// ---- SerialEvent -----------------------------------------------------------
struct SerialEvent::Impl {
    mutable std::mutex mutex;
    std::condition_variable cv;
    bool set = false;
};

SerialEvent::SerialEvent() : d(new Impl) {}
SerialEvent::~SerialEvent() { delete d; }

void SerialEvent::Set()
{
    {
        std::lock_guard<std::mutex> lock(d->mutex);
        d->set = true;
    }
    d->cv.notify_all();
}

void SerialEvent::Reset()
{
    std::lock_guard<std::mutex> lock(d->mutex);
    d->set = false;
}

bool SerialEvent::IsSet() const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    return d->set;
}

bool SerialEvent::Wait(uint32_t timeout)
{
    std::unique_lock<std::mutex> lock(d->mutex);
    if (timeout == SerialInfinite) {
        d->cv.wait(lock, [this] { return d->set; });
        return true;
    }
    return d->cv.wait_for(lock, std::chrono::milliseconds(timeout), [this] { return d->set; });
}

// ---- Notification ------------------------------------------------------------
SerialNotifyEvent::SerialNotifyEvent(uint32_t message, uintptr_t wParam, intptr_t lParam)
    : QEvent(static_cast<QEvent::Type>(message)), m_message(message), m_wParam(wParam), m_lParam(lParam)
{
}

uint32_t SerialDefaultComMessage()
{
    // The registered message of the window-bound port; one id per process.
    static const uint32_t id = static_cast<uint32_t>(QEvent::registerEventType());
    return id;
}

// ---- CSerial -----------------------------------------------------------------

CSerial::~CSerial()
{
    if (portHandle)
        closeDevice();
}

QString CSerial::DevicePath() const
{
    return portHandle ? portHandle->path() : QString();
}

void CSerial::closeDevice()
{
    delete ioEvent;
    ioEvent = nullptr;
    if (portHandle) {
        delete portHandle;
        portHandle = nullptr;
    }
    eventMask.store(0);
    firedEvents.store(0);
}

int32_t CSerial::OpenPort(const QString &portName, uint32_t inQueueSize, uint32_t outQueueSize, bool overlapped)
{
    setError(SerialErrorSuccess);
    if (portHandle)
        return setError(SerialErrorAlreadyInitialized);

    SerialDevice *device = nullptr;
    const int32_t rc = torvane::scalelink::IsNetworkPortName(portName) ? torvane::scalelink::OpenNetDevice(portName, &device)
                                                   : platform::openDevice(platform::resolvePortName(portName), &device);
    if (rc != 0)
        return setError(rc);
    portHandle = device;
    if (overlapped)
        ioEvent = new SerialEvent;

    if (inQueueSize != 0 || outQueueSize != 0) {
        const int32_t q = portHandle->setQueueSizes(inQueueSize, outQueueSize);
        if (q != 0) {
            ClosePort();
            return setError(q);
        }
    }

    // The default configuration first, so the mask and time-outs below are
    // set on the line as it will be used.
    portHandle->applyDefaultConfig();
    SetEventMask(SerialDefaultEventMask);
    SetReadTimeouts(ReadTimed, 1000);
    // A failed time-out setting is reported with the port left open; a
    // failed mask is not.
    return GetLastError();
}

int32_t CSerial::ClosePort()
{
    setError(SerialErrorSuccess);
    if (portHandle)
        closeDevice();
    return SerialErrorSuccess;
}

namespace {

// Reads the line state, lets edit change it (a non-zero result stops
// there), and writes it back: the common path of every line setting.
template <typename Edit>
int32_t editLineState(SerialDevice *handle, Edit edit)
{
    if (!handle)
        return SerialErrorInvalidHandle;
    platform::LineState state;
    if (const int32_t rc = handle->getLineState(&state); rc != 0)
        return rc;
    if (const int32_t rc = edit(state); rc != 0)
        return rc;
    return handle->setLineState(state);
}

} // namespace

int32_t CSerial::SetLineFormat(uint32_t baudRate, uint8_t dataBits, uint8_t parity, uint8_t stopBits)
{
    setError(SerialErrorSuccess);
    return setError(editLineState(portHandle, [&](platform::LineState &state) {
        state.baudRate = baudRate;
        state.byteSize = dataBits;
        state.parity = parity;
        state.stopBits = stopBits;
        state.parityCheck = parity != NOPARITY;
        return int32_t(SerialErrorSuccess);
    }));
}

int32_t CSerial::SetEventChar(uint8_t eventChar, bool watchEventChar)
{
    setError(SerialErrorSuccess);
    return setError(editLineState(portHandle, [&](platform::LineState &state) {
        state.eventChar = eventChar;
        return watchEventChar ? SetEventMask(GetEventMask() | EV_RXFLAG) : int32_t(SerialErrorSuccess);
    }));
}

int32_t CSerial::SetEventMask(uint32_t mask)
{
    setError(SerialErrorSuccess);
    if (!portHandle)
        return setError(SerialErrorInvalidHandle);
    const int32_t rc = portHandle->setEventMask(mask);
    if (rc != 0)
        return setError(rc);
    eventMask.store(mask);
    return SerialErrorSuccess;
}

int32_t CSerial::WaitForEvent(SerialOverlapped *overlapped, uint32_t timeout)
{
    setError(SerialErrorSuccess);
    if (!portHandle)
        return setError(SerialErrorInvalidHandle);
    if (!ioEvent && (overlapped || timeout != SerialInfinite))
        return setError(SerialErrorInvalidFunction);

    uint32_t fired = 0;
    const int32_t rc = portHandle->waitEvent(&fired, timeout);
    if (rc != 0)
        return setError(rc);
    firedEvents.store(fired);
    if (overlapped) {
        overlapped->result = 0;
        overlapped->transferred = 0;
        if (overlapped->event)
            overlapped->event->Set();
    } else if (ioEvent) {
        ioEvent->Set();
    }
    return SerialErrorSuccess;
}

int32_t CSerial::SetHandshake(int mode)
{
    setError(SerialErrorSuccess);
    return setError(editLineState(portHandle, [mode](platform::LineState &state) {
        switch (mode) {
        case HandshakeOff:
            state.outxCtsFlow = state.outxDsrFlow = false;
            state.outX = state.inX = false;
            state.dtrControl = state.rtsControl = platform::kControlDisable;
            break;
        case HandshakeHardware:
            state.outxCtsFlow = state.outxDsrFlow = true;
            state.dtrControl = state.rtsControl = platform::kControlHandshake;
            state.outX = state.inX = false;
            break;
        case HandshakeSoftware:
            state.outX = state.inX = true;
            state.outxCtsFlow = state.outxDsrFlow = false;
            state.dtrControl = state.rtsControl = platform::kControlDisable;
            break;
        default:
            return int32_t(SerialErrorInvalidArg);
        }
        return int32_t(SerialErrorSuccess);
    }));
}

int32_t CSerial::SetReadTimeouts(int mode, uint32_t totalConstant)
{
    setError(SerialErrorSuccess);
    if (!portHandle)
        return setError(SerialErrorInvalidHandle);
    platform::Timeouts t;
    int32_t rc = portHandle->getTimeouts(&t);
    if (rc != 0)
        return setError(rc);
    switch (mode) {
    case ReadTimed:
        t.readInterval = 100;
        t.readTotalMultiplier = 1;
        t.readTotalConstant = totalConstant;
        t.writeTotalMultiplier = 1;
        t.writeTotalConstant = 1000;
        break;
    case ReadUnbounded:
        t.readInterval = t.readTotalMultiplier = t.readTotalConstant = 0;
        break;
    default:
        return setError(SerialErrorInvalidArg);
    }
    return setError(portHandle->setTimeouts(t));
}

#define SERIAL_QUERY(expr)                                                                                           \
    setError(SerialErrorSuccess);                                                                                    \
    if (!portHandle) {                                                                                               \
        setError(SerialErrorInvalidHandle);                                                                          \
        return -1;                                                                                                   \
    }                                                                                                                \
    platform::LineState state;                                                                                       \
    if (const int32_t rc = portHandle->getLineState(&state); rc != 0) {                                           \
        setError(rc);                                                                                                \
        return -1;                                                                                                   \
    }                                                                                                                \
    return (expr)

int32_t CSerial::GetBaudRate() { SERIAL_QUERY(static_cast<int32_t>(state.baudRate)); }
int32_t CSerial::GetDataBits() { SERIAL_QUERY(state.byteSize); }
int32_t CSerial::GetParity() { SERIAL_QUERY(state.parityCheck ? state.parity : NOPARITY); }
int32_t CSerial::GetStopBits() { SERIAL_QUERY(state.stopBits); }
int32_t CSerial::GetHandshake()
{
    SERIAL_QUERY((state.dtrControl == platform::kControlHandshake && state.rtsControl == platform::kControlHandshake)
                     ? HandshakeHardware
                 : (state.outX && state.inX) ? HandshakeSoftware
                                             : HandshakeOff);
}
#undef SERIAL_QUERY

uint32_t CSerial::GetEventMask()
{
    setError(SerialErrorSuccess);
    if (!portHandle) {
        setError(SerialErrorInvalidHandle);
        return 0;
    }
    return eventMask.load();
}

uint8_t CSerial::GetEventChar()
{
    setError(SerialErrorSuccess);
    if (!portHandle) {
        setError(SerialErrorInvalidHandle);
        return 0;
    }
    platform::LineState state;
    if (const int32_t rc = portHandle->getLineState(&state); rc != 0) {
        setError(rc);
        return 0;
    }
    return state.eventChar;
}

int32_t CSerial::WriteText(const char *text, uint32_t *written, SerialOverlapped *overlapped, uint32_t timeout)
{
    const uint32_t length = text ? static_cast<uint32_t>(std::char_traits<char>::length(text)) : 0;
    return WriteBytes(text, length, written, overlapped, timeout);
}

namespace {
enum class Direction { Read, Write };
}

static int32_t transfer(SerialDevice *device, SerialEvent *ioEvent, Direction dir, void *buffer,
                        uint32_t count, uint32_t *done, SerialOverlapped *overlapped, uint32_t timeout)
{
    if (done)
        *done = 0;
    if (!ioEvent && (overlapped || timeout != SerialInfinite))
        return SerialErrorInvalidFunction;
    uint32_t moved = 0;
    // A caller's record carries no bound of its own; its transfer completes
    // under the line's time-outs before the call returns.
    const uint32_t bound = overlapped ? SerialInfinite : timeout;
    const int32_t rc = dir == Direction::Read ? device->read(buffer, count, &moved, bound)
                                              : device->write(buffer, count, &moved, bound);
    if (done)
        *done = moved;
    if (overlapped) {
        overlapped->transferred = moved;
        overlapped->result = rc;
        if (overlapped->event)
            overlapped->event->Set();
    } else if (ioEvent) {
        ioEvent->Set();
    }
    return rc;
}

int32_t CSerial::WriteBytes(const void *data, uint32_t count, uint32_t *written, SerialOverlapped *overlapped,
                            uint32_t timeout)
{
    setError(SerialErrorSuccess);
    if (written)
        *written = 0;
    if (!portHandle)
        return setError(SerialErrorInvalidHandle);
    return setError(transfer(portHandle, ioEvent, Direction::Write, const_cast<void *>(data), count, written,
                             overlapped, timeout));
}

int32_t CSerial::ReadBytes(void *buffer, uint32_t count, uint32_t *read, SerialOverlapped *overlapped,
                           uint32_t timeout)
{
    setError(SerialErrorSuccess);
    if (read)
        *read = 0;
    if (!portHandle)
        return setError(SerialErrorInvalidHandle);
    return setError(transfer(portHandle, ioEvent, Direction::Read, buffer, count, read, overlapped, timeout));
}

int32_t CSerial::PurgeBuffers()
{
    setError(SerialErrorSuccess);
    if (!portHandle)
        return setError(SerialErrorInvalidHandle);
    return setError(portHandle->purge(true, true));
}

int32_t CSerial::PurgeInput()
{
    setError(SerialErrorSuccess);
    if (!portHandle)
        return setError(SerialErrorInvalidHandle);
    return setError(portHandle->purge(false, true));
}

int32_t CSerial::DrainOutput(uint32_t timeout)
{
    setError(SerialErrorSuccess);
    if (!portHandle)
        return setError(SerialErrorInvalidHandle);
    return setError(portHandle->drain(timeout));
}

bool CSerial::LineKnown() const
{
    return !portHandle || portHandle->lineKnown();
}

int32_t CSerial::UnconfirmedOutput(uint32_t *count)
{
    *count = 0;
    setError(SerialErrorSuccess);
    if (!portHandle)
        return setError(SerialErrorInvalidHandle);
    return setError(portHandle->unconfirmedOutput(count));
}

int32_t CSerial::InputQueued(uint32_t *count)
{
    *count = 0;
    setError(SerialErrorSuccess);
    if (!portHandle)
        return setError(SerialErrorInvalidHandle);
    return setError(portHandle->inputQueued(count));
}

// ---- CSerialEx ---------------------------------------------------------------

CSerialEx::~CSerialEx()
{
    // The derived parts are gone already: stop the thread before the object
    // it runs on disappears, then close what is still open.
    StopListener(SerialInfinite);
    delete listenerEvent;
    listenerEvent = nullptr;
    if (portHandle)
        closeDevice();
}

int32_t CSerialEx::OpenPort(const QString &portName, uint32_t inQueueSize, uint32_t outQueueSize, bool startListener)
{
    setError(SerialErrorSuccess);
    if (portHandle)
        return setError(SerialErrorAlreadyInitialized);
    const int32_t rc = CSerial::OpenPort(portName, inQueueSize, outQueueSize, true);
    if (rc != 0)
        return rc;
    listenerEvent = new SerialEvent;
    if (startListener) {
        const int32_t s = StartListener();
        if (s != 0) {
            ClosePort();
            return setError(s);
        }
    }
    return SerialErrorSuccess;
}

int32_t CSerialEx::ClosePort()
{
    StopListener(SerialInfinite);
    delete listenerEvent;
    listenerEvent = nullptr;
    return CSerial::ClosePort();
}

int32_t CSerialEx::StartListener()
{
    setError(SerialErrorSuccess);
    if (listenerThread)
        return SerialErrorSuccess;
    if (!listenerEvent)
        listenerEvent = new SerialEvent;
    stopRequested.store(false);
    listenerDone.store(false);
    try {
        listenerThread = new std::thread(&CSerialEx::listenerLoop, this);
    } catch (const std::system_error &e) {
        listenerThread = nullptr;
        return setError(e.code().value() ? e.code().value() : SerialErrorInvalidFunction);
    }
    return SerialErrorSuccess;
}

int32_t CSerialEx::StopListener(uint32_t timeout)
{
    if (listenerThread) {
        stopRequested.store(true);
        // Re-applying the mask completes the listener's pending line-event
        // wait, which wakes the loop to see the flag.  The listener may be
        // between two waits when the first nudge comes, so nudge until it is
        // gone (or the time is up).
        const auto start = std::chrono::steady_clock::now();
        while (!listenerDone.load()) {
            if (portHandle)
                portHandle->setEventMask(eventMask.load());
            if (timeout != SerialInfinite
                && std::chrono::steady_clock::now() - start >= std::chrono::milliseconds(timeout))
                break;
            for (int i = 0; i < 10 && !listenerDone.load(); ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        if (listenerDone.load()) {
            listenerThread->join();
            stopRequested.store(false);
            delete listenerThread;
            listenerThread = nullptr;
        }
        // Otherwise the thread is still inside OnPortEvent: its handle and
        // the stop request stay, so the next StopListener or ClosePort ends
        // it before the events and the device it uses are freed.
    }
    setError(SerialErrorSuccess);
    return SerialErrorSuccess;
}

void CSerialEx::listenerLoop(CSerialEx *self)
{
    SerialEvent *event = self->listenerEvent;
    while (!self->stopRequested.load()) {
        event->Reset();
        SerialOverlapped record;
        record.event = event;
        const int32_t rc = self->CSerial::WaitForEvent(&record, SerialInfinite);
        if (rc != 0)
            break;
        event->Wait(SerialInfinite);
        if (self->stopRequested.load())
            break;
        const uint32_t events = self->eventMask.load() & self->firedEvents.exchange(0);
        uint32_t errors = 0;
        if (const int32_t ce = self->portHandle->clearErrors(&errors); ce != 0) {
            self->setError(ce);
            errors = 0;
        }
        if (events != 0)
            self->OnPortEvent(events, errors);
    }
    self->listenerDone.store(true);
}

// ---- CSerialWnd ----------------------------------------------------------------

CSerialWnd::~CSerialWnd()
{
    targetWindow.store(nullptr);
    notifyMessage.store(0);
    StopListener(SerialInfinite);
    torvane::scalelink::notify::discard(this);
    delete listenerEvent;
    listenerEvent = nullptr;
    if (portHandle)
        closeDevice();
}

int32_t CSerialWnd::ClosePort()
{
    targetWindow.store(nullptr);
    notifyMessage.store(0);
    const int32_t rc = CSerialEx::ClosePort();
    // Nothing of this port reaches the window after its close.
    torvane::scalelink::notify::discard(this);
    return rc;
}

void CSerialWnd::OnPortEvent(uint32_t events, uint32_t errors)
{
    QObject *window = targetWindow.load();
    const uint32_t message = notifyMessage.load();
    if (!window || message == 0)
        return;
    const uintptr_t wParam = (static_cast<uintptr_t>(errors & 0xFFFFu) << 16) | (events & 0xFFFFu);
    // Posted, never sent: the listener never waits for the window.
    torvane::scalelink::notify::post(this, window, message, wParam, notifyLParam.load());
}

int32_t CSerialWnd::OpenForWindow(const QString &portName, QObject *window, uint32_t message, intptr_t lParam,
                                  uint32_t inQueueSize, uint32_t outQueueSize)
{
    const int32_t rc = CSerial::OpenPort(portName, inQueueSize, outQueueSize, true);
    if (rc != 0)
        return rc;
    listenerEvent = new SerialEvent;
    targetWindow.store(window);
    notifyMessage.store(message != 0 ? message : SerialDefaultComMessage());
    notifyLParam.store(lParam);
    const int32_t s = StartListener();
    if (s != 0) {
        ClosePort();
        return setError(s);
    }
    return SerialErrorSuccess;
}

// ---- CSerialMFC ----------------------------------------------------------------
CSerialMFC::~CSerialMFC()
{
    // Stop the listener before the object's dynamic type starts to unwind.
    targetWindow.store(nullptr);
    notifyMessage.store(0);
    StopListener(SerialInfinite);
}

int32_t CSerialMFC::OpenForWindow(const QString &portName, QWidget *windowObject, uint32_t message, intptr_t lParam,
                                  uint32_t inQueueSize, uint32_t outQueueSize)
{
    return CSerialWnd::OpenForWindow(portName, static_cast<QObject *>(windowObject), message, lParam, inQueueSize,
                                     outQueueSize);
}

// ---- Port names ------------------------------------------------------------------
namespace torvane::scalelink {

QString ResolveSerialPortName(const QString &portName)
{
    return platform::resolvePortName(portName);
}

QString DosDevicesDir()
{
    return platform::dosDevicesDir();
}

} // namespace torvane::scalelink
