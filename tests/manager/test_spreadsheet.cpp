// Products to and from a spreadsheet: the CSV as spreadsheets write it, the
// export as the menu writes it, and "Importar planilha" with its column
// mapping, preview and refused rows, through the real product form.
#include "ManagerTestSupport.h"

#include "CsvFile.h"
#include "DataModule.h"
#include "ProductForm.h"
#include "ProductSheet.h"
#include "SheetImportWindow.h"

#include <QAction>
#include <QApplication>
#include <QBuffer>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QSqlQuery>
#include <QTableWidget>
#include <QTimer>

#include <functional>

#include <gtest/gtest.h>

using namespace torvane;
using namespace torvane::test;
using namespace torvane::manager;

namespace {

QVector<QStringList> readAll(const QByteArray &bytes, csv::Encoding encoding, QChar separator)
{
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    csv::CsvReader reader(&buffer, encoding, separator);
    QVector<QStringList> out;
    QStringList cells;
    while (reader.next(&cells))
        out << cells;
    return out;
}

QString writeFile(const QTemporaryDir &dir, const QString &name, const QByteArray &bytes)
{
    const QString path = dir.filePath(name);
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
    return path;
}

} // namespace

TEST(Csv, ReadsWhatSpreadsheetsWrite)
{
    // Quoted cells with the separator, a line end and doubled quotes; CR LF,
    // LF and CR; a quote inside an unquoted cell is a character; a last line
    // without its end.
    const auto rows = readAll("a;\"b;\r\nc\";\"d \"\"e\"\"\"\r\n12\" TV;;x\ny\rz", csv::Encoding::Utf8, u';');
    ASSERT_EQ(rows.size(), 4);
    EXPECT_EQ(rows[0], QStringList({"a", "b;\r\nc", "d \"e\""}));
    EXPECT_EQ(rows[1], QStringList({"12\" TV", "", "x"}));
    EXPECT_EQ(rows[2], QStringList({"y"}));
    EXPECT_EQ(rows[3], QStringList({"z"}));

    // The encoding and the separator a file uses are found by a first pass.
    QTemporaryDir dir;
    csv::CsvSurvey survey;
    QString error;
    const struct {
        QByteArray bytes;
        csv::Encoding encoding;
        QChar separator;
        QString firstCell;
    } files[] = {
        {"\xEF\xBB\xBF" "C\xC3\xB3" "digo;Pre\xC3\xA7o\r\n1;2,5\r\n", csv::Encoding::Utf8, u';', QString::fromUtf8("Código")},
        {"C\xF3" "digo,Pre\xE7o\n1,2.5\n", csv::Encoding::Windows1252, u',', QString::fromUtf8("Código")},
        {"\"a;b\"\tc\td\n", csv::Encoding::Utf8, u'\t', "a;b"},
        {QByteArray("\xFF\xFE", 2) + QByteArray("x\0;\0y\0", 6), csv::Encoding::Utf16, u';', "x"},
    };
    for (const auto &f : files) {
        const QString path = writeFile(dir, "f.csv", f.bytes);
        ASSERT_TRUE(csv::surveyCsvFile(path, &survey, &error)) << error.toStdString();
        EXPECT_EQ(survey.encoding, f.encoding) << f.bytes.toHex().toStdString();
        EXPECT_EQ(survey.separator, f.separator) << f.bytes.toHex().toStdString();
        EXPECT_FALSE(survey.looksBinary());
        EXPECT_EQ(readAll(f.bytes, survey.encoding, survey.separator).value(0).value(0), f.firstCell);
    }
}

TEST(Csv, NumbersWithADecimalCommaOrPoint)
{
    const std::pair<const char *, double> good[] = {
        {"12,34", 12.34}, {"12.34", 12.34}, {"1.234,56", 1234.56}, {"1,234.56", 1234.56}, {"R$ 9,90", 9.9},
        {"-0,5", -0.5}, {" 7 ", 7}, {"1.234.567", 1234567}, {"0,125", 0.125},
    };
    for (const auto &[text, value] : good) {
        const auto parsed = csv::parseSheetNumber(QString::fromUtf8(text));
        ASSERT_TRUE(parsed.has_value()) << text;
        EXPECT_DOUBLE_EQ(*parsed, value) << text;
    }
    for (const char *text : {"", "abc", "1e3", "12,3,4", "1.23.4", "12,34 kg", "--1"})
        EXPECT_FALSE(csv::parseSheetNumber(QString::fromUtf8(text)).has_value()) << text;
}

namespace {

class SheetFormTest : public ::testing::Test {
protected:
    void SetUp() override { QLocale::setDefault(QLocale::c()); }
    void TearDown() override
    {
        if (f) {
            EXPECT_EQ(f->dialogs.unexpected(), 0);
            EXPECT_EQ(f->dialogs.pendingAnswers(), 0);
        }
        f.reset();
    }
    void start(int slotCount, const QStringList &prepare = {})
    {
        db = std::make_unique<TempDatabase>(dbOptions(slotCount));
        for (const QString &sql : prepare)
            db->exec(sql);
        f.reset();   // its dialogs go before the next form's come
        f = std::make_unique<FormFixture>(db->path());
        ASSERT_TRUE(f->start());
        f->form->strDirPrograma = dir.path();
        f->dialogs.clear();
    }
    // "Importar planilha": the file chosen, then the mapping window as
    // `operate` leaves it (Importar pressed when it returns true).
    void importSheet(const QString &path, const std::function<bool(TfrmPlanilha &)> &operate)
    {
        f->dialogs.answerOpenFile(path);
        windowSeen = false;
        QTimer::singleShot(0, [&] {
            auto *w = qobject_cast<TfrmPlanilha *>(QApplication::activeModalWidget());
            if (!w) {
                ADD_FAILURE() << "no mapping window";
                return;
            }
            windowSeen = true;
            if (operate(*w))
                w->btnImportar->click();
            else
                w->btnCancelar->click();
        });
        f->form->ImportarPlanilha1->trigger();
        EXPECT_TRUE(windowSeen);
    }
    // "Exportar produtos" in the format chosen (its place in the question).
    QString exportTo(int format, const QString &name)
    {
        const QString path = dir.filePath(name);
        f->dialogs.answerChoose(format);
        f->dialogs.answerOpenFile(path);
        f->form->Exportar1->trigger();
        return path;
    }
    QString row(int pluNo) const
    {
        QString error;
        auto conn = db::Connection::open(db->path(), &error);
        QSqlQuery q(conn->database());
        q.exec(QStringLiteral("SELECT Codigo, pluDesc, Preco, unitPrice, Tara, tareWeight, validDays, sellFlag, "
                              "Setor, preFix, Prefixb, BarcodeMode, pluCode FROM PLU WHERE pluNo = %1")
                   .arg(pluNo));
        QStringList out;
        if (q.next())
            for (int i = 0; i < 13; ++i)
                out << q.value(i).toString();
        return out.join('|');
    }
    QStringList log() const
    {
        QFile file(QDir(dir.path()).filePath("log.txt"));
        if (!file.open(QIODevice::ReadOnly))
            return {};
        return QString::fromLatin1(file.readAll()).split('\n', Qt::SkipEmptyParts);
    }

    QTemporaryDir dir;
    std::unique_ptr<TempDatabase> db;
    std::unique_ptr<FormFixture> f;
    bool windowSeen = false;
};

} // namespace

// The acceptance's second half: a file of another system, in Windows-1252,
// "," between fields and decimal points, whose columns the operator maps.
TEST_F(SheetFormTest, AMappedCsvIn1252WithDecimalPointsImportsTheValuesAndListsTheRefusedRows)
{
    start(4, {"UPDATE PLU SET Codigo = 7, pluDesc = 'VELHO', Tara = 0.5, tareWeight = 500 WHERE pluNo = 2"});
    const QByteArray file = "Cod,Nome do item,Valor,Tara (kg),Tipo,Secao,Validade\r\n"
                            "101,P\xC3O FRANC\xCAS,12.5,0.125,U,Padaria,3\r\n"
                            "7,\"CAF\xC9, TORRADO\",8,,,,\r\n"
                            "103,A\xC7\xDA" "CAR,12.3x,,,,\r\n"
                            ",,,,,,\r\n"
                            "104,SAL,1000,,,,\r\n";
    const QString path = writeFile(dir, "fornecedor.csv", file);
    QString firstState, refusedState, missingBefore;
    bool importBlocked = false;
    f->dialogs.answerConfirm(false);   // Limpar dados existentes ?
    f->dialogs.answerConfirm(false);   // see the refused rows?
    importSheet(path, [&](TfrmPlanilha &w) {
        EXPECT_EQ(w.cbCodificacao->currentText(), "Windows-1252");
        EXPECT_EQ(w.cbSeparador->currentIndex(), 1);
        EXPECT_TRUE(w.ckbTitulos->isChecked());
        // "Nome do item" names no field: the operator chooses its column.
        missingBefore = w.lblSituacao->text();
        importBlocked = !w.btnImportar->isEnabled();
        w.cbCampo[int(SheetField::Descricao)]->setCurrentIndex(2);
        firstState = w.grdPrevia->item(0, 3)->text() + " / " + w.grdPrevia->item(0, 1)->text();
        refusedState = w.grdPrevia->item(2, 1)->text();
        return true;
    });
    EXPECT_TRUE(importBlocked);
    EXPECT_EQ(missingBefore, QString::fromUtf8("Escolha a coluna de: Descrição."));
    EXPECT_EQ(firstState, QString::fromUtf8("PÃO FRANCÊS / OK"));
    EXPECT_EQ(refusedState, QString::fromUtf8("Recusada: preço inválido (\"12.3x\")."));

    // Tare brought to even grams, the unit sale, the sector by its name; the
    // product already in slot 2 keeps its slot and its tare.
    EXPECT_EQ(row(1), QString::fromUtf8("101|PÃO FRANCÊS|12.5|1250|0.124|124|3|2|5|2|0|1|001010"));
    EXPECT_EQ(row(2), QString::fromUtf8("7|CAFÉ, TORRADO|8|800|0.5|500|0|1|0|2|0|1|000070"));
    EXPECT_EQ(log(), QStringList({QString::fromUtf8("Linha 4: preço inválido (\"12.3x\")."),
                                  QString::fromUtf8("Linha 6: O preço unitário deve ser maior que 0 e menor que "
                                                    "999.99 (\"1000\").")}));
    EXPECT_EQ(row(3).section('|', 0, 0), "0");

    // The next file with the same headings comes with the columns chosen.
    int description = -1;
    importSheet(path, [&](TfrmPlanilha &w) {
        description = w.cbCampo[int(SheetField::Descricao)]->currentIndex();
        return false;
    });
    EXPECT_EQ(description, 2);
}

TEST_F(SheetFormTest, ExportWritesEverySlotTheWayABrazilianSpreadsheetOpensIt)
{
    start(3, {"UPDATE PLU SET Codigo = 101, pluDesc = 'QUEIJO \"MINAS\"; FRESCAL', Preco = 12.5, Tara = 0.124, "
              "validDays = 7, sellFlag = 2, Setor = 3, preFix = 2, Prefixb = 4, BarcodeMode = 2, pluCode = '001010' "
              "WHERE pluNo = 1",
              "UPDATE PLU SET Codigo = 102, pluDesc = 'AÇÚCAR', Preco = 0.1, Tara = 0, validDays = 0, sellFlag = 1, "
              "Setor = 0, preFix = 0, Prefixb = 0, BarcodeMode = 1, pluCode = '001020' WHERE pluNo = 3"});
    const QString path = exportTo(0, "produtos.csv");
    ASSERT_NE(f->dialogs.lastMessage(), nullptr);
    EXPECT_EQ(f->dialogs.lastMessage()->text,
              QString::fromUtf8("3 posições exportadas (2 com produto) para o arquivo %1.").arg(path));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(QString::fromUtf8(file.readAll()),
              QString::fromUtf8("\xEF\xBB\xBFPLU;Código;Descrição;Preço (R$);Tara (kg);Validade (dias);Tipo de venda;"
                                "Setor;Prefixo 1;Prefixo 2;Código de barras\r\n"
                                "1;101;\"QUEIJO \"\"MINAS\"\"; FRESCAL\";12,50;0,124;7;Unidade;Laticínios / "
                                "Embutidos;2;4;Total a Pagar\r\n"
                                "2;0;;0,00;0,000;0;Peso;Nenhum;2;0;Peso\r\n"
                                "3;102;AÇÚCAR;0,10;0,000;0;Peso;Nenhum;0;0;Peso\r\n"));
}

// The fixed-column export is the import's own layout: exported, imported
// into an empty base, the products come back as they were (descriptions
// as that layout holds them: 22 characters).
TEST_F(SheetFormTest, FixedColumnExportRoundTripsThroughTheImport)
{
    const QStringList products = {
        "UPDATE PLU SET Codigo = 101, pluDesc = 'PÃO FRANCÊS           ', Preco = 12.99, unitPrice = 1299, validDays = 30, "
        "sellFlag = 2, pluCode = '001010' WHERE pluNo = 1",
        "UPDATE PLU SET Codigo = 99999, pluDesc = 'CAFÉ                  ', Preco = 999.99, unitPrice = 99999, validDays = 999, "
        "pluCode = '999990' WHERE pluNo = 2"};
    start(3, products);
    const QString path = exportTo(2, "produtos.txt");
    const QString first = row(1), second = row(2);

    start(3);
    f->dialogs.answerOpenFile(path);
    f->dialogs.answerConfirm(false);
    f->form->Importar1->trigger();
    EXPECT_TRUE(log().isEmpty());
    EXPECT_EQ(row(1).toStdString(), first.toStdString());
    EXPECT_EQ(row(2).toStdString(), second.toStdString());
}

// With the second prefix in use, code 12 with Prefixo 2 = 1 and with
// Prefixo 2 = 2 are two products: exported and imported back, both keep
// their slots.  A file giving one product twice is refused whole.
TEST_F(SheetFormTest, TwoProductsOfOneCodeApartByTheSecondPrefixSurviveTheirExportAndImport)
{
    start(3, {"UPDATE Config SET CodeSize = 5, flgPrefixo2 = 1",
              "UPDATE PLU SET Codigo = 12, pluDesc = 'UM', Preco = 1, unitPrice = 100, Prefixb = 1, "
              "pluCode = '100012' WHERE pluNo = 1",
              "UPDATE PLU SET Codigo = 12, pluDesc = 'DOIS', Preco = 2, unitPrice = 200, Prefixb = 2, "
              "pluCode = '200012' WHERE pluNo = 2"});
    const QString path = exportTo(0, "produtos.csv");
    const QString first = row(1), second = row(2);

    f->dialogs.answerConfirm(false);   // Limpar dados existentes ?
    importSheet(path, [](TfrmPlanilha &) { return true; });
    EXPECT_EQ(row(1).toStdString(), first.toStdString());
    EXPECT_EQ(row(2).toStdString(), second.toStdString());

    f->dialogs.answerConfirm(false);
    importSheet(writeFile(dir, "repetida.csv", "Código;Descrição;Preço;Prefixo 2\r\n12;A;1;2\r\n13;B;1;1\r\n"
                                               "12;C;1;2\r\n"),
                [](TfrmPlanilha &) { return true; });
    ASSERT_NE(f->dialogs.lastMessage(), nullptr);
    EXPECT_TRUE(f->dialogs.lastMessage()->text.startsWith(QString::fromUtf8(
        "O arquivo tem mais de uma linha para o mesmo produto (código 12 com prefixo 2 = 2 nas linhas 2 e 4)")))
        << f->dialogs.lastMessage()->text.toStdString();
    EXPECT_EQ(row(2).toStdString(), second.toStdString());
}

// Headings and no product: importing would clear every product and write
// none, so the window does not offer it.
TEST_F(SheetFormTest, AFileOfHeadingsAloneImportsNothing)
{
    start(2, {"UPDATE PLU SET Codigo = 7, pluDesc = 'FICA', pluCode = '000070' WHERE pluNo = 1"});
    QString state;
    bool offered = true;
    importSheet(writeFile(dir, "vazia.csv", "Código;Descrição;Preço\r\n;;\r\n"), [&](TfrmPlanilha &w) {
        offered = w.btnImportar->isEnabled();
        state = w.lblSituacao->text();
        return offered;
    });
    EXPECT_FALSE(offered);
    EXPECT_TRUE(state.startsWith(QString::fromUtf8("A planilha não tem linhas de produtos"))) << state.toStdString();
    EXPECT_EQ(row(1).section('|', 0, 1), "7|FICA");
}
