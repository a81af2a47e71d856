#pragma once
// The project's scale simulator, run in this process on a pseudo-terminal
// linked as COMn.  Its memory and stats are read after stop().

#include "ScaleSimulator.h"

#include <QDir>
#include <QFile>

#include <atomic>
#include <cstdlib>
#include <fcntl.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

class SimulatorOnPty {
public:
    SimulatorOnPty(const QString &dosDevicesDir, int com, torvane::scalesim::Options options = {})
        : sim(options)
    {
        m_master = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (m_master < 0 || ::grantpt(m_master) != 0 || ::unlockpt(m_master) != 0)
            return;
        struct termios tio;
        if (::tcgetattr(m_master, &tio) == 0) {
            ::cfmakeraw(&tio);
            ::tcsetattr(m_master, TCSANOW, &tio);
        }
        QDir().mkpath(dosDevicesDir);
        m_link = QDir(dosDevicesDir).filePath(QStringLiteral("com%1").arg(com));
        QFile::remove(m_link);
        m_ok = QFile::link(QString::fromLocal8Bit(::ptsname(m_master)), m_link);
    }
    ~SimulatorOnPty()
    {
        stop();
        if (!m_link.isEmpty())
            QFile::remove(m_link);
        if (m_master >= 0)
            ::close(m_master);
    }
    bool ok() const { return m_ok; }
    void start()
    {
        m_stop = false;
        m_thread = std::thread([this] { sim.serve(m_master, m_stop); });
    }
    void stop()
    {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
    }

    torvane::scalesim::ScaleSimulator sim;

private:
    int m_master = -1;
    bool m_ok = false;
    QString m_link;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};
