// The export against a real spreadsheet program: 5,000 products exported
// by torvane-products, opened by LibreOffice (headless), saved as XLSX,
// saved from there as CSV the way LibreOffice writes it (quoted texts,
// decimal points), and imported into an empty base through "Importar
// planilha": every product comes back equal.
#include "ManagerTestSupport.h"

#include "DataModule.h"
#include "Db.h"
#include "ProductForm.h"
#include "Schema.h"
#include "SheetImportWindow.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QFile>
#include <QProcess>
#include <QPushButton>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QTimer>
#include <QUrl>

#include <gtest/gtest.h>

using namespace torvane;
using namespace torvane::test;

namespace {

constexpr int kProducts = 5000;

// Descriptions as a shop writes them: accents, quotes, the separator, a
// comma, trailing blanks left by the fixed-column import, and texts a
// spreadsheet would otherwise run as formulas.
QString description(int i)
{
    static const char *const names[] = {
        "PÃO FRANCÊS %1",      "QUEIJO \"MINAS\"; FRESCAL", "AÇÚCAR, REFINADO %1", "ÓLEO DE SOJA 900ML",
        "MAÇÃ FUJI %1",        "CAFÉ TORRADO %1",          "LEITE 1L %1      ",   "1/2 DÚZIA OVOS",
        "COXÃO MOLE KG",       "SALGADINHO 50G N°%1",      "=2+3 LEVE MAIS",      "-10% QUEIJO %1",
    };
    return QString::fromUtf8(names[i % std::size(names)]).replace("%1", QString::number(i));
}

QStringList productRows(const QString &path)
{
    QString error;
    auto conn = db::Connection::openFile(path, &error, true);
    EXPECT_TRUE(conn) << error.toStdString();
    QSqlQuery q(conn->database());
    EXPECT_TRUE(q.exec("SELECT pluNo, Codigo, pluDesc, printf('%.2f', Preco), unitPrice, printf('%.3f', Tara), "
                       "tareWeight, validDays, sellFlag, Setor, preFix, Prefixb, BarcodeMode, pluCode FROM PLU "
                       "ORDER BY pluNo"));
    QStringList rows;
    while (q.next()) {
        QStringList r;
        for (int c = 0; c < 14; ++c)
            r << q.value(c).toString();
        rows << r.join('|');
    }
    return rows;
}

bool run(const QString &program, const QStringList &args, const QString &dir)
{
    QProcess p;
    p.setWorkingDirectory(dir);
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(program, args);
    if (!p.waitForFinished(300000)) {
        ADD_FAILURE() << program.toStdString() << " did not finish";
        p.kill();
        return false;
    }
    if (p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        ADD_FAILURE() << program.toStdString() << ": " << p.readAll().toStdString();
        return false;
    }
    return true;
}

} // namespace

TEST(SpreadsheetProgram, FiveThousandProductsComeBackEqualThroughXlsx)
{
    if (onServer())
        GTEST_SKIP() << "the export is the same on both engines; the spreadsheet program runs once, on the file";
    const QString soffice = QStandardPaths::findExecutable("soffice");
    if (soffice.isEmpty())
        GTEST_SKIP() << "LibreOffice is not installed (Debian: libreoffice-calc-nogui)";

    QTemporaryDir dir;
    const QString source = dir.filePath("origem.accdb");
    QString error;
    ASSERT_TRUE(schema::createDatabaseFile(source, dbOptions(kProducts), &error)) << error.toStdString();
    {
        auto conn = db::Connection::openFile(source, &error);
        ASSERT_TRUE(conn) << error.toStdString();
        QSqlDatabase db = conn->database();
        db.transaction();
        QSqlQuery q(db);
        q.prepare("UPDATE PLU SET Codigo = ?, pluDesc = ?, Preco = ?, unitPrice = ?, Tara = ?, tareWeight = ?, "
                  "validDays = ?, sellFlag = ?, Setor = ?, preFix = ?, Prefixb = ?, BarcodeMode = ?, pluCode = ? "
                  "WHERE pluNo = ?");
        for (int i = 1; i <= kProducts; ++i) {
            const qint64 cents = (i * 7919) % 99999 + 1;
            const qint64 grams = (i * 2) % 6000;
            const int prefixb = (i / 10) % 10;
            for (const QVariant &v : QVariantList{i, description(i), cents / 100.0, cents, grams / 1000.0, grams,
                                                  i % 1000, 1 + i % 2, i % 9, i % 10, prefixb, 1 + (i / 3) % 2,
                                                  schema::buildPluCode(i, prefixb, schema::kDefaultCodeSize, false), i})
                q.addBindValue(v);
            ASSERT_TRUE(q.exec()) << q.lastError().text().toStdString();
        }
        db.commit();
    }

    // torvane-products, then LibreOffice as a Brazilian operator's: the CSV
    // opened with ";" and UTF-8 in Portuguese (Brazil), saved as XLSX, and
    // that saved again as CSV.
    const QString bin = qEnvironmentVariable("TORVANE_BIN_DIR");
    ASSERT_TRUE(run(QDir(bin).filePath("torvane-products"), {"export", "--database", source, "produtos.csv"}, dir.path()));
    const QString profile = "-env:UserInstallation=" + QUrl::fromLocalFile(dir.filePath("perfil")).toString();
    ASSERT_TRUE(run(soffice, {"--headless", "--norestore", profile, "--infilter=CSV:59,34,76,1,,1046", "--convert-to",
                              "xlsx", "--outdir", dir.filePath("xlsx"), "produtos.csv"},
                    dir.path()));
    ASSERT_TRUE(QFile::exists(dir.filePath("xlsx/produtos.xlsx")));
    ASSERT_TRUE(run(soffice, {"--headless", "--norestore", profile, "--convert-to",
                              "csv:Text - txt - csv (StarCalc):59,34,76,1", "--outdir", dir.filePath("volta"),
                              dir.filePath("xlsx/produtos.xlsx")},
                    dir.path()));
    const QString back = dir.filePath("volta/produtos.csv");
    ASSERT_TRUE(QFile::exists(back));

    // Into an empty base, through the menu and the mapping window.
    TempDatabase empty(dbOptions(kProducts));
    FormFixture f(empty.path());
    ASSERT_TRUE(f.start());
    f.form->strDirPrograma = dir.path();
    f.dialogs.clear();
    f.dialogs.answerOpenFile(back);
    f.dialogs.answerConfirm(false);   // Limpar dados existentes ? (nothing to clear)
    bool mapped = false;
    QTimer::singleShot(0, [&] {
        if (auto *w = qobject_cast<manager::TfrmPlanilha *>(QApplication::activeModalWidget())) {
            mapped = w->btnImportar->isEnabled();
            if (mapped)
                w->btnImportar->click();
            else
                w->btnCancelar->click();
            EXPECT_TRUE(mapped) << w->lblSituacao->text().toStdString();
        }
    });
    f.form->ImportarPlanilha1->trigger();
    ASSERT_TRUE(mapped) << "the headings of the export name every field";
    EXPECT_TRUE(f.dialogs.messages().isEmpty()) << f.dialogs.messages().join('\n').toStdString();
    EXPECT_EQ(f.dialogs.unexpected(), 0);

    const QStringList want = productRows(source);
    const QStringList got = productRows(empty.path());
    ASSERT_EQ(got.size(), want.size());
    int differing = 0;
    for (int i = 0; i < want.size(); ++i)
        if (got[i] != want[i] && ++differing <= 5)
            ADD_FAILURE() << "slot " << i + 1 << "\n  want " << want[i].toStdString() << "\n  got  "
                          << got[i].toStdString();
    EXPECT_EQ(differing, 0);
}
