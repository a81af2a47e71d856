// The import as the operator runs it: the menu item "Importar" of the real
// product form, the file dialog and questions answered by scripted dialogs,
// the table read back from the database row by row, and the log.
#include "ManagerTestSupport.h"

#include "DataModule.h"
#include "ProductForm.h"
#include "StatusWindow.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QLocale>
#include <QSqlQuery>
#include <QTableView>

#include <sys/stat.h>

#include <gtest/gtest.h>

using namespace torvane;
using namespace torvane::test;
using manager::DialogIcon;

namespace {

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

// One PLU row as the test compares it.
struct Slot {
    qint64 pluNo;
    qint64 codigo;
    QString pluCode;
    QString desc;
    qint64 unitPrice;
    double preco;
    qint64 validDays;
    int sellFlag;
    qint64 tareWeight;
    int setor;
    int preFix;
    bool flgDel;
};

class ImportFormTest : public ::testing::Test {
protected:
    void SetUp() override { QLocale::setDefault(QLocale::c()); }
    void TearDown() override
    {
        if (f) {
            EXPECT_EQ(f->dialogs.unexpected(), 0);
        }
        f.reset();
        db.reset();
    }
    // A database of n slots; prepare runs before the form starts.
    void start(int slotCount, const QStringList &prepare = {})
    {
        db = std::make_unique<TempDatabase>(dbOptions(slotCount));
        for (const QString &sql : prepare)
            db->exec(sql);
        f = std::make_unique<FormFixture>(db->path());
        ASSERT_TRUE(f->start());
        ASSERT_TRUE(f->dialogs.messages().isEmpty()) << f->dialogs.messages().join('|').toStdString();
        ASSERT_TRUE(programDir.isValid());
        // The log goes next to "the program": a folder of this test.
        f->form->strDirPrograma = programDir.path();
    }
    QString writeFile(const QByteArray &content, const QString &name = "produtos.txt")
    {
        const QString path = QDir(programDir.path()).filePath(name);
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(content);
        return path;
    }
    // Picks the file in the dialog, answers the questions, runs the menu item.
    void runImport(const QString &path, bool clearFirst, bool viewLog = false)
    {
        f->dialogs.clear();
        f->dialogs.answerOpenFile(path);
        f->dialogs.answerConfirm(clearFirst);
        f->dialogs.answerConfirm(viewLog);
        f->form->Importar1->trigger();
    }
    QString logPath() const { return QDir(programDir.path()).filePath("log.txt"); }
    QStringList logLines(const QString &path) const
    {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            return {};
        QString text = QString::fromLatin1(file.readAll());
        if (text.endsWith('\n'))
            text.chop(1);
        return text.split('\n');
    }
    std::vector<Slot> table() const
    {
        std::vector<Slot> out;
        QString error;
        auto conn = db::Connection::open(db->path(), &error);
        EXPECT_TRUE(conn) << error.toStdString();
        if (!conn)
            return out;
        QSqlQuery q(conn->database());
        EXPECT_TRUE(q.exec("SELECT pluNo, Codigo, pluCode, pluDesc, unitPrice, Preco, validDays, sellFlag, "
                           "tareWeight, Setor, preFix, flgDel FROM PLU ORDER BY pluNo"));
        while (q.next())
            out.push_back({q.value(0).toLongLong(), q.value(1).toLongLong(), q.value(2).toString(),
                           q.value(3).toString(), q.value(4).toLongLong(), q.value(5).toDouble(),
                           q.value(6).toLongLong(), q.value(7).toInt(), q.value(8).toLongLong(), q.value(9).toInt(),
                           q.value(10).toInt(), q.value(11).toBool()});
        return out;
    }
    QStringList confirmations() const
    {
        QStringList out;
        for (const ShownDialog &d : f->dialogs.shown())
            if (d.kind == ShownDialog::Kind::Confirm)
                out << d.caption + ": " + d.text;
        return out;
    }
    void expectFree(const Slot &s)
    {
        EXPECT_EQ(s.codigo, 0) << s.pluNo;
        EXPECT_EQ(s.desc, "") << s.pluNo;
        EXPECT_EQ(s.unitPrice, 0) << s.pluNo;
        EXPECT_EQ(s.tareWeight, 0) << s.pluNo;
        EXPECT_EQ(s.sellFlag, 1) << s.pluNo;
    }

    QTemporaryDir programDir;
    std::unique_ptr<TempDatabase> db;
    std::unique_ptr<FormFixture> f;
};

const QString kProduct3 =
    "UPDATE PLU SET Codigo = 102, pluCode = '001020', pluDesc = 'ANTIGO', Preco = 5, unitPrice = 500, "
    "Tara = 0.25, tareWeight = 250, validDays = 9, Setor = 4, preFix = 2, Prefixb = 6, BarcodeMode = 2 "
    "WHERE pluNo = 3";

} // namespace

TEST_F(ImportFormTest, MixedFileKeepingDataMatchesTheExpectedTableAndLog)
{
    start(5, {kProduct3, "UPDATE PLU SET Codigo = 555, pluDesc = 'SAI', unitPrice = 1 WHERE pluNo = 5"});
    const QByteArray file = line("000101", 'U', "PAO FRANCES", "0001299", "030") + "\r\n" +   // 0
                            "curta\r\n" +                                                     // 1
                            line("000102", 'P', "CAFE", "0000990") + "\r\n" +                 // 2
                            line("0A0103", 'P', "X", "0000100") + "\r\n" +                    // 3
                            line("000104", 'p', "BANANA", "00001 9") + "\r\n" +               // 4
                            line("000105", 'u', "QUEIJO", "7004550", "3x0") + "\n" +          // 5
                            line("100106", ' ', "ACUCAR \xC1", "0000250") + "\r" +            // 6
                            "\r\n" +                                                          // 7
                            line("000107", 'P', "ULTIMO SEM FIM", "0000001");                 // 8
    const QString path = writeFile(file);
    runImport(path, false, true);

    EXPECT_EQ(f->dialogs.lastFileDirectory, programDir.path());
    EXPECT_EQ(f->dialogs.lastFileFilter, "*.TXT");
    EXPECT_EQ(confirmations(),
              QStringList({QString::fromUtf8("Escolha: Limpar dados existentes ?"),
                           QString::fromUtf8("Escolha: Ocorreram erros durante a importação. Deseja visualizar ?")}));
    EXPECT_EQ(f->shell.opened, QStringList(logPath()));
    EXPECT_EQ(logLines(logPath()),
              QStringList({QString::fromUtf8("Tamanho do registro inválido na linha: 1"),
                           QString::fromUtf8("Código inválido na linha: 3"),
                           QString::fromUtf8("Preço inválido na linha: 4"),
                           QString::fromUtf8("Tamanho do registro inválido na linha: 7"),
                           QString::fromUtf8("Estourou a capacidade de produtos. Código: 00107")}));

    const std::vector<Slot> t = table();
    ASSERT_EQ(t.size(), 5u);
    // Slot 1: new product in the first free slot; code size 5, no prefix 2.
    EXPECT_EQ(t[0].codigo, 101);
    EXPECT_EQ(t[0].pluCode, "001010");
    EXPECT_EQ(t[0].desc, QString("PAO FRANCES").leftJustified(22));
    EXPECT_EQ(t[0].unitPrice, 1299);
    EXPECT_DOUBLE_EQ(t[0].preco, 12.99);
    EXPECT_EQ(t[0].validDays, 30);
    EXPECT_EQ(t[0].sellFlag, 2);
    EXPECT_FALSE(t[0].flgDel);
    // Slot 2: QUEIJO (lower-case u, a 7 in column 30, shelf life not a number).
    EXPECT_EQ(t[1].codigo, 105);
    EXPECT_EQ(t[1].sellFlag, 2);
    EXPECT_EQ(t[1].unitPrice, 4550);
    EXPECT_EQ(t[1].validDays, 0);
    // Slot 3: the product that was there keeps its slot, tare, sector and prefix.
    EXPECT_EQ(t[2].codigo, 102);
    EXPECT_EQ(t[2].desc, QString("CAFE").leftJustified(22));
    EXPECT_EQ(t[2].unitPrice, 990);
    EXPECT_EQ(t[2].tareWeight, 250);
    EXPECT_EQ(t[2].setor, 4);
    EXPECT_EQ(t[2].preFix, 2);
    EXPECT_EQ(t[2].validDays, 9);
    EXPECT_EQ(t[2].sellFlag, 1);
    // Slot 4: ACUCAR, Windows-1252 letter decoded; a 1 in column 1 dropped by the code size.
    EXPECT_EQ(t[3].codigo, 106);
    EXPECT_EQ(t[3].desc, QString::fromUtf8("ACUCAR Á").leftJustified(22));
    // Slot 5 held a product that is not in the file: busy during the run
    // (so 107 found no room), cleared at the end.
    expectFree(t[4]);
    EXPECT_TRUE(t[4].flgDel);   // clearing keeps the mark

    EXPECT_FALSE(f->form->flgSemValidacao);
    EXPECT_TRUE(f->form->isEnabled());
    EXPECT_FALSE(f->status->isVisible());
    EXPECT_EQ(f->form->qryProdutos->recNo(), 0);
    // The grid shows the imported list.
    EXPECT_EQ(f->cell(0, "Cod.Barras"), "101");
    EXPECT_EQ(f->cell(0, QString::fromUtf8("Preço/kg")), "12.99");
    EXPECT_EQ(f->cell(0, "Tipo Venda"), "Unidade");
    EXPECT_EQ(f->cell(4, "Cod.Barras"), "0");
}

TEST_F(ImportFormTest, NewCodesTakeFreeSlotsInTheListsCurrentOrder)
{
    // Free slots 2 and 4 carry leftover descriptions, so sorting by
    // description descending puts them first: 2 (ZZZ), 4 (MMM), 3, 1.
    start(4, {kProduct3, "UPDATE PLU SET pluDesc = 'ZZZ' WHERE pluNo = 2",
              "UPDATE PLU SET pluDesc = 'MMM' WHERE pluNo = 4"});
    f->form->strOrdem = "Order By pluDesc Desc";
    f->form->FiltraProdutos();
    runImport(writeFile(line("000200", 'P', "DUZENTOS", "0000100") + "\r\n" +
                        line("000300", 'P', "TREZENTOS", "0000200") + "\r\n" +
                        line("000102", 'P', "CAFE", "0000300")),
              false);
    EXPECT_EQ(confirmations(), QStringList(QString::fromUtf8("Escolha: Limpar dados existentes ?")));
    EXPECT_TRUE(f->dialogs.messages().isEmpty());
    const std::vector<Slot> t = table();
    EXPECT_EQ(t[1].codigo, 200);
    EXPECT_EQ(t[3].codigo, 300);
    EXPECT_EQ(t[2].codigo, 102);
    EXPECT_EQ(t[2].tareWeight, 250);
    expectFree(t[0]);
}

TEST_F(ImportFormTest, ClearingFirstEmptiesEverySlotBeforeTheLines)
{
    start(4, {kProduct3});
    runImport(writeFile(line("000102", 'P', "NOVO", "0000100") + "\r\n" + line("000200", 'P', "OUTRO", "0000200")),
              true);
    EXPECT_TRUE(f->dialogs.messages().isEmpty());
    // Product 102 lost its slot, tare and sector with the clearing and took
    // the first row of the list like any new code.
    EXPECT_EQ(f->form->qryProdutos->value(0, "Codigo").toLongLong(), 102);
    EXPECT_EQ(f->form->qryProdutos->value(1, "Codigo").toLongLong(), 200);
    const std::vector<Slot> t = table();
    EXPECT_EQ(t[0].codigo, 102);
    EXPECT_EQ(t[0].tareWeight, 0);
    EXPECT_EQ(t[1].codigo, 200);
    expectFree(t[2]);
    EXPECT_EQ(t[2].setor, 0);
    EXPECT_EQ(t[2].preFix, 0);
    expectFree(t[3]);
}

TEST_F(ImportFormTest, CancelEmptyUnreadableAndBinaryFilesChangeNothing)
{
    start(3, {kProduct3});
    const auto before = table();
    const auto unchanged = [&] {
        const auto now = table();
        ASSERT_EQ(now.size(), before.size());
        for (size_t i = 0; i < now.size(); ++i) {
            EXPECT_EQ(now[i].codigo, before[i].codigo);
            EXPECT_EQ(now[i].desc, before[i].desc);
            EXPECT_EQ(now[i].flgDel, before[i].flgDel);
        }
        EXPECT_FALSE(QFile::exists(logPath()));
        EXPECT_TRUE(confirmations().isEmpty());
    };

    // Cancel in the file dialog.
    f->dialogs.answerOpenFile(QString());
    f->form->Importar1->trigger();
    EXPECT_TRUE(f->dialogs.messages().isEmpty());
    unchanged();

    // A file without lines.
    f->dialogs.clear();
    f->dialogs.answerOpenFile(writeFile(""));
    f->form->Importar1->trigger();
    ASSERT_NE(f->dialogs.lastMessage(), nullptr);
    EXPECT_EQ(f->dialogs.lastMessage()->caption, QString::fromUtf8("Informação"));
    EXPECT_EQ(f->dialogs.lastMessage()->text, QString::fromUtf8("O arquivo está vazio."));
    EXPECT_EQ(f->dialogs.lastMessage()->icon, DialogIcon::Information);
    unchanged();

    // A file that is not there any more, and a folder.
    for (const QString &path : {QDir(programDir.path()).filePath("sumiu.txt"), programDir.path()}) {
        f->dialogs.clear();
        f->dialogs.answerOpenFile(path);
        f->form->Importar1->trigger();
        ASSERT_NE(f->dialogs.lastMessage(), nullptr);
        EXPECT_EQ(f->dialogs.lastMessage()->caption, "Erro");
        EXPECT_TRUE(f->dialogs.lastMessage()->text.startsWith(QString::fromUtf8("Não foi possível abrir o arquivo")));
        unchanged();
    }

    // Binary garbage (a picture, a zip): refused before any question.
    QByteArray garbage;
    for (int i = 0; i < 20000; ++i)
        garbage += char((i * 2654435761u) >> 13);
    f->dialogs.clear();
    f->dialogs.answerOpenFile(writeFile(garbage, "foto.txt"));
    f->form->Importar1->trigger();
    ASSERT_NE(f->dialogs.lastMessage(), nullptr);
    EXPECT_EQ(f->dialogs.lastMessage()->caption, "Erro");
    EXPECT_TRUE(f->dialogs.lastMessage()->text.contains("foto.txt"));
    EXPECT_TRUE(f->dialogs.lastMessage()->text.contains(QString::fromUtf8("Nenhum produto foi alterado")));
    unchanged();
}

TEST_F(ImportFormTest, BlankLinesOnlyLogEachAndClearEveryProductWithEitherAnswer)
{
    for (bool clearFirst : {false, true}) {
        start(3, {kProduct3});
        runImport(writeFile("\r\n\r\n"), clearFirst);
        EXPECT_EQ(logLines(logPath()),
                  QStringList({QString::fromUtf8("Tamanho do registro inválido na linha: 0"),
                               QString::fromUtf8("Tamanho do registro inválido na linha: 1")}));
        for (const Slot &s : table())
            expectFree(s);
        EXPECT_TRUE(f->shell.opened.isEmpty());   // answered No to viewing
        f.reset();
    }
}

// An import is one transaction: a line that cannot be read, or a database
// lost half-way (after every slot was cleared, with "Limpar dados
// existentes ? Sim"), leaves every product as it was, and the message says so.
TEST_F(ImportFormTest, AStopHalfWayLeavesEveryProductAsItWas)
{
    start(4, {kProduct3});
    const auto before = table();
    auto same = [&] {
        const auto now = table();
        ASSERT_EQ(now.size(), before.size());
        for (size_t i = 0; i < now.size(); ++i) {
            EXPECT_EQ(now[i].codigo, before[i].codigo) << i;
            EXPECT_EQ(now[i].desc, before[i].desc) << i;
            EXPECT_EQ(now[i].pluCode, before[i].pluCode) << i;
            EXPECT_EQ(now[i].flgDel, before[i].flgDel) << i;
        }
    };
    runImport(writeFile(line("000101", 'P', "PRIMEIRO", "0000100") + "\r\n" + line("000103", 'P', "QUEBRA", "00012.5")),
              false);
    ASSERT_NE(f->dialogs.lastMessage(), nullptr);
    EXPECT_EQ(f->dialogs.lastMessage()->caption, "Torvane");
    EXPECT_EQ(f->dialogs.lastMessage()->text,
              QString::fromUtf8("A importação parou na linha 1: '0012.5' não é um valor inteiro válido. Nenhum "
                                "produto foi alterado: os produtos continuam como estavam antes da importação."));
    same();
    // No question about the log after a failure.
    EXPECT_EQ(confirmations().size(), 1);

    db->exec(test::faultTrigger(QStringLiteral("lost"), QStringLiteral("UPDATE"), QStringLiteral("PLU"),
                                QStringLiteral("NEW.pluNo = 4"), QStringLiteral("servidor perdido")));
    runImport(writeFile(line("000101", 'P', "PRIMEIRO", "0000100") + "\r\n" + line("000104", 'P', "SEGUNDO", "0000200")),
              true);
    const QString text = f->dialogs.lastMessage()->text;
    EXPECT_TRUE(text.contains("servidor perdido")) << text.toStdString();
    EXPECT_TRUE(text.contains("Nenhum produto foi alterado")) << text.toStdString();
    same();
    EXPECT_EQ(f->cell(2, "Descrição"), "ANTIGO");
    EXPECT_FALSE(f->form->flgSemValidacao);
    EXPECT_FALSE(f->status->isVisible());
    EXPECT_TRUE(f->form->isEnabled());
}

TEST_F(ImportFormTest, CodeSizeFourWithSecondPrefixBuildsPluCodeOnSave)
{
    start(3, {"UPDATE Config SET CodeSize = 4, flgPrefixo2 = 1", "UPDATE PLU SET Prefixb = 3 WHERE pluNo = 1"});
    runImport(writeFile(line("123456", 'P', "A", "0000100") + "\r\n" + line("000005", 'P', "B", "0000100")), false);
    const auto t = table();
    EXPECT_EQ(t[0].codigo, 3456);
    EXPECT_EQ(t[0].pluCode, "334560");   // Prefixb kept by the slot
    EXPECT_EQ(t[1].codigo, 5);
    EXPECT_EQ(t[1].pluCode, "000050");
}

TEST_F(ImportFormTest, LogGoesNextToTheDatabaseWhenTheProgramFolderCannotTakeIt)
{
    start(2);
    f->form->strDirPrograma = QDir(programDir.path()).filePath("nao-existe");
    runImport(writeFile("x\r\n"), false, true);
    const QString dbLog = QDir(db->dirPath()).filePath("log.txt");
    EXPECT_EQ(logLines(dbLog), QStringList(QString::fromUtf8("Tamanho do registro inválido na linha: 0")));
    EXPECT_EQ(f->shell.opened, QStringList(dbLog));
}

TEST_F(ImportFormTest, HugeLinesAndNulBytesLoseNothingTheImportKeeps)
{
    start(3);
    QByteArray withNul = line("000002", 'P', "NUL AQUI", "0000200");
    withNul[10] = '\0';
    const QByteArray file = QByteArray(200000, 'x') + "\r\n" +                 // 0: one very long line
                            line("000001", 'P', "LONGA", "0000100") + QByteArray(5000, ' ') + "\r\n" +
                            withNul + "\r\n" + QByteArray("000\0003P", 6) + "\r\n";
    runImport(writeFile(file), false);
    EXPECT_EQ(logLines(logPath()), QStringList({QString::fromUtf8("Código inválido na linha: 0"),
                                                QString::fromUtf8("Tamanho do registro inválido na linha: 3")}));
    const auto t = table();
    EXPECT_EQ(t[0].codigo, 1);
    EXPECT_EQ(t[0].unitPrice, 100);
    EXPECT_EQ(t[1].codigo, 2);
    EXPECT_EQ(t[1].desc, QString("NUL AQUI").leftJustified(22));
}

// Suppliers' files come in either encoding, sometimes both in one file: each
// line is read in the encoding that makes it a record, counted in
// characters, so no column ever shifts.
TEST_F(ImportFormTest, EachLineIsReadInTheEncodingThatFitsAndKeepsItsColumns)
{
    start(5);
    // desc holds exactly 22 characters; the grape takes two UTF-16 units.
    const auto utf8Line = [](char code, const QString &desc, const char *price, const char *days) {
        return QByteArray("00000") + code + 'P' + desc.toUtf8() + price + days;
    };
    const QString grapes = QString::fromUtf8("UVA \U0001F347 FRESCA").leftJustified(23);
    const QString sugar = QString::fromUtf8("AÇÚCAR").leftJustified(22);
    QByteArray cp1252 = line("000001", 'P', "CAF\xC9 MO\xCD" "DO", "0000200", "015");
    QByteArray validUtf8Bytes = line("000002", 'P', "P\xC3\xA9", "0000300");  // "PÃ©" in Windows-1252
    QByteArray file = "\xEF\xBB\xBF" + cp1252 + "\r\n" + validUtf8Bytes + "\r\n";
    file += utf8Line('3', grapes, "0001299", "030") + "\n" + utf8Line('4', sugar, "0000510", "") + "\n";
    runImport(writeFile(file), false);
    EXPECT_FALSE(QFile::exists(logPath()));
    const auto t = table();
    EXPECT_EQ(t[0].desc, QString::fromUtf8("CAFÉ MOÍDO").leftJustified(22));
    EXPECT_EQ(t[0].unitPrice, 200);
    EXPECT_EQ(t[0].validDays, 15);
    EXPECT_EQ(t[1].desc, QString::fromUtf8("PÃ©").leftJustified(22));
    EXPECT_EQ(t[1].unitPrice, 300);
    EXPECT_EQ(t[2].desc, grapes);
    EXPECT_EQ(t[2].unitPrice, 1299);
    EXPECT_EQ(t[2].validDays, 30);
    EXPECT_EQ(t[3].desc, sugar);
    EXPECT_EQ(t[3].unitPrice, 510);
}

// A device or a pipe never ends (or never opens): refused before reading.
TEST_F(ImportFormTest, FilesThatAreNotRegularFilesAreRefusedBeforeReading)
{
    start(3, {kProduct3});
    const QString fifo = QDir(programDir.path()).filePath("fila.txt");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    for (const QString &path : {fifo, QStringLiteral("/dev/zero")}) {
        f->dialogs.clear();
        f->dialogs.answerOpenFile(path);
        f->form->Importar1->trigger();
        ASSERT_NE(f->dialogs.lastMessage(), nullptr) << path.toStdString();
        EXPECT_TRUE(f->dialogs.lastMessage()->text.contains(QString::fromUtf8("não é um arquivo comum")));
        EXPECT_TRUE(confirmations().isEmpty());
    }
    EXPECT_EQ(table()[2].desc, "ANTIGO");
}

TEST_F(ImportFormTest, LogThatNoProgramOpensIsShownByItsPlace)
{
    start(2);
    f->shell.succeed = false;
    runImport(writeFile("x\r\n"), false, true);
    ASSERT_NE(f->dialogs.lastMessage(), nullptr);
    EXPECT_TRUE(f->dialogs.lastMessage()->text.contains(QDir::toNativeSeparators(logPath())));
}

// The product form's ranges hold for imported values: a negative price would
// reach the scale as 16,777,215, a negative shelf life as 65535 days.
TEST_F(ImportFormTest, ValuesTheFormWouldRefuseAreLoggedNotWritten)
{
    start(4, {kProduct3, "UPDATE Config SET CodeSize = 6"});
    const QByteArray file = line("000101", 'P', "PRECO", " -00001") + "\r\n" +
                            line("000102", 'P', "VALIDADE", "0000100", "-01") + "\r\n" +
                            line("-00042", 'P', "CODIGO", "0000100") + "\r\n" +
                            line("000104", 'P', "CARO", "0100000") + "\r\n" +
                            line("000105", 'P', "CERTO", "0099999", "999") + "\r\n";
    runImport(writeFile(file), false);
    EXPECT_EQ(logLines(logPath()), QStringList({QString::fromUtf8("Preço inválido na linha: 0"),
                                                QString::fromUtf8("Validade inválida na linha: 1"),
                                                QString::fromUtf8("Código inválido na linha: 2"),
                                                QString::fromUtf8("Preço inválido na linha: 3")}));
    const auto t = table();
    EXPECT_EQ(t[0].codigo, 105);
    EXPECT_EQ(t[0].unitPrice, 99999);
    EXPECT_EQ(t[0].validDays, 999);
    for (std::size_t r = 1; r < t.size(); ++r)
        expectFree(t[r]);   // product 102 was not written, so it is cleared
}
