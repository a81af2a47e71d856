#pragma once
// The three transfer jobs: every PLU row to the scale, the scale's products
// into PLU_UPLOADED, and the scale's sales records into RECORD.
//
// Each runs on a worker thread against the process-wide port object and
// reports through a JobHost.  Every path ends in order: the port is closed,
// the button's resting caption is back and the cancel flag is raised.
// A cancel request is honoured between two products, slots or records.
//
// Each returns how it ended (JobOutcome): whoever started it decides from
// that, never from the texts the job showed.  A job that must write the base
// refuses a read-only one before it asks the scale anything.

#include "JobHost.h"
#include "ScaleProtocol.h"

#include <QDateTime>
#include <QString>

#include <vector>

struct ScalePlu;
struct ScaleSale;

namespace torvane::transmitter {

class CPLU;
class CPLU_UPLOADED;

// How a job ended.
struct JobOutcome {
    enum class End {
        Done,          // every product acknowledged (or none to send) / the scale's list read to its end
        PortNotOpened, // the port could not be opened or would not take the line settings
        NoAnswer,      // the exchange broke off: the scale fell silent, answered wrongly or out
                       // of turn, or the port failed on the way (wire says which)
        Stopped,       // the operator (or a signal) stopped it between two items
        DatabaseError, // the base could not be read or written, or refused as read-only
    };
    End end = End::Done;
    int count = 0;    // download: products acknowledged; uploads: slots / records stored
    int total = 0;    // download: products chosen to go out
    int pluNo = -1;   // download: the product not acknowledged; sales: a sale's PLU missing from PLU_UPLOADED
    WireResult wire;  // what the line said when the exchange broke off (or the port would not open)
    QString cause;    // what went wrong, in the operator's words (empty when done)
    // Sales: of the records stored, how many were new sales and how many had
    // been read before (both -1 when nothing was stored); salesKeyed false
    // when the base cannot tell them apart yet (not upgraded), every record
    // then being stored again.
    int newSales = -1;
    int knownSales = -1;
    bool salesKeyed = true;

    bool done() const { return end == End::Done; }
    // Download: every product chosen reached the scale and was acknowledged,
    // also when the record of what it received could not be kept afterwards
    // (a database error with count == total).
    bool everyProductAcknowledged() const
    {
        return done() || (end == End::DatabaseError && total > 0 && count == total);
    }
};

JobOutcome RunPluDownload(JobHost &host);
JobOutcome RunPluUpload(JobHost &host);
JobOutcome RunRecordUpload(JobHost &host);

// The jobs that write the base (the download keeps the scale's record).
enum class JobKind { Download, ProductUpload, RecordUpload };
// Whether the base can take the job's writes; false with *refusal set to the
// operator's text (the same for the window and torvane-transfer) when the
// base is read-only, or with *refusal set to the engine's error when it
// cannot be opened.
bool BaseTakesWrites(JobKind kind, QString *refusal);

// What went wrong on the line, in the operator's words.
QString WireCause(const WireResult &wire, const QString &portName);
// A serial-layer error code in the operator's words, with the code.
QString PortErrorText(int32_t code);

// Number of PLU rows, counted through a recordset of its own; -1 with
// *error set when the table cannot be read.
int CountPluRows(QString *error);

// Every PLU row, in table order, as product images: one state of the table,
// read inside one read transaction before anything is sent, so a change the
// manager commits during a download reaches the scale whole or not at all.
// False with *error set when the table cannot be read.
bool ReadPluTable(std::vector<ScalePlu> &products, QString *error);

// What names a port across the shop's PCs: this PC's host name and the
// device the port name leads to, links followed ("caixa1:/dev/ttyUSB0").
// The same scale is reached through one identity by its COMn name, its
// device path or a by-id link.
QString PortIdentity(const QString &portName);
// The name a host's scale keeps its records under (JobHost::scaleName).
QString ScaleRecordName(const JobHost &host);

// One PLU row into a product image (the image is cleared first).
void FillScalePlu(const CPLU &row, ScalePlu &plu);
// One product image into the PLU_UPLOADED row being added.
void FillUploadedRow(const ScalePlu &plu, CPLU_UPLOADED &row);
// The local date and time of a sales record; invalid when a field is out of
// range (month 1-12, day 1-31 with a day past the month's end rolling into
// the next month, hour 0-23, minute and second 0-59).
QDateTime SaleDateTime(const ScaleSale &sale);

// Texts the jobs show, kept together.
namespace text {
inline constexpr const char *kConnecting = "Connecting......";
inline constexpr const char *kOpenFailed = "Não é possível abrir a %1";
inline constexpr const char *kDownloadFailed = "download NO. %1 PLU failed !";
inline constexpr const char *kDownloadOk = "download NO. %1 PLU successful !";
inline constexpr const char *kDownloadDone = "Transmissão efetuada com sucesso!";
inline constexpr const char *kDownloadCancelled = "download cancelled, %1 PLU sent !";
inline constexpr const char *kNoHeader = "Fail to connect to the scale! Please check the cable!";
inline constexpr const char *kPluFinished = "upload PLU finished, total %1 !";
inline constexpr const char *kPluStored = "upload PLU successed in No. %1 !";
inline constexpr const char *kPluFailed = "upload PLU failed in No. %1 !";
inline constexpr const char *kPluCancelled = "upload PLU cancelled, total %1 !";
inline constexpr const char *kRecFinished = "upload REC finished, total %1 !";
inline constexpr const char *kRecStored = "upload REC successed in No. %1 !";
inline constexpr const char *kRecFailed = "upload Rec failed in No. %1 !";
inline constexpr const char *kRecCancelled = "upload REC cancelled, total %1 !";
inline constexpr const char *kRecNoDate = " (%1 without date)";
inline constexpr const char *kCantAppend = "can't append!";
inline constexpr const char *kCantUpdate = "can't update rec!";
inline constexpr const char *kDatabaseError = "database is error !";
inline constexpr const char *kPluNotFound = "Can't find the PLU information, PLU NO = %1 !";
// The cause of a sales read that met a sale of a product not among the
// scale's products read into PLU_UPLOADED (none read yet, on a new
// install): the box keeps the transmitter's own text, the outcome says what
// to do, for the windows and torvane-transfer alike.
inline constexpr const char *kSaleProductNotRead =
    "A balança vendeu o PLU %1, que não está entre os produtos lidos dela: leia primeiro os produtos da balança "
    "e depois as vendas de novo.";
inline constexpr const char *kRecordNotKept =
    "Os produtos foram enviados, mas o registro do que a balança recebeu não pôde ser gravado no banco de "
    "dados; o próximo envio só das diferenças enviará todos os produtos.";
} // namespace text

} // namespace torvane::transmitter
