// The product listing: its page geometry, the preview opened from the
// product form's "Imprimir" button, and the PDF saved from the preview read
// back with pdftotext (skipped when poppler-utils is not installed).
#include "ManagerTestSupport.h"

#include "DataModule.h"
#include "Engine.h"
#include "ProductForm.h"
#include "ReportProdutos.h"

#include <QAction>
#include <QPrinter>
#include <QSqlQuery>
#include <QPrintPreviewDialog>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTimer>
#include <QToolButton>

#include <gtest/gtest.h>

#include <algorithm>

using namespace torvane;
using namespace torvane::test;
using manager::ListingGeometry;

namespace {

constexpr double kPt = 72.0 / 25.4;   // PDF points per millimetre

QString pdftotext()
{
    return QStandardPaths::findExecutable("pdftotext");
}

// Text of a rectangle (in mm) of one page, laid out.
QString pdfText(const QString &pdf, int page, double x, double y, double w, double h)
{
    QProcess p;
    p.start(pdftotext(), {"-layout", "-f", QString::number(page), "-l", QString::number(page), "-x",
                          QString::number(int(x * kPt)), "-y", QString::number(int(y * kPt)), "-W",
                          QString::number(int(w * kPt)), "-H", QString::number(int(h * kPt)), pdf, "-"});
    p.waitForFinished(30000);
    return QString::fromUtf8(p.readAllStandardOutput());
}

int pdfPages(const QString &pdf)
{
    QProcess p;
    p.start(pdftotext(), {pdf, "-"});
    p.waitForFinished(30000);
    return int(QString::fromUtf8(p.readAllStandardOutput()).count(QChar('\f')));
}

// The cells of one column of a page: (description, PLU number) top to bottom.
std::vector<std::pair<QString, qint64>> columnCells(const QString &pdf, int page, int column)
{
    using G = ListingGeometry;
    const QString text = pdfText(pdf, page, G::kMarginLeft + column * G::kColumnWidth + 0.2, G::kMarginTop,
                                 G::kCellWidth - 0.4, G::footerTop() - G::kMarginTop);
    std::vector<std::pair<QString, qint64>> cells;
    static const QRegularExpression cell("^\\s*(.*?)\\s*(\\d+)\\s*$");
    for (const QString &l : text.split('\n')) {
        if (l.trimmed().isEmpty() || l.contains('\f'))
            continue;
        const auto m = cell.match(l);
        if (m.hasMatch())
            cells.emplace_back(m.captured(1), m.captured(2).toLongLong());
        else
            cells.emplace_back(l.trimmed(), -1);
    }
    return cells;
}

class ReportTest : public ::testing::Test {
protected:
    void start(int slotCount, const QStringList &prepare = {})
    {
        db = std::make_unique<TempDatabase>(dbOptions(slotCount));
        for (const QString &sql : prepare)
            db->exec(sql);
        f = std::make_unique<FormFixture>(db->path());
        ASSERT_TRUE(f->start());
        f->dialogs.clear();
        ASSERT_TRUE(dir.isValid());
    }
    void TearDown() override
    {
        if (f) {
            EXPECT_EQ(f->dialogs.unexpected(), 0);
        }
        f.reset();
        db.reset();
    }
    // Presses "Imprimir", saves the PDF from the preview, closes the preview.
    QString printToPdf(const QString &name)
    {
        const QString pdf = dir.filePath(name);
        bool previewSeen = false;
        QTimer::singleShot(0, [&] {
            ASSERT_NE(manager::qrlProdutos, nullptr);
            QPrintPreviewDialog *preview = manager::qrlProdutos->previewDialog();
            ASSERT_NE(preview, nullptr);
            previewSeen = true;
            EXPECT_EQ(preview->windowTitle(), "Listagem dos Produtos");
            manager::qrlProdutos->setPdfNameAsker([pdf](QWidget *) { return pdf; });
            auto *save = preview->findChild<QAction *>("actSalvarPdf");
            EXPECT_NE(save, nullptr);
            if (save)
                save->trigger();
            preview->reject();
        });
        f->click(f->form->ToolButton1);
        EXPECT_TRUE(previewSeen);
        return pdf;
    }

    QTemporaryDir dir;
    std::unique_ptr<TempDatabase> db;
    std::unique_ptr<FormFixture> f;
};

} // namespace

TEST(ListingGeometry, FiveColumnsOfSixtySixCellsAboveTheFooter)
{
    EXPECT_DOUBLE_EQ(ListingGeometry::footerTop(), 276.7);
    EXPECT_EQ(ListingGeometry::cellsPerColumn(), 66);
    EXPECT_EQ(ListingGeometry::cellsPerPage(), 330);
    EXPECT_EQ(ListingGeometry::pageCount(0), 0);
    EXPECT_EQ(ListingGeometry::pageCount(1), 1);
    EXPECT_EQ(ListingGeometry::pageCount(330), 1);
    EXPECT_EQ(ListingGeometry::pageCount(331), 2);
    EXPECT_EQ(ListingGeometry::pageCount(500), 2);
    EXPECT_DOUBLE_EQ(ListingGeometry::kColumns * ListingGeometry::kColumnWidth,
                     ListingGeometry::kPageWidth - ListingGeometry::kMarginLeft - ListingGeometry::kMarginRight);
}

TEST_F(ReportTest, EmptyProductListShowsTheMessageInstead)
{
    start(2);
    f->form->qryProdutos->setSql("Select * From Plu Where pluNo < 0");
    ASSERT_TRUE(f->form->qryProdutos->open());
    f->click(f->form->ToolButton1);
    ASSERT_NE(f->dialogs.lastMessage(), nullptr);
    EXPECT_EQ(f->dialogs.lastMessage()->caption, "Erro");
    EXPECT_EQ(f->dialogs.lastMessage()->text, QString::fromUtf8("Não há produtos a serem impressos."));
    EXPECT_EQ(f->dialogs.lastMessage()->icon, manager::DialogIcon::Error);
}

TEST_F(ReportTest, FiveHundredProductsSortedByDescriptionColumnAfterColumn)
{
    if (pdftotext().isEmpty())
        GTEST_SKIP() << "pdftotext (poppler-utils) is not installed";
    // Descriptions numbered in a shuffled order, so the listing's order is
    // not the slots' order; ten free slots come first.
    QStringList prepare;
    std::vector<int> numbers(490);
    for (int i = 0; i < 490; ++i)
        numbers[i] = i;
    std::shuffle(numbers.begin(), numbers.end(), *QRandomGenerator::global());
    QString sql = "UPDATE PLU SET Codigo = pluNo, pluCode = 'r' || pluNo, pluDesc = CASE pluNo";
    for (int slot = 11; slot <= 500; ++slot)
        sql += QString(" WHEN %1 THEN 'PRODUTO %2'").arg(slot).arg(numbers[slot - 11], 3, 10, QChar('0'));
    sql += " END WHERE pluNo > 10";
    // One description far wider than its cell.
    prepare << sql << "UPDATE PLU SET pluDesc = 'PRODUTO 999 COM UM NOME COMPRIDO DEMAIS PARA A CELULA' WHERE pluNo = 11";
    start(500, prepare);

    const QString pdf = printToPdf("listagem.pdf");
    ASSERT_TRUE(QFile::exists(pdf));
    EXPECT_EQ(pdfPages(pdf), 2);

    // What the query sorts, read back cell by cell, column after column.
    std::vector<std::pair<QString, qint64>> expected;
    {
        QString error;
        auto conn = db::Connection::open(db->path(), &error);
        ASSERT_TRUE(conn);
        QSqlQuery q(conn->database());
        ASSERT_TRUE(q.exec(db::mapAccessSql(conn->database(), QStringLiteral("Select PluDesc, PluNo From Plu Order By PluDesc"))));
        while (q.next())
            expected.emplace_back(q.value(0).toString(), q.value(1).toLongLong());
    }
    ASSERT_EQ(expected.size(), 500u);
    std::vector<std::pair<QString, qint64>> printed;
    for (int page = 1; page <= 2; ++page)
        for (int column = 0; column < 5; ++column) {
            const auto cells = columnCells(pdf, page, column);
            EXPECT_LE(cells.size(), 66u);
            printed.insert(printed.end(), cells.begin(), cells.end());
        }
    ASSERT_EQ(printed.size(), expected.size());
    for (size_t i = 0; i < printed.size(); ++i) {
        EXPECT_EQ(printed[i].second, expected[i].second) << i;
        if (expected[i].first.size() < 20) {
            EXPECT_EQ(printed[i].first, expected[i].first) << i;
        }
    }
    // Free slots first, then the products in description order.
    for (int i = 0; i < 10; ++i)
        EXPECT_TRUE(printed[i].first.isEmpty()) << i;
    EXPECT_EQ(printed[10].first, "PRODUTO 000");
    // The long description is cut at the cell's width, not wrapped.
    const auto longOne = std::find_if(printed.begin(), printed.end(), [](const auto &c) { return c.second == 11; });
    ASSERT_NE(longOne, printed.end());
    EXPECT_TRUE(longOne->first.startsWith("PRODUTO 999 COM"));
    EXPECT_FALSE(longOne->first.contains("CELULA"));
    // Page 1 is full (330 cells), page 2 holds the other 170: two full
    // columns and 38 cells.
    EXPECT_EQ(columnCells(pdf, 2, 2).size(), 38u);
    EXPECT_TRUE(columnCells(pdf, 2, 3).empty());

    // The footer of each page: date and time, "Página", the page number.
    using G = ListingGeometry;
    for (int page = 1; page <= 2; ++page) {
        const double top = G::footerTop();
        const QString date = pdfText(pdf, page, G::kMarginLeft + G::kDateLeft, top, 45, G::kFooterHeight);
        EXPECT_TRUE(date.contains(QString::number(QDate::currentDate().year()).right(2))) << date.toStdString();
        const QString word = pdfText(pdf, page, G::kMarginLeft + G::kPageWordLeft, top, 17, G::kFooterHeight);
        EXPECT_EQ(word.trimmed(), QString::fromUtf8("Página"));
        const QString number = pdfText(pdf, page, G::kMarginLeft + G::kPageNumberLeft, top, 15, G::kFooterHeight);
        EXPECT_EQ(number.trimmed(), QString::number(page));
    }
}

TEST_F(ReportTest, EveryFreeSlotIsACellWithItsNumberAndASecondRunSeesChanges)
{
    if (pdftotext().isEmpty())
        GTEST_SKIP() << "pdftotext (poppler-utils) is not installed";
    start(5);
    const QString first = printToPdf("livre.pdf");
    const auto cells = columnCells(first, 1, 0);
    ASSERT_EQ(cells.size(), 5u);
    for (size_t i = 0; i < cells.size(); ++i) {
        EXPECT_TRUE(cells[i].first.isEmpty());
        EXPECT_EQ(cells[i].second, qint64(i + 1));
    }
    // Changed while the program runs: the next listing shows it.
    db->exec(QString::fromUtf8("UPDATE PLU SET Codigo = 9, pluDesc = 'AÇÚCAR' WHERE pluNo = 2"));
    const QString second = printToPdf("depois.pdf");
    const auto after = columnCells(second, 1, 0);
    ASSERT_EQ(after.size(), 5u);
    EXPECT_EQ(after[4].first, QString::fromUtf8("AÇÚCAR"));
    EXPECT_EQ(after[4].second, 2);
}

TEST(ListingPrinter, A4PortraitOneCopySimplexNamedAfterTheReport)
{
    QPrinter printer(QPrinter::HighResolution);
    manager::setUpListingPrinter(printer);
    EXPECT_EQ(printer.pageLayout().pageSize().id(), QPageSize::A4);
    EXPECT_EQ(printer.pageLayout().orientation(), QPageLayout::Portrait);
    EXPECT_EQ(printer.copyCount(), 1);
    EXPECT_EQ(printer.duplex(), QPrinter::DuplexNone);
    EXPECT_EQ(printer.docName(), "Listagem dos Produtos");
    EXPECT_TRUE(printer.fullPage());
}
