#include "TransferJobs.h"

#include "Recordsets.h"
#include "SerialDevices.h"

#include "CodePage.h"
#include "ScalePort.h"
#include "ScaleProtocol.h"


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
    auto &port = theScalePort;
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

void closePort()
{
    theScalePort.ClosePort();
}

void showDatabaseError(JobHost &host, const QString &error)
{
    QString message = QString::fromUtf8(text::kDatabaseError);
    if (!error.isEmpty())
        message += QStringLiteral("\n\n") + error;
    host.messageBox(message, MessageIcon::Warning);
}

} // namespace

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
    theScalePort.PurgeBuffers();

    auto finish = [&](const QString &status) {
        if (!status.isNull())
            host.setStatusText(status);
        host.setButtonCaption(button, restingCaption(button));
        host.setCancelRequested(true);
    };

    QString error;
    const int n = CountPluRows(&error);
    if (n < 0) {
        showDatabaseError(host, error);
        finish(fmt(text::kDownloadFailed, 1));
        closePort();
        return;
    }
    host.setProgressRange(n);

    CPLU rs;
    if (!rs.Open()) {
        showDatabaseError(host, rs.GetLastError());
        finish(fmt(text::kDownloadFailed, 1));
        closePort();
        return;
    }
    if (rs.IsEOF()) {
        // Nothing to send: the status keeps "Connecting......".
        finish(QString());
        rs.Close();
        closePort();
        return;
    }
    if (!rs.MoveFirst()) {
        showDatabaseError(host, rs.GetLastError());
        finish(fmt(text::kDownloadFailed, 1));
        closePort();
        return;
    }
    for (int i = 1;; ++i) {
        if (host.cancelRequested()) {
            rs.Close();
            finish(fmt(text::kDownloadCancelled, i - 1));
            break;
        }
        ScalePlu plu;
        FillScalePlu(rs, plu);
        SendPluFrame(theScalePort, plu);
        if (!AwaitOkReply(theScalePort)) {
            rs.Close();
            finish(fmt(text::kDownloadFailed, i));
            break;
        }
        host.setStatusText(fmt(text::kDownloadOk, i));
        host.setProgressPos(i);
        if (!rs.MoveNext()) {
            const QString err = rs.GetLastError();
            rs.Close();
            showDatabaseError(host, err);
            finish(fmt(text::kDownloadFailed, i + 1));
            break;
        }
        if (rs.IsEOF()) {
            finish(QString::fromUtf8(text::kDownloadDone));
            rs.Close();
            break;
        }
    }
    closePort();
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
        closePort();
    };

    SendUploadRequest(theScalePort, "UL");
    if (!AwaitUploadHeader(theScalePort, 0x57, 0xE5)) {
        end(QString::fromUtf8(text::kNoHeader));
        return;
    }

    CPLU_UPLOADED rs;
    if (!rs.Open()) {
        showDatabaseError(host, rs.GetLastError());
        end(fmt(text::kPluFailed, 0));
        return;
    }
    // Checked before the old rows go: a table that cannot take the new ones
    // keeps what it has.
    if (!rs.CanAppend()) {
        host.messageBox(QString::fromUtf8(text::kCantAppend), MessageIcon::Warning);
        rs.Close();
        end(fmt(text::kPluFailed, 0));
        return;
    }
    while (!rs.IsEOF()) {
        if (!rs.Delete() || !rs.MoveNext()) {
            const QString err = rs.GetLastError();
            rs.Close();
            showDatabaseError(host, err);
            end(fmt(text::kPluFailed, 0));
            return;
        }
    }

    int count = 0;
    for (;;) {
        if (host.cancelRequested()) {
            rs.Close();
            end(fmt(text::kPluCancelled, count));
            return;
        }
        ScalePlu plu;
        if (!ReadPluSlot(theScalePort, plu))
            break;
        if (plu.number > kLastScaleNumber) {
            rs.Close();
            host.setStatusText(fmt(text::kPluFinished, count));
            host.setButtonCaption(button, restingCaption(button));
            host.setProgressPos(kLastScaleNumber);
            host.setCancelRequested(true);
            closePort();
            return;
        }
        if (!rs.CanAppend()) {
            host.messageBox(QString::fromUtf8(text::kCantAppend), MessageIcon::Warning);
            break;
        }
        rs.AddNew();
        FillUploadedRow(plu, rs);
        if (!rs.Update()) {
            if (rs.HasError()) {
                showDatabaseError(host, rs.GetLastError());
                break;
            }
            host.messageBox(QString::fromUtf8(text::kCantUpdate), MessageIcon::Warning);
        }
        ++count;
        host.setProgressPos(count);
        host.setStatusText(fmt(text::kPluStored, count));
        if (plu.number == kLastScaleNumber) {
            rs.Close();
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
    CRECORD rec;
    CPLU_UPLOADED uploaded;
    if (!rec.Open() || !uploaded.Open()) {
        const QString err = rec.HasError() ? rec.GetLastError() : uploaded.GetLastError();
        showDatabaseError(host, err);
        host.setButtonCaption(button, restingCaption(button));
        host.setCancelRequested(true);
        rec.Close();
        uploaded.Close();
        return;
    }
    if (!openPort(host, button))
        return; // the recordsets close as they go out of scope
    host.setProgressRange(kLastScaleNumber);

    SendUploadRequest(theScalePort, "UR");
    if (!AwaitUploadHeader(theScalePort, 0x17, 0x71)) {
        host.setStatusText(QString::fromUtf8(text::kNoHeader));
        host.setButtonCaption(button, restingCaption(button));
        host.setCancelRequested(true);
        closePort();
        rec.Close();
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
    for (;;) {
        if (host.cancelRequested()) {
            host.setStatusText(withUndated(fmt(text::kRecCancelled, count)));
            break;
        }
        ScaleSale sale;
        if (!ReadSaleRecord(theScalePort, sale)) {
            failed = true;
            break;
        }
        if (sale.number > kLastScaleNumber) {
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
        rec.AddNew();
        rec.m_pluNo = uploaded.m_pluNo;
        rec.m_pluDesc = uploaded.m_pluDesc;
        rec.m_dateTime = SaleDateTime(sale);
        if (!rec.m_dateTime.isValid())
            ++undated;
        const bool byWeight = uploaded.m_sellFlag == 1;
        rec.m_weight = byWeight ? int32_t(sale.value & 0xFFFFFF) : 0;
        rec.m_totalPrice = byWeight ? 0 : int32_t(sale.value & 0xFFFFFF);
        if (!rec.Update()) {
            if (rec.HasError()) {
                showDatabaseError(host, rec.GetLastError());
                failed = true;
                break;
            }
            host.messageBox(QString::fromUtf8(text::kCantUpdate), MessageIcon::Warning);
        }
        ++count;
        host.setProgressPos(count);
        host.setStatusText(fmt(text::kRecStored, count));
        if (sale.number == kLastScaleNumber) {
            host.setStatusText(withUndated(fmt(text::kRecFinished, count)));
            break;
        }
    }
    if (failed) {
        host.setStatusText(withUndated(fmt(text::kRecFailed, count)));
        host.setButtonCaption(button, restingCaption(button));
        host.setCancelRequested(true);
    }
    rec.Close();
    uploaded.Close();
    closePort();
    host.setCancelRequested(true);
    host.setButtonCaption(button, restingCaption(button));
}

} // namespace torvane::transmitter
