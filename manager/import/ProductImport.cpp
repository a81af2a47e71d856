#include "ProductImport.h"

#include "CodePage.h"

#include "Unitutil.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>

#include <array>
#include <limits>
#include <set>

namespace torvane::manager {

namespace {

constexpr qsizetype kChunkBytes = 64 * 1024;
// Enough bytes for kHeadChars characters of UTF-8.
constexpr qsizetype kHeadBytes = ImportLineReader::kHeadChars * 4;

constexpr int kMinLength = 36;
constexpr int kShelfLifeLength = 39;

bool isControlByte(unsigned char c)
{
    // Tab, line ends, form feed and the old end-of-file mark occur in text.
    return c < 0x20 && c != '\t' && c != '\n' && c != '\r' && c != '\f' && c != 0x1A;
}

bool hasControlChar(const QString &s)
{
    for (QChar c : s)
        if (c.unicode() < 0x20)
            return true;
    return false;
}

// The number check of a field.  Control characters are never part of a
// number, whatever the conversion routine would make of them.
bool isNumberField(const QString &s)
{
    return !hasControlChar(s) && IsNumeric(s);
}

} // namespace

QString importSizeMessage(qint64 line)
{
    return QStringLiteral("Tamanho do registro inválido na linha: ") + QString::number(line);
}

QString importCodeMessage(qint64 line)
{
    return QStringLiteral("Código inválido na linha: ") + QString::number(line);
}

QString importPriceMessage(qint64 line)
{
    return QStringLiteral("Preço inválido na linha: ") + QString::number(line);
}

QString importCapacityMessage(const QString &code)
{
    return QStringLiteral("Estourou a capacidade de produtos. Código: ") + code;
}

ImportFailure::ImportFailure(const QString &text) : std::runtime_error(text.toStdString()), m_text(text) {}

QString decodeCp1252(const char *data, qsizetype size)
{
    return scalelink::StringFromAnsi(data, static_cast<std::size_t>(size));
}

// ---- Line reader -----------------------------------------------------------

struct ImportLineReader::Impl {
    QIODevice *device;
    ImportEncoding encoding;
    QByteArray chunk;
    qsizetype pos = 0;
    bool eof = false;
    bool afterCr = false;   // the last line ended in CR: a following LF belongs to it
    bool bomChecked = false;
    QString error;

    bool fill()
    {
        if (eof)
            return false;
        chunk.resize(kChunkBytes);
        const qint64 n = device->read(chunk.data(), kChunkBytes);
        if (n < 0) {
            error = device->errorString();
            eof = true;
            chunk.clear();
            return false;
        }
        chunk.resize(n);
        pos = 0;
        if (n == 0) {
            eof = true;
            return false;
        }
        if (!bomChecked) {
            bomChecked = true;
            if (encoding == ImportEncoding::Utf8 && chunk.startsWith("\xEF\xBB\xBF"))
                pos = 3;
        }
        return true;
    }
};

ImportLineReader::ImportLineReader(QIODevice *device, ImportEncoding encoding) : d(new Impl)
{
    d->device = device;
    d->encoding = encoding;
}

ImportLineReader::~ImportLineReader() = default;

QString ImportLineReader::error() const
{
    return d->error;
}

bool ImportLineReader::next(QString *head, qint64 *length)
{
    QByteArray raw;
    qint64 count = 0;
    bool started = false;
    const bool utf8 = d->encoding == ImportEncoding::Utf8;
    for (;;) {
        if (d->pos >= d->chunk.size() && !d->fill())
            break;
        const char *p = d->chunk.constData();
        const qsizetype n = d->chunk.size();
        if (d->afterCr) {
            d->afterCr = false;
            if (p[d->pos] == '\n') {
                ++d->pos;
                continue;
            }
        }
        qsizetype i = d->pos;
        while (i < n && p[i] != '\n' && p[i] != '\r')
            ++i;
        // Bytes d->pos .. i belong to the line.
        if (i > d->pos) {
            started = true;
            const qsizetype take = std::min<qsizetype>(i - d->pos, kHeadBytes - raw.size());
            if (take > 0)
                raw.append(p + d->pos, take);
            if (utf8) {
                for (qsizetype k = d->pos; k < i; ++k)
                    if ((static_cast<unsigned char>(p[k]) & 0xC0) != 0x80)
                        ++count;
            } else {
                count += i - d->pos;
            }
        }
        if (i < n) {
            d->afterCr = p[i] == '\r';
            d->pos = i + 1;
            started = true;
            break;
        }
        d->pos = i;
    }
    if (!started)
        return false;
    QString text = utf8 ? QString::fromUtf8(raw) : decodeCp1252(raw.constData(), raw.size());
    if (text.size() > kHeadChars)
        text.truncate(kHeadChars);
    *head = text;
    *length = count;
    return true;
}

// ---- One line --------------------------------------------------------------

LineCheck checkImportLine(const QString &head, qint64 length, ImportFields *fields)
{
    if (length < kMinLength)
        return LineCheck::TooShort;
    const QString code6 = head.mid(0, 6);
    if (!isNumberField(code6))
        return LineCheck::BadCode;
    if (!isNumberField(head.mid(29, 7)))
        return LineCheck::BadPrice;
    if (fields) {
        fields->code6 = code6;
        fields->saleType = head.size() > 6 ? head.at(6) : QChar(u' ');
        fields->description = head.mid(7, 22);
        // A NUL would end the description on the scale's label and in every
        // C string on the way; it stands for nothing but padding.
        fields->description.replace(QChar(0), QLatin1Char(' '));
        fields->price = head.mid(30, 6);
        fields->shelfLife = QString();
        if (length == kShelfLifeLength) {
            const QString days = head.mid(36, 3);
            if (isNumberField(days))
                fields->shelfLife = days;
        }
    }
    return LineCheck::Usable;
}

QString cutImportCode(const QString &code6, int codeSize)
{
    if (codeSize == 6)
        return code6;
    if (codeSize == 5)
        return code6.mid(1);
    return code6.mid(2);
}

qint64 importInteger(const QString &text)
{
    qsizetype i = 0;
    qsizetype n = text.size();
    while (i < n && text.at(i) == QLatin1Char(' '))
        ++i;
    while (n > i && text.at(n - 1) == QLatin1Char(' '))
        --n;
    bool negative = false;
    if (i < n && (text.at(i) == QLatin1Char('+') || text.at(i) == QLatin1Char('-'))) {
        negative = text.at(i) == QLatin1Char('-');
        ++i;
    }
    qint64 value = 0;
    bool ok = i < n;
    for (; ok && i < n; ++i) {
        const QChar c = text.at(i);
        if (c < QLatin1Char('0') || c > QLatin1Char('9')) {
            ok = false;
            break;
        }
        value = value * 10 + (c.unicode() - '0');
        if (value > qint64(std::numeric_limits<qint32>::max()) + 1)
            ok = false;
    }
    if (ok && !negative && value > std::numeric_limits<qint32>::max())
        ok = false;
    if (!ok)
        throw ImportFailure(QStringLiteral("'%1' não é um valor inteiro válido.").arg(text));
    return negative ? -value : value;
}

ImportedProduct makeImportedProduct(const ImportFields &fields, int codeSize)
{
    ImportedProduct p;
    p.code = cutImportCode(fields.code6, codeSize);
    p.codigo = importInteger(p.code);
    p.sellFlag = fields.saleType.toUpper() == QLatin1Char('U') ? 2 : 1;
    p.description = fields.description;
    p.unitPrice = importInteger(fields.price);
    // The price in hundredths divided by 100 gives the double nearest the
    // decimal price (12.99, not 12.990000000000002).
    p.preco = double(p.unitPrice) / 100.0;
    if (!fields.shelfLife.isNull())
        p.validDays = importInteger(fields.shelfLife);
    return p;
}

// ---- Survey ----------------------------------------------------------------

bool surveyImportFile(const QString &path, ImportSurvey *survey, QString *error)
{
    *survey = ImportSurvey();
    QFile file(path);
    const QFileInfo info(path);
    if (info.isDir() || !file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("Não foi possível abrir o arquivo %1: %2.")
                     .arg(QDir::toNativeSeparators(path),
                          info.isDir() ? QStringLiteral("é uma pasta") : file.errorString());
        return false;
    }

    // Byte statistics, in one pass of their own: control bytes and whether
    // the file is valid UTF-8 with letters beyond ASCII.
    bool bom = false;
    bool utf8Valid = true;
    bool utf8Multibyte = false;
    int pending = 0;
    qint64 controls = 0;
    {
        QByteArray chunk(kChunkBytes, Qt::Uninitialized);
        bool first = true;
        for (;;) {
            const qint64 n = file.read(chunk.data(), kChunkBytes);
            if (n < 0) {
                *error = QStringLiteral("Não foi possível ler o arquivo %1: %2.")
                             .arg(QDir::toNativeSeparators(path), file.errorString());
                return false;
            }
            if (n == 0)
                break;
            const auto *p = reinterpret_cast<const unsigned char *>(chunk.constData());
            qint64 k = 0;
            if (first) {
                first = false;
                if (n >= 3 && p[0] == 0xEF && p[1] == 0xBB && p[2] == 0xBF) {
                    bom = true;
                    k = 3;
                }
            }
            for (; k < n; ++k) {
                const unsigned char c = p[k];
                if (isControlByte(c))
                    ++controls;
                if (!utf8Valid)
                    continue;
                if (pending > 0) {
                    if ((c & 0xC0) != 0x80)
                        utf8Valid = false;
                    --pending;
                } else if (c >= 0x80) {
                    utf8Multibyte = true;
                    if (c >= 0xC2 && c <= 0xDF)
                        pending = 1;
                    else if (c >= 0xE0 && c <= 0xEF)
                        pending = 2;
                    else if (c >= 0xF0 && c <= 0xF4)
                        pending = 3;
                    else
                        utf8Valid = false;
                }
            }
        }
    }
    if (pending > 0)
        utf8Valid = false;

    survey->byteOrderMark = bom;
    survey->controlBytes = controls;
    survey->encoding =
        (bom || (utf8Valid && utf8Multibyte)) ? ImportEncoding::Utf8 : ImportEncoding::Cp1252;

    if (!file.seek(0)) {
        *error = QStringLiteral("Não foi possível ler o arquivo %1: %2.")
                     .arg(QDir::toNativeSeparators(path), file.errorString());
        return false;
    }
    ImportLineReader reader(&file, survey->encoding);
    QString head;
    qint64 length = 0;
    while (reader.next(&head, &length)) {
        ++survey->lines;
        if (checkImportLine(head, length) == LineCheck::Usable)
            ++survey->usableLines;
    }
    if (!reader.error().isEmpty()) {
        *error = QStringLiteral("Não foi possível ler o arquivo %1: %2.")
                     .arg(QDir::toNativeSeparators(path), reader.error());
        return false;
    }
    return true;
}

// ---- Log -------------------------------------------------------------------

ImportLog::ImportLog(QString path) : m_path(std::move(path)) {}

ImportLog::~ImportLog()
{
    close();
}

void ImportLog::remove()
{
    close();
    QFile::remove(m_path);
}

void ImportLog::close()
{
    if (m_file) {
        m_file->close();
        m_file.reset();
    }
}

void ImportLog::WriteLog(const QString &message)
{
    if (!m_file) {
        auto file = std::make_unique<QFile>(m_path);
        if (!file->open(QIODevice::ReadWrite)) {
            throw ImportFailure(QStringLiteral("Não foi possível gravar o arquivo %1: %2.")
                                    .arg(QDir::toNativeSeparators(m_path), file->errorString()));
        }
        // An old log that could not be deleted is kept and continued; its
        // last line gets its line end first.
        const qint64 size = file->size();
        bool ok = file->seek(size);
        if (ok && size > 0) {
            char last = 0;
            ok = file->seek(size - 1) && file->getChar(&last);
            if (ok && last != '\n' && last != '\r')
                ok = file->write("\n", 1) == 1;
        }
        if (!ok) {
            throw ImportFailure(QStringLiteral("Não foi possível gravar o arquivo %1: %2.")
                                    .arg(QDir::toNativeSeparators(m_path), file->errorString()));
        }
        m_file = std::move(file);
    }
    const QByteArray line = message.toLatin1() + '\n';
    if (m_file->write(line) != line.size() || !m_file->flush()) {
        const QString reason = m_file->errorString();
        close();
        throw ImportFailure(QStringLiteral("Não foi possível gravar o arquivo %1: %2.")
                                .arg(QDir::toNativeSeparators(m_path), reason));
    }
    ++m_messages;
}

namespace {

bool logFitsIn(const QString &dir)
{
    if (dir.isEmpty())
        return false;
    const QFileInfo d(dir);
    if (!d.isDir() || !d.isWritable())
        return false;
    const QFileInfo log(QDir(dir).filePath(QLatin1String(ImportLog::kFileName)));
    return !log.exists() || (log.isFile() && log.isWritable());
}

} // namespace

QString ImportLog::chooseDirectory(const QString &programDir, const QString &databaseDir)
{
    if (logFitsIn(programDir))
        return programDir;
    if (logFitsIn(databaseDir))
        return databaseDir;
    return QString();
}

// ---- The run ---------------------------------------------------------------

namespace {

// Where each code sits, kept in step with the rows the import writes, so a
// line finds its row without walking the list.  Rows are positions in the
// list's current order; "first" means the lowest position.
class RowIndex {
public:
    void load(ImportTable &table)
    {
        m_byCode.clear();
        const int rows = table.rowCount();
        for (int r = 0; r < rows; ++r) {
            const std::optional<qint64> code = table.codigoAt(r);
            m_code.push_back(code);
            if (code)
                m_byCode[*code].insert(r);
        }
    }

    // The row carrying the code, else the first free one; -1 when neither.
    int find(qint64 code) const
    {
        auto it = m_byCode.constFind(code);
        if (it != m_byCode.constEnd() && !it->empty())
            return *it->begin();
        it = m_byCode.constFind(0);
        if (it != m_byCode.constEnd() && !it->empty())
            return *it->begin();
        return -1;
    }

    void written(int row, qint64 code)
    {
        if (m_code[row])
            m_byCode[*m_code[row]].erase(row);
        m_code[row] = code;
        m_byCode[code].insert(row);
    }

private:
    std::vector<std::optional<qint64>> m_code;
    QHash<qint64, std::set<int>> m_byCode;
};

} // namespace

ProductImport::ProductImport(ImportTable &table, ImportLog &log, ImportProgress *progress)
    : m_table(table), m_log(log), m_progress(progress)
{
}

ImportOutcome ProductImport::run(const QString &path, const ImportSurvey &survey, bool clearFirst)
{
    ImportOutcome outcome;
    bool progressShown = false;
    try {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly)) {
            throw ImportFailure(QStringLiteral("Não foi possível abrir o arquivo %1: %2.")
                                    .arg(QDir::toNativeSeparators(path), file.errorString()));
        }
        if (clearFirst)
            m_table.clearAllRows();
        m_table.markAllRows();

        if (m_progress) {
            m_progress->start(survey.lines);
            progressShown = true;
        }
        m_log.remove();

        RowIndex index;
        index.load(m_table);

        ImportLineReader reader(&file, survey.encoding);
        QString head;
        qint64 length = 0;
        ImportFields fields;
        for (qint64 i = 0; reader.next(&head, &length); ++i) {
            ++outcome.lines;
            if (m_progress)
                m_progress->step();
            QString message;
            switch (checkImportLine(head, length, &fields)) {
            case LineCheck::TooShort:
                message = importSizeMessage(i);
                break;
            case LineCheck::BadCode:
                message = importCodeMessage(i);
                break;
            case LineCheck::BadPrice:
                message = importPriceMessage(i);
                break;
            case LineCheck::Usable: {
                const ImportedProduct product = makeImportedProduct(fields, m_table.codeSize());
                const int row = index.find(product.codigo);
                if (row < 0) {
                    message = importCapacityMessage(product.code);
                    break;
                }
                m_table.writeRow(row, product);
                index.written(row, product.codigo);
                ++outcome.written;
                break;
            }
            }
            if (!message.isEmpty()) {
                m_log.WriteLog(message);
                ++outcome.rejected;
            }
        }
        if (!reader.error().isEmpty()) {
            throw ImportFailure(QStringLiteral("Não foi possível ler o arquivo %1: %2.")
                                    .arg(QDir::toNativeSeparators(path), reader.error()));
        }
        m_log.close();

        m_table.clearMarkedRows();
        m_table.commit();
        if (m_progress)
            m_progress->finish();
        progressShown = false;
        m_table.moveFirst();
        m_table.finish();
    } catch (...) {
        m_log.close();
        if (progressShown && m_progress)
            m_progress->finish();
        m_table.finish();
        throw;
    }
    return outcome;
}

} // namespace torvane::manager
