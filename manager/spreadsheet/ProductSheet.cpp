#include "ProductSheet.h"

#include "DataFolder.h"
#include "Db.h"
#include "ProductGridModel.h"
#include "ProductRules.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QSettings>
#include <QSqlError>
#include <QSqlQuery>

#include <algorithm>
#include <cmath>
#include <iterator>

namespace torvane::manager {

namespace {

struct FieldInfo {
    SheetField field;
    const char *title;
    const char *key;            // settings key
    std::initializer_list<const char *> headings; // normalised headings that name it
};

const FieldInfo kFields[kSheetFieldCount] = {
    {SheetField::Codigo, "Código", "codigo", {"codigo", "cod", "codproduto", "codigoproduto", "codigodoproduto", "code"}},
    {SheetField::Descricao, "Descrição", "descricao",
     {"descricao", "desc", "produto", "nome", "nomedoproduto", "descricaodoproduto", "description"}},
    {SheetField::Preco, "Preço (R$)", "preco",
     {"precor", "preco", "precokg", "precorkg", "precounitario", "precodevenda", "valor", "valorr", "price"}},
    {SheetField::Tara, "Tara (kg)", "tara", {"tarakg", "tara", "tare"}},
    {SheetField::Validade, "Validade (dias)", "validade", {"validadedias", "validade", "diasdevalidade", "prazo"}},
    {SheetField::TipoVenda, "Tipo de venda", "tipo", {"tipodevenda", "tipovenda", "tipo", "venda"}},
    {SheetField::Setor, "Setor", "setor", {"setor", "secao", "departamento"}},
    {SheetField::Prefixo1, "Prefixo 1", "prefixo1", {"prefixo1", "prefixo"}},
    {SheetField::Prefixo2, "Prefixo 2", "prefixo2", {"prefixo2"}},
    {SheetField::CodigoBarras, "Código de barras", "barras",
     {"codigodebarras", "codigobarras", "barras", "imprimir", "modo"}},
};

const FieldInfo &info(SheetField f)
{
    return kFields[std::size_t(f)];
}

// Letters and digits only, lower case, accents set aside: how headings and
// words typed in cells are compared.
QString normalised(const QString &text)
{
    const QString d = text.normalized(QString::NormalizationForm_D);
    QString out;
    for (QChar c : d)
        if (c.isLetterOrNumber())
            out += c.toCaseFolded();
    return out;
}

QString cell(const QStringList &cells, const SheetMapping &m, SheetField f)
{
    const int c = m[f];
    return c >= 0 && c < cells.size() ? cells.at(c) : QString();
}

QString shown(const QString &text)
{
    return text.trimmed();
}

using csv::asSheetText;

// Reading back drops the apostrophe asSheetText put before a formula-like text.
QString fromSheetText(const QString &text)
{
    return text.startsWith(u'\'') && csv::formulaStart(QStringView(text).mid(1)) ? text.mid(1) : text;
}

// A whole number written as a spreadsheet may write it ("30", "30,0").
std::optional<qint64> wholeNumber(const QString &text)
{
    const std::optional<double> v = csv::parseSheetNumber(text);
    if (!v || std::floor(*v) != *v || std::fabs(*v) > 1e15)
        return std::nullopt;
    return qint64(*v);
}

QSettings &settings()
{
    return desktop::sharedSettings();
}

const QString kGroup = QStringLiteral("planilha");

QString headingsKey(const QStringList &row)
{
    QStringList n;
    for (const QString &h : row)
        n << normalised(h);
    return n.join(u'|');
}

} // namespace

QString sheetFieldTitle(SheetField field)
{
    return QString::fromUtf8(info(field).title);
}

QString sheetSlotTitle()
{
    return QStringLiteral("PLU");
}

bool sheetFieldRequired(SheetField field)
{
    return field == SheetField::Codigo || field == SheetField::Descricao || field == SheetField::Preco;
}

QStringList SheetMapping::missing() const
{
    QStringList out;
    for (const FieldInfo &f : kFields)
        if (sheetFieldRequired(f.field) && (*this)[f.field] < 0)
            out << QString::fromUtf8(f.title);
    return out;
}

SheetMapping SheetMapping::guess(const QStringList &headings)
{
    SheetMapping m;
    QVector<bool> taken(headings.size(), false);
    for (const FieldInfo &f : kFields) {
        for (int c = 0; c < headings.size() && m[f.field] < 0; ++c) {
            if (taken[c])
                continue;
            const QString h = normalised(headings.at(c));
            for (const char *name : f.headings) {
                if (h == QLatin1String(name)) {
                    m[f.field] = c;
                    taken[c] = true;
                    break;
                }
            }
        }
    }
    return m;
}

bool looksLikeHeadings(const QStringList &row)
{
    const SheetMapping named = SheetMapping::guess(row);
    if (std::any_of(named.column.begin(), named.column.end(), [](int c) { return c >= 0; }))
        return true;
    return std::none_of(row.begin(), row.end(), [](const QString &c) { return csv::parseSheetNumber(c).has_value(); });
}

SheetMapping rememberedMapping(const QStringList &firstRow, bool header)
{
    QSettings &s = settings();
    s.beginGroup(kGroup);
    const QString lastHeadings = s.value(QStringLiteral("cabecalho")).toString();
    const int lastColumns = s.value(QStringLiteral("colunas"), -1).toInt();
    SheetMapping stored;
    QStringList storedHeadings;
    for (const FieldInfo &f : kFields) {
        stored[f.field] = s.value(QLatin1String(f.key) + QStringLiteral("/coluna"), -1).toInt();
        storedHeadings << s.value(QLatin1String(f.key) + QStringLiteral("/titulo")).toString();
    }
    const bool any = s.contains(QStringLiteral("colunas"));
    s.endGroup();

    SheetMapping m = header ? SheetMapping::guess(firstRow) : SheetMapping();
    m.header = header;
    if (!any)
        return m;
    // The same file layout as last time: the same columns exactly.
    if ((header && headingsKey(firstRow) == lastHeadings) || (!header && lastColumns == firstRow.size())) {
        stored.header = header;
        for (int &c : stored.column)
            if (c >= firstRow.size())
                c = -1;
        return stored;
    }
    // Another layout: a heading mapped last time keeps its field.
    if (header) {
        for (std::size_t f = 0; f < std::size(kFields); ++f) {
            const QString wanted = normalised(storedHeadings.at(int(f)));
            if (wanted.isEmpty())
                continue;
            for (int c = 0; c < firstRow.size(); ++c) {
                if (normalised(firstRow.at(c)) == wanted) {
                    for (int &other : m.column)
                        if (other == c)
                            other = -1;
                    m.column[f] = c;
                    break;
                }
            }
        }
    }
    return m;
}

void rememberMapping(const SheetMapping &mapping, const QStringList &firstRow)
{
    QSettings &s = settings();
    s.beginGroup(kGroup);
    s.setValue(QStringLiteral("cabecalho"), mapping.header ? headingsKey(firstRow) : QString());
    s.setValue(QStringLiteral("colunas"), int(firstRow.size()));
    for (const FieldInfo &f : kFields) {
        const int c = mapping[f.field];
        s.setValue(QLatin1String(f.key) + QStringLiteral("/coluna"), c);
        s.setValue(QLatin1String(f.key) + QStringLiteral("/titulo"),
                   mapping.header && c >= 0 && c < firstRow.size() ? firstRow.at(c) : QString());
    }
    s.endGroup();
    s.sync();
}

// ---- One row ---------------------------------------------------------------

QString sheetRowMessage(qint64 row, const QString &reason)
{
    return QStringLiteral("Linha %1: %2").arg(row).arg(reason);
}

SheetRow readSheetRow(const QStringList &cells, const SheetMapping &m, int codeSize)
{
    SheetRow out;
    if (std::all_of(cells.begin(), cells.end(), [](const QString &c) { return c.trimmed().isEmpty(); })) {
        out.blank = true;
        return out;
    }
    auto refuse = [&](const QString &reason) {
        out.reason = reason;
        return out;
    };
    auto invalid = [](const QString &what, const QString &text, const QString &hint = QString()) {
        QString r = QStringLiteral("%1 inválido (\"%2\")").arg(what, shown(text));
        if (!hint.isEmpty())
            r += QStringLiteral("; ") + hint;
        return r + u'.';
    };
    auto refused = [](const rules::Refusal &r, const QString &text) {
        return QStringLiteral("%1 (\"%2\").").arg(r.message, shown(text));
    };

    ImportedProduct p;
    // The code: digits only, at most the code size.
    const QString codeText = cell(cells, m, SheetField::Codigo).trimmed();
    if (codeText.isEmpty())
        return refuse(QStringLiteral("código em branco."));
    const std::optional<qint64> code = wholeNumber(codeText);
    if (!code)
        return refuse(invalid(QStringLiteral("código"), codeText));
    if (*code < 0)
        return refuse(refused({rules::kNegativeCode, rules::Field::Codigo}, codeText));
    p.codigo = *code;
    p.code = QString::number(*code);
    if (p.code.size() > codeSize)
        return refuse(QStringLiteral("código com mais de %1 dígitos (\"%2\"); o tamanho do código é %1 (Arquivo, "
                                     "Configurar).")
                          .arg(codeSize)
                          .arg(shown(codeText)));

    // The description as it stands; what a label cannot show becomes a blank.
    p.description = fromSheetText(cell(cells, m, SheetField::Descricao));
    for (QChar &c : p.description)
        if (c.unicode() < 0x20)
            c = u' ';
    constexpr int kMaxDescription = 25;
    if (p.description.size() > kMaxDescription)
        return refuse(QStringLiteral("descrição com mais de %1 caracteres (\"%2\").")
                          .arg(kMaxDescription)
                          .arg(p.description));

    const QString priceText = cell(cells, m, SheetField::Preco);
    if (priceText.trimmed().isEmpty())
        return refuse(QStringLiteral("preço em branco."));
    const std::optional<double> typed = csv::parseSheetNumber(priceText);
    if (!typed)
        return refuse(invalid(QStringLiteral("preço"), priceText));
    rules::Price price;
    if (const auto r = rules::checkPrice(*typed, &price))
        return refuse(refused(*r, priceText));
    p.preco = price.preco;
    p.unitPrice = price.unitPrice;

    // A code 0 marks a free slot: a row of one carries nothing to import.
    if (p.codigo == 0 && !rules::isProduct(p.description, p.preco)) {
        out.blank = true;
        return out;
    }
    if (const auto r = rules::checkCode(p.codigo, p.description, p.preco))
        return refuse(refused(*r, codeText));

    if (const QString t = cell(cells, m, SheetField::Tara); !t.trimmed().isEmpty()) {
        const std::optional<double> kg = csv::parseSheetNumber(t);
        if (!kg)
            return refuse(invalid(QStringLiteral("tara"), t));
        rules::Tare tare;
        if (const auto r = rules::checkTare(*kg, &tare))
            return refuse(refused(*r, t));
        p.tareWeight = tare.tareWeight;
    }
    if (const QString t = cell(cells, m, SheetField::Validade); !t.trimmed().isEmpty()) {
        const std::optional<qint64> days = wholeNumber(t);
        if (!days)
            return refuse(invalid(QStringLiteral("validade"), t));
        if (const auto r = rules::checkValidDays(*days))
            return refuse(refused(*r, t));
        p.validDays = days;
    }
    if (const QString t = cell(cells, m, SheetField::TipoVenda); !t.trimmed().isEmpty()) {
        const QString w = normalised(t);
        if (w == QLatin1String("peso") || w == QLatin1String("p") || w == QLatin1String("1") || w == QLatin1String("kg"))
            p.sellFlag = 1;
        else if (w == QLatin1String("unidade") || w == QLatin1String("u") || w == QLatin1String("un") ||
                 w == QLatin1String("und") || w == QLatin1String("2"))
            p.sellFlag = 2;
        else
            return refuse(invalid(QStringLiteral("tipo de venda"), t, QStringLiteral("use Peso ou Unidade")));
    }
    if (const QString t = cell(cells, m, SheetField::Setor); !t.trimmed().isEmpty()) {
        const QString w = normalised(t);
        const std::optional<qint64> index = wholeNumber(t);
        for (int i = 0; i < sectorNames().size() && !p.setor; ++i)
            if ((index && *index == i) || normalised(sectorNames().at(i)) == w)
                p.setor = i;
        if (!p.setor)
            return refuse(invalid(QStringLiteral("setor"), t, QStringLiteral("use um setor da lista do cadastro")));
    }
    for (SheetField f : {SheetField::Prefixo1, SheetField::Prefixo2}) {
        const QString t = cell(cells, m, f);
        if (t.trimmed().isEmpty())
            continue;
        const std::optional<qint64> digit = wholeNumber(t);
        if (!digit || *digit < 0 || *digit > 9)
            return refuse(invalid(sheetFieldTitle(f).toLower(), t, QStringLiteral("use um dígito de 0 a 9")));
        (f == SheetField::Prefixo1 ? p.preFix : p.prefixb) = int(*digit);
    }
    if (const QString t = cell(cells, m, SheetField::CodigoBarras); !t.trimmed().isEmpty()) {
        const QString w = normalised(t);
        if (w == QLatin1String("peso") || w == QLatin1String("1"))
            p.barcodeMode = 1;
        else if (w == QLatin1String("total") || w == QLatin1String("totalapagar") || w == QLatin1String("2"))
            p.barcodeMode = 2;
        else
            return refuse(invalid(QStringLiteral("código de barras"), t, QStringLiteral("use Peso ou Total a Pagar")));
    }
    out.product = p;
    return out;
}

QStringList describeSheetProduct(const ImportedProduct &p)
{
    auto number = [](const std::optional<int> &v) { return v ? QString::number(*v) : QString(); };
    return {QString::number(p.codigo),
            p.description,
            csv::formatSheetNumber(p.preco, 2),
            p.tareWeight ? csv::formatSheetNumber(double(*p.tareWeight) / 1000.0, 3) : QString(),
            p.validDays ? QString::number(*p.validDays) : QString(),
            saleTypeText(p.sellFlag),
            p.setor ? sectorNames().value(*p.setor) : QString(),
            number(p.preFix),
            number(p.prefixb),
            p.barcodeMode ? (*p.barcodeMode == 2 ? QStringLiteral("Total a Pagar") : QStringLiteral("Peso")) : QString()};
}

// ---- The file --------------------------------------------------------------

SheetImportSource::SheetImportSource(QIODevice *device, const QString &path, csv::Encoding encoding,
                                     QChar separator, const SheetMapping &mapping)
    : m_reader(device, encoding, separator), m_path(path), m_mapping(mapping)
{
}

bool SheetImportSource::next(int codeSize, ImportRecord *record)
{
    QStringList cells;
    for (;;) {
        if (!m_reader.next(&cells)) {
            if (!m_reader.error().isEmpty())
                throw ImportFailure(QStringLiteral("Não foi possível ler o arquivo %1: %2.")
                                        .arg(QDir::toNativeSeparators(m_path), m_reader.error()));
            return false;
        }
        if (m_mapping.header && !m_headerSkipped) {
            m_headerSkipped = true;
            continue;
        }
        const SheetRow row = readSheetRow(cells, m_mapping, codeSize);
        if (row.blank)
            continue;
        *record = ImportRecord();
        record->line = m_reader.records();
        record->product = row.product;
        if (!row.product)
            record->rejected = sheetRowMessage(record->line, row.reason);
        return true;
    }
}

SheetPreview previewSheet(const QString &path, csv::Encoding encoding, QChar separator, int rows)
{
    SheetPreview out;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        out.error = QStringLiteral("Não foi possível abrir o arquivo %1: %2.")
                        .arg(QDir::toNativeSeparators(path), file.errorString());
        return out;
    }
    csv::CsvReader reader(&file, encoding, separator);
    QStringList cells;
    while (out.rows.size() < rows && reader.next(&cells))
        out.rows.push_back(cells);
    out.error = reader.error();
    return out;
}

// ---- Export ----------------------------------------------------------------

namespace {

constexpr int kFixedDescription = 22;

QString text(const QVariant &v)
{
    return v.isNull() ? QString() : v.toString();
}

QString barcodeModeText(const QVariant &v)
{
    if (v.isNull())
        return {};
    switch (v.toInt()) {
    case 1:
        return QStringLiteral("Peso");
    case 2:
        return QStringLiteral("Total a Pagar");
    default:
        return v.toString();
    }
}

} // namespace

bool exportProducts(const QSqlDatabase &db, ExportFormat format, QByteArray *out, ExportOutcome *outcome,
                    QString *error)
{
    *outcome = ExportOutcome();
    QSqlQuery q(db);
    q.setForwardOnly(true);
    if (!q.exec(QStringLiteral("SELECT pluNo, Codigo, pluDesc, Preco, Tara, validDays, sellFlag, Setor, preFix, "
                               "Prefixb, BarcodeMode FROM PLU ORDER BY pluNo"))) {
        *error = db::errorText(q.lastError());
        return false;
    }
    const bool fixed = format == ExportFormat::FixedColumns;
    QString body;
    if (!fixed) {
        QStringList heading{sheetSlotTitle()};
        for (const FieldInfo &f : kFields)
            heading << QString::fromUtf8(f.title);
        body = heading.join(u';') + QStringLiteral("\r\n");
    }
    while (q.next()) {
        const QVariant codigo = q.value(1);
        const bool product = !codigo.isNull() && codigo.toLongLong() != 0;
        if (product)
            ++outcome->products;
        const QString desc = q.value(2).toString();
        if (fixed) {
            if (!product)
                continue;
            const qint64 code = codigo.toLongLong();
            const qint64 cents = rules::roundHalfUp(q.value(3).toDouble() * 100.0);
            const qint64 days = q.value(5).toLongLong();
            if (code < 0 || code > 999999 || cents < 0 || cents > 999999 || days < 0 || days > 999) {
                ++outcome->skipped;
                continue;
            }
            QString d = desc;
            for (QChar &c : d)
                if (c.unicode() < 0x20)
                    c = u' ';
            if (QStringView(d).mid(kFixedDescription).trimmed().size() > 0)
                ++outcome->cut;
            // Concatenated, not arg()'d: a description may hold "%1".
            body += QStringLiteral("%1").arg(code, 6, 10, QLatin1Char('0')) +
                    QChar(q.value(6).toInt() == 2 ? u'U' : u'P') +
                    d.left(kFixedDescription).leftJustified(kFixedDescription, QLatin1Char(' ')) +
                    QStringLiteral("%1").arg(cents, 7, 10, QLatin1Char('0')) +
                    QStringLiteral("%1").arg(days, 3, 10, QLatin1Char('0')) + QStringLiteral("\r\n");
            ++outcome->rows;
            continue;
        }
        auto decimal = [&](int column, int decimals) {
            return q.value(column).isNull() ? QString() : csv::formatSheetNumber(q.value(column).toDouble(), decimals);
        };
        const QVariant sell = q.value(6);
        const QVariant setor = q.value(7);
        QStringList row{text(q.value(0)),
                        text(codigo),
                        csv::csvCell(asSheetText(desc)),
                        decimal(3, 2),
                        decimal(4, 3),
                        text(q.value(5)),
                        sell.isNull() ? QString() : saleTypeText(sell),
                        setor.isNull() ? QString() : (sectorText(setor).isEmpty() ? text(setor) : sectorText(setor)),
                        text(q.value(8)),
                        text(q.value(9)),
                        barcodeModeText(q.value(10))};
        body += row.join(u';') + QStringLiteral("\r\n");
        ++outcome->rows;
    }
    if (q.lastError().isValid()) {
        *error = db::errorText(q.lastError());
        return false;
    }
    *out = csv::encodeCsv(body, format == ExportFormat::CsvUtf8 ? csv::Encoding::Utf8 : csv::Encoding::Windows1252);
    if (fixed && out->startsWith("\xEF\xBB\xBF"))
        out->remove(0, 3);
    return true;
}

bool exportProductsTo(const QSqlDatabase &db, ExportFormat format, const QString &path, ExportOutcome *outcome,
                      QString *error)
{
    QByteArray bytes;
    if (!exportProducts(db, format, &bytes, outcome, error))
        return false;
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
        *error = QStringLiteral("Não foi possível gravar o arquivo %1: %2.")
                     .arg(QDir::toNativeSeparators(path), file.errorString());
        return false;
    }
    return true;
}

QString exportSummary(ExportFormat format, const ExportOutcome &o, const QString &path)
{
    const QString where = QDir::toNativeSeparators(path);
    if (format != ExportFormat::FixedColumns)
        return QStringLiteral("%1 posições exportadas (%2 com produto) para o arquivo %3.")
            .arg(o.rows)
            .arg(o.products)
            .arg(where);
    QString text = QStringLiteral("%1 produtos exportados para o arquivo %2.").arg(o.rows).arg(where);
    if (o.skipped > 0)
        text += QStringLiteral(" %1 produto(s) não cabem nas colunas fixas (código, preço ou validade grande "
                               "demais) e ficaram de fora.")
                    .arg(o.skipped);
    if (o.cut > 0)
        text += QStringLiteral(" %1 descrição(ões) foram cortadas em %2 caracteres.").arg(o.cut).arg(kFixedDescription);
    return text;
}

} // namespace torvane::manager
