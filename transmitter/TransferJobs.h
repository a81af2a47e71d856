#pragma once
// The three transfer jobs: every PLU row to the scale, the scale's products
// into PLU_UPLOADED, and the scale's sales records into RECORD.
//
// Each runs on a worker thread against the process-wide port object and
// reports through a JobHost.  Every path ends in order: the port is closed,
// the button's resting caption is back and the cancel flag is raised.
// A cancel request is honoured between two products, slots or records.

#include "JobHost.h"

#include <QDateTime>
#include <QString>

#include <vector>

struct ScalePlu;
struct ScaleSale;

namespace torvane::transmitter {

class CPLU;
class CPLU_UPLOADED;

void RunPluDownload(JobHost &host);
void RunPluUpload(JobHost &host);
void RunRecordUpload(JobHost &host);

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
inline constexpr const char *kRecordNotKept =
    "Os produtos foram enviados, mas o registro do que a balança recebeu não pôde ser gravado no banco de "
    "dados; o próximo envio só das diferenças enviará todos os produtos.";
} // namespace text

} // namespace torvane::transmitter
