#include "TransferJobs.h"

#include "DataSource.h"
#include "Recordsets.h"
#include "SerialDevices.h"

#include "CodePage.h"
#include "SalesRead.h"
#include "ScalePort.h"
#include "ScaleProtocol.h"
#include "ScaleRecord.h"

#include <QFileInfo>
#include <QSysInfo>

#include <map>


namespace torvane::transmitter {

using scalelink::AnsiToField;
using scalelink::StringFromAnsiField;

namespace {

constexpr int kLastScaleNumber = 500;

QString fmt(const char *pattern, qint64 n)
{
    return QString::fromUtf8(pattern).arg(n);
}

// Opens the port and applies the line settings (steps common to every job).
// Line-format and time-out errors are left for the exchange to show.
bool openPort(JobHost &host, JobButton button)
{
    auto &port = host.port();
    const QString name = host.portName();
    if (const int32_t code = port.OpenForWindow(name, host.notifyTarget(), 0, 0, 0, 0); code != 0) {
        host.messageBox(QString::fromUtf8(text::kOpenFailed).arg(name) + openFailureHint(name, code),
                        MessageIcon::None);
        host.setButtonCaption(button, restingCaption(button));
        host.setCancelRequested(true);
        return false;
    }
    port.SetLineFormat(57600, 8, NOPARITY, ONESTOPBIT);
    port.SetReadTimeouts(ReadTimed, 10);
    return true;
}

void closePort(JobHost &host)
{
    host.port().ClosePort();
}

// A database error in the words the manager uses for the same cause (the
// engine layer holds them); "database is error !" only where nothing better
// is known, or where the tables of the record upload cannot be opened.
void showDatabaseError(JobHost &host, const QString &error, bool tablesNotOpened = false)
{
    QString message = error;
    if (tablesNotOpened || error.isEmpty()) {
        message = QString::fromUtf8(text::kDatabaseError);
        if (!error.isEmpty())
            message += QStringLiteral("\n\n") + error;
    }
    host.messageBox(message, MessageIcon::Warning);
}

QByteArray frameOf(const ScalePlu &plu)
{
    const auto frame = scalelink::BuildPluFrame(plu);
    return QByteArray(reinterpret_cast<const char *>(frame.data()), qsizetype(frame.size()));
}

// The file the jobs' tables are in.
QString databasePath(QString *error)
{
    return ResolveConnectString(QLatin1String(kUploadConnect), error);
}

} // namespace

QString PortIdentity(const QString &portName)
{
    const QString device = scalelink::ResolveSerialPortName(portName);
    QString path = device.isEmpty() ? portName : QFileInfo(device).canonicalFilePath();
    if (path.isEmpty())
        path = QFileInfo(device).absoluteFilePath(); // a device that is not there
    return QSysInfo::machineHostName() + u':' + path;
}

QString ScaleRecordName(const JobHost &host)
{
    const QString name = host.scaleName();
    return name.isEmpty() ? PortIdentity(host.portName()) : name;
}

int CountPluRows(QString *error)
{
    CPLU rs;
    if (!rs.Open()) {
        if (error)
            *error = rs.GetLastError();
        return -1;
    }
    int n = 0;
    if (!rs.IsEOF()) {
        if (!rs.MoveFirst()) {
            if (error)
                *error = rs.GetLastError();
            return -1;
        }
        while (!rs.IsEOF()) {
            ++n;
            if (!rs.MoveNext()) {
                if (error)
                    *error = rs.GetLastError();
                return -1;
            }
        }
    }
    rs.Close();
    return n;
}

bool ReadPluTable(std::vector<ScalePlu> &products, QString *error)
{
    products.clear();
    CPLU rs;
    // The keyset is read again inside the transaction, so rows and values
    // come from the same state of the file.
    if (!rs.Open() || !rs.BeginTrans() || !rs.Requery()) {
        if (error)
            *error = rs.GetLastError();
        return false;
    }
    while (!rs.IsEOF()) {
        ScalePlu plu;
        FillScalePlu(rs, plu);
        products.push_back(plu);
        if (!rs.MoveNext()) {
            if (error)
                *error = rs.GetLastError();
            products.clear();
            return false;
        }
    }
    rs.Rollback(); // nothing was written; ends the read
    rs.Close();
    return true;
}

void FillScalePlu(const CPLU &row, ScalePlu &plu)
{
    plu = ScalePlu{};
    plu.number = uint16_t(row.m_pluNo);
    plu.prefix = row.m_preFix;
    // A code shorter than 6 characters is followed by zero bytes, as the
    // description is.
    AnsiToField(row.m_pluCode.left(6), plu.code, sizeof plu.code);
    AnsiToField(row.m_pluDesc.left(26), plu.description, sizeof plu.description);
    plu.shelfLifeDays = uint16_t(row.m_validDays);
    plu.tare = uint16_t(row.m_tareWeight);
    plu.unitPrice = uint32_t(row.m_unitPrice);
    plu.saleType = row.m_sellFlag;
    plu.barcodeMode = row.m_barcodeMode;
}

void FillUploadedRow(const ScalePlu &plu, CPLU_UPLOADED &row)
{
    row.m_pluNo = plu.number;
    row.m_preFix = plu.prefix;
    row.m_pluCode = StringFromAnsiField(plu.code, sizeof plu.code);
    row.m_pluDesc = StringFromAnsiField(plu.description, sizeof plu.description);
    row.m_validDays = plu.shelfLifeDays;
    row.m_tareWeight = plu.tare;
    row.m_unitPrice = int32_t(plu.unitPrice & 0xFFFFFF);
    row.m_sellFlag = plu.saleType;
}

QDateTime SaleDateTime(const ScaleSale &sale)
{
    if (sale.month < 1 || sale.month > 12 || sale.day < 1 || sale.day > 31 || sale.hour > 23 || sale.minute > 59
        || sale.second > 59)
        return {};
    const QDate date = QDate(2000 + sale.year, sale.month, 1).addDays(sale.day - 1);
    // The scale's wall-clock time, kept as it reads (no zone shifts it).
    return QDateTime(date, QTime(sale.hour, sale.minute, sale.second), Qt::UTC);
}

// ---- product download -------------------------------------------------------

void RunPluDownload(JobHost &host)
{
    const JobButton button = JobButton::Transmit;
    if (!openPort(host, button))
        return;
    host.port().PurgeBuffers();

    auto finish = [&](const QString &status) {
        if (!status.isNull())
            host.setStatusText(status);
        host.setButtonCaption(button, restingCaption(button));
        host.setCancelRequested(true);
    };

    // The whole table is read before the first frame: what the scale gets
    // is one state of it, even while the manager saves.  The host then
    // picks the products that go out (all of them for the window's button).
    QString error;
    std::vector<ScalePlu> products;
    const QString path = databasePath(&error);
    if (path.isEmpty() || !ReadPluTable(products, &error)) {
        showDatabaseError(host, error);
        finish(fmt(text::kDownloadFailed, 1));
        closePort(host);
        return;
    }
    // What the scale holds is about to change: its record says so before
    // the first frame, and says what it acknowledged at the end.
    db::ScaleRecord record(path, ScaleRecordName(host), PortIdentity(host.portName()));
    if (!record.load() || !record.markStarted()) {
        showDatabaseError(host, record.error());
        finish(fmt(text::kDownloadFailed, 1));
        closePort(host);
        return;
    }
    const bool wasTrusted = record.trusted();
    host.scaleRecordFound(record.available(), wasTrusted);
    const size_t tableSize = products.size();
    const bool onlyChanges = host.sendsOnlyChanges();
    std::erase_if(products, [&](const ScalePlu &plu) {
        return !host.wantsProduct(plu) || (onlyChanges && !record.needsSending(plu.number, frameOf(plu)));
    });
    std::map<int, QByteArray> acknowledged;
    // A whole table, or every change since a trusted record, leaves the
    // record trusted; some slots only keep it as it was.
    const bool everyChange = products.size() == tableSize || (onlyChanges && wasTrusted);
    auto end = [&](const QString &status, bool completed) {
        if (!record.finish(acknowledged, completed && (everyChange || wasTrusted)) && completed)
            showDatabaseError(host, QString::fromUtf8(text::kRecordNotKept) + QStringLiteral("\n\n")
                                        + record.error());
        finish(status);
        closePort(host);
    };

    const int n = int(products.size());
    host.setProgressRange(n);
    if (n == 0) {
        // Nothing to send: the status keeps "Connecting......".
        end(QString(), true);
        return;
    }
    for (int i = 1; i <= n; ++i) {
        if (host.cancelRequested()) {
            // The press reset the bar; it shows again what was sent.
            host.setProgressPos(i - 1);
            end(fmt(text::kDownloadCancelled, i - 1), false);
            return;
        }
        const ScalePlu &plu = products[size_t(i - 1)];
        SendPluFrame(host.port(), plu);
        const bool ok = AwaitOkReply(host.port());
        if (ok)
            acknowledged[plu.number] = frameOf(plu);
        host.productResult(plu, ok);
        if (!ok) {
            end(fmt(text::kDownloadFailed, i), false);
            return;
        }
        host.setStatusText(fmt(text::kDownloadOk, i));
        host.setProgressPos(i);
    }
    end(QString::fromUtf8(text::kDownloadDone), true);
}

// ---- product upload ---------------------------------------------------------

void RunPluUpload(JobHost &host)
{
    const JobButton button = JobButton::UploadPlu;
    if (!openPort(host, button))
        return;
    host.setProgressRange(kLastScaleNumber);

    auto end = [&](const QString &status) {
        host.setStatusText(status);
        host.setButtonCaption(button, restingCaption(button));
        host.setCancelRequested(true);
        closePort(host);
    };

    // The table is opened, locked for writing and emptied before the scale is
    // asked: once the request is out the slots stream in without pause, and a
    // table that waits on another program's lock would lose them.  The old
    // rows go for good only when the upload completes (or the operator stops
    // it); an upload that fails keeps them as they were.
    CPLU_UPLOADED rs;
    if (!rs.Open()) {
        showDatabaseError(host, rs.GetLastError());
        end(fmt(text::kPluFailed, 0));
        return;
    }
    if (!rs.CanAppend()) {
        host.messageBox(QString::fromUtf8(text::kCantAppend), MessageIcon::Warning);
        rs.Close();
        end(fmt(text::kPluFailed, 0));
        return;
    }
    auto databaseFailure = [&](int count) {
        const QString err = rs.GetLastError();
        rs.Close(); // undoes the emptying and the rows of this run
        showDatabaseError(host, err);
        end(fmt(text::kPluFailed, count));
    };
    if (!rs.BeginTrans(true) || !rs.Requery()) {
        databaseFailure(0);
        return;
    }
    while (!rs.IsEOF()) {
        if (!rs.Delete() || !rs.MoveNext()) {
            databaseFailure(0);
            return;
        }
    }

    SendUploadRequest(host.port(), "UL");
    if (!AwaitUploadHeader(host.port(), 0x57, 0xE5)) {
        rs.Close();
        end(QString::fromUtf8(text::kNoHeader));
        return;
    }

    // Keeps the slots of this run in place of the old rows.
    auto complete = [&](int count) {
        if (!rs.CommitTrans()) {
            databaseFailure(count);
            return false;
        }
        rs.Close();
        return true;
    };

    int count = 0;
    for (;;) {
        if (host.cancelRequested()) {
            // The operator chose to stop: the slots read so far are kept,
            // as the status says.
            if (!complete(count))
                return;
            host.setProgressPos(count);
            end(fmt(text::kPluCancelled, count));
            return;
        }
        ScalePlu plu;
        if (!ReadPluSlot(host.port(), plu))
            break;
        if (plu.number > kLastScaleNumber) {
            if (!complete(count))
                return;
            host.setStatusText(fmt(text::kPluFinished, count));
            host.setButtonCaption(button, restingCaption(button));
            host.setProgressPos(kLastScaleNumber);
            host.setCancelRequested(true);
            closePort(host);
            return;
        }
        rs.AddNew();
        FillUploadedRow(plu, rs);
        if (!rs.Update()) {
            if (rs.HasError()) {
                databaseFailure(count);
                return;
            }
            host.messageBox(QString::fromUtf8(text::kCantUpdate), MessageIcon::Warning);
        }
        ++count;
        host.setProgressPos(count);
        host.setStatusText(fmt(text::kPluStored, count));
        if (plu.number == kLastScaleNumber) {
            if (complete(count))
                end(fmt(text::kPluFinished, count));
            return;
        }
    }
    rs.Close();
    end(fmt(text::kPluFailed, count));
}

// ---- sales-record upload ----------------------------------------------------

void RunRecordUpload(JobHost &host)
{
    const JobButton button = JobButton::UploadRecord;
    QString error;
    const QString path = databasePath(&error);
    // Every path that reads sales stores them through this one place.
    db::SalesRead sales(path, ScaleRecordName(host), PortIdentity(host.portName()));
    CPLU_UPLOADED uploaded;
    if (path.isEmpty() || !sales.open() || !uploaded.Open()) {
        const QString err = path.isEmpty() ? error : !sales.error().isEmpty() ? sales.error() : uploaded.GetLastError();
        showDatabaseError(host, err, true);
        host.setButtonCaption(button, restingCaption(button));
        host.setCancelRequested(true);
        uploaded.Close();
        return;
    }
    if (!openPort(host, button))
        return; // the tables close as they go out of scope
    host.setProgressRange(kLastScaleNumber);

    SendUploadRequest(host.port(), "UR");
    if (!AwaitUploadHeader(host.port(), 0x17, 0x71)) {
        host.setStatusText(QString::fromUtf8(text::kNoHeader));
        host.setButtonCaption(button, restingCaption(button));
        host.setCancelRequested(true);
        closePort(host);
        uploaded.Close();
        return;
    }

    int count = 0;
    int undated = 0;
    auto withUndated = [&](QString status) {
        if (undated > 0)
            status += QString::fromUtf8(text::kRecNoDate).arg(undated);
        return status;
    };
    bool failed = false;
    bool complete = false;
    for (;;) {
        if (host.cancelRequested()) {
            host.setProgressPos(count);
            host.setStatusText(withUndated(fmt(text::kRecCancelled, count)));
            break;
        }
        ScaleSale sale;
        if (!ReadSaleRecord(host.port(), sale)) {
            failed = true;
            break;
        }
        if (sale.number > kLastScaleNumber) {
            complete = true;
            host.setStatusText(withUndated(fmt(text::kRecFinished, count)));
            host.setButtonCaption(button, restingCaption(button));
            host.setProgressPos(kLastScaleNumber);
            break;
        }
        uploaded.m_strFilter = QStringLiteral("pluNo=%1").arg(sale.number);
        if (!uploaded.Requery()) {
            showDatabaseError(host, uploaded.GetLastError());
            failed = true;
            break;
        }
        if (uploaded.IsEOF()) {
            host.messageBox(fmt(text::kPluNotFound, sale.number), MessageIcon::Warning);
            failed = true;
            break;
        }
        db::ReadSale row;
        row.pluNo = uploaded.m_pluNo;
        row.pluDesc = uploaded.m_pluDesc;
        row.when = SaleDateTime(sale);
        if (!row.when.isValid())
            ++undated;
        const bool byWeight = uploaded.m_sellFlag == 1;
        row.weight = byWeight ? int32_t(sale.value & 0xFFFFFF) : 0;
        row.totalPrice = byWeight ? 0 : int32_t(sale.value & 0xFFFFFF);
        row.unitPrice = uploaded.m_unitPrice;
        sales.add(std::move(row));
        ++count;
        host.setProgressPos(count);
        host.setStatusText(fmt(text::kRecStored, count));
        if (sale.number == kLastScaleNumber) {
            complete = true;
            host.setStatusText(withUndated(fmt(text::kRecFinished, count)));
            break;
        }
    }
    uploaded.Close();
    closePort(host);
    // What was read is stored, whole or not at all; a complete read of no
    // record still tells that the scale was cleared.
    if (count > 0 || complete) {
        if (sales.store(complete)) {
            if (sales.notWritten() > 0)
                host.messageBox(QString::fromUtf8(text::kCantUpdate), MessageIcon::Warning);
            host.salesStored(sales.newSales(), sales.knownSales(), sales.keyed());
        } else {
            showDatabaseError(host, sales.error());
            failed = true;
            count = 0;
        }
    }
    if (failed)
        host.setStatusText(withUndated(fmt(text::kRecFailed, count)));
    host.setCancelRequested(true);
    host.setButtonCaption(button, restingCaption(button));
}

} // namespace torvane::transmitter
