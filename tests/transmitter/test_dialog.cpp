// The transmitter's window, offscreen: layout and captions, the "COM" menu
// and para.ini, and the transfers driven through the real buttons against the
// test's own protocol peer (message boxes answered by a recording presenter).
#include "Recordsets.h"
#include "ScalePeer.h"
#include "ScalePort.h"
#include "DataFolder.h"
#include "StartFolder.h"
#include "StartOptions.h"
#include "TorvaneDlg.h"
#include "TransmitterTestSupport.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <gtest/gtest.h>

using namespace torvane::transmitter;
using testpeer::slotBytes;

namespace {

struct Shown {
    QString caption;
    QString text;
    MessageIcon icon;
};

class RecordingPresenter : public MessagePresenter {
public:
    void showMessage(QWidget *, const QString &caption, const QString &text, MessageIcon icon) override
    {
        shown.push_back({caption, text, icon});
        if (!holdOpen)
            return;
        // Stays open, as a box the operator has not answered, until the
        // window dismisses it (or long enough to show that it did not).
        dismissed = false;
        QElapsedTimer t;
        t.start();
        while (!dismissed && t.elapsed() < 10000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    void dismissMessages(QWidget *) override { dismissed = true; }
    std::vector<Shown> shown;
    bool holdOpen = false;
    bool dismissed = false;
};

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
}

// Runs the event loop until pred holds (or a generous limit passes, so a
// broken build fails instead of hanging).
template<typename Pred>
bool waitFor(Pred pred, int limitMs = 15000)
{
    QElapsedTimer t;
    t.start();
    while (!pred()) {
        if (t.elapsed() > limitMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(1);
    }
    return true;
}

std::vector<int> checkedIds(const CtorvaneDlg &dlg)
{
    std::vector<int> ids;
    for (QAction *a : dlg.comMenu()->actions())
        if (a->isChecked())
            ids.push_back(a->data().toInt());
    return ids;
}

class Window : public ::testing::Test {
protected:
    ttest::WorkDir wd;
    RecordingPresenter presenter;
    std::unique_ptr<testpeer::ScalePeer> peer;

    void startPeer(int com = 1)
    {
        peer = std::make_unique<testpeer::ScalePeer>(wd.dosDevices(), com);
        ASSERT_TRUE(peer->ok());
    }
    void TearDown() override { EXPECT_FALSE(theScalePort.IsOpen()); }
};

} // namespace

TEST_F(Window, LayoutCaptionsAndMenu)
{
    CtorvaneDlg dlg(&presenter);
    EXPECT_EQ(dlg.windowTitle(), QStringLiteral(" Keldro - Torvane"));
    EXPECT_EQ(dlg.transmitButton()->text(), QStringLiteral("Rirodidovu"));
    EXPECT_EQ(dlg.statusText(), QStringLiteral("Conecte o cabo do impressor e pressione Rirodidovu"));
    auto *version = dlg.findChild<QLabel *>(QStringLiteral("IDC_VERSION"));
    ASSERT_NE(version, nullptr);
    EXPECT_EQ(version->text(), QStringLiteral("2016-09-01         Version: V1.06"));
    EXPECT_FALSE(version->isEnabled());
    EXPECT_EQ(dlg.pluGroup()->title(), QStringLiteral(" PLU "));
    EXPECT_EQ(dlg.recordGroup()->title(), QStringLiteral("RECORD"));
    EXPECT_EQ(dlg.uploadPluButton()->text(), QStringLiteral("upload"));
    EXPECT_EQ(dlg.uploadRecordButton()->text(), QStringLiteral("upload"));
    // (The window is never painted in these tests: Qt converts large images
    // on a thread pool inside its uninstrumented library, which
    // ThreadSanitizer cannot follow.)
    EXPECT_TRUE(dlg.transmitButton()->isVisibleTo(&dlg));
    EXPECT_TRUE(dlg.progressBar()->isVisibleTo(&dlg));
    EXPECT_TRUE(dlg.findChild<QLabel *>(QStringLiteral("IDC_STATUS"))->isVisibleTo(&dlg));
    EXPECT_FALSE(dlg.uploadPluButton()->isVisibleTo(&dlg));
    EXPECT_FALSE(dlg.uploadRecordButton()->isVisibleTo(&dlg));
    EXPECT_FALSE(dlg.pluGroup()->isVisibleTo(&dlg));
    EXPECT_FALSE(dlg.recordGroup()->isVisibleTo(&dlg));

    // Dialog units: 4 horizontal units per average character width, 8
    // vertical per font height.
    const DialogUnits du(dialogFont());
    EXPECT_GE(du.baseX, 5);
    EXPECT_LE(du.baseX, 8);
    EXPECT_EQ(dlg.transmitButton()->geometry(), du.rect(134, 102, 42, 19));
    EXPECT_EQ(dlg.progressBar()->geometry(), du.rect(49, 68, 220, 10));
    EXPECT_EQ(dlg.clientArea()->size(), QSize(du.x(320), du.y(194)));
    EXPECT_EQ(dlg.minimumSize(), dlg.maximumSize()); // fixed frame

    // Menu bar: "COM", then the about item.
    const auto bar = dlg.menuBarWidget()->actions();
    ASSERT_EQ(bar.size(), 2);
    EXPECT_EQ(bar[0]->text(), QStringLiteral("COM"));
    EXPECT_EQ(bar[1]->text(), QStringLiteral("关于 Torvane(&A)..."));
    const auto items = dlg.comMenu()->actions();
    ASSERT_EQ(items.size(), 11);
    const int ids[] = {32775, 32776, 32780, 32781, 32782, 32784, 32790, 32789, 32788, ID_USB, ID_NETWORK};
    for (int i = 0; i < 11; ++i) {
        EXPECT_EQ(items[i]->text(), i < 9    ? QStringLiteral("COM%1").arg(i + 1)
                                    : i == 9 ? QStringLiteral("USB")
                                             : QStringLiteral("Endereço de rede..."));
        EXPECT_EQ(items[i]->data().toInt(), ids[i]);
    }
    EXPECT_TRUE(presenter.shown.empty());
}

TEST_F(Window, PortChoiceRestoredFromParaIni)
{
    struct Case {
        const char *name;
        std::optional<QByteArray> before;
        QString port;
        int checkedId;
        QByteArray after;
        bool readOnly = false;
    };
    const Case cases[] = {
        {"missing", std::nullopt, "COM1", ID_COM1, "COM1"},
        {"COM7", QByteArray("COM7"), "COM7", ID_COM7, "COM7"},
        {"lower case", QByteArray("com3"), "COM1", ID_COM1, "COM1"},
        {"foreign", QByteArray("\xEF\xBB\xBF" "COM2"), "COM1", ID_COM1, "COM1"},
        {"digit zero", QByteArray("COM0"), "COM1", ID_COM1, "COM0"},
        {"letter", QByteArray("COMA"), "COM1", ID_COM1, "COMA"},
        {"three bytes", QByteArray("COM"), "COM1", ID_COM1, "COM"},
        {"longer", QByteArray("COM9\r\nmore"), "COM9", ID_COM9, "COM9"},
        {"read-only", QByteArray("COM4"), "COM1", ID_COM1, "COM4", true},
        {"USB", QByteArray("USB"), "USB", ID_USB, "USB"},
        {"USB and more", QByteArray("USB\n"), "COM1", ID_COM1, "COM1"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        QFile::setPermissions(QStringLiteral("para.ini"), QFile::ReadOwner | QFile::WriteOwner);
        QFile::remove(QStringLiteral("para.ini"));
        if (c.before) {
            writeFile(QStringLiteral("para.ini"), *c.before);
            if (c.readOnly)
                QFile::setPermissions(QStringLiteral("para.ini"), QFile::ReadOwner | QFile::ReadGroup);
        }
        CtorvaneDlg dlg(&presenter);
        EXPECT_EQ(dlg.portName(), c.port);
        EXPECT_EQ(checkedIds(dlg), std::vector<int>{c.checkedId});
        EXPECT_EQ(readAll(QStringLiteral("para.ini")), c.after);
    }
    QFile::setPermissions(QStringLiteral("para.ini"), QFile::ReadOwner | QFile::WriteOwner);
    EXPECT_TRUE(presenter.shown.empty()); // no message for any of them
}

TEST_F(Window, MenuChoiceMovesTheCheckAndSavesAtOnce)
{
    CtorvaneDlg dlg(&presenter);
    dlg.commandAction(ID_COM5)->trigger();
    EXPECT_EQ(dlg.portName(), QStringLiteral("COM5"));
    EXPECT_EQ(checkedIds(dlg), std::vector<int>{ID_COM5});
    EXPECT_EQ(readAll(QStringLiteral("para.ini")), QByteArray("COM5"));
    dlg.commandAction(ID_COM5)->trigger(); // choosing it again keeps it checked
    EXPECT_EQ(checkedIds(dlg), std::vector<int>{ID_COM5});

    EXPECT_EQ(dlg.ApplyPortChoice(0), 1);
    EXPECT_EQ(dlg.ApplyPortChoice(10), 1);
    EXPECT_EQ(dlg.portName(), QStringLiteral("COM5"));
    EXPECT_EQ(readAll(QStringLiteral("para.ini")), QByteArray("COM5"));

    dlg.commandAction(ID_USB)->trigger();
    EXPECT_EQ(dlg.portName(), QStringLiteral("USB"));
    EXPECT_EQ(checkedIds(dlg), std::vector<int>{ID_USB});
    EXPECT_EQ(readAll(QStringLiteral("para.ini")), QByteArray("USB"));
    EXPECT_EQ(dlg.ApplyPortChoice(2), 0);
    EXPECT_EQ(checkedIds(dlg), std::vector<int>{ID_COM2});
}

TEST_F(Window, DownloadThroughTheButton)
{
    ASSERT_TRUE(ttest::makeDatabase(12, true));
    startPeer();
    CtorvaneDlg dlg(&presenter);
    dlg.transmitButton()->click();
    EXPECT_EQ(dlg.transmitButton()->text(), QStringLiteral("Cancelar"));
    EXPECT_EQ(dlg.statusText(), QStringLiteral("Connecting......"));
    EXPECT_EQ(dlg.progressValue(), 0);
    EXPECT_TRUE(dlg.isJobRunning());
    ASSERT_TRUE(waitFor([&] { return !dlg.isJobRunning(); }));
    EXPECT_EQ(dlg.statusText(), QStringLiteral("Transmissão efetuada com sucesso!"));
    EXPECT_EQ(dlg.transmitButton()->text(), QStringLiteral("Rirodidovu"));
    EXPECT_EQ(dlg.progressMaximum(), 12);
    EXPECT_EQ(dlg.progressValue(), 12);
    EXPECT_EQ(dlg.progressBar()->value(), 12);
    EXPECT_TRUE(dlg.cancelRequested());
    EXPECT_EQ(peer->productFrames(), 12);
    EXPECT_TRUE(presenter.shown.empty());
}

TEST_F(Window, FailureAtTheThirdProductAndEmptyTable)
{
    ASSERT_TRUE(ttest::makeDatabase(5));
    startPeer();
    peer->setOkLimit(2);
    CtorvaneDlg dlg(&presenter);
    dlg.transmitButton()->click();
    ASSERT_TRUE(waitFor([&] { return !dlg.isJobRunning(); }));
    EXPECT_EQ(dlg.statusText(), QStringLiteral("download NO. 3 PLU failed !"));
    EXPECT_EQ(dlg.progressValue(), 2);
    EXPECT_EQ(dlg.transmitButton()->text(), QStringLiteral("Rirodidovu"));

    ttest::Sql sql;
    ASSERT_TRUE(sql.exec(QStringLiteral("DELETE FROM PLU")));
    dlg.transmitButton()->click();
    ASSERT_TRUE(waitFor([&] { return !dlg.isJobRunning(); }));
    EXPECT_EQ(dlg.statusText(), QStringLiteral("Connecting......"));
    EXPECT_EQ(dlg.progressMaximum(), 0);
    EXPECT_EQ(dlg.progressBar()->value(), 0);
    EXPECT_EQ(dlg.transmitButton()->text(), QStringLiteral("Rirodidovu"));
}

TEST_F(Window, CancelSecondJobAndMessageBoxes)
{
    ASSERT_TRUE(ttest::makeDatabase(300));
    startPeer();
    CtorvaneDlg dlg(&presenter);
    dlg.transmitButton()->click();
    ASSERT_TRUE(waitFor([&] { return dlg.statusText() == QStringLiteral("download NO. 2 PLU successful !")
                                     || dlg.progressValue() >= 2; }));

    // Another transfer while this one runs is refused, and the running one
    // goes on undisturbed.
    dlg.uploadPluButton()->click();
    ASSERT_EQ(presenter.shown.size(), 1u);
    EXPECT_EQ(presenter.shown[0].text, QString::fromUtf8(kJobRunning));
    EXPECT_EQ(presenter.shown[0].caption, QStringLiteral("Rirodidovu"));
    EXPECT_EQ(dlg.uploadPluButton()->text(), QStringLiteral("upload"));
    EXPECT_EQ(peer->uploadRequests(), 0);

    // "Cancelar" takes the button back at once; the job stops before its
    // next product and says how far it got.
    dlg.transmitButton()->click();
    EXPECT_EQ(dlg.transmitButton()->text(), QStringLiteral("Rirodidovu"));
    EXPECT_EQ(dlg.statusText(), QStringLiteral("Connecting......"));
    EXPECT_EQ(dlg.progressValue(), 0);
    EXPECT_TRUE(dlg.cancelRequested());
    ASSERT_TRUE(waitFor([&] { return !dlg.isJobRunning(); }));
    const int sent = peer->productFrames();
    EXPECT_LT(sent, 300);
    EXPECT_EQ(dlg.statusText(), QStringLiteral("download cancelled, %1 PLU sent !").arg(sent));
    EXPECT_EQ(dlg.progressValue(), sent); // the bar agrees with the status
    EXPECT_EQ(dlg.transmitButton()->text(), QStringLiteral("Rirodidovu"));

    // A job's message box reaches the window, caption and all, and the job
    // waits for it.
    ASSERT_TRUE(QFile::link(QStringLiteral("/nonexistent/tty"), wd.dosDevices() + QStringLiteral("/com7")));
    dlg.ApplyPortChoice(7);
    dlg.transmitButton()->click();
    ASSERT_TRUE(waitFor([&] { return !dlg.isJobRunning(); }));
    ASSERT_EQ(presenter.shown.size(), 2u);
    EXPECT_EQ(presenter.shown[1].text, QStringLiteral("Não é possível abrir a COM7"));
    EXPECT_EQ(presenter.shown[1].icon, MessageIcon::None);
    EXPECT_EQ(presenter.shown[1].caption, QStringLiteral("Rirodidovu"));
    EXPECT_EQ(dlg.transmitButton()->text(), QStringLiteral("Rirodidovu"));
}

// The operator leaves "a transfer is running" open: it goes when the transfer
// has ended, rather than stay and say something no longer true.
TEST_F(Window, BoxAboutTheRunningTransferClosesWhenItEnds)
{
    ASSERT_TRUE(ttest::makeDatabase(20));
    startPeer();
    CtorvaneDlg dlg(&presenter);
    presenter.holdOpen = true;
    dlg.transmitButton()->click();
    dlg.uploadPluButton()->click(); // returns when the box has closed
    ASSERT_EQ(presenter.shown.size(), 1u);
    EXPECT_EQ(presenter.shown[0].text, QString::fromUtf8(kJobRunning));
    EXPECT_TRUE(presenter.dismissed);
    EXPECT_FALSE(dlg.isJobRunning());
    EXPECT_EQ(dlg.statusText(), QStringLiteral("Transmissão efetuada com sucesso!"));
}

TEST_F(Window, ClosingDuringAJobStopsItFirst)
{
    ASSERT_TRUE(ttest::makeDatabase(300));
    startPeer();
    CtorvaneDlg dlg(&presenter);
    bool closed = false;
    QObject::connect(&dlg, &QDialog::rejected, [&] { closed = true; });
    dlg.transmitButton()->click();
    ASSERT_TRUE(waitFor([&] { return dlg.progressValue() >= 1; }));
    EXPECT_FALSE(dlg.close()); // refused for now...
    EXPECT_FALSE(closed);
    EXPECT_TRUE(dlg.isJobRunning());
    ASSERT_TRUE(waitFor([&] { return closed; })); // ...and done once the job has ended
    EXPECT_FALSE(dlg.isJobRunning());
    EXPECT_FALSE(theScalePort.IsOpen());
    EXPECT_LT(peer->productFrames(), 300);
    EXPECT_TRUE(dlg.statusText().startsWith(QStringLiteral("download cancelled, ")));

    // Escape (reject) behaves the same; a window destroyed outright stops and
    // waits for its job.
    bool escaped = false;
    QObject::connect(&dlg, &QDialog::rejected, [&] { escaped = true; });
    dlg.transmitButton()->click();
    ASSERT_TRUE(waitFor([&] { return dlg.progressValue() >= 1; }));
    dlg.reject();
    EXPECT_FALSE(escaped);
    ASSERT_TRUE(waitFor([&] { return escaped; }));
    EXPECT_FALSE(theScalePort.IsOpen());

    auto *second = new CtorvaneDlg(&presenter);
    second->transmitButton()->click();
    ASSERT_TRUE(waitFor([&] { return second->progressValue() >= 1; }));
    delete second;
    EXPECT_FALSE(theScalePort.IsOpen());
}

TEST_F(Window, UsbChoice)
{
    ASSERT_TRUE(ttest::makeDatabase(3));
    writeFile(QStringLiteral("para.ini"), "USB");
    CtorvaneDlg dlg(&presenter);
    ASSERT_EQ(dlg.portName(), QStringLiteral("USB"));
    UsbSearchRoots roots{wd.file(QStringLiteral("by-id")), wd.file(QStringLiteral("sys")), wd.file(QStringLiteral("dev"))};
    dlg.setUsbSearchRoots(roots);
    dlg.transmitButton()->click();
    ASSERT_EQ(presenter.shown.size(), 1u);
    EXPECT_EQ(presenter.shown[0].text, QStringLiteral("Please insert USB!"));
    EXPECT_EQ(presenter.shown[0].icon, MessageIcon::None);
    EXPECT_FALSE(dlg.isJobRunning());
    EXPECT_EQ(dlg.transmitButton()->text(), QStringLiteral("Rirodidovu"));
    EXPECT_EQ(dlg.statusText(), QStringLiteral("Conecte o cabo do impressor e pressione Rirodidovu"));

    // The adapter appears (here: the peer's line behind a ttyUSB name).
    startPeer(4);
    QDir().mkpath(roots.byId);
    QDir().mkpath(roots.dev);
    ASSERT_TRUE(QFile::link(peer->slavePath(), roots.dev + QStringLiteral("/ttyUSB0")));
    ASSERT_TRUE(QFile::link(roots.dev + QStringLiteral("/ttyUSB0"), roots.byId + QStringLiteral("/usb-Scale_UART-if00")));
    dlg.transmitButton()->click();
    ASSERT_TRUE(waitFor([&] { return !dlg.isJobRunning(); }));
    EXPECT_EQ(dlg.statusText(), QStringLiteral("Transmissão efetuada com sucesso!"));
    EXPECT_EQ(peer->productFrames(), 3);
    EXPECT_EQ(dlg.portName(), QStringLiteral("USB")); // the choice stays
}

TEST_F(Window, UploadsThroughTheHiddenButtons)
{
    ASSERT_TRUE(ttest::makeDatabase(1));
    startPeer();
    peer->setSlots({slotBytes(1, 2, "001010", "BANANA", 0, 0, 649, 1), slotBytes(2, 2, "001020", "BOLO", 3, 0, 2990, 2),
                    slotBytes(501, 0, "", "", 0, 0, 0, 0)});
    peer->setRecords({testpeer::recordBytes(1, 0x24, 0x03, 0x15, 0x09, 0x30, 0x05, 1500),
                      testpeer::recordBytes(2, 0x24, 0x03, 0x15, 0x09, 0x31, 0x00, 2990)});
    CtorvaneDlg dlg(&presenter);
    dlg.uploadPluButton()->click();
    EXPECT_EQ(dlg.uploadPluButton()->text(), QStringLiteral("Cancelar"));
    ASSERT_TRUE(waitFor([&] { return !dlg.isJobRunning(); }));
    EXPECT_EQ(dlg.statusText(), QStringLiteral("upload PLU finished, total 2 !"));
    EXPECT_EQ(dlg.progressMaximum(), 500);
    EXPECT_EQ(dlg.progressValue(), 500);
    EXPECT_EQ(dlg.uploadPluButton()->text(), QStringLiteral("upload"));

    dlg.uploadRecordButton()->click();
    ASSERT_TRUE(waitFor([&] { return !dlg.isJobRunning(); }));
    // The stream ends without a number above 500: the failure text, with
    // both records stored.
    EXPECT_EQ(dlg.statusText(), QStringLiteral("upload Rec failed in No. 2 !"));
    EXPECT_EQ(dlg.uploadRecordButton()->text(), QStringLiteral("upload"));
    ttest::Sql sql;
    const auto rows = sql.rows(QStringLiteral("SELECT pluNo, pluDesc, weight, totalPrice FROM RECORD ORDER BY ID"));
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0], (QVariantList{1, QStringLiteral("BANANA"), 1500, 0}));
    EXPECT_EQ(rows[1], (QVariantList{2, QStringLiteral("BOLO"), 0, 2990}));
    EXPECT_TRUE(presenter.shown.empty());
}

TEST_F(Window, AboutBox)
{
    CtorvaneDlg dlg(&presenter);
    QString title, button;
    QTimer::singleShot(0, [&] {
        QWidget *w = QApplication::activeModalWidget();
        ASSERT_NE(w, nullptr);
        title = w->windowTitle();
        if (auto *ok = w->findChild<QPushButton *>(QStringLiteral("IDOK"))) {
            button = ok->text();
            ok->click();
        }
    });
    dlg.aboutAction()->trigger();
    EXPECT_EQ(title, QStringLiteral("关于 Torvane"));
    EXPECT_EQ(button, QStringLiteral("确定"));
    EXPECT_EQ(dlg.statusText(), QStringLiteral("Conecte o cabo do impressor e pressione Rirodidovu"));
}

// Started from the menu while the shop's folder is on a pen drive that is
// not plugged in: the folder is named and the program stays out of the
// folder it was started from, whose stray base would go to the scale.
TEST(TransmitterStart, AMissingDataFolderIsNamedAndNothingElseIsUsed)
{
    QTemporaryDir tmp;
    QSettings settings(tmp.filePath(QStringLiteral("t.conf")), QSettings::IniFormat);
    torvane::desktop::DataFolder data(&settings);
    const QString pen = tmp.filePath(QStringLiteral("pendrive/loja"));
    const QString home = tmp.filePath(QStringLiteral("home"));
    ASSERT_TRUE(QDir().mkpath(home));
    writeFile(QDir(home).filePath(QStringLiteral("vendabase.accdb")), "stray");
    const QString before = QDir::currentPath();
    for (const QString &option : {QStringLiteral("--data-folder"), QStringLiteral("--data-folder=") + pen}) {
        data.remember(pen);
        ASSERT_TRUE(QDir::setCurrent(home));
        RecordingPresenter presenter;
        const bool entered =
            enterWorkFolder(torvane::desktop::parseStartOptions({option}), data, presenter);
        const QString cwd = QDir::currentPath();
        QDir::setCurrent(before);
        EXPECT_FALSE(entered) << option.toStdString();
        ASSERT_EQ(presenter.shown.size(), 1u) << option.toStdString();
        EXPECT_TRUE(presenter.shown[0].text.contains(pen)) << presenter.shown[0].text.toStdString();
        EXPECT_EQ(cwd, home);
    }
}
