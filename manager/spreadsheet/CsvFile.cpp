#include "CsvFile.h"

#include "CodePage.h"
#include "TextBytes.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QStringDecoder>

#include <algorithm>
#include <cmath>

namespace torvane::manager::csv {

namespace {

constexpr qsizetype kChunkBytes = 64 * 1024;

// The first line of the file as it stands (quotes kept), up to a line end
// outside quotes; at most one chunk.
QString firstLine(QIODevice *device, Encoding encoding)
{
    const QByteArray bytes = device->read(kChunkBytes);
    QString text;
    if (encoding == Encoding::Windows1252) {
        text = scalelink::StringFromAnsi(bytes);
    } else {
        QStringDecoder decoder(encoding == Encoding::Utf8 ? QStringDecoder::Utf8 : QStringDecoder::Utf16);
        text = decoder.decode(bytes);
    }
    bool quoted = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c == u'"')
            quoted = !quoted;
        else if (!quoted && (c == u'\n' || c == u'\r'))
            return text.left(i);
    }
    return text;
}

} // namespace

QString encodingName(Encoding encoding)
{
    switch (encoding) {
    case Encoding::Utf8:
        return QStringLiteral("UTF-8");
    case Encoding::Utf16:
        return QStringLiteral("UTF-16");
    case Encoding::Windows1252:
        return QStringLiteral("Windows-1252");
    }
    return {};
}

// ---- Reading ----------------------------------------------------------------

struct CsvReader::Impl {
    QIODevice *device;
    Encoding encoding;
    QChar separator;
    std::optional<QStringDecoder> decoder;
    QString text;        // decoded and not parsed yet
    qsizetype pos = 0;
    bool eof = false;
    bool afterCr = false;
    qint64 records = 0;
    QString error;

    bool fill()
    {
        if (eof)
            return false;
        text.remove(0, pos);
        pos = 0;
        QByteArray chunk(kChunkBytes, Qt::Uninitialized);
        const qint64 n = device->read(chunk.data(), chunk.size());
        if (n <= 0) {
            eof = true;
            if (n < 0)
                error = device->errorString();
            return false;
        }
        chunk.truncate(n);
        if (decoder)
            text += decoder->decode(chunk);
        else
            text += scalelink::StringFromAnsi(chunk);
        return true;
    }
    // The next character, or nothing at the end.
    std::optional<QChar> get()
    {
        while (pos >= text.size())
            if (!fill())
                return std::nullopt;
        return text.at(pos++);
    }
    std::optional<QChar> peek()
    {
        while (pos >= text.size())
            if (!fill())
                return std::nullopt;
        return text.at(pos);
    }
};

CsvReader::CsvReader(QIODevice *device, Encoding encoding, QChar separator) : d(std::make_unique<Impl>())
{
    d->device = device;
    d->encoding = encoding;
    d->separator = separator;
    // The decoders skip a byte-order mark at the start of the file.
    if (encoding == Encoding::Utf8)
        d->decoder.emplace(QStringDecoder::Utf8);
    else if (encoding == Encoding::Utf16)
        d->decoder.emplace(QStringDecoder::Utf16);
}

CsvReader::~CsvReader() = default;

qint64 CsvReader::records() const
{
    return d->records;
}

QString CsvReader::error() const
{
    return d->error;
}

bool CsvReader::next(QStringList *cells)
{
    cells->clear();
    QString cell;
    bool quoted = false;      // inside the quotes of a quoted cell
    bool cellStart = true;    // nothing of the cell read yet
    bool started = false;
    auto endCell = [&] {
        if (cells->size() < kMaxCells)
            cells->append(cell);
        cell.clear();
        cellStart = true;
    };
    auto add = [&](QChar c) {
        if (cell.size() < kMaxCellChars)
            cell += c;
        cellStart = false;
    };
    for (;;) {
        std::optional<QChar> c = d->get();
        if (!c)
            break;
        if (d->afterCr) {
            d->afterCr = false;
            if (*c == u'\n' && !started)
                continue;
        }
        started = true;
        if (quoted) {
            if (*c != u'"') {
                add(*c);
                continue;
            }
            const std::optional<QChar> n = d->peek();
            if (n && *n == u'"') {
                d->get();
                add(u'"');
            } else {
                quoted = false;
            }
            continue;
        }
        if (*c == u'"' && cellStart) {
            // Only a quote that opens the cell quotes it: 12" TV is a text.
            quoted = true;
            cellStart = false;
        } else if (*c == d->separator) {
            endCell();
        } else if (*c == u'\n' || *c == u'\r') {
            d->afterCr = *c == u'\r';
            endCell();
            ++d->records;
            return true;
        } else {
            add(*c);
        }
    }
    if (!started)
        return false;
    endCell();
    ++d->records;
    return true;
}

// ---- Survey ----------------------------------------------------------------

QChar guessSeparator(const QString &line)
{
    int semicolons = 0, tabs = 0, commas = 0;
    bool quoted = false;
    for (QChar c : line) {
        if (c == u'"')
            quoted = !quoted;
        else if (quoted)
            continue;
        else if (c == u';')
            ++semicolons;
        else if (c == u'\t')
            ++tabs;
        else if (c == u',')
            ++commas;
    }
    if (tabs > semicolons && tabs >= commas)
        return QLatin1Char('\t');
    if (commas > semicolons && commas > tabs)
        return QLatin1Char(',');
    return QLatin1Char(';');
}

bool surveyCsvFile(const QString &path, CsvSurvey *survey, QString *error)
{
    *survey = CsvSurvey();
    const QFileInfo info(path);
    const QString shown = QDir::toNativeSeparators(path);
    if (info.isDir()) {
        *error = QStringLiteral("Não foi possível abrir o arquivo %1: é uma pasta.").arg(shown);
        return false;
    }
    // Checked before opening: a pipe would block the open itself, and a
    // device such as /dev/zero would never reach its end.
    if (info.exists() && !info.isFile()) {
        *error = QStringLiteral("O arquivo %1 não é um arquivo comum (é um dispositivo ou um pipe) e não pode ser "
                                "importado. Escolha uma planilha salva como CSV. Nenhum produto foi alterado.")
                     .arg(shown);
        return false;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("Não foi possível abrir o arquivo %1: %2.").arg(shown, file.errorString());
        return false;
    }
    // The bytes: the encoding, and whether this is text at all.
    const QByteArray start = file.peek(4);
    const bool utf16 = start.startsWith("\xFF\xFE") || start.startsWith("\xFE\xFF");
    Utf8Check utf8;
    for (;;) {
        const QByteArray chunk = file.read(kChunkBytes);
        if (chunk.isEmpty())
            break;
        survey->bytes += chunk.size();
        for (char ch : chunk) {
            const auto c = static_cast<unsigned char>(ch);
            utf8.feed(c);
            if (!utf16 && isControlByte(c))
                ++survey->controlBytes;
        }
    }
    if (file.error() != QFileDevice::NoError) {
        *error = QStringLiteral("Não foi possível ler o arquivo %1: %2.").arg(shown, file.errorString());
        return false;
    }
    survey->encoding = utf16 ? Encoding::Utf16 : utf8.valid() ? Encoding::Utf8 : Encoding::Windows1252;

    // The records: the separator from the first line, then a count.
    file.seek(0);
    survey->separator = guessSeparator(firstLine(&file, survey->encoding));
    file.seek(0);
    CsvReader reader(&file, survey->encoding, survey->separator);
    QStringList cells;
    while (reader.next(&cells))
        if (std::any_of(cells.begin(), cells.end(), [](const QString &c) { return !c.trimmed().isEmpty(); }))
            ++survey->filledRecords;
    survey->records = reader.records();
    if (!reader.error().isEmpty()) {
        *error = QStringLiteral("Não foi possível ler o arquivo %1: %2.").arg(shown, reader.error());
        return false;
    }
    return true;
}

// ---- Writing ---------------------------------------------------------------

bool formulaStart(QStringView text)
{
    return !text.isEmpty() && (text[0] == u'=' || text[0] == u'+' || text[0] == u'-' || text[0] == u'@');
}

QString asSheetText(const QString &text)
{
    return formulaStart(text) ? u'\'' + text : text;
}

QString csvCell(const QString &text, QChar separator)
{
    if (!text.contains(separator) && !text.contains(u'"') && !text.contains(u'\n') && !text.contains(u'\r'))
        return text;
    QString out = text;
    out.replace(QStringLiteral("\""), QStringLiteral("\"\""));
    return u'"' + out + u'"';
}

QByteArray encodeCsv(const QString &text, Encoding encoding)
{
    switch (encoding) {
    case Encoding::Windows1252:
        return scalelink::AnsiFromString(text);
    case Encoding::Utf16: {
        QStringEncoder encoder(QStringEncoder::Utf16LE, QStringEncoder::Flag::WriteBom);
        return encoder.encode(text);
    }
    case Encoding::Utf8:
        break;
    }
    return QByteArray("\xEF\xBB\xBF") + text.toUtf8();
}

// ---- Numbers ----------------------------------------------------------------

std::optional<double> parseSheetNumber(const QString &text)
{
    QString t = text;
    t.replace(QChar(0x00A0), u' ');
    t = t.trimmed();
    bool negative = false;
    if (t.startsWith(u'-') || t.startsWith(u'+')) {
        negative = t.startsWith(u'-');
        t = t.mid(1).trimmed();
    }
    if (t.startsWith(QLatin1String("R$")))
        t = t.mid(2).trimmed();
    if (!negative && t.startsWith(u'-')) {
        negative = true;
        t = t.mid(1).trimmed();
    }
    if (t.isEmpty())
        return std::nullopt;
    const qsizetype lastComma = t.lastIndexOf(u',');
    const qsizetype lastPoint = t.lastIndexOf(u'.');
    // Both marks: the last one is the decimal separator.  One mark once: it
    // is the decimal separator.  One mark more than once: it groups.
    QChar decimal;
    QChar grouping;
    if (lastComma >= 0 && lastPoint >= 0) {
        decimal = lastComma > lastPoint ? u',' : u'.';
        grouping = decimal == u',' ? u'.' : u',';
    } else if (lastComma >= 0) {
        (t.count(u',') == 1 ? decimal : grouping) = u',';
    } else if (lastPoint >= 0) {
        (t.count(u'.') == 1 ? decimal : grouping) = u'.';
    }
    QString plain;
    bool seenDecimal = false;
    qsizetype digitsSinceGroup = -1;   // digits after the last grouping mark
    for (qsizetype i = 0; i < t.size(); ++i) {
        const QChar c = t.at(i);
        if (c >= u'0' && c <= u'9') {
            plain += c;
            if (digitsSinceGroup >= 0)
                ++digitsSinceGroup;
        } else if (!decimal.isNull() && c == decimal && i == (decimal == u',' ? lastComma : lastPoint)) {
            if (digitsSinceGroup >= 0 && digitsSinceGroup != 3)
                return std::nullopt;
            digitsSinceGroup = -1;
            seenDecimal = true;
            plain += u'.';
        } else if (!grouping.isNull() && c == grouping && !seenDecimal && i > 0) {
            // Groups of three digits, and never right after another mark.
            if (digitsSinceGroup >= 0 && digitsSinceGroup != 3)
                return std::nullopt;
            digitsSinceGroup = 0;
        } else {
            return std::nullopt;
        }
    }
    if (digitsSinceGroup >= 0 && digitsSinceGroup != 3)
        return std::nullopt;
    if (plain.isEmpty() || plain == QLatin1String("."))
        return std::nullopt;
    bool ok = false;
    const double value = QLocale::c().toDouble(plain, &ok);
    if (!ok || !std::isfinite(value))
        return std::nullopt;
    return negative ? -value : value;
}

QString formatSheetNumber(double value, int decimals)
{
    QString s = QString::number(value == 0 ? 0.0 : value, 'f', decimals);
    s.replace(u'.', u',');
    return s;
}

} // namespace torvane::manager::csv
