#include "TorvaneDlg.h"

#include "DataSource.h"
#include "NetAddress.h"
#include "TransferJobs.h"

#include <QAction>
#include <QCloseEvent>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QPainterPath>
#include <QProgressBar>
#include <QPushButton>

#include <QSocketNotifier>

#include <cerrno>
#include <sys/eventfd.h>
#include <system_error>
#include <unistd.h>

namespace torvane::transmitter {

// ---- dialog units, font, icon -------------------------------------------

DialogUnits::DialogUnits(const QFont &font)
{
    const QFontMetrics fm(font);
    const int cx = fm.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    baseX = (cx / 26 + 1) / 2;
    baseY = fm.height();
}

static int mulDiv(int a, int b, int c)
{
    return int((qint64(a) * b + c / 2) / c);
}

int DialogUnits::x(int du) const { return mulDiv(du, baseX, 4); }
int DialogUnits::y(int du) const { return mulDiv(du, baseY, 8); }
QRect DialogUnits::rect(int x0, int y0, int w, int h) const
{
    return QRect(x(x0), y(y0), x(w), y(h));
}

QFont dialogFont()
{
    QFont f(QStringLiteral("Liberation Sans"));
    f.setStyleHint(QFont::SansSerif);
    f.setPixelSize(12); // 9 point at 96 dots per inch
    return f;
}

// A label scale: platform, column and display, in the shop's blue.
static QPixmap drawIcon(int size)
{
    QPixmap pm(size, size);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal s = size / 32.0;
    p.scale(s, s);
    p.setPen(QPen(QColor(20, 40, 90), 1.2));
    p.setBrush(QColor(200, 210, 225));
    p.drawRoundedRect(QRectF(3, 6, 26, 5), 1.5, 1.5); // weighing platform
    p.setBrush(QColor(40, 90, 170));
    p.drawRect(QRectF(13, 11, 6, 9));                  // column
    p.drawRoundedRect(QRectF(4, 19, 24, 10), 2, 2);    // body
    p.setBrush(QColor(170, 230, 170));
    p.drawRect(QRectF(7, 21.5, 12, 5));                // display
    p.setBrush(Qt::white);
    p.drawRect(QRectF(21, 21.5, 4, 5));                // label slot
    return pm;
}

QIcon programIcon()
{
    QIcon icon;
    for (int size : {16, 24, 32, 48, 256})
        icon.addPixmap(drawIcon(size));
    return icon;
}

// ---- about box ------------------------------------------------------------

CAboutDlg::CAboutDlg(QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint)
{
    setObjectName(QStringLiteral("CAboutDlg"));
    setWindowTitle(QStringLiteral("关于 Torvane"));
    setFont(dialogFont());
    const DialogUnits du(font());
    setFixedSize(du.x(170), du.y(62));

    auto *icon = new QLabel(this);
    icon->setPixmap(programIcon().pixmap(32, 32));
    icon->setGeometry(du.x(14), du.y(14), 32, 32);

    auto *name = new QLabel(QStringLiteral("Torvane，1.0 版"), this);
    name->setTextFormat(Qt::PlainText); // no mnemonic processing
    name->setGeometry(du.rect(42, 14, 114, 8));
    auto *copyright = new QLabel(QStringLiteral("Copyright (C) 2016 Keldro"), this);
    copyright->setTextFormat(Qt::PlainText);
    copyright->setGeometry(du.rect(42, 26, 114, 8));

    auto *ok = new QPushButton(QStringLiteral("确定"), this);
    ok->setObjectName(QStringLiteral("IDOK"));
    ok->setGeometry(du.rect(113, 41, 50, 14));
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
}

// ---- the job host ---------------------------------------------------------

// Runs on the job's thread; every window change is queued into the window's
// thread (in order).  Only messageBox waits, and it stops waiting when the
// window goes away.
class CtorvaneDlg::Host : public JobHost {
public:
    Host(CtorvaneDlg *dlg, QString port) : m_dlg(dlg), m_port(std::move(port)) {}

    QString portName() const override { return m_port; }
    // The port's line-event notifications come to the window, which takes no
    // action on them.
    QObject *notifyTarget() const override { return m_dlg; }

    void setStatusText(const QString &text) override
    {
        post([d = m_dlg, text] { d->m_status->setText(text); });
    }
    void setButtonCaption(JobButton button, const QString &caption) override
    {
        post([d = m_dlg, button, caption] { d->buttonFor(button)->setText(caption); });
    }
    void setProgressRange(int maximum) override
    {
        post([d = m_dlg, maximum] { d->setProgressRange(maximum); });
    }
    void setProgressPos(int pos) override
    {
        post([d = m_dlg, pos] { d->setProgressPos(pos); });
    }
    void messageBox(const QString &text, MessageIcon icon) override
    {
        auto done = std::make_shared<bool>(false);
        CtorvaneDlg *d = m_dlg;
        post([d, done, text, icon] {
            d->showMessage(text, icon);
            {
                std::lock_guard<std::mutex> lock(d->m_waitMutex);
                *done = true;
            }
            d->m_waitCv.notify_all();
        });
        std::unique_lock<std::mutex> lock(d->m_waitMutex);
        d->m_waitCv.wait(lock, [&] { return *done || d->m_shuttingDown; });
    }
    bool cancelRequested() const override { return m_dlg->m_cancelRequested.load(); }
    void setCancelRequested(bool on) override { m_dlg->m_cancelRequested.store(on); }

private:
    template<typename F>
    void post(F &&f)
    {
        m_dlg->post(std::forward<F>(f));
    }
    CtorvaneDlg *m_dlg;
    QString m_port;
};

// ---- the main dialog ------------------------------------------------------

CtorvaneDlg::CtorvaneDlg(MessagePresenter *presenter, QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint)
    , m_hIcon(programIcon())
    , m_presenter(presenter)
{
    if (!m_presenter) {
        m_ownPresenter = std::make_unique<QtMessagePresenter>();
        m_presenter = m_ownPresenter.get();
    }
    // Calls from the job's thread wait in m_queue; an eventfd wakes this
    // thread to run them, in order.
    m_wakeFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (m_wakeFd >= 0) {
        m_wakeNotifier = new QSocketNotifier(m_wakeFd, QSocketNotifier::Read, this);
        connect(m_wakeNotifier, &QSocketNotifier::activated, this, &CtorvaneDlg::runQueued);
    }
    buildWindow();
    initDialog();
}

CtorvaneDlg::~CtorvaneDlg()
{
    // A job still running (the window was destroyed without closing) is
    // stopped and waited for, so it never reaches a window that is gone and
    // the port is closed by the job itself.
    m_cancelRequested.store(true);
    {
        std::lock_guard<std::mutex> lock(m_waitMutex);
        m_shuttingDown = true;
    }
    m_waitCv.notify_all();
    if (m_worker.joinable())
        m_worker.join();
    delete m_wakeNotifier;
    if (m_wakeFd >= 0)
        ::close(m_wakeFd);
}

void CtorvaneDlg::post(std::function<void()> call)
{
    {
        std::lock_guard<std::mutex> lock(m_queueMutex);
        m_queue.push_back(std::move(call));
    }
    if (m_wakeFd >= 0) {
        const uint64_t one = 1;
        while (::write(m_wakeFd, &one, sizeof one) < 0 && errno == EINTR) {
        }
    } else {
        QMetaObject::invokeMethod(this, &CtorvaneDlg::runQueued, Qt::QueuedConnection);
    }
}

void CtorvaneDlg::runQueued()
{
    if (m_wakeFd >= 0) {
        uint64_t count;
        while (::read(m_wakeFd, &count, sizeof count) < 0 && errno == EINTR) {
        }
    }
    // One call at a time: a call may open a message box, whose event loop
    // then runs the calls that follow it.
    for (;;) {
        std::function<void()> call;
        {
            std::lock_guard<std::mutex> lock(m_queueMutex);
            if (m_queue.empty())
                return;
            call = std::move(m_queue.front());
            m_queue.pop_front();
        }
        call();
    }
}

void CtorvaneDlg::buildWindow()
{
    setObjectName(QStringLiteral("CtorvaneDlg"));
    setWindowTitle(QLatin1String(kDialogTitle));
    setWindowIcon(m_hIcon);
    setFont(dialogFont());
    const DialogUnits du(font());

    // Menu 129: the "COM" popup, then the about item.
    m_menuBar = new QMenuBar(this);
    m_menuBar->setNativeMenuBar(false);
    m_comMenu = m_menuBar->addMenu(QStringLiteral("COM"));
    for (int k = 1; k <= 9; ++k) {
        QAction *a = m_comMenu->addAction(QStringLiteral("COM%1").arg(k));
        a->setCheckable(true);
        a->setChecked(k == 1);
        a->setData(kComCommandIds[size_t(k - 1)]);
        connect(a, &QAction::triggered, this, [this, k] { ApplyPortChoice(k); });
    }
    QAction *usb = m_comMenu->addAction(QLatin1String(kUsbPortName));
    usb->setCheckable(true);
    usb->setData(ID_USB);
    connect(usb, &QAction::triggered, this, [this] { ApplyUsbChoice(); });
    m_networkAction = m_comMenu->addAction(QString::fromUtf8(kNetworkItem));
    m_networkAction->setCheckable(true);
    m_networkAction->setData(ID_NETWORK);
    connect(m_networkAction, &QAction::triggered, this, [this] { OnNetworkAddress(); });
    m_aboutAction = m_menuBar->addAction(QString::fromUtf8(kAboutMenuText));
    m_aboutAction->setData(IDM_ABOUTBOX);
    connect(m_aboutAction, &QAction::triggered, this, &CtorvaneDlg::OnAbout);
    const int menuHeight = m_menuBar->sizeHint().height();

    m_client = new QWidget(this);
    m_client->setObjectName(QStringLiteral("client"));
    m_client->setGeometry(0, menuHeight, du.x(320), du.y(194));
    m_menuBar->setGeometry(0, 0, du.x(320), menuHeight);
    setFixedSize(du.x(320), menuHeight + du.y(194));

    m_btnTransmit = new QPushButton(QLatin1String(kCaptionTransmit), m_client);
    m_btnTransmit->setObjectName(QStringLiteral("IDC_TRANSMIT"));
    m_btnTransmit->setGeometry(du.rect(134, 102, 42, 19));

    m_progress = new QProgressBar(m_client);
    m_progress->setObjectName(QStringLiteral("IDC_PROGRESS"));
    m_progress->setGeometry(du.rect(49, 68, 220, 10));
    m_progress->setTextVisible(false);
    m_progress->setFocusPolicy(Qt::NoFocus);
    setProgressRange(100);
    setProgressPos(0);

    m_pluGroup = new QGroupBox(QStringLiteral(" PLU "), m_client);
    m_pluGroup->setAlignment(Qt::AlignHCenter);
    m_pluGroup->setGeometry(du.rect(203, 85, 109, 37));
    m_pluGroup->hide();
    m_btnUploadPlu = new QPushButton(QLatin1String(kCaptionUpload), m_client);
    m_btnUploadPlu->setObjectName(QStringLiteral("IDC_UPLOAD_PLU"));
    m_btnUploadPlu->setGeometry(du.rect(264, 97, 42, 19));
    m_btnUploadPlu->hide();

    m_recordGroup = new QGroupBox(QStringLiteral("RECORD"), m_client);
    m_recordGroup->setAlignment(Qt::AlignHCenter);
    m_recordGroup->setGeometry(du.rect(206, 125, 107, 34));
    m_recordGroup->hide();
    m_btnUploadRecord = new QPushButton(QLatin1String(kCaptionUpload), m_client);
    m_btnUploadRecord->setObjectName(QStringLiteral("IDC_UPLOAD_RECORD"));
    m_btnUploadRecord->setGeometry(du.rect(239, 135, 42, 19));
    m_btnUploadRecord->hide();

    m_status = new QLabel(QString::fromUtf8(kStatusInitial), m_client);
    m_status->setObjectName(QStringLiteral("IDC_STATUS"));
    m_status->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    m_status->setWordWrap(true);
    m_status->setTextFormat(Qt::PlainText);
    m_status->setGeometry(du.rect(54, 34, 206, 14));

    m_version = new QLabel(QLatin1String(kVersionText), m_client);
    m_version->setObjectName(QStringLiteral("IDC_VERSION"));
    m_version->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    m_version->setTextFormat(Qt::PlainText);
    m_version->setGeometry(du.rect(63, 163, 193, 14));
    m_version->setEnabled(false);

    // Tab order: the transfer buttons in id order.
    setTabOrder(m_btnTransmit, m_btnUploadPlu);
    setTabOrder(m_btnUploadPlu, m_btnUploadRecord);
    m_btnTransmit->setAutoDefault(false);
    m_btnUploadPlu->setAutoDefault(false);
    m_btnUploadRecord->setAutoDefault(false);

    connect(m_btnTransmit, &QPushButton::clicked, this, &CtorvaneDlg::OnTransmit);
    connect(m_btnUploadPlu, &QPushButton::clicked, this, &CtorvaneDlg::OnUploadPlu);
    connect(m_btnUploadRecord, &QPushButton::clicked, this, &CtorvaneDlg::OnUploadRecord);
}

void CtorvaneDlg::initDialog()
{
    // The data source the recordsets connect through, registered anew at
    // every start.
    if (!RegisterTorvaneDataSource())
        showMessage(QLatin1String(kDataSourceFailed), MessageIcon::Warning);
    restorePortChoice();
    m_btnTransmit->setFocus();
}

void CtorvaneDlg::restorePortChoice()
{
    const PortRestore r = ReadPortChoice();
    if (r.kind == PortRestore::Kind::Usb) {
        ApplyUsbChoice();
    } else if (r.kind == PortRestore::Kind::Network) {
        m_lastComNumber = r.number;
        ApplyNetworkChoice(r.address);
    } else {
        ApplyPortChoice(r.number);
    }
}

QAction *CtorvaneDlg::commandAction(int id) const
{
    for (QAction *a : m_comMenu->actions())
        if (a->data().toInt() == id)
            return a;
    return nullptr;
}

void CtorvaneDlg::checkOnly(int id)
{
    for (QAction *a : m_comMenu->actions())
        if (a->isCheckable())
            a->setChecked(a->data().toInt() == id);
    if (id != ID_NETWORK)
        m_networkAction->setText(QString::fromUtf8(kNetworkItem));
}

int CtorvaneDlg::ApplyPortChoice(int n)
{
    if (n < 1 || n > 9)
        return 1;
    m_portName = QStringLiteral("COM%1").arg(n);
    m_lastComNumber = n;
    checkOnly(kComCommandIds[size_t(n - 1)]);
    WritePortChoice(QByteArray("COM") + char('0' + n));
    return 0;
}

bool CtorvaneDlg::ApplyNetworkChoice(const QString &address)
{
    scalelink::NetAddress parsed;
    if (!scalelink::ParseNetAddress(address.trimmed(), &parsed))
        return false;
    m_portName = parsed.text();
    checkOnly(ID_NETWORK);
    m_networkAction->setText(QString::fromUtf8(kNetworkItemChosen).arg(m_portName));
    WritePortChoice(NetworkChoiceBytes(m_lastComNumber, m_portName));
    return true;
}

void CtorvaneDlg::OnNetworkAddress()
{
    const bool chosenBefore = scalelink::IsNetworkPortName(m_portName);
    QString address = chosenBefore ? m_portName : QStringLiteral("tcp://");
    for (;;) {
        if (!m_presenter->askText(this, QLatin1String(kProgramName), QString::fromUtf8(kNetworkPrompt), &address)) {
            // Cancelled: the check mark goes back to the port in force.
            m_networkAction->setChecked(chosenBefore);
            return;
        }
        QString error;
        if (scalelink::ParseNetAddress(address, nullptr, &error)) {
            ApplyNetworkChoice(address);
            return;
        }
        showMessage(error, MessageIcon::Warning);
    }
}

void CtorvaneDlg::ApplyUsbChoice()
{
    m_portName = QLatin1String(kUsbPortName);
    checkOnly(ID_USB);
    WritePortChoice(QByteArray(kUsbPortName));
}

QString CtorvaneDlg::statusText() const
{
    return m_status->text();
}

void CtorvaneDlg::setProgressRange(int maximum)
{
    m_progressMax = maximum;
    // An empty range shows an empty bar, as a range of 0..0 does on the
    // scale software's home platform (Qt would animate it as busy).
    m_progress->setRange(0, maximum > 0 ? maximum : 1);
    setProgressPos(m_progressPos);
}

void CtorvaneDlg::setProgressPos(int pos)
{
    m_progressPos = qBound(0, pos, qMax(0, m_progressMax));
    m_progress->setValue(m_progressPos);
}

void CtorvaneDlg::showMessage(const QString &text, MessageIcon icon)
{
    m_presenter->showMessage(this, QLatin1String(kProgramName), text, icon);
}

QPushButton *CtorvaneDlg::buttonFor(JobButton button) const
{
    switch (button) {
    case JobButton::Transmit:
        return m_btnTransmit;
    case JobButton::UploadPlu:
        return m_btnUploadPlu;
    case JobButton::UploadRecord:
        break;
    }
    return m_btnUploadRecord;
}

void CtorvaneDlg::OnTransmit()
{
    onButton(JobButton::Transmit, m_btnTransmit);
}

void CtorvaneDlg::OnUploadPlu()
{
    onButton(JobButton::UploadPlu, m_btnUploadPlu);
}

void CtorvaneDlg::OnUploadRecord()
{
    onButton(JobButton::UploadRecord, m_btnUploadRecord);
}

void CtorvaneDlg::onButton(JobButton button, QPushButton *btn)
{
    if (btn->text() == QLatin1String(kCaptionCancel)) {
        // Takes the button back; the job stops before its next product,
        // slot or record.
        setProgressPos(0);
        m_status->setText(QLatin1String(text::kConnecting));
        btn->setText(restingCaption(button));
        m_cancelRequested.store(true);
        return;
    }
    if (m_jobRunning.load() || m_closeAfterJob) {
        // The port is held by the running job (or a cancelled one that is
        // still finishing its current item).  The box closes when that job
        // ends, so it never says a transfer runs when none does.
        ++m_jobRunningBoxes;
        showMessage(QString::fromUtf8(kJobRunning), MessageIcon::Warning);
        --m_jobRunningBoxes;
        return;
    }
    QString port = m_portName;
    if (button == JobButton::Transmit && port == QLatin1String(kUsbPortName)) {
        // The adapter is looked up at every press: it may have been plugged
        // into another socket.  The choice itself stays "USB".
        if (!FindUsbSerialPort(&port, m_usbRoots)) {
            showMessage(QLatin1String(kInsertUsb), MessageIcon::None);
            return;
        }
    }
    setProgressPos(0);
    m_status->setText(QLatin1String(text::kConnecting));
    btn->setText(QLatin1String(kCaptionCancel));
    m_cancelRequested.store(false);
    if (!startJob(button, port))
        showMessage(QLatin1String(kThreadFailed), MessageIcon::Warning);
}

bool CtorvaneDlg::startJob(JobButton button, const QString &port)
{
    if (m_worker.joinable())
        m_worker.join(); // an ended job whose end has not been handled yet
    m_host = std::make_unique<Host>(this, port);
    m_jobRunning.store(true);
    JobHost *host = m_host.get();
    try {
        m_worker = std::thread([this, host, button] {
            switch (button) {
            case JobButton::Transmit:
                transmitter::RunPluDownload(*host);
                break;
            case JobButton::UploadPlu:
                transmitter::RunPluUpload(*host);
                break;
            case JobButton::UploadRecord:
                transmitter::RunRecordUpload(*host);
                break;
            }
            post([this] { onJobEnded(); });
        });
    } catch (const std::system_error &) {
        m_jobRunning.store(false);
        m_host.reset();
        return false;
    }
    return true;
}

void CtorvaneDlg::onJobEnded()
{
    if (m_worker.joinable())
        m_worker.join();
    m_host.reset();
    m_jobRunning.store(false);
    if (m_jobRunningBoxes > 0)
        m_presenter->dismissMessages(this);
    emit jobFinished();
    if (m_closeAfterJob) {
        m_closeAfterJob = false;
        QDialog::reject();
    }
}

void CtorvaneDlg::OnAbout()
{
    CAboutDlg about(this);
    about.exec();
}

void CtorvaneDlg::requestCloseAfterJob()
{
    // Stop the job at its next product, slot or record and close when it has
    // ended: the port is closed by the job, never pulled from under it.
    m_closeAfterJob = true;
    m_cancelRequested.store(true);
}

void CtorvaneDlg::reject()
{
    if (m_jobRunning.load()) {
        requestCloseAfterJob();
        return;
    }
    QDialog::reject();
}

void CtorvaneDlg::closeEvent(QCloseEvent *event)
{
    if (m_jobRunning.load()) {
        requestCloseAfterJob();
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}

} // namespace torvane::transmitter
