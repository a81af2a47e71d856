#include "ProductImport.h"

#include "CodePage.h"
#include "ProductRules.h"

#include "TextBytes.h"
#include "Unitutil.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QStringDecoder>
#include <QVarLengthArray>

#include <array>
#include <limits>
#include <map>
#include <set>

namespace torvane::manager {

namespace {

constexpr qsizetype kChunkBytes = 64 * 1024;
// Enough bytes for kHeadChars characters of UTF-8.
constexpr qsizetype kHeadBytes = ImportLineReader::kHeadChars * 4;

constexpr int kMinLength = 36;
constexpr int kShelfLifeLength = 39;

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

QString importValidDaysMessage(qint64 line)
{
    return QStringLiteral("Validade inválida na linha: ") + QString::number(line);
}

QString importCapacityMessage(const QString &code)
{
    return QStringLiteral("Estourou a capacidade de produtos. Código: ") + code;
}

QString importStoppedMessage(qint64 line, const QString &reason)
{
    QString text = QStringLiteral("A importação parou na linha %1").arg(line);
    return reason.isEmpty() ? text : text + QStringLiteral(": ") + reason;
}

QString importNotDoneMessage(const QString &reason)
{
    QString text = reason.trimmed();
    if (text.isEmpty())
        text = QStringLiteral("A importação não foi concluída");
    if (!text.endsWith(u'.'))
        text += u'.';
    return text + QStringLiteral(" Nenhum produto foi alterado: os produtos continuam como estavam antes da "
                                 "importação.");
}

ImportFailure::ImportFailure(const QString &text, bool complete)
    : std::runtime_error(text.toStdString()), m_text(text), m_complete(complete)
{
}

QString decodeCp1252(const char *data, qsizetype size)
{
    return scalelink::StringFromAnsi(data, static_cast<std::size_t>(size));
}

// ---- Line reader -----------------------------------------------------------

namespace {

// The first kHeadChars characters of a text, counted in code points.
QString headOf(const QString &text)
{
    if (text.size() <= ImportLineReader::kHeadChars)
        return text;
    qsizetype units = 0;
    for (int chars = 0; chars < ImportLineReader::kHeadChars && units < text.size(); ++chars)
        units += (text.at(units).isHighSurrogate() && units + 1 < text.size()) ? 2 : 1;
    return text.left(units);
}

} // namespace

struct ImportLineReader::Impl {
    QIODevice *device;
    QByteArray chunk;
    qsizetype pos = 0;
    bool eof = false;
    bool afterCr = false;   // the last line ended in CR: a following LF belongs to it
    bool bomChecked = false;
    qint64 controls = 0;
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
            if (chunk.startsWith("\xEF\xBB\xBF"))
                pos = 3;
        }
        return true;
    }
};

ImportLineReader::ImportLineReader(QIODevice *device) : d(new Impl)
{
    d->device = device;
}

ImportLineReader::~ImportLineReader() = default;

QString ImportLineReader::error() const
{
    return d->error;
}

qint64 ImportLineReader::controlBytes() const
{
    return d->controls;
}

bool ImportLineReader::next(QString *head, qint64 *length)
{
    QByteArray raw;
    qint64 bytes = 0;
    Utf8Check utf8;
    bool started = false;
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
            for (qsizetype k = d->pos; k < i; ++k) {
                const auto c = static_cast<unsigned char>(p[k]);
                utf8.feed(c);
                if (isControlByte(c))
                    ++d->controls;
            }
            bytes += i - d->pos;
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
    if (utf8.multibyteText()) {
        // A byte-order mark inside the file is a character like any other
        // (fromUtf8 would drop it and shift the columns by one).
        QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::ConvertInitialBom);
        const QString text = headOf(decoder.decode(raw));
        if (checkImportLine(text, utf8.codePoints()) == LineCheck::Usable) {
            *head = text;
            *length = utf8.codePoints();
            return true;
        }
    }
    *head = decodeCp1252(raw.constData(), std::min<qsizetype>(raw.size(), kHeadChars));
    *length = bytes;
    return true;
}

// ---- One line --------------------------------------------------------------

LineCheck checkImportLine(const QString &head, qint64 length, ImportFields *fields)
{
    if (length < kMinLength)
        return LineCheck::TooShort;
    // Columns count characters: a character beyond the 16-bit range takes
    // two units of a QString but one column of the line.  starts[k] is the
    // unit where character k begins.
    QVarLengthArray<qsizetype, ImportLineReader::kHeadChars + 1> starts;
    for (qsizetype u = 0; u < head.size(); ++u) {
        starts.append(u);
        if (head.at(u).isHighSurrogate() && u + 1 < head.size() && head.at(u + 1).isLowSurrogate())
            ++u;
    }
    starts.append(head.size());
    const qsizetype chars = starts.size() - 1;
    const auto columns = [&](qsizetype from, qsizetype count) {
        from = std::min(from, chars);
        count = std::min(count, chars - from);
        return head.mid(starts[from], starts[from + count] - starts[from]);
    };
    const QString code6 = columns(0, 6);
    if (!isNumberField(code6))
        return LineCheck::BadCode;
    if (!isNumberField(columns(29, 7)))
        return LineCheck::BadPrice;
    if (fields) {
        fields->code6 = code6;
        // A character beyond the 16-bit range is no "U": sold by weight.
        fields->saleType = chars > 6 && starts[7] - starts[6] == 1 ? head.at(starts[6]) : QChar(u' ');
        fields->description = columns(7, 22);
        // A NUL would end the description on the scale's label and in every
        // C string on the way; it stands for nothing but padding.
        fields->description.replace(QChar(0), QLatin1Char(' '));
        fields->price = columns(30, 6);
        fields->shelfLife = QString();
        if (length == kShelfLifeLength) {
            const QString days = columns(36, 3);
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

QString importRangeMessage(const ImportedProduct &product, qint64 line)
{
    // The form's own rules.  Code 0 stays allowed: an import line with code
    // 0 fills a free slot and leaves it free.
    if (rules::checkCode(product.codigo, QString(), 0))
        return importCodeMessage(line);
    rules::Price price;
    if (rules::checkPrice(product.preco, &price))
        return importPriceMessage(line);
    if (product.validDays && rules::checkValidDays(*product.validDays))
        return importValidDaysMessage(line);
    return QString();
}

// ---- Survey ----------------------------------------------------------------

bool surveyImportFile(const QString &path, ImportSurvey *survey, QString *error)
{
    *survey = ImportSurvey();
    const QFileInfo info(path);
    QFile file(path);
    if (info.isDir()) {
        *error = QStringLiteral("Não foi possível abrir o arquivo %1: é uma pasta.").arg(QDir::toNativeSeparators(path));
        return false;
    }
    // Checked before opening: a pipe would block the open itself, and a
    // device such as /dev/zero would never reach its end.
    if (info.exists() && !info.isFile()) {
        *error = QStringLiteral("O arquivo %1 não é um arquivo comum (é um dispositivo ou um pipe) e não pode ser "
                                "importado. Escolha um arquivo de texto com produtos. Nenhum produto foi alterado.")
                     .arg(QDir::toNativeSeparators(path));
        return false;
    }
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("Não foi possível abrir o arquivo %1: %2.")
                     .arg(QDir::toNativeSeparators(path), file.errorString());
        return false;
    }
    ImportLineReader reader(&file);
    QString head;
    qint64 length = 0;
    while (reader.next(&head, &length)) {
        ++survey->lines;
        if (checkImportLine(head, length) == LineCheck::Usable)
            ++survey->usableLines;
    }
    survey->controlBytes = reader.controlBytes();
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

// Where each product sits, kept in step with the rows the import writes, so
// a record finds its row without walking the list.  A product is its code,
// and its second prefix where that tells products apart.  Rows are
// positions in the list's current order; "first" means the lowest position.
class RowIndex {
public:
    // With clearFirst every row starts free (clearing keeps a row's second
    // prefix).
    void load(ImportTable &table, bool clearFirst)
    {
        m_prefixInUse = table.secondPrefixInUse();
        const int rows = table.rowCount();
        for (int r = 0; r < rows; ++r) {
            m_code.push_back(clearFirst ? std::optional<qint64>(0) : table.codigoAt(r));
            m_prefix.push_back(m_prefixInUse ? table.prefixbAt(r) : 0);
            add(r);
        }
    }

    bool prefixInUse() const { return m_prefixInUse; }

    // The row holding the product, else the first free one; -1 when
    // neither.  A record without a second prefix takes the first row with
    // its code.
    int find(qint64 code, std::optional<int> prefixb) const
    {
        const std::set<int> *rows = nullptr;
        if (m_prefixInUse && prefixb && code != 0) {
            const auto it = m_byProduct.find({code, *prefixb});
            rows = it == m_byProduct.end() ? nullptr : &it->second;
        } else {
            const auto it = m_byCode.constFind(code);
            rows = it == m_byCode.constEnd() ? nullptr : &*it;
        }
        if (rows && !rows->empty())
            return *rows->begin();
        const auto it = m_byCode.constFind(0);
        return it != m_byCode.constEnd() && !it->empty() ? *it->begin() : -1;
    }

    qint64 prefixAt(int row) const { return m_prefix[row]; }

    void written(int row, qint64 code, std::optional<int> prefixb)
    {
        if (m_code[row]) {
            m_byCode[*m_code[row]].erase(row);
            m_byProduct[{*m_code[row], m_prefix[row]}].erase(row);
        }
        m_code[row] = code;
        if (m_prefixInUse && prefixb)
            m_prefix[row] = *prefixb;
        add(row);
    }

private:
    void add(int row)
    {
        if (!m_code[row])
            return;
        m_byCode[*m_code[row]].insert(row);
        m_byProduct[{*m_code[row], m_prefix[row]}].insert(row);
    }

    bool m_prefixInUse = false;
    std::vector<std::optional<qint64>> m_code;
    std::vector<qint64> m_prefix;
    QHash<qint64, std::set<int>> m_byCode;
    std::map<std::pair<qint64, qint64>, std::set<int>> m_byProduct;
};

// The refusal of a file that gives one product more than once: each
// product with its lines, in the order of its first line.
QString repeatedProductsReason(const std::vector<std::pair<QString, QList<qint64>>> &repeated)
{
    QStringList products;
    for (const auto &[product, lines] : repeated) {
        QStringList numbers;
        for (qint64 line : lines)
            numbers << QString::number(line);
        const QString last = numbers.takeLast();
        products << QStringLiteral("%1 nas linhas %2 e %3").arg(product, numbers.join(QStringLiteral(", ")), last);
    }
    return QStringLiteral("O arquivo tem mais de uma linha para o mesmo produto (%1); deixe uma linha para cada "
                          "produto e importe de novo")
        .arg(products.join(QStringLiteral("; ")));
}

} // namespace

ProductImport::ProductImport(ImportTable &table, ImportLog &log, ImportProgress *progress)
    : m_table(table), m_log(log), m_progress(progress)
{
}

FixedColumnSource::FixedColumnSource(QIODevice *device, const QString &path) : m_reader(device), m_path(path) {}

bool FixedColumnSource::next(int codeSize, ImportRecord *record)
{
    QString head;
    qint64 length = 0;
    if (!m_reader.next(&head, &length)) {
        if (!m_reader.error().isEmpty()) {
            throw ImportFailure(QStringLiteral("Não foi possível ler o arquivo %1: %2.")
                                    .arg(QDir::toNativeSeparators(m_path), m_reader.error()));
        }
        return false;
    }
    *record = ImportRecord();
    const qint64 i = m_line++;
    record->line = i;
    ImportFields fields;
    switch (checkImportLine(head, length, &fields)) {
    case LineCheck::TooShort:
        record->rejected = importSizeMessage(i);
        break;
    case LineCheck::BadCode:
        record->rejected = importCodeMessage(i);
        break;
    case LineCheck::BadPrice:
        record->rejected = importPriceMessage(i);
        break;
    case LineCheck::Usable:
        try {
            const ImportedProduct product = makeImportedProduct(fields, codeSize);
            record->rejected = importRangeMessage(product, i);
            if (record->rejected.isEmpty())
                record->product = product;
        } catch (const ImportFailure &failure) {
            record->failure = failure.text();
        }
        break;
    }
    return true;
}

ImportOutcome ProductImport::run(const QString &path, const ImportSurvey &survey, bool clearFirst)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        m_table.finish();
        throw ImportFailure(importNotDoneMessage(QStringLiteral("Não foi possível abrir o arquivo %1: %2.")
                                                     .arg(QDir::toNativeSeparators(path), file.errorString())),
                            true);
    }
    FixedColumnSource source(&file, path);
    return run(source, survey.lines, clearFirst);
}

ImportOutcome ProductImport::run(ImportSource &source, qint64 records, bool clearFirst)
{
    ImportOutcome outcome;
    bool progressShown = false;
    try {
        m_table.begin();
        const int codeSize = m_table.codeSize();
        const int rowCount = m_table.rowCount();
        if (m_progress) {
            // Every record is read, then every row written.
            m_progress->start(records + rowCount);
            progressShown = true;
        }
        m_log.remove();

        RowIndex index;
        index.load(m_table, clearFirst);
        QVector<std::optional<ImportedProduct>> rows(rowCount);

        // With one record per product: the records that found a row some
        // earlier record had taken, by that row.
        const bool oneEach = source.oneRecordPerProduct();
        QVector<qint64> lineOf(rowCount, 0);
        QHash<int, std::size_t> repeatOf;
        std::vector<std::pair<QString, QList<qint64>>> repeated;

        ImportRecord record;
        while (source.next(codeSize, &record)) {
            ++outcome.lines;
            if (m_progress)
                m_progress->step();
            if (!record.failure.isEmpty())
                throw ImportFailure(importStoppedMessage(record.line, record.failure));
            QString message = record.rejected;
            if (record.product) {
                const ImportedProduct &product = *record.product;
                const int row = index.find(product.codigo, product.prefixb);
                if (row < 0) {
                    message = importCapacityMessage(product.code);
                } else if (oneEach && rows[row] && product.codigo != 0) {
                    if (!repeatOf.contains(row)) {
                        repeatOf.insert(row, repeated.size());
                        const QString name = index.prefixInUse()
                                                 ? QStringLiteral("código %1 com prefixo 2 = %2")
                                                       .arg(product.codigo)
                                                       .arg(index.prefixAt(row))
                                                 : QStringLiteral("código %1").arg(product.codigo);
                        repeated.push_back({name, {lineOf[row]}});
                    }
                    repeated[repeatOf.value(row)].second << record.line;
                } else {
                    // A later record of the same product takes the same row.
                    rows[row] = product;
                    lineOf[row] = record.line;
                    ++outcome.written;
                    index.written(row, product.codigo, product.prefixb);
                }
            }
            if (!message.isEmpty()) {
                m_log.WriteLog(message);
                ++outcome.rejected;
            }
        }
        m_log.close();
        if (!repeated.empty())
            throw ImportFailure(repeatedProductsReason(repeated));

        m_table.write(rows, clearFirst, [this] {
            if (m_progress)
                m_progress->step();
        });
        m_table.commit();
        if (m_progress)
            m_progress->finish();
        progressShown = false;
        m_table.moveFirst();
        m_table.finish();
    } catch (const ImportFailure &failure) {
        m_log.close();
        if (progressShown && m_progress)
            m_progress->finish();
        m_table.finish();
        if (failure.complete())
            throw;
        throw ImportFailure(importNotDoneMessage(failure.text()), true);
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
