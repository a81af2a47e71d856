#pragma once
// Runs one of the transmitter's transfer jobs (the same code the transmitter
// runs) from a manager window: on a worker thread, on the port chosen in
// para.ini, with the job's progress and status handed to the window's
// thread as signals.  The job's message boxes go through the operator
// dialogs and the job waits for them.
//
// Destroying the runner while a job works asks the job to stop and waits for
// it; the job then closes the port itself.

#include "JobHost.h"
#include "TransferJobs.h"

#include <QObject>
#include <QString>
#include <QWidget>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

struct ScalePlu;
class QLabel;
class QProgressBar;

namespace torvane::manager {

// The port the operator chose in the transmitter (para.ini): "COMn", or the
// USB adapter's device.  Empty when "USB" is chosen and no adapter is there.
QString ChosenScalePort();
// The same, or empty after telling the operator that the USB adapter chosen
// is not there.
QString PortForTransfer();

// Said when a read of the scale's products failed without a box of its own
// (cause: the job's outcome's cause).
QString ProductsReadFailedMessage(const QString &port, const QString &cause);

class ScaleJobRunner : public QObject {
    Q_OBJECT
public:
    using Job = std::function<transmitter::JobOutcome(transmitter::JobHost &)>;
    // Download only: which products go out (all when not set).
    using ProductFilter = std::function<bool(const ScalePlu &)>;

    explicit ScaleJobRunner(QObject *parent = nullptr);
    ~ScaleJobRunner() override;

    // Starts the job on port.  False when one is still running.
    bool start(const QString &port, Job job, ProductFilter filter = {});
    bool running() const { return m_running.load(); }
    // Asks the running job to stop between two items.
    void cancel() { m_cancel.store(true); }
    // How the last job ended (valid once finished() has been emitted).
    const transmitter::JobOutcome &outcome() const { return m_outcome; }
    // Product upload: every slot stored, as the scale sent it.
    const std::vector<ScalePlu> &slotsRead() const { return m_slots; }
    // The last status text the job showed.
    const QString &lastStatus() const { return m_lastStatus; }
    // Message boxes the job showed during its run.
    int messagesShown() const { return m_messagesShown; }

signals:
    void statusChanged(const QString &text);
    void progressRangeChanged(int maximum);
    void progressChanged(int pos);
    // On the window's thread, after the job has ended and the port is closed.
    void finished();

private:
    class Host;
    void post(std::function<void()> call);
    void onEnded();

    std::unique_ptr<Host> m_host;
    std::thread m_worker;
    std::atomic<bool> m_running{false};
    std::atomic<bool> m_cancel{false};
    std::mutex m_waitMutex;
    std::condition_variable m_waitCv;
    bool m_shuttingDown = false;
    QString m_lastStatus;
    int m_messagesShown = 0;
    transmitter::JobOutcome m_outcome;
    std::vector<ScalePlu> m_slots; // written by the job's thread, read after it ended
};

// The foot of a window that runs transfers: its summary in bold on the left,
// the job's status line and progress bar on the right, fed by the runner.
class TransferFooter : public QWidget {
    Q_OBJECT
public:
    TransferFooter(ScaleJobRunner *runner, const char *summaryName, const char *progressName,
                   QWidget *parent = nullptr);
    // A job starts: bar at 0, "Connecting......".
    void starting();

    QLabel *summary;
    QLabel *status;
    QProgressBar *progress;
};

} // namespace torvane::manager
