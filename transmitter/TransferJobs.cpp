#include "TransferJobs.h"

#include "DataSource.h"
#include "Recordsets.h"
#include "SerialDevices.h"

#include "CodePage.h"
#include "Db.h"
#include "SalesRead.h"
#include "ScalePort.h"
#include "ScaleProtocol.h"
#include "ScaleRecord.h"

#include <QFileInfo>
#include <QSysInfo>

#include <cerrno>
#include <cstring>
#include <map>
#include <optional>


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
// A port that opens but refuses the line format or the time-outs would only
// make the scale look silent: it is closed again and reported as a port that
// cannot be used, with the cause.
bool openPort(JobHost &host, JobButton button, JobOutcome &out)
{
    auto &port = host.port();
    const QString name = host.portName();
    QString hint;
    int32_t code = port.OpenForWindow(name, host.notifyTarget(), 0, 0, 0, 0);
    if (code != 0) {
        hint = openFailureHint(name, code);
    } else if ((code = port.SetLineFormat(57600, 8, NOPARITY, ONESTOPBIT)) != 0) {
        hint = QStringLiteral("\n\nA porta não aceitou 57600 baud, 8 bits, sem paridade, 1 bit de parada: %1.")
                   .arg(PortErrorText(code));
    } else if ((code = port.SetReadTimeouts(ReadTimed, 10)) != 0) {
        hint = QStringLiteral("\n\nA porta não aceitou os tempos de espera da transmissão: %1.")
                   .arg(PortErrorText(code));
    }
    if (code == 0)
        return true;
    // An open that failed half-way may leave the port open.
    port.ClosePort();
    host.messageBox(QString::fromUtf8(text::kOpenFailed).arg(name) + hint, MessageIcon::None);
    host.setButtonCaption(button, restingCaption(button));
    host.setCancelRequested(true);
    out.end = JobOutcome::End::PortNotOpened;
    out.wire = {WireStatus::PortError, code, 0};
    out.cause = hint.trimmed();
    return false;
}

void closePort(JobHost &host)
{
    host.port().ClosePort();
}

// A database error in the words the manager uses for the same cause (the
// engine layer holds them); "database is error !" only where nothing better
// is known, or where the tables of the record upload cannot be opened.
QString showDatabaseError(JobHost &host, const QString &error, bool tablesNotOpened = false)
{
    QString message = error;
    if (tablesNotOpened || error.isEmpty()) {
        message = QString::fromUtf8(text::kDatabaseError);
        if (!error.isEmpty())
            message += QStringLiteral("\n\n") + error;
    }
    host.messageBox(message, MessageIcon::Warning);
    return message;
}

JobOutcome databaseFailure(const QString &cause, int count = 0)
{
    JobOutcome out;
    out.end = JobOutcome::End::DatabaseError;
    out.count = count;
    out.cause = cause;
    return out;
}

// The exchange broke off.  A failure of the port itself (a device that went
// away, a write the line did not take) is told in a box, as a port that
// cannot be opened is; the scale's own silence only in the status line.
JobOutcome exchangeFailed(JobHost &host, const WireResult &wire, int count, int pluNo = -1)
{
    JobOutcome out;
    out.end = JobOutcome::End::NoAnswer;
    out.count = count;
    out.pluNo = pluNo;
    out.wire = wire;
    out.cause = WireCause(wire, host.portName());
    if (wire.status == WireStatus::PortError || wire.status == WireStatus::ShortWrite)
        host.messageBox(out.cause, MessageIcon::Warning);
    return out;
}

JobOutcome stopped(int count)
{
    JobOutcome out;
    out.end = JobOutcome::End::Stopped;
    out.count = count;
    return out;
}

QString readOnlyRefusal(JobKind kind)
{
    const QString sentence = db::engineErrorSentence(db::EngineError::ReadOnly);
    switch (kind) {
    case JobKind::Download:
        return sentence + QStringLiteral("\nNada foi enviado à balança: sem gravar no banco de dados não há como "
                                         "registrar o que ela recebeu.");
    case JobKind::ProductUpload:
        return sentence + QStringLiteral("\nOs produtos da balança não foram lidos.");
    case JobKind::RecordUpload:
        return sentence + QStringLiteral("\nAs vendas da balança não foram lidas.");
    }
    return sentence;
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

QString PortErrorText(int32_t code)
{
    static const struct {
        int32_t code;
        const char *what;
    } kKnown[] = {
        {SerialErrorTimeout, "o tempo de espera se esgotou"},
        {SerialErrorInvalidHandle, "a porta não está aberta"},
        {EIO, "o dispositivo deixou de responder (o cabo ou o adaptador foi desconectado?)"},
        {ENODEV, "o dispositivo não existe (o adaptador foi desconectado?)"},
        {ENOENT, "o dispositivo não existe (o adaptador foi desconectado?)"},
        {EINVAL, "a porta não aceita essa configuração"},
        {EBUSY, "a porta está em uso por outra transferência ou outro programa"},
        {ECONNREFUSED, "a conexão foi recusada (nada atende nessa porta TCP do endereço)"},
        {EHOSTUNREACH, "o endereço não pode ser alcançado na rede"},
        {ENETUNREACH, "o endereço não pode ser alcançado na rede"},
        {ETIMEDOUT, "o endereço não respondeu a tempo"},
        {ECONNRESET, "a conexão foi interrompida pelo outro lado"},
        {SerialErrorConnectionClosed, "o outro lado fechou a conexão"},
        {SerialErrorHostNotFound, "o nome não foi encontrado na rede"},
        {SerialErrorSettingsRefused, "o servidor serial não confirmou 57600 baud, 8 bits, sem paridade, 1 bit de "
                                     "parada, sem controle de fluxo"},
        {SerialErrorNoComPortOption, "o outro lado não fala RFC 2217 (para um servidor em modo TCP puro, use "
                                     "tcp://)"},
    };
    QString what = QString::fromLocal8Bit(std::strerror(code));
    for (const auto &k : kKnown)
        if (k.code == code)
            what = QString::fromUtf8(k.what);
    return QStringLiteral("%1 (erro %2)").arg(what).arg(code);
}

QString WireCause(const WireResult &wire, const QString &portName)
{
    switch (wire.status) {
    case WireStatus::Ok:
        return {};
    case WireStatus::PortError:
        return QStringLiteral("A comunicação pela porta %1 falhou: %2.").arg(portName, PortErrorText(wire.code));
    case WireStatus::ShortWrite:
        return QStringLiteral("A porta %1 enviou só %2 bytes e parou; verifique o cabo e o adaptador.")
            .arg(portName)
            .arg(wire.transferred);
    case WireStatus::NoAnswer:
        if (wire.transferred > 0)
            return QStringLiteral("A balança parou de enviar no meio de um registro (%1 bytes recebidos).")
                .arg(wire.transferred);
        return QStringLiteral("A balança não respondeu; verifique o cabo e se a balança está ligada.");
    case WireStatus::WrongAnswer:
        return QStringLiteral("A balança respondeu outra coisa em vez da resposta esperada.");
    case WireStatus::StrayBytes:
        return QStringLiteral("Chegaram da balança bytes que não são a resposta deste envio (uma resposta repetida "
                              "ou atrasada); ele não conta como recebido.");
    }
    return {};
}

bool BaseTakesWrites(JobKind kind, QString *refusal)
{
    CPLU rs;
    if (!rs.Open()) {
        if (refusal)
            *refusal = rs.GetLastError();
        return false;
    }
    if (rs.CanAppend())
        return true;
    if (refusal)
        *refusal = readOnlyRefusal(kind);
    return false;
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

JobOutcome RunPluDownload(JobHost &host)
{
    const JobButton button = JobButton::Transmit;
    auto finish = [&](const QString &status) {
        if (!status.isNull())
            host.setStatusText(status);
        host.setButtonCaption(button, restingCaption(button));
        host.setCancelRequested(true);
    };
    auto refused = [&](const QString &error) {
        const QString shown = showDatabaseError(host, error);
        finish(fmt(text::kDownloadFailed, 1));
        return databaseFailure(shown);
    };

    // The whole table is read before the port is opened: what the scale gets
    // is one state of it, even while the manager saves, and a base that
    // cannot be read, or written (it could not keep the scale's record),
    // never gets as far as the scale.
    QString error;
    std::vector<ScalePlu> products;
    const QString path = databasePath(&error);
    if (path.isEmpty() || !ReadPluTable(products, &error) || !BaseTakesWrites(JobKind::Download, &error))
        return refused(error);
    db::ScaleRecord record(path, ScaleRecordName(host), PortIdentity(host.portName()));
    if (!record.load())
        return refused(record.error());
    const bool wasTrusted = record.trusted();
    host.scaleRecordFound(record.available(), wasTrusted);
    // The host picks the products that go out (all of them for the window's
    // button), or only what changed since the scale's record.
    const size_t tableSize = products.size();
    const bool onlyChanges = host.sendsOnlyChanges();
    std::erase_if(products, [&](const ScalePlu &plu) {
        return !host.wantsProduct(plu) || (onlyChanges && !record.needsSending(plu.number, frameOf(plu)));
    });
    const int n = int(products.size());

    JobOutcome out;
    out.total = n;
    if (!openPort(host, button, out))
        return out; // nothing went out: the record stays as it was
    // What the scale holds is about to change: its record says so before
    // the first frame, and says what it acknowledged at the end.
    if (!record.markStarted()) {
        closePort(host);
        out = refused(record.error());
        out.total = n;
        return out;
    }
    host.port().PurgeBuffers();
    std::map<int, QByteArray> acknowledged;
    // A whole table, or every change since a trusted record, leaves the
    // record trusted; some slots only keep it as it was.
    const bool everyChange = size_t(n) == tableSize || (onlyChanges && wasTrusted);
    // Ends the job; out says how.  Once every product was acknowledged, a
    // record that cannot be written is the one failure left: the scale has
    // what it acknowledged, and the outcome says so with its count.
    auto end = [&](const QString &status) {
        const bool completed = out.done();
        if (!record.finish(acknowledged, completed && (everyChange || wasTrusted)) && completed) {
            showDatabaseError(host, QString::fromUtf8(text::kRecordNotKept) + QStringLiteral("\n\n")
                                        + record.error());
            out.end = JobOutcome::End::DatabaseError;
            out.cause = record.error();
        }
        finish(status);
        closePort(host);
        return out;
    };

    host.setProgressRange(n);
    if (n == 0) {
        // Nothing to send: the status keeps "Connecting......".
        return end(QString());
    }
    for (int i = 1; i <= n; ++i) {
        if (host.cancelRequested()) {
            // The press reset the bar; it shows again what was sent.
            host.setProgressPos(i - 1);
            out = stopped(i - 1);
            out.total = n;
            return end(fmt(text::kDownloadCancelled, i - 1));
        }
        const ScalePlu &plu = products[size_t(i - 1)];
        WireClock::time_point writeBegan;
        WireResult wire = SendPluFrame(host.port(), plu, &writeBegan);
        if (wire)
            wire = AwaitOkReply(host.port(), writeBegan);
        if (wire)
            acknowledged[plu.number] = frameOf(plu);
        host.productResult(plu, bool(wire));
        if (!wire) {
            out = exchangeFailed(host, wire, i - 1, plu.number);
            out.total = n;
            return end(fmt(text::kDownloadFailed, i));
        }
        host.setStatusText(fmt(text::kDownloadOk, i));
        host.setProgressPos(i);
    }
    out.count = n;
    return end(QString::fromUtf8(text::kDownloadDone));
}

// ---- product upload ---------------------------------------------------------

JobOutcome RunPluUpload(JobHost &host)
{
    const JobButton button = JobButton::UploadPlu;
    JobOutcome out;
    if (!openPort(host, button, out))
        return out;
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
        const QString shown = showDatabaseError(host, rs.GetLastError());
        end(fmt(text::kPluFailed, 0));
        return databaseFailure(shown);
    }
    if (!rs.CanAppend()) {
        // A read-only base is said in the operator's words after the
        // original text; a table that is a view keeps the original alone.
        QString refusal = QString::fromUtf8(text::kCantAppend);
        QString readOnly;
        if (!BaseTakesWrites(JobKind::ProductUpload, &readOnly))
            refusal += QStringLiteral("\n\n") + readOnly;
        host.messageBox(refusal, MessageIcon::Warning);
        rs.Close();
        end(fmt(text::kPluFailed, 0));
        return databaseFailure(refusal);
    }
    auto databaseError = [&](int count) {
        const QString err = rs.GetLastError();
        rs.Close(); // undoes the emptying and the rows of this run
        const QString shown = showDatabaseError(host, err);
        end(fmt(text::kPluFailed, count));
        return databaseFailure(shown, count);
    };
    if (!rs.BeginTrans(true) || !rs.Requery())
        return databaseError(0);
    while (!rs.IsEOF()) {
        if (!rs.Delete() || !rs.MoveNext())
            return databaseError(0);
    }

    WireResult wire = SendUploadRequest(host.port(), "UL");
    if (wire)
        wire = AwaitUploadHeader(host.port(), 0x57, 0xE5);
    if (!wire) {
        rs.Close();
        out = exchangeFailed(host, wire, 0);
        end(QString::fromUtf8(text::kNoHeader));
        return out;
    }

    // Keeps the slots of this run in place of the old rows.
    auto complete = [&] {
        if (!rs.CommitTrans())
            return false;
        rs.Close();
        return true;
    };

    int count = 0;
    for (;;) {
        if (host.cancelRequested()) {
            // The operator chose to stop: the slots read so far are kept,
            // as the status says.
            if (!complete())
                return databaseError(count);
            host.setProgressPos(count);
            end(fmt(text::kPluCancelled, count));
            return stopped(count);
        }
        ScalePlu plu;
        wire = ReadPluSlot(host.port(), plu);
        if (!wire)
            break;
        if (plu.number > kLastScaleNumber) {
            if (!complete())
                return databaseError(count);
            host.setStatusText(fmt(text::kPluFinished, count));
            host.setButtonCaption(button, restingCaption(button));
            host.setProgressPos(kLastScaleNumber);
            host.setCancelRequested(true);
            closePort(host);
            out.count = count;
            return out;
        }
        rs.AddNew();
        FillUploadedRow(plu, rs);
        if (!rs.Update()) {
            if (rs.HasError())
                return databaseError(count);
            host.messageBox(QString::fromUtf8(text::kCantUpdate), MessageIcon::Warning);
        }
        host.slotRead(plu);
        ++count;
        host.setProgressPos(count);
        host.setStatusText(fmt(text::kPluStored, count));
        if (plu.number == kLastScaleNumber) {
            if (!complete())
                return databaseError(count);
            end(fmt(text::kPluFinished, count));
            out.count = count;
            return out;
        }
    }
    rs.Close();
    out = exchangeFailed(host, wire, count);
    end(fmt(text::kPluFailed, count));
    return out;
}

// ---- sales-record upload ----------------------------------------------------

JobOutcome RunRecordUpload(JobHost &host)
{
    const JobButton button = JobButton::UploadRecord;
    auto refused = [&](const QString &shown) {
        host.setButtonCaption(button, restingCaption(button));
        host.setCancelRequested(true);
        return databaseFailure(shown);
    };
    QString error;
    const QString path = databasePath(&error);
    // Every path that reads sales stores them through this one place.
    db::SalesRead sales(path, ScaleRecordName(host), PortIdentity(host.portName()));
    CPLU_UPLOADED uploaded;
    if (path.isEmpty() || !sales.open() || !uploaded.Open()) {
        const QString err = path.isEmpty() ? error : !sales.error().isEmpty() ? sales.error() : uploaded.GetLastError();
        const QString shown = showDatabaseError(host, err, true);
        uploaded.Close();
        return refused(shown);
    }
    // Sales the base cannot keep are not asked for: the scale streams its
    // records without waiting, and each would be lost on the way.
    if (QString refusal; !BaseTakesWrites(JobKind::RecordUpload, &refusal)) {
        host.messageBox(refusal, MessageIcon::Warning);
        return refused(refusal);
    }
    JobOutcome out;
    if (!openPort(host, button, out))
        return out; // the tables close as they go out of scope
    host.setProgressRange(kLastScaleNumber);

    WireResult wire = SendUploadRequest(host.port(), "UR");
    if (wire)
        wire = AwaitUploadHeader(host.port(), 0x17, 0x71);
    if (!wire) {
        out = exchangeFailed(host, wire, 0);
        host.setStatusText(QString::fromUtf8(text::kNoHeader));
        host.setButtonCaption(button, restingCaption(button));
        host.setCancelRequested(true);
        closePort(host);
        uploaded.Close();
        return out;
    }

    int count = 0;
    int undated = 0;
    auto withUndated = [&](QString status) {
        if (undated > 0)
            status += QString::fromUtf8(text::kRecNoDate).arg(undated);
        return status;
    };
    // How the loop ended when it did not reach the scale's end.
    std::optional<JobOutcome> failed;
    for (;;) {
        if (host.cancelRequested()) {
            host.setProgressPos(count);
            host.setStatusText(withUndated(fmt(text::kRecCancelled, count)));
            out = stopped(count);
            break;
        }
        ScaleSale sale;
        if (const WireResult read = ReadSaleRecord(host.port(), sale); !read) {
            failed = exchangeFailed(host, read, count);
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
            failed = databaseFailure(showDatabaseError(host, uploaded.GetLastError()), count);
            break;
        }
        if (uploaded.IsEOF()) {
            host.messageBox(fmt(text::kPluNotFound, sale.number), MessageIcon::Warning);
            failed = databaseFailure(fmt(text::kSaleProductNotRead, sale.number), count);
            failed->pluNo = sale.number;
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
            host.setStatusText(withUndated(fmt(text::kRecFinished, count)));
            break;
        }
    }
    uploaded.Close();
    closePort(host);
    // What was read is stored, whole or not at all, also when the read failed
    // or was stopped; a complete read of no record still tells that the
    // scale was cleared.
    const bool complete = !failed && out.done();
    int newSales = -1;
    int knownSales = -1;
    if (count > 0 || complete) {
        if (sales.store(complete)) {
            if (sales.notWritten() > 0)
                host.messageBox(QString::fromUtf8(text::kCantUpdate), MessageIcon::Warning);
            newSales = sales.newSales();
            knownSales = sales.knownSales();
        } else {
            // Nothing of this read was kept (another read holding the store
            // past the lock's time-out is one such error): its sales stay on
            // the scale for the next read.
            failed = databaseFailure(showDatabaseError(host, sales.error()), 0);
            count = 0;
        }
    }
    if (failed) {
        host.setStatusText(withUndated(fmt(text::kRecFailed, count)));
        host.setButtonCaption(button, restingCaption(button));
        out = *failed;
    } else if (out.done()) {
        out.count = count;
    }
    out.newSales = newSales;
    out.knownSales = knownSales;
    out.salesKeyed = sales.keyed();
    host.setCancelRequested(true);
    host.setButtonCaption(button, restingCaption(button));
    return out;
}

} // namespace torvane::transmitter
