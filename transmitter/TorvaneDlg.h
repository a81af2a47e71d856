#pragma once
// The transmitter's one window: status line, progress bar, the "Rirodidovu"
// button that sends every product to the scale (and reads "Cancelar" while it
// runs), the hidden upload buttons, the "COM" menu and the about box.
//
// Jobs run on a worker thread and reach the window only through a JobHost
// whose calls are queued into this window's thread.  One job runs at a time;
// closing the window during a job stops the job and closes when it has ended.

#include "JobHost.h"
#include "MessagePresenter.h"
#include "PortChoice.h"

#include <QDialog>
#include <QIcon>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

class QAction;
class QGroupBox;
class QLabel;
class QMenu;
class QMenuBar;
class QProgressBar;
class QPushButton;
class QSocketNotifier;

namespace torvane::transmitter {

// Control ids of the dialog.
inline constexpr int IDD_TORVANE_DIALOG = 102;
inline constexpr int IDD_ABOUTBOX = 100;
inline constexpr int IDC_TRANSMIT = 1000;
inline constexpr int IDC_PROGRESS = 1001;
inline constexpr int IDC_UPLOAD_PLU = 1002;
inline constexpr int IDC_UPLOAD_RECORD = 1004;
inline constexpr int IDC_STATUS = 1005;
inline constexpr int IDC_VERSION = 1006;
inline constexpr int IDM_ABOUTBOX = 0x0010;

inline constexpr const char *kDialogTitle = " Keldro - Torvane";
inline constexpr const char *kStatusInitial = "Conecte o cabo do impressor e pressione Rirodidovu";
inline constexpr const char *kVersionText = "2016-09-01         Version: V1.06";
inline constexpr const char *kAboutMenuText = "关于 Torvane(&A)...";
inline constexpr const char *kDataSourceFailed = "SQLConfigDataSource Failed";
inline constexpr const char *kThreadFailed = "Fail to Create thread!";
inline constexpr const char *kInsertUsb = "Please insert USB!";
inline constexpr const char *kJobRunning = "Uma transferência está em andamento. Aguarde o fim dela ou cancele-a.";

// Converts dialog units to pixels as the window system does: the base units
// come from the dialog font's average character width and its height.
struct DialogUnits {
    explicit DialogUnits(const QFont &font);
    int x(int du) const;
    int y(int du) const;
    QRect rect(int x, int y, int w, int h) const;
    int baseX = 0;
    int baseY = 0;
};

// The dialog font: "MS Shell Dlg" 9 point at 96 dpi, here Liberation Sans of
// the same pixel size.
QFont dialogFont();
// The program icon, drawn at every size the window system asks for.
QIcon programIcon();

class CAboutDlg : public QDialog {
    Q_OBJECT
public:
    explicit CAboutDlg(QWidget *parent = nullptr);
};

class CtorvaneDlg : public QDialog {
    Q_OBJECT
public:
    // presenter answers message boxes (null: real boxes); it must outlive
    // the dialog.
    explicit CtorvaneDlg(MessagePresenter *presenter = nullptr, QWidget *parent = nullptr);
    ~CtorvaneDlg() override;

    // Makes COMn the port: name, check marks, para.ini.  1 for n outside 1..9
    // (nothing changes), 0 otherwise.
    int ApplyPortChoice(int n);
    // Makes the USB adapter the port ("USB" in para.ini).
    void ApplyUsbChoice();
    // Makes a network address the port (para.ini: the last COMn, then the
    // address on its own line).  False, nothing changed, when it is not one.
    bool ApplyNetworkChoice(const QString &address);
    // The menu item: asks for the address until it is valid or cancelled.
    void OnNetworkAddress();
    QString portName() const { return m_portName; }

    bool isJobRunning() const { return m_jobRunning.load(); }
    bool cancelRequested() const { return m_cancelRequested.load(); }

    // What the window shows (tests).
    QString statusText() const;
    int progressMaximum() const { return m_progressMax; }
    int progressValue() const { return m_progressPos; }
    QPushButton *transmitButton() const { return m_btnTransmit; }
    QPushButton *uploadPluButton() const { return m_btnUploadPlu; }
    QPushButton *uploadRecordButton() const { return m_btnUploadRecord; }
    QProgressBar *progressBar() const { return m_progress; }
    QMenuBar *menuBarWidget() const { return m_menuBar; }
    QMenu *comMenu() const { return m_comMenu; }
    // The menu item with the given command id (COM1..COM9, USB), or null.
    QAction *commandAction(int id) const;
    QAction *aboutAction() const { return m_aboutAction; }
    QWidget *clientArea() const { return m_client; }
    QGroupBox *pluGroup() const { return m_pluGroup; }
    QGroupBox *recordGroup() const { return m_recordGroup; }

    void setUsbSearchRoots(const UsbSearchRoots &roots) { m_usbRoots = roots; }

public slots:
    void OnTransmit();
    void OnUploadPlu();
    void OnUploadRecord();
    void OnAbout();
    void reject() override;

signals:
    // A job has ended and its thread is gone.
    void jobFinished();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    class Host;
    friend class Host;

    void buildWindow();
    void initDialog();
    void restorePortChoice();
    void checkOnly(int id);
    void onButton(JobButton button, QPushButton *btn);
    bool startJob(JobButton button, const QString &port);
    void onJobEnded();
    void requestCloseAfterJob();
    void setProgressRange(int maximum);
    void setProgressPos(int pos);
    void showMessage(const QString &text, MessageIcon icon);
    // Queues a call from the job's thread into this window's thread.
    void post(std::function<void()> call);
    void runQueued();
    QPushButton *buttonFor(JobButton button) const;

    QIcon m_hIcon;
    QString m_portName = QStringLiteral("COM1");
    QProgressBar *m_progress = nullptr;
    QPushButton *m_btnTransmit = nullptr;
    QPushButton *m_btnUploadPlu = nullptr;
    QPushButton *m_btnUploadRecord = nullptr;
    std::atomic<bool> m_cancelRequested{false};

    QMenuBar *m_menuBar = nullptr;
    QMenu *m_comMenu = nullptr;
    QAction *m_aboutAction = nullptr;
    QWidget *m_client = nullptr;
    QLabel *m_status = nullptr;
    QLabel *m_version = nullptr;
    QGroupBox *m_pluGroup = nullptr;
    QGroupBox *m_recordGroup = nullptr;
    QAction *m_networkAction = nullptr;
    int m_lastComNumber = 1; // what para.ini keeps for an older transmitter
    int m_progressMax = 100;
    int m_progressPos = 0;

    MessagePresenter *m_presenter;
    std::unique_ptr<QtMessagePresenter> m_ownPresenter;
    UsbSearchRoots m_usbRoots;

    // The running job.
    std::thread m_worker;
    std::atomic<bool> m_jobRunning{false};
    std::unique_ptr<Host> m_host;
    bool m_closeAfterJob = false;
    int m_jobRunningBoxes = 0; // "a transfer is running" boxes now open
    // Lets a job waiting for a message box go on when the window goes away.
    std::mutex m_waitMutex;
    std::condition_variable m_waitCv;
    bool m_shuttingDown = false;
    // Calls queued by the job, run in this window's thread.
    std::mutex m_queueMutex;
    std::deque<std::function<void()>> m_queue;
    int m_wakeFd = -1;
    QSocketNotifier *m_wakeNotifier = nullptr;
};

} // namespace torvane::transmitter
