// Table access, data source, port choice file, USB search and the row/image
// conversions of the transmitter (no serial line involved).
#include "DataSource.h"
#include "PortChoice.h"
#include "Recordsets.h"
#include "ScaleCompare.h"
#include "ScaleProtocol.h"
#include "TransferJobs.h"
#include "TransmitterTestSupport.h"

#include <QFile>
#include <QSqlDatabase>
#include <gtest/gtest.h>

using namespace torvane::transmitter;

namespace {

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
}

} // namespace

TEST(DataSource, ConnectStringsReachTheFileInTheWorkingDirectory)
{
    ClearDataSources();
    QString error;
    EXPECT_TRUE(ResolveConnectString(QLatin1String(kPluConnect), &error).isEmpty());
    EXPECT_TRUE(error.contains(QLatin1String("Torvane")));

    ASSERT_TRUE(RegisterTorvaneDataSource());
    EXPECT_EQ(ResolveConnectString(QLatin1String(kPluConnect), &error), QStringLiteral("./vendabase.accdb"));
    EXPECT_EQ(ResolveConnectString(QLatin1String(kUploadConnect), &error), QStringLiteral("./vendabase.accdb"));
    // Without a DBQ the registered data source supplies the file.
    EXPECT_EQ(ResolveConnectString(QStringLiteral("DSN=Torvane;UID=admin;"), &error), QStringLiteral("./vendabase.accdb"));

    EXPECT_FALSE(SQLConfigDataSource(kOdbcAddDsn, QStringLiteral("SQL Server"), QByteArray("DSN=X\0DBQ=y\0", 12)));
    EXPECT_FALSE(SQLConfigDataSource(kOdbcAddDsn, QLatin1String(kAccessDriver), QByteArray("DSN=X\0\0DBQ=y\0", 13)));
}

TEST(Recordsets, PluRowsInTableOrderWithFreshValuesAndNoValueAsZero)
{
    ttest::WorkDir wd;
    ASSERT_TRUE(ttest::makeDatabase(3, true));
    ttest::Sql sql;
    ASSERT_TRUE(sql.exec(QStringLiteral("UPDATE PLU SET pluDesc = NULL, unitPrice = NULL, BarcodeMode = 2 WHERE pluNo = 3")));

    QString error;
    EXPECT_EQ(CountPluRows(&error), 3);

    CPLU rs;
    ASSERT_TRUE(rs.Open()) << rs.GetLastError().toStdString();
    ASSERT_FALSE(rs.IsEOF());
    EXPECT_EQ(rs.m_pluNo, 1);
    EXPECT_EQ(rs.m_pluDesc, QStringLiteral("PAO FRANCES"));
    EXPECT_EQ(rs.m_unitPrice, 1490);
    EXPECT_EQ(rs.m_pluCode, QStringLiteral("001010"));
    // The manager saves row 2 while the transmitter is on row 1: the new
    // price is the one read.
    ASSERT_TRUE(sql.exec(QStringLiteral("UPDATE PLU SET unitPrice = 4242 WHERE pluNo = 2")));
    ASSERT_TRUE(rs.MoveNext());
    EXPECT_EQ(rs.m_pluNo, 2);
    EXPECT_EQ(rs.m_unitPrice, 4242);
    ASSERT_TRUE(rs.MoveNext());
    EXPECT_EQ(rs.m_pluNo, 3);
    EXPECT_EQ(rs.m_pluDesc, QString());
    EXPECT_EQ(rs.m_unitPrice, 0);
    EXPECT_EQ(rs.m_barcodeMode, 2);
    ASSERT_TRUE(rs.MoveNext());
    EXPECT_TRUE(rs.IsEOF());
    EXPECT_FALSE(rs.MoveNext()); // no move past the end
    ASSERT_TRUE(rs.MoveFirst());
    EXPECT_EQ(rs.m_pluNo, 1);
}

TEST(Recordsets, EmptyPluAndMissingTableOrFile)
{
    ttest::WorkDir wd;
    QString error;
    EXPECT_EQ(CountPluRows(&error), -1); // no file at all
    EXPECT_FALSE(error.isEmpty());
    EXPECT_FALSE(QFile::exists(QStringLiteral("vendabase.accdb"))); // never created

    ASSERT_TRUE(ttest::makeDatabase(0));
    EXPECT_EQ(CountPluRows(&error), 0);
    ttest::Sql sql;
    ASSERT_TRUE(sql.exec(QStringLiteral("DROP TABLE PLU_UPLOADED")));
    CPLU_UPLOADED up;
    EXPECT_FALSE(up.Open());
    EXPECT_TRUE(up.GetLastError().contains(QLatin1String("PLU_UPLOADED"), Qt::CaseInsensitive)) << up.GetLastError().toStdString();
    EXPECT_FALSE(up.IsOpen());
}

TEST(Recordsets, UploadedTableEmptiedRefilledAndFiltered)
{
    ttest::WorkDir wd;
    ASSERT_TRUE(ttest::makeDatabase(1));
    ttest::Sql sql;
    for (int i = 1; i <= 3; ++i)
        ASSERT_TRUE(sql.exec(QStringLiteral("INSERT INTO PLU_UPLOADED (pluNo, pluDesc) VALUES (%1, 'old')").arg(i)));

    CPLU_UPLOADED up;
    ASSERT_TRUE(up.Open());
    EXPECT_TRUE(up.CanAppend());
    while (!up.IsEOF()) {
        ASSERT_TRUE(up.Delete());
        ASSERT_TRUE(up.MoveNext());
    }
    EXPECT_EQ(sql.scalar(QStringLiteral("SELECT count(*) FROM PLU_UPLOADED")).toInt(), 0);

    up.AddNew();
    up.m_pluNo = 65535;
    up.m_preFix = 2;
    up.m_pluCode = QStringLiteral("000123");
    up.m_pluDesc = QStringLiteral("MAÇÃ");
    up.m_validDays = 65535;
    up.m_tareWeight = 65535;
    up.m_unitPrice = 16777215;
    up.m_sellFlag = 1;
    ASSERT_TRUE(up.Update()) << up.GetLastError().toStdString();

    up.m_strFilter = QStringLiteral("pluNo=7");
    ASSERT_TRUE(up.Requery());
    EXPECT_TRUE(up.IsEOF());
    up.m_strFilter = QStringLiteral("pluNo=65535");
    ASSERT_TRUE(up.Requery());
    ASSERT_FALSE(up.IsEOF());
    EXPECT_EQ(up.m_pluDesc, QStringLiteral("MAÇÃ"));
    EXPECT_EQ(up.m_validDays, 65535);
    EXPECT_EQ(up.m_tareWeight, 65535);
    EXPECT_EQ(up.m_unitPrice, 16777215);
}

TEST(Recordsets, ViewCannotTakeRowsAndDeclinedInsertIsNotAnError)
{
    ttest::WorkDir wd;
    ASSERT_TRUE(ttest::makeDatabase(1));
    ttest::Sql sql;
    ASSERT_TRUE(sql.exec(QStringLiteral("ALTER TABLE PLU_UPLOADED RENAME TO PU_DATA")));
    ASSERT_TRUE(sql.exec(QStringLiteral("CREATE VIEW PLU_UPLOADED AS SELECT * FROM PU_DATA")));
    ASSERT_TRUE(sql.exec(torvane::test::faultTrigger(QStringLiteral("skip7"), QStringLiteral("INSERT"),
                                                     QStringLiteral("RECORD"), QStringLiteral("NEW.pluNo = 7"))));
    CPLU_UPLOADED up;
    ASSERT_TRUE(up.Open()) << up.GetLastError().toStdString();
    EXPECT_FALSE(up.CanAppend());

    CRECORD rec;
    ASSERT_TRUE(rec.Open());
    rec.AddNew();
    rec.m_pluNo = 7;
    EXPECT_FALSE(rec.Update());
    EXPECT_FALSE(rec.HasError());
    rec.AddNew();
    rec.m_pluNo = 8;
    rec.m_pluDesc = QString();
    rec.m_dateTime = QDateTime(); // no date
    rec.m_weight = 1500;
    EXPECT_TRUE(rec.Update());
    const auto rows = sql.rows(QStringLiteral("SELECT ID, pluNo, pluDesc, dateTime, weight, totalPrice FROM RECORD"));
    ASSERT_EQ(rows.size(), 1u);
    if (!torvane::test::onServer()) { // the server's sequence also counts the skipped row
        EXPECT_EQ(rows[0][0].toInt(), 1);
    }
    EXPECT_EQ(rows[0][1].toInt(), 8);
    EXPECT_EQ(rows[0][2].toString(), QString());
    EXPECT_TRUE(rows[0][3].isNull());
    EXPECT_EQ(rows[0][4].toInt(), 1500);
}

TEST(PortChoiceFile, RestoreReadsTheFirstFourBytes)
{
    ttest::WorkDir wd;
    const QString ini = QStringLiteral("para.ini");
    EXPECT_EQ(ReadPortChoice(ini).number, 1); // missing
    struct Case {
        QByteArray bytes;
        PortRestore::Kind kind;
        int number;
    } cases[] = {
        {"COM7", PortRestore::Kind::Number, 7},
        {"COM9trailing", PortRestore::Kind::Number, 9},
        {"com3", PortRestore::Kind::Number, 1},
        {"COM0", PortRestore::Kind::Number, 0},
        {"COMx", PortRestore::Kind::Number, 'x' - '0'},
        {"COM", PortRestore::Kind::Number, -'0'},
        {QByteArray("COM\xB1", 4), PortRestore::Kind::Number, -79 - '0'},
        {"USB", PortRestore::Kind::Usb, 1},
        {"USB1", PortRestore::Kind::Number, 1},
        {"usb", PortRestore::Kind::Number, 1},
        {"", PortRestore::Kind::Number, 1},
        // A network address on the line after the serial port an older
        // transmitter (reading four bytes) falls back to.
        {"COM3\ntcp://10.0.0.21:4001", PortRestore::Kind::Network, 3},
        {"COM3\r\nrfc2217://[fd00::21]:4001\n", PortRestore::Kind::Network, 3},
        {"COM3\nlixo", PortRestore::Kind::Number, 3},
        {"COM3tcp://10.0.0.21:4001", PortRestore::Kind::Number, 3},
        {"COM0\ntcp://10.0.0.21:4001", PortRestore::Kind::Number, 0},
    };
    for (const Case &c : cases) {
        writeFile(ini, c.bytes);
        const PortRestore r = ReadPortChoice(ini);
        EXPECT_EQ(int(r.kind), int(c.kind)) << c.bytes.toStdString();
        EXPECT_EQ(r.number, c.number) << c.bytes.toStdString();
        if (r.kind == PortRestore::Kind::Network) {
            EXPECT_TRUE(c.bytes.contains(r.address.toUtf8())) << c.bytes.toStdString();
        }
    }
    writeFile(ini, "COM4");
    QFile::setPermissions(ini, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther);
    EXPECT_EQ(ReadPortChoice(ini).number, 1);
    EXPECT_FALSE(WritePortChoice("COM1", ini));
    EXPECT_EQ(readAll(ini), QByteArray("COM4"));
    QFile::setPermissions(ini, QFile::ReadOwner | QFile::WriteOwner);
    EXPECT_TRUE(WritePortChoice("USB", ini));
    EXPECT_EQ(readAll(ini), QByteArray("USB"));
}

TEST(UsbSearch, StableLinksFirstThenSysfs)
{
    ttest::WorkDir wd;
    UsbSearchRoots roots{wd.file(QStringLiteral("by-id")), wd.file(QStringLiteral("sys")), wd.file(QStringLiteral("dev"))};
    QString port;
    EXPECT_FALSE(FindUsbSerialPort(&port, roots)); // nothing there at all

    QDir().mkpath(roots.dev);
    QDir().mkpath(roots.sysClassTty + QStringLiteral("/ttyS0/device"));
    writeFile(roots.dev + QStringLiteral("/ttyS0"), "");
    EXPECT_FALSE(FindUsbSerialPort(&port, roots)); // a built-in port is not the scale's adapter

    QDir().mkpath(roots.sysClassTty + QStringLiteral("/ttyACM0/device"));
    EXPECT_FALSE(FindUsbSerialPort(&port, roots)); // listed, but no device node
    writeFile(roots.dev + QStringLiteral("/ttyACM0"), "");
    ASSERT_TRUE(FindUsbSerialPort(&port, roots));
    EXPECT_EQ(port, roots.dev + QStringLiteral("/ttyACM0"));

    QDir().mkpath(roots.byId);
    writeFile(roots.dev + QStringLiteral("/ttyUSB3"), "");
    ASSERT_TRUE(QFile::link(roots.dev + QStringLiteral("/ttyUSB3"),
                            roots.byId + QStringLiteral("/usb-FTDI_FT232R_USB_UART_A1-if00-port0")));
    ASSERT_TRUE(FindUsbSerialPort(&port, roots));
    EXPECT_EQ(port, roots.dev + QStringLiteral("/ttyUSB3"));
}

TEST(RowImages, ProductRowToImage)
{
    CPLU row;
    row.m_pluNo = 65536 + 258;
    row.m_preFix = 2;
    row.m_pluCode = QStringLiteral("123"); // shorter than 6: zero bytes follow
    row.m_pluDesc = QStringLiteral("PÃO€ DE QUEIJO MUITO BOM E GRANDE"); // longer than 26
    row.m_validDays = 10;
    row.m_tareWeight = 20;
    row.m_unitPrice = 399;
    row.m_sellFlag = 1;
    row.m_barcodeMode = 2;
    ScalePlu plu;
    plu.code[5] = 'X'; // cleared first
    FillScalePlu(row, plu);
    EXPECT_EQ(plu.number, 258);
    EXPECT_EQ(QByteArray(reinterpret_cast<const char *>(plu.code), 6), QByteArray("123\0\0\0", 6));
    EXPECT_EQ(QByteArray(reinterpret_cast<const char *>(plu.description), 26),
              QByteArray("P\xC3O\x80 DE QUEIJO MUITO BOM E"));
    EXPECT_EQ(plu.shelfLifeDays, 10);
    EXPECT_EQ(plu.tare, 20);
    EXPECT_EQ(plu.unitPrice, 399u);
    EXPECT_EQ(plu.saleType, 1);
    EXPECT_EQ(plu.barcodeMode, 2);

    row.m_pluCode = QStringLiteral("1234567");
    row.m_pluDesc = QStringLiteral("日本");
    FillScalePlu(row, plu);
    EXPECT_EQ(QByteArray(reinterpret_cast<const char *>(plu.code), 6), QByteArray("123456"));
    EXPECT_EQ(QByteArray(reinterpret_cast<const char *>(plu.description), 3), QByteArray("??\0", 3));
}

TEST(RowImages, ImageToUploadedRow)
{
    ScalePlu plu;
    plu.number = 500;
    plu.prefix = 2;
    std::memcpy(plu.description, "BANANA", 6);
    plu.shelfLifeDays = 65535;
    plu.tare = 124;
    plu.unitPrice = 0xFFFFFF;
    plu.saleType = 2;
    CPLU_UPLOADED row;
    FillUploadedRow(plu, row);
    EXPECT_EQ(row.m_pluNo, 500);
    EXPECT_EQ(row.m_pluCode, QString()); // six zero bytes
    EXPECT_EQ(row.m_pluDesc, QStringLiteral("BANANA"));
    EXPECT_EQ(row.m_validDays, 65535);
    EXPECT_EQ(row.m_unitPrice, 16777215);
    EXPECT_EQ(row.m_sellFlag, 2);

    std::memcpy(plu.code, "\xC7\x41\x42\x43\x44\x45", 6);
    std::memset(plu.description, 'Z', 26);
    FillUploadedRow(plu, row);
    EXPECT_EQ(row.m_pluCode, QStringLiteral("ÇABCDE"));
    EXPECT_EQ(row.m_pluDesc, QString(26, u'Z'));
}

TEST(RowImages, SaleDateAndTime)
{
    auto sale = [](int y, int mo, int d, int h, int mi, int s) {
        ScaleSale r;
        r.year = uint8_t(y);
        r.month = uint8_t(mo);
        r.day = uint8_t(d);
        r.hour = uint8_t(h);
        r.minute = uint8_t(mi);
        r.second = uint8_t(s);
        return r;
    };
    EXPECT_EQ(SaleDateTime(sale(24, 3, 15, 9, 30, 5)).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")),
              QStringLiteral("2024-03-15 09:30:05"));
    // A day past the month's end rolls into the next month.
    EXPECT_EQ(SaleDateTime(sale(24, 2, 31, 0, 0, 0)).date(), QDate(2024, 3, 2));
    EXPECT_EQ(SaleDateTime(sale(23, 4, 31, 23, 59, 59)).date(), QDate(2023, 5, 1));
    EXPECT_FALSE(SaleDateTime(sale(24, 13, 1, 0, 0, 0)).isValid());
    EXPECT_FALSE(SaleDateTime(sale(24, 0, 1, 0, 0, 0)).isValid());
    EXPECT_FALSE(SaleDateTime(sale(24, 1, 0, 0, 0, 0)).isValid());
    EXPECT_FALSE(SaleDateTime(sale(24, 1, 32, 0, 0, 0)).isValid());
    EXPECT_FALSE(SaleDateTime(sale(24, 1, 1, 24, 0, 0)).isValid());
    EXPECT_FALSE(SaleDateTime(sale(24, 1, 1, 0, 60, 0)).isValid());
    EXPECT_FALSE(SaleDateTime(sale(24, 1, 1, 0, 0, 60)).isValid());
}

TEST(ScaleCompare, ReportsWhatADownloadWouldChangeAndNothingElse)
{
    auto product = [](int no, qint64 codigo, const char *desc, int price) {
        CompareProduct p;
        p.pluNo = no;
        p.codigo = codigo;
        // A slot the scale holds nothing in carries no code either.
        if (codigo != -1 || *desc || price)
            p.pluCode = QStringLiteral("%1").arg(no, 6, 10, QLatin1Char('0'));
        p.pluDesc = QString::fromUtf8(desc);
        p.unitPrice = price;
        p.sellFlag = 1;
        return p;
    };
    // 1: same once stored (the scale holds 26 characters in code page 1252);
    // 2: price changed; 3: not on the scale; 4: free in the base but held;
    // 5: free on both sides; 6: on the scale only, beyond the base's slots.
    std::vector<CompareProduct> base = {
        product(1, 11, "Queijo minas frescal com ervas finas 日本", 2990),
        product(2, 12, "Pão", 1000), product(3, 13, "Leite", 500), product(4, 0, "", 0), product(5, 0, "", 0)};
    std::vector<CompareProduct> scale = {product(1, -1, "Queijo minas frescal com e", 2990),
                                         product(2, -1, "Pão", 990), product(3, -1, "", 0),
                                         product(4, -1, "Velho", 100), product(5, -1, "", 0),
                                         product(6, -1, "Fora", 100)};
    const auto diffs = CompareScale(base, scale);
    ASSERT_EQ(diffs.size(), 4u);
    EXPECT_EQ(diffs[0].pluNo, 2);
    EXPECT_EQ(diffs[0].differences, unsigned(DiffPrice));
    EXPECT_EQ(diffs[1].differences, unsigned(DiffMissingOnScale));
    EXPECT_EQ(diffs[2].differences, unsigned(DiffFreeInBase));
    EXPECT_EQ(diffs[3].pluNo, 6);
    EXPECT_EQ(diffs[3].differences, unsigned(DiffFreeInBase));
    EXPECT_EQ(DifferenceNames(DiffPrice | DiffTare), (QStringList{QStringLiteral("preço"), QStringLiteral("tara")}));
}
