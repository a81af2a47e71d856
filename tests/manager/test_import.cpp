// The import's file reading, line checks, row search and log, driven without
// the product form: an in-memory product list stands in for the database.
#include "ProductImport.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QLocale>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <unistd.h>

#include <vector>

using namespace torvane::manager;

namespace {

// A line of the import file from its fields, padded to the fixed columns.
QByteArray line(const char *code, char type, const char *desc, const char *price, const char *days = nullptr)
{
    QByteArray l = QByteArray(code).leftJustified(6, ' ', true);
    l += type;
    l += QByteArray(desc).leftJustified(22, ' ', true);
    l += QByteArray(price).rightJustified(7, '0', true);
    if (days)
        l += days;
    return l;
}

struct Row {
    qint64 pluNo = 0;
    std::optional<qint64> codigo = 0;
    QString desc;
    int sellFlag = 1;
    qint64 unitPrice = 0;
    double preco = 0;
    qint64 validDays = 0;
    double tara = 0;
    int setor = 0;
    int preFix = 0;
    int prefixb = 0;
    bool flgDel = false;
};

// The product list in memory, with the clearing rules of the real form and
// its one transaction (what was not committed is undone at the end).
class FakeTable : public ImportTable {
public:
    std::vector<Row> rows;
    int size = 5;
    int writes = 0;
    int failOnWrite = -1;   // throw on this write (0-based)
    bool finished = false;

    explicit FakeTable(int count)
    {
        for (int i = 0; i < count; ++i) {
            Row r;
            r.pluNo = i + 1;
            rows.push_back(r);
        }
    }
    static void clear(Row &r)
    {
        r.codigo = 0;
        r.desc.clear();
        r.sellFlag = 1;
        r.unitPrice = 0;
        r.preco = 0;
        r.validDays = 0;
        r.tara = 0;
        r.setor = 0;
        r.preFix = 0;
    }
    void begin() override
    {
        m_before = rows;
        m_committed = false;
    }
    int codeSize() override { return size; }
    int rowCount() override { return int(rows.size()); }
    std::optional<qint64> codigoAt(int row) override { return rows.at(row).codigo; }
    void write(const QVector<std::optional<ImportedProduct>> &products, bool clearedFirst,
               const std::function<void()> &step) override
    {
        for (int i = 0; i < products.size(); ++i) {
            if (writes++ == failOnWrite)
                throw ImportFailure(QStringLiteral("disco cheio"));
            Row &r = rows.at(i);
            const std::optional<ImportedProduct> &p = products[i];
            if (!p || clearedFirst)
                clear(r);
            r.flgDel = !p;
            if (p) {
                r.codigo = p->codigo;
                r.sellFlag = p->sellFlag;
                r.desc = p->description;
                r.unitPrice = p->unitPrice;
                r.preco = p->preco;
                if (p->validDays)
                    r.validDays = *p->validDays;
            }
            step();
        }
    }
    void commit() override { m_committed = true; }
    void moveFirst() override {}
    void finish() override
    {
        finished = true;
        if (!m_committed)
            rows = m_before;
    }

    void put(int row, qint64 code, const QString &desc)
    {
        rows.at(row).codigo = code;
        rows.at(row).desc = desc;
        rows.at(row).tara = 0.5;
        rows.at(row).setor = 3;
        rows.at(row).preFix = 2;
        rows.at(row).prefixb = 7;
        rows.at(row).validDays = 11;
    }

private:
    std::vector<Row> m_before;
    bool m_committed = false;
};

class CountingProgress : public ImportProgress {
public:
    qint64 maximum = -1;
    qint64 steps = 0;
    int finished = 0;
    void start(qint64 m) override { maximum = m; }
    void step() override { ++steps; }
    void finish() override { ++finished; }
};

class ImportRun : public ::testing::Test {
protected:
    void SetUp() override
    {
        QLocale::setDefault(QLocale::c());
        ASSERT_TRUE(dir.isValid());
        logPath = dir.filePath("log.txt");
    }
    QString write(const QByteArray &content, const char *name = "produtos.txt")
    {
        const QString path = dir.filePath(name);
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(content);
        return path;
    }
    ImportOutcome import(FakeTable &table, const QByteArray &content, bool clearFirst = false)
    {
        const QString path = write(content);
        ImportSurvey survey;
        QString error;
        EXPECT_TRUE(surveyImportFile(path, &survey, &error)) << error.toStdString();
        ImportLog log(logPath);
        ProductImport imp(table, log, &progress);
        return imp.run(path, survey, clearFirst);
    }
    QStringList logLines()
    {
        QFile f(logPath);
        if (!f.open(QIODevice::ReadOnly))
            return {};
        QString text = QString::fromLatin1(f.readAll());
        if (text.endsWith('\n'))
            text.chop(1);
        return text.split('\n');
    }

    QTemporaryDir dir;
    QString logPath;
    CountingProgress progress;
};

std::vector<std::pair<QString, qint64>> readAll(const QByteArray &bytes)
{
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    ImportLineReader reader(&buffer);
    std::vector<std::pair<QString, qint64>> out;
    QString head;
    qint64 length = 0;
    while (reader.next(&head, &length))
        out.emplace_back(head, length);
    return out;
}

} // namespace

TEST(ImportLineReader, SplitsOnEveryLineEndAndKeepsEmptyLines)
{
    const auto lines = readAll("a\r\nbb\nccc\rdddd\r\n\r\n\nlast");
    ASSERT_EQ(lines.size(), 7u);
    EXPECT_EQ(lines[0].first, "a");
    EXPECT_EQ(lines[1].first, "bb");
    EXPECT_EQ(lines[2].first, "ccc");
    EXPECT_EQ(lines[3].first, "dddd");
    EXPECT_EQ(lines[4].second, 0);
    EXPECT_EQ(lines[5].second, 0);
    EXPECT_EQ(lines[6].first, "last");

    EXPECT_EQ(readAll("x\r\n").size(), 1u);
    EXPECT_EQ(readAll("x\n\n").size(), 2u);
    EXPECT_EQ(readAll("\r\r").size(), 2u);
    EXPECT_EQ(readAll("").size(), 0u);
}

TEST(ImportLineReader, CrLfSplitAcrossReadChunksIsOneLineEnd)
{
    // 64 KiB chunks: put the CR as the last byte of the first chunk.
    QByteArray first(64 * 1024 - 1, 'x');
    const auto lines = readAll(first + "\r\nnext\r\n");
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].second, 64 * 1024 - 1);
    EXPECT_EQ(lines[1].first, "next");
}

TEST(ImportLineReader, LongLinesKeepOnlyTheirHeadButTheirWholeLength)
{
    const QByteArray longLine(100000, 'z');
    const auto lines = readAll(longLine + "\nshort");
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].first.size(), ImportLineReader::kHeadChars);
    EXPECT_EQ(lines[0].second, 100000);
    EXPECT_EQ(lines[1].first, "short");
}

TEST(ImportLineReader, DecodesWindows1252AndUtf8ByCharacters)
{
    // 0x80 is the euro sign, 0xE7 c cedilla in Windows-1252.
    const auto cp = readAll("\x80\xE7\x93");
    EXPECT_EQ(cp[0].first, QString::fromUtf8("€ç“"));
    EXPECT_EQ(cp[0].second, 3);

}

TEST(ImportLineCheck, SizesAndNumberChecks)
{
    ImportFields f;
    EXPECT_EQ(checkImportLine("", 0), LineCheck::TooShort);
    const QString l36 = QString::fromLatin1(line("000123", 'P', "BANANA", "0001299"));
    ASSERT_EQ(l36.size(), 36);
    EXPECT_EQ(checkImportLine(l36.left(35), 35), LineCheck::TooShort);
    ASSERT_EQ(checkImportLine(l36, 36, &f), LineCheck::Usable);
    EXPECT_EQ(f.price, "001299");
    EXPECT_TRUE(f.shelfLife.isNull());
    EXPECT_EQ(f.description, QString("BANANA").leftJustified(22));

    EXPECT_EQ(checkImportLine(QString::fromLatin1(line("00A123", 'P', "X", "0001299")), 36), LineCheck::BadCode);
    EXPECT_EQ(checkImportLine(QString::fromLatin1(line("000123", 'P', "X", "00012X9")), 36), LineCheck::BadPrice);
    // A blank between the digits is no number; blanks around one are.
    EXPECT_EQ(checkImportLine(QString::fromLatin1(line("000123", 'P', "X", "0 01299")), 36), LineCheck::BadPrice);
    EXPECT_EQ(checkImportLine(QString::fromLatin1(line("  123 ", 'P', "X", "0001299")), 36), LineCheck::Usable);
    // The code check comes before the price check.
    EXPECT_EQ(checkImportLine(QString::fromLatin1(line("ABC", 'P', "X", "XXXXXXX")), 36), LineCheck::BadCode);
    // NUL bytes are never part of a number.
    QString nul = l36;
    nul[3] = QChar(0);
    EXPECT_EQ(checkImportLine(nul, 36), LineCheck::BadCode);
}

TEST(ImportLineCheck, ShelfLifeOnlyOnLinesOfExactly39Characters)
{
    ImportFields f;
    const QString l39 = QString::fromLatin1(line("000123", 'P', "X", "0001299", "030"));
    ASSERT_EQ(checkImportLine(l39, 39, &f), LineCheck::Usable);
    EXPECT_EQ(f.shelfLife, "030");
    const QString l40 = l39 + "5";
    ASSERT_EQ(checkImportLine(l40, 40, &f), LineCheck::Usable);
    EXPECT_TRUE(f.shelfLife.isNull());
    ASSERT_EQ(checkImportLine(l39.left(38), 38, &f), LineCheck::Usable);
    EXPECT_TRUE(f.shelfLife.isNull());
    const QString notNumber = QString::fromLatin1(line("000123", 'P', "X", "0001299", "3x0"));
    ASSERT_EQ(checkImportLine(notNumber, 39, &f), LineCheck::Usable);
    EXPECT_TRUE(f.shelfLife.isNull());
}

TEST(ImportProductFields, CodeCutPriceAndSaleType)
{
    EXPECT_EQ(cutImportCode("123456", 6), "123456");
    EXPECT_EQ(cutImportCode("123456", 5), "23456");
    EXPECT_EQ(cutImportCode("123456", 4), "3456");
    EXPECT_EQ(cutImportCode("123456", 9), "3456");

    ImportFields f;
    ASSERT_EQ(checkImportLine(QString::fromLatin1(line("012345", 'u', "X", "7001299")), 36, &f), LineCheck::Usable);
    ImportedProduct p = makeImportedProduct(f, 4);
    EXPECT_EQ(p.code, "2345");
    EXPECT_EQ(p.codigo, 2345);
    EXPECT_EQ(p.sellFlag, 2);
    EXPECT_EQ(p.unitPrice, 1299);   // the 7 in column 30 only took part in the check
    EXPECT_DOUBLE_EQ(p.preco, 12.99);
    for (char c : {'P', ' ', 'x', '1'}) {
        f.saleType = QLatin1Char(c);
        EXPECT_EQ(makeImportedProduct(f, 6).sellFlag, 1) << c;
    }
    f.saleType = 'U';
    EXPECT_EQ(makeImportedProduct(f, 6).sellFlag, 2);
}

TEST(ImportProductFields, TextsThatAreNumbersButNotIntegersEndTheImport)
{
    EXPECT_EQ(importInteger(" -12 "), -12);
    EXPECT_EQ(importInteger("+007"), 7);
    EXPECT_THROW(importInteger("12.5"), ImportFailure);
    EXPECT_THROW(importInteger("1E3"), ImportFailure);
    EXPECT_THROW(importInteger(""), ImportFailure);
    EXPECT_THROW(importInteger("99999999999"), ImportFailure);
    try {
        importInteger("0012.5");
    } catch (const ImportFailure &e) {
        EXPECT_EQ(e.text(), QString::fromUtf8("'0012.5' não é um valor inteiro válido."));
    }
}

TEST_F(ImportRun, WritesProductsIntoFreeSlotsAndLogsEveryRejectedLineFromZero)
{
    FakeTable table(5);
    const QByteArray file = "short\r\n" + line("00A001", 'P', "BAD CODE", "0000100") + "\r\n" +
                            line("000101", 'U', "PAO FRANCES", "0001299", "030") + "\r\n" +
                            line("000102", 'P', "BANANA", "00001X9") + "\r\n" + "\r\n" +
                            line("000103", 'P', "MACA", "0000450");
    const ImportOutcome out = import(table, file);
    EXPECT_EQ(out.lines, 6);
    EXPECT_EQ(out.written, 2);
    EXPECT_EQ(out.rejected, 4);
    EXPECT_EQ(logLines(), QStringList({QString::fromUtf8("Tamanho do registro inválido na linha: 0"),
                                       QString::fromUtf8("Código inválido na linha: 1"),
                                       QString::fromUtf8("Preço inválido na linha: 3"),
                                       QString::fromUtf8("Tamanho do registro inválido na linha: 4")}));
    // Latin-1 bytes on disk.
    QFile f(logPath);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_TRUE(f.readAll().startsWith("Tamanho do registro inv\xE1lido na linha: 0\n"));

    // Code size 5 cuts 000101 to 00101.
    EXPECT_EQ(table.rows[0].codigo, 101);
    EXPECT_EQ(table.rows[0].desc, QString("PAO FRANCES").leftJustified(22));
    EXPECT_EQ(table.rows[0].sellFlag, 2);
    EXPECT_EQ(table.rows[0].unitPrice, 1299);
    EXPECT_EQ(table.rows[0].validDays, 30);
    EXPECT_EQ(table.rows[1].codigo, 103);
    EXPECT_EQ(table.rows[1].validDays, 0);
    // Written rows lose their mark; clearing keeps it, as it keeps pluNo.
    EXPECT_FALSE(table.rows[0].flgDel);
    EXPECT_FALSE(table.rows[1].flgDel);
    EXPECT_TRUE(table.rows[2].flgDel);
    EXPECT_EQ(progress.maximum, 6 + 5); // every line, then every row
    EXPECT_EQ(progress.steps, 6 + 5);
    EXPECT_EQ(progress.finished, 1);
    EXPECT_TRUE(table.finished);
}

TEST_F(ImportRun, KeepingDataAProductFindsItsOwnSlotAndKeepsWhatTheFileDoesNotCarry)
{
    FakeTable table(4);
    table.put(2, 101, "OLD NAME");
    table.put(3, 200, "NOT IN FILE");
    import(table, line("000101", 'P', "NEW NAME", "0000990") + "\n" + line("000300", 'P', "NEW", "0000100"));
    const Row &r = table.rows[2];
    EXPECT_EQ(r.codigo, 101);
    EXPECT_EQ(r.desc, QString("NEW NAME").leftJustified(22));
    EXPECT_EQ(r.unitPrice, 990);
    EXPECT_DOUBLE_EQ(r.tara, 0.5);
    EXPECT_EQ(r.setor, 3);
    EXPECT_EQ(r.preFix, 2);
    EXPECT_EQ(r.prefixb, 7);
    EXPECT_EQ(r.validDays, 11);      // no shelf life in the line
    EXPECT_EQ(table.rows[0].codigo, 300);
    // The product missing from the file is cleared at the end.
    EXPECT_EQ(table.rows[3].codigo, 0);
    EXPECT_TRUE(table.rows[3].desc.isEmpty());
    EXPECT_EQ(table.rows[3].setor, 0);
}

TEST_F(ImportRun, SlotsOfProductsMissingFromTheFileAreNotFreeDuringTheRun)
{
    FakeTable table(2);
    table.put(0, 7, "SEVEN");
    table.put(1, 8, "EIGHT");
    const ImportOutcome out = import(table, line("000007", 'P', "SEVEN", "0000100") + "\n" +
                                                line("000009", 'P', "NINE", "0000100"));
    EXPECT_EQ(out.rejected, 1);
    EXPECT_EQ(logLines(), QStringList(QString::fromUtf8("Estourou a capacidade de produtos. Código: 00009")));
    EXPECT_EQ(table.rows[0].codigo, 7);
    EXPECT_EQ(table.rows[1].codigo, 0);    // cleared afterwards all the same
}

TEST_F(ImportRun, ClearingFirstFillsFromTheFirstRow)
{
    FakeTable table(3);
    table.put(2, 101, "OLD");
    import(table, line("000101", 'P', "NEW", "0000100"), true);
    EXPECT_EQ(table.rows[0].codigo, 101);
    EXPECT_DOUBLE_EQ(table.rows[0].tara, 0);
    EXPECT_EQ(table.rows[2].codigo, 0);
}

TEST_F(ImportRun, SameCodeTwiceAndCodeZeroAndCapacity)
{
    FakeTable table(1);
    table.size = 4;
    const ImportOutcome out = import(table, line("000000", 'P', "ZERO A", "0000100") + "\n" +
                                                line("000000", 'P', "ZERO B", "0000200") + "\n" +
                                                line("990123", 'P', "FIRST", "0000300") + "\n" +
                                                line("000123", 'P', "SECOND", "0000400") + "\n" +
                                                line("000124", 'P', "NO ROOM", "0000500"));
    // Code 0 leaves its slot free, so the next line takes it again; 990123
    // and 000123 are one code at size 4.
    EXPECT_EQ(table.rows[0].desc, QString("SECOND").leftJustified(22));
    EXPECT_EQ(table.rows[0].codigo, 123);
    EXPECT_EQ(table.rows[0].unitPrice, 400);
    EXPECT_EQ(out.rejected, 1);
    EXPECT_EQ(logLines(), QStringList(QString::fromUtf8("Estourou a capacidade de produtos. Código: 0124")));
}

TEST_F(ImportRun, CodeSizeCutsTheCodeOfEveryLine)
{
    FakeTable table(3);
    table.size = 6;
    import(table, line("123456", 'P', "A", "0000100") + "\n" + line("123456", 'P', "B", "0000100"));
    EXPECT_EQ(table.rows[0].codigo, 123456);
    EXPECT_EQ(table.rows[1].codigo, 0);  // second line overwrote the first
    table.size = 5;
    import(table, line("123456", 'P', "A", "0000100"));
    EXPECT_EQ(table.rows[0].codigo, 0);
    EXPECT_EQ(table.rows[1].codigo, 23456);
}

TEST_F(ImportRun, FileOfBlankLinesLogsEachAndClearsEveryProduct)
{
    FakeTable table(3);
    table.put(0, 5, "FIVE");
    table.put(1, 6, "SIX");
    const ImportOutcome out = import(table, "\r\n\r\n   \r\n");
    EXPECT_EQ(out.rejected, 3);
    EXPECT_EQ(logLines().size(), 3);
    for (const Row &r : table.rows)
        EXPECT_EQ(r.codigo, 0);
}

TEST_F(ImportRun, AFailureLeavesEveryRowAsItWasAndSaysSo)
{
    FakeTable table(4);
    table.put(3, 55, "KEEP ME");
    table.failOnWrite = 1;
    const QByteArray file = line("000001", 'P', "ONE", "0000100") + "\n" + line("000002", 'P', "TWO", "0000100") +
                            "\n" + line("000003", 'P', "THREE", "0000100");
    try {
        import(table, file);
        FAIL() << "no failure";
    } catch (const ImportFailure &e) {
        EXPECT_EQ(e.text(), importNotDoneMessage(QStringLiteral("disco cheio")));
    }
    EXPECT_EQ(table.rows[0].codigo, 0);
    EXPECT_EQ(table.rows[3].codigo, 55);
    EXPECT_EQ(progress.finished, 1);
    EXPECT_TRUE(table.finished);

    // A line that ends the import is found before anything is written.
    FakeTable other(3);
    other.put(2, 9, "NINE");
    try {
        import(other, line("000001", 'P', "ONE", "0000100") + "\n" + line("000002", 'P', "TWO", "00012.5"));
        FAIL() << "no failure";
    } catch (const ImportFailure &e) {
        EXPECT_EQ(e.text(), importNotDoneMessage(importStoppedMessage(
                                1, QString::fromUtf8("'0012.5' não é um valor inteiro válido."))));
    }
    EXPECT_EQ(other.writes, 0);
    EXPECT_EQ(other.rows[2].codigo, 9);
}

TEST_F(ImportRun, NulBytesAreRejectedInNumbersAndBlankedInDescriptions)
{
    FakeTable table(3);
    QByteArray withNulDesc = line("000001", 'P', "AB", "0000100");
    withNulDesc[9] = '\0';
    QByteArray withNulCode = line("000002", 'P', "CD", "0000100");
    withNulCode[2] = '\0';
    const ImportOutcome out = import(table, withNulDesc + "\n" + withNulCode + "\n" + line("000003", 'P', "EF", "0000100"));
    EXPECT_EQ(out.written, 2);
    EXPECT_EQ(logLines(), QStringList(QString::fromUtf8("Código inválido na linha: 1")));
    EXPECT_EQ(table.rows[0].desc, QString("AB").leftJustified(22));
    EXPECT_EQ(table.rows[1].codigo, 3);
}

TEST_F(ImportRun, OldLogIsReplacedAndAnUndeletableOneIsContinued)
{
    {
        QFile f(logPath);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("old message");
    }
    FakeTable table(1);
    import(table, "x");
    EXPECT_EQ(logLines(), QStringList(QString::fromUtf8("Tamanho do registro inválido na linha: 0")));

    // A clean run leaves no log behind.
    import(table, line("000001", 'P', "ONE", "0000100"));
    EXPECT_FALSE(QFile::exists(logPath));

    ImportLog log(logPath);
    {
        QFile f(logPath);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("kept");
    }
    log.WriteLog("next");
    log.close();
    EXPECT_EQ(logLines(), QStringList({"kept", "next"}));
}

TEST(ImportLogPlace, ProgramFolderWhenWritableElseTheDatabaseFolder)
{
    QTemporaryDir program, database;
    ASSERT_TRUE(program.isValid() && database.isValid());
    EXPECT_EQ(ImportLog::chooseDirectory(program.path(), database.path()), program.path());
    EXPECT_EQ(ImportLog::chooseDirectory(program.filePath("no-such-folder"), database.path()), database.path());
    // A log.txt that is a folder cannot take the log either.
    ASSERT_TRUE(QDir(program.path()).mkdir("log.txt"));
    EXPECT_EQ(ImportLog::chooseDirectory(program.path(), database.path()), database.path());
    ASSERT_TRUE(QDir(program.path()).rmdir("log.txt"));
}

TEST(ImportLogPlace, ReadOnlyFoldersAreSkipped)
{
    QTemporaryDir program, database;
    ASSERT_TRUE(program.isValid() && database.isValid());
    if (::geteuid() == 0)
        GTEST_SKIP() << "root writes to read-only folders";
    QFile::setPermissions(program.path(), QFileDevice::ReadOwner | QFileDevice::ExeOwner);
    EXPECT_EQ(ImportLog::chooseDirectory(program.path(), database.path()), database.path());
    QFile::setPermissions(database.path(), QFileDevice::ReadOwner | QFileDevice::ExeOwner);
    EXPECT_TRUE(ImportLog::chooseDirectory(program.path(), database.path()).isEmpty());
    QFile::setPermissions(program.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    QFile::setPermissions(database.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
}

TEST_F(ImportRun, SurveyCountsLinesAndTellsBinaryFilesApart)
{
    ImportSurvey s;
    QString error;
    ASSERT_TRUE(surveyImportFile(write(line("000001", 'P', "A", "0000100") + "\r\n\r\n"), &s, &error));
    EXPECT_EQ(s.lines, 2);
    EXPECT_EQ(s.usableLines, 1);
    EXPECT_FALSE(s.looksBinary());

    QByteArray garbage;
    for (int i = 0; i < 5000; ++i)
        garbage += char((i * 7919) % 256);
    ASSERT_TRUE(surveyImportFile(write(garbage), &s, &error));
    EXPECT_TRUE(s.looksBinary());

    ASSERT_TRUE(surveyImportFile(write(QByteArray("\r\n\r\n")), &s, &error));
    EXPECT_FALSE(s.looksBinary());    // blank lines are text

    EXPECT_FALSE(surveyImportFile(dir.filePath("missing.txt"), &s, &error));
    EXPECT_TRUE(error.contains("missing.txt"));
    EXPECT_FALSE(surveyImportFile(dir.path(), &s, &error));
}

TEST_F(ImportRun, Utf8DescriptionWithAccentsKeepsThePriceColumns)
{
    FakeTable table(2);
    // "PÃO DE AÇÚCAR" has three letters of two bytes each in UTF-8.
    QByteArray l = QByteArray("000101P") + QString::fromUtf8("PÃO DE AÇÚCAR").leftJustified(22).toUtf8() + "0001299";
    const ImportOutcome out = import(table, l + "\n");
    EXPECT_EQ(out.written, 1);
    EXPECT_EQ(table.rows[0].desc, QString::fromUtf8("PÃO DE AÇÚCAR").leftJustified(22));
    EXPECT_EQ(table.rows[0].unitPrice, 1299);
}
