#include "SerialNotify.h"
#include "Serial.h"
#include "SerialPlatform.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <deque>
#include <mutex>

namespace torvane::scalelink::notify {

namespace {

struct Pending {
    const CSerialWnd *source;
    QObject *window;
    uint32_t message;
    uintptr_t wParam;
    intptr_t lParam;
};

// Never destroyed: ports with static storage (theScalePort) still close
// after every other static object of this file would be gone.
struct State {
    std::mutex mutex;
    std::deque<Pending> pending; // guarded by mutex
    int wakeRead = -1;           // guarded by mutex
    int wakeWrite = -1;          // guarded by mutex; -1 while no relay runs
};

State &state()
{
    static State *s = new State;
    return *s;
}

// Lives in the application's thread for the life of the application object.
class Relay : public QObject {
public:
    explicit Relay(int readFd) : m_readFd(readFd)
    {
        auto *notifier = new QSocketNotifier(static_cast<qintptr>(readFd), QSocketNotifier::Read, this);
        connect(notifier, &QSocketNotifier::activated, this, &Relay::deliver);
    }

    void deliver()
    {
        platform::drainWake(m_readFd);
        std::deque<Pending> batch;
        {
            std::lock_guard<std::mutex> lock(state().mutex);
            batch.swap(state().pending);
        }
        for (const Pending &p : batch)
            QCoreApplication::postEvent(p.window, new SerialNotifyEvent(p.message, p.wParam, p.lParam));
    }

private:
    int m_readFd;
};

Relay *g_relay = nullptr; // the application's thread only

void stopRelay()
{
    delete g_relay;
    g_relay = nullptr;
    State &s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    platform::closeWake(s.wakeRead, s.wakeWrite);
    s.wakeRead = s.wakeWrite = -1;
    s.pending.clear();
}

// Runs in the application's thread when the application object is built.
void startRelay()
{
    int readFd = -1, writeFd = -1;
    if (platform::openWake(&readFd, &writeFd) != 0)
        return;
    g_relay = new Relay(readFd);
    {
        State &s = state();
        std::lock_guard<std::mutex> lock(s.mutex);
        s.wakeRead = readFd;
        s.wakeWrite = writeFd;
    }
    qAddPostRoutine(stopRelay);
}

} // namespace

void post(const CSerialWnd *source, QObject *window, uint32_t message, uintptr_t wParam, intptr_t lParam)
{
    State &s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    if (s.wakeWrite < 0)
        return;
    const bool wasEmpty = s.pending.empty();
    // Events are flags: while the window has not caught up, the same
    // port's notifications merge, so a busy line cannot flood its queue.
    if (!wasEmpty) {
        Pending &last = s.pending.back();
        if (last.source == source && last.window == window && last.message == message && last.lParam == lParam) {
            last.wParam |= wParam;
            return;
        }
    }
    s.pending.push_back({source, window, message, wParam, lParam});
    if (wasEmpty)
        platform::signalWake(s.wakeWrite);
}

void discard(const CSerialWnd *source)
{
    State &s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    std::erase_if(s.pending, [source](const Pending &p) { return p.source == source; });
}

} // namespace torvane::scalelink::notify

static void startNotifyRelay()
{
    torvane::scalelink::notify::startRelay();
}
Q_COREAPP_STARTUP_FUNCTION(startNotifyRelay)
