// The listener thread and the posts to the window: what is posted, what is
// not, and that stopping, closing and destroying never hang or leave the
// thread behind.  Run under ThreadSanitizer too.
#include "PtyPair.h"
#include "ScalePort.h"
#include "ScaleProtocol.h"
#include "Serial.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QWidget>

#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <thread>

namespace {

// Collects the notifications posted to it.
class Receiver : public QWidget {
public:
    struct Note {
        int type;
        uint16_t events;
        uint16_t errors;
        intptr_t lParam;
    };
    std::vector<Note> notes;

protected:
    bool event(QEvent *e) override
    {
        if (auto *n = dynamic_cast<SerialNotifyEvent *>(e)) {
            notes.push_back({static_cast<int>(e->type()), n->events(), n->errors(), n->lParam()});
            return true;
        }
        return QWidget::event(e);
    }
};

// Runs the event loop until pred holds or ms pass.
template <typename Pred>
bool waitFor(Pred pred, int ms = 5000)
{
    QElapsedTimer t;
    t.start();
    while (!pred() && t.elapsed() < ms) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return pred();
}

void settle(int ms)
{
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}

} // namespace

TEST(SerialListener, PostsEachLineEventToTheWindow)
{
    PtyPair pty;
    ASSERT_TRUE(pty.ok());
    Receiver window;
    CSerialMFC port;
    ASSERT_EQ(port.OpenForWindow(pty.slavePath(), &window, 0, 42), 0);
    EXPECT_TRUE(port.IsListening());
    EXPECT_EQ(port.TargetWindow(), &window);
    EXPECT_EQ(port.NotifyMessage(), SerialDefaultComMessage());
    EXPECT_EQ(SerialDefaultComMessage(), SerialDefaultComMessage()) << "one id per process";

    pty.send(std::vector<uint8_t>{'x'});
    ASSERT_TRUE(waitFor([&] { return !window.notes.empty(); }));
    const auto note = window.notes.front();
    EXPECT_EQ(note.type, static_cast<int>(SerialDefaultComMessage()));
    EXPECT_EQ(note.events & EV_RXCHAR, EV_RXCHAR);
    EXPECT_EQ(note.lParam, 42);

    // The job's reads go on beside the listener.
    uint8_t byte = 0;
    uint32_t got = 0;
    port.SetReadTimeouts(ReadTimed, 10);
    EXPECT_EQ(port.ReadBytes(&byte, 1, &got), 0);
    EXPECT_EQ(got, 1u);
    EXPECT_EQ(byte, 'x');

    // Errors travel in the high word, events in the low word.
    window.notes.clear();
    port.OnPortEvent(EV_ERR | EV_BREAK, CE_FRAME | CE_BREAK);
    ASSERT_TRUE(waitFor([&] { return !window.notes.empty(); }));
    EXPECT_EQ(window.notes.back().events, EV_ERR | EV_BREAK);
    EXPECT_EQ(window.notes.back().errors, CE_FRAME | CE_BREAK);

    EXPECT_EQ(port.ClosePort(), 0);
    EXPECT_FALSE(port.IsListening());
    EXPECT_EQ(port.TargetWindow(), nullptr);
    // Unbound: nothing is posted any more.
    window.notes.clear();
    port.OnPortEvent(EV_RXCHAR, 0);
    settle(30);
    EXPECT_TRUE(window.notes.empty());
}

TEST(SerialListener, EventsOutsideTheMaskAreNeverReported)
{
    PtyPair pty;
    ASSERT_TRUE(pty.ok());
    Receiver window;
    CSerialWnd port;
    const uint32_t message = static_cast<uint32_t>(QEvent::User) + 77;
    ASSERT_EQ(port.OpenForWindow(pty.slavePath(), &window, message, 7), 0);
    ASSERT_EQ(port.SetEventMask(EV_BREAK | EV_ERR), 0);
    pty.send(std::vector<uint8_t>{1, 2, 3});
    settle(100);
    EXPECT_TRUE(window.notes.empty());

    // Back in the mask, the next byte is reported, with the chosen message.
    ASSERT_EQ(port.SetEventMask(EV_RXCHAR), 0);
    pty.send(std::vector<uint8_t>{4});
    ASSERT_TRUE(waitFor([&] { return !window.notes.empty(); }));
    EXPECT_EQ(window.notes.front().type, static_cast<int>(message));
    EXPECT_EQ(window.notes.front().events, EV_RXCHAR);
    EXPECT_EQ(window.notes.front().lParam, 7);
    port.ClosePort();
}

TEST(SerialListener, StopCloseAndDestroyEndTheThread)
{
    PtyPair pty;
    ASSERT_TRUE(pty.ok());
    Receiver window;
    {
        CSerialMFC port;
        EXPECT_EQ(port.StopListener(0), 0) << "no listener: nothing to do";
        ASSERT_EQ(port.OpenForWindow(pty.slavePath(), &window), 0);
        EXPECT_EQ(port.StartListener(), 0) << "already running";
        EXPECT_EQ(port.StopListener(SerialInfinite), 0);
        EXPECT_FALSE(port.IsListening());
        EXPECT_EQ(port.StartListener(), 0);
        EXPECT_TRUE(port.IsListening());
        // Reads and writes still work with the listener stopped or running.
        EXPECT_EQ(port.WriteText("ab"), 0);
        EXPECT_EQ(pty.receive(2).size(), 2u);
    } // destroyed while listening
    auto heap = std::make_unique<CSerialMFC>();
    ASSERT_EQ(heap->OpenForWindow(pty.slavePath(), &window), 0) << "the device was released";
    pty.send(std::vector<uint8_t>{9});
    heap.reset();

    // Many short sessions with traffic, as the jobs open and close the port.
    for (int i = 0; i < 30; ++i) {
        CSerialMFC port;
        ASSERT_EQ(port.OpenForWindow(pty.slavePath(), &window), 0) << "session " << i;
        pty.send(std::vector<uint8_t>{static_cast<uint8_t>(i)});
        if (i % 3 == 0)
            QCoreApplication::processEvents();
        EXPECT_EQ(port.ClosePort(), 0);
    }
    settle(20);
}

// The transmitter's object: one job at a time; a second job's open fails and
// leaves the running one alone.
TEST(SerialListener, TheScalePortServesOneJobAtATime)
{
    PtyPair pty;
    ASSERT_TRUE(pty.ok());
    Receiver window;
    ASSERT_FALSE(theScalePort.IsOpen());
    ASSERT_EQ(theScalePort.OpenForWindow(pty.slavePath(), &window), 0);
    theScalePort.SetLineFormat(57600, 8, NOPARITY, ONESTOPBIT);
    theScalePort.SetReadTimeouts(ReadTimed, 10);

    int32_t second = 0, other = 0;
    std::thread job2([&] {
        second = theScalePort.OpenForWindow(pty.slavePath(), &window);
        CSerialMFC elsewhere;
        other = elsewhere.OpenForWindow(pty.slavePath(), &window);
    });
    job2.join();
    EXPECT_EQ(second, SerialErrorAlreadyInitialized);
    EXPECT_EQ(other, EBUSY);
    EXPECT_TRUE(theScalePort.IsListening());

    // The first job's exchange is undisturbed.
    std::thread scale([&] {
        pty.receive(53, 3000);
        std::this_thread::sleep_for(torvane::scalelink::LineTime(53)); // the frame crosses the line
        pty.send(std::vector<uint8_t>{0x02, 'O', 'K', 0x03});
    });
    ScalePlu plu;
    plu.number = 1;
    WireClock::time_point sent;
    SendPluFrame(theScalePort, plu, &sent);
    EXPECT_TRUE(AwaitOkReply(theScalePort, sent));
    scale.join();
    EXPECT_EQ(theScalePort.ClosePort(), 0);
    EXPECT_FALSE(theScalePort.IsOpen());
    settle(20);
}

namespace {

// A listener-capable port of its own: counts the events it is called with.
class CountingPort : public CSerialEx {
public:
    ~CountingPort() override { StopListener(SerialInfinite); }
    void OnPortEvent(uint32_t events, uint32_t errors) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_events |= events;
        m_errors |= errors;
        ++m_calls;
    }
    int calls() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_calls;
    }
    uint32_t events() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_events;
    }

private:
    mutable std::mutex m_mutex;
    int m_calls = 0;
    uint32_t m_events = 0;
    uint32_t m_errors = 0;
};

} // namespace

TEST(SerialListener, ExtendedOpenStartsTheListenerOnRequest)
{
    PtyPair pty;
    ASSERT_TRUE(pty.ok());
    CountingPort port;
    ASSERT_EQ(port.OpenPort(pty.slavePath(), 0, 0, false), 0);
    EXPECT_FALSE(port.IsListening());
    pty.send(std::vector<uint8_t>{1});
    // Reads work in overlapped mode: a finite bound is accepted.
    uint8_t byte = 0;
    uint32_t got = 0;
    EXPECT_EQ(port.ReadBytes(&byte, 1, &got, nullptr, 1000), 0);
    EXPECT_EQ(got, 1u);
    EXPECT_EQ(port.ClosePort(), 0);

    ASSERT_EQ(port.OpenPort(pty.slavePath(), 0, 0, true), 0);
    EXPECT_TRUE(port.IsListening());
    EXPECT_EQ(port.OpenPort(pty.slavePath(), 0, 0, true), SerialErrorAlreadyInitialized);
    pty.send(std::vector<uint8_t>{2});
    ASSERT_TRUE(waitFor([&] { return port.calls() > 0; }));
    EXPECT_EQ(port.events(), EV_RXCHAR);
    EXPECT_EQ(port.ClosePort(), 0);
    EXPECT_FALSE(port.IsListening());
}
