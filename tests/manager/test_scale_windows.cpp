// The windows "Vendas" and "Conferir balança" driven as the operator does,
// against the project's scale simulator on a pseudo-terminal linked as COM1.
#include "ManagerTestSupport.h"

#include "CodePage.h"
#include "DataModule.h"
#include "DataSource.h"
#include "ProductForm.h"
#include "SalesWindow.h"
#include "ScaleCheckWindow.h"
#include "ScaleProtocol.h"
#include "ScaleRunner.h"
#include "SimulatorOnPty.h"
#include "TransferJobs.h"

#include <QAction>
#include <QToolButton>
#include <QCheckBox>
#include <QDateEdit>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableWidget>

#include <gtest/gtest.h>

using namespace torvane;
using namespace torvane::manager;

namespace {

ScaleSale sale(int plu, int year, int month, int day, int hour, int minute, int value)
{
    ScaleSale s;
    s.number = uint16_t(plu);
    s.year = uint8_t(year);
    s.month = uint8_t(month);
    s.day = uint8_t(day);
    s.hour = uint8_t(hour);
    s.minute = uint8_t(minute);
    s.value = uint32_t(value);
    return s;
}

class ScaleWindows : public ::testing::Test {
protected:
    test::TempDatabase db{test::dbOptions(8)};
    QString oldCwd = QDir::currentPath();
    QByteArray oldXdg = qgetenv("XDG_CONFIG_HOME");
    std::unique_ptr<test::FormFixture> fx;
    std::unique_ptr<SimulatorOnPty> scale;

    void SetUp() override
    {
        // The transfer jobs find the file and COM1 where the program would.
        QDir::setCurrent(db.dirPath());
        qputenv("XDG_CONFIG_HOME", QDir(db.dirPath()).filePath(QStringLiteral("config")).toLocal8Bit());
        // Slot 1 sold by weight at R$ 5,99/kg, slot 2 by unit at R$ 2,50.
        db.exec(QStringLiteral("UPDATE PLU SET Codigo = 11, pluCode = '000110', pluDesc = 'BANANA', unitPrice = 599,"
                               " Preco = 5.99, sellFlag = 1 WHERE pluNo = 1"));
        db.exec(QStringLiteral("UPDATE PLU SET Codigo = 12, pluCode = '000120', pluDesc = 'PAO DE QUEIJO',"
                               " unitPrice = 250, Preco = 2.5, sellFlag = 2 WHERE pluNo = 2"));
        fx = std::make_unique<test::FormFixture>(db.path());
        ASSERT_TRUE(fx->start());
        startScale();
    }
    // With occupiedOnly the scale answers a product read with its stored
    // products and an end slot, not all 500 slots: short reads.
    void startScale(scalesim::Options o = {})
    {
        scale.reset();
        scale = std::make_unique<SimulatorOnPty>(QDir(db.dirPath()).filePath(QStringLiteral("config/torvane/dosdevices")), 1, o);
        ASSERT_TRUE(scale->ok());
        scale->start();
    }
    void startDifferingScale(scalesim::Options o = {});
    TfrmConferirBalanca *openCheck()
    {
        fx->form->ConferirBalanca1->trigger();
        return fx->form->frmConferirBalanca;
    }
    // Presses a button of "Conferir balança" and waits for the check to end.
    static bool press(QPushButton *button, QSignalSpy &done)
    {
        button->click();
        return done.wait(20000);
    }
    void TearDown() override
    {
        EXPECT_TRUE(fx->dialogs.messages().isEmpty()) << fx->dialogs.messages().join(u'|').toStdString();
        fx.reset();
        scale.reset();
        QDir::setCurrent(oldCwd);
        qputenv("XDG_CONFIG_HOME", oldXdg);
    }
    void setSales(const std::vector<ScaleSale> &sales)
    {
        scale->stop();
        std::vector<scalesim::Record> records;
        for (const ScaleSale &s : sales)
            records.push_back(scalelink::EncodeSaleRecord(s));
        scale->sim.setSales(records);
        scale->start();
    }
    // The scale holds every product of the base, as a download leaves it.
    void storeBaseOnScale()
    {
        std::vector<ScalePlu> products;
        QString error;
        transmitter::RegisterTorvaneDataSource();
        ASSERT_TRUE(transmitter::ReadPluTable(products, &error)) << error.toStdString();
        scale->stop();
        for (const ScalePlu &plu : products)
            scale->sim.store(scalelink::EncodePluSlot(plu));
        scale->start();
    }
    TfrmVendas *openSales()
    {
        fx->form->Vendas1->trigger();
        TfrmVendas *w = fx->form->frmVendas;
        w->dtDe->setDate(QDate(2024, 3, 14));
        w->dtAte->setDate(QDate(2024, 3, 15));
        return w;
    }
    static void read(TfrmVendas *w)
    {
        QSignalSpy done(w, &TfrmVendas::readFinished);
        w->btnLerBalanca->click();
        ASSERT_TRUE(done.wait(20000));
    }
};

} // namespace

TEST_F(ScaleWindows, SalesOfTwoDaysWithTotalsReadOnceExportedAsCsv)
{
    fx->click(fx->form->btnEditar);
    EXPECT_FALSE(fx->form->Vendas1->isEnabled());
    EXPECT_FALSE(fx->form->ConferirBalanca1->isEnabled());
    fx->click(fx->form->btnCancelar);
    EXPECT_TRUE(fx->form->Vendas1->isEnabled());

    // A new install: the scale holds the base's products, the base has
    // never read them back (PLU_UPLOADED is empty).
    ASSERT_EQ(db.scalar(QStringLiteral("SELECT count(*) FROM PLU_UPLOADED")).toInt(), 0);
    storeBaseOnScale();
    std::vector<ScaleSale> sales = {sale(1, 24, 3, 14, 10, 0, 2000), sale(2, 24, 3, 14, 10, 5, 500),
                                    sale(1, 24, 3, 15, 9, 30, 1250), sale(2, 24, 13, 40, 9, 0, 250)};
    setSales(sales);
    TfrmVendas *w = openSales();
    read(w);

    const SalesPeriod &p = w->period();
    ASSERT_EQ(p.rows.size(), 4u);
    EXPECT_EQ(p.rows[0].when, QDateTime(QDate(2024, 3, 15), QTime(9, 30)));
    EXPECT_EQ(p.rows[0].totalCents, 749); // 1,250 kg at 5,99
    EXPECT_FALSE(p.rows[3].when.isValid());
    EXPECT_EQ(p.undated, 1);
    ASSERT_EQ(p.days.size(), 3u);
    EXPECT_EQ(p.days[0].totalCents, 749);
    EXPECT_EQ(p.days[1].sales, 2);
    EXPECT_EQ(p.days[1].totalCents, 1198 + 500);
    EXPECT_EQ(p.days[2].day, QDate());
    ASSERT_EQ(p.products.size(), 2u);
    EXPECT_EQ(p.products[0].weightGrams, 3250);
    EXPECT_EQ(p.products[1].quantity, 3);
    EXPECT_EQ(p.totalCents, 2697);
    EXPECT_EQ(w->gridDias->item(2, 0)->text(), QStringLiteral("sem data"));
    EXPECT_TRUE(w->lblTotal->text().contains(QStringLiteral("R$ 26,97 em 4 vendas (1 sem data)")));

    // A new price reaches the scale's copy: the sales already read keep
    // what they were worth.
    db.exec(QStringLiteral("UPDATE PLU_UPLOADED SET unitPrice = 699 WHERE pluNo = 1"));
    ASSERT_TRUE(w->Mostra());
    EXPECT_EQ(w->period().rows[0].totalCents, 749);
    EXPECT_EQ(w->period().totalCents, 2697);

    // The scale sends the same records again: nothing is added.  A sale
    // equal to an earlier one in every value is still a new sale.
    read(w);
    EXPECT_EQ(db.scalar(QStringLiteral("SELECT count(*) FROM RECORD")).toInt(), 4);
    EXPECT_EQ(w->lblStatus->text(), QStringLiteral("0 vendas novas, 4 já lidas antes"));
    sales.push_back(sales[1]);
    setSales(sales);
    read(w);
    EXPECT_EQ(db.scalar(QStringLiteral("SELECT count(*) FROM RECORD")).toInt(), 5);
    EXPECT_EQ(w->period().totalCents, 2697 + 500);

    // The CSV as a spreadsheet (here Python's csv module) reads it.
    const QString csv = QDir(db.dirPath()).filePath(QStringLiteral("vendas.csv"));
    fx->dialogs.answerOpenFile(csv);
    w->btnExportar->click();
    QProcess py;
    py.start(QStringLiteral("python3"),
             {QStringLiteral("-c"),
              QStringLiteral("import csv,sys\n"
                             "rows=list(csv.DictReader(open(sys.argv[1],encoding='utf-8-sig',newline=''),delimiter=';'))\n"
                             "print(len(rows), sum(round(float(r['Total (R$)'].replace(',','.'))*100) for r in rows),"
                             " sum(r['Data']=='sem data' for r in rows), rows[0]['Descrição'], rows[0]['Peso (kg)'])"),
              csv});
    ASSERT_TRUE(py.waitForFinished(20000));
    EXPECT_EQ(QString::fromUtf8(py.readAllStandardOutput()).trimmed(),
              QStringLiteral("5 %1 1 BANANA 1,250").arg(w->period().totalCents));
}

// The scale holds the base as a download leaves it, but slot 2 with another
// price, nothing in slot 1 and a product in slot 6, free here.  A product
// read answers with the stored products only.
void ScaleWindows::startDifferingScale(scalesim::Options o)
{
    std::vector<ScalePlu> products;
    QString error;
    transmitter::RegisterTorvaneDataSource();
    ASSERT_TRUE(transmitter::ReadPluTable(products, &error)) << error.toStdString();
    o.occupiedOnly = true;
    startScale(o);
    scale->stop();
    for (ScalePlu plu : products) {
        if (plu.number == 1)
            continue;
        if (plu.number == 2)
            plu.unitPrice = 300;
        if (plu.number == 6) {
            plu.unitPrice = 100;
            scalelink::AnsiToField(QStringLiteral("VELHO"), plu.description, sizeof plu.description);
        }
        scale->sim.store(scalelink::EncodePluSlot(plu));
    }
    scale->start();
}

TEST_F(ScaleWindows, CheckShowsThreeDifferingSlotsThatSendingMends)
{
    startDifferingScale();
    TfrmConferirBalanca *w = openCheck();
    QSignalSpy done(w, &TfrmConferirBalanca::checkFinished);
    ASSERT_TRUE(press(w->btnLerBalanca, done));
    ASSERT_EQ(w->result().differing.size(), 3u);
    EXPECT_EQ(w->result().differing[0].differences, transmitter::DiffMissingOnScale);
    EXPECT_EQ(w->result().differing[1].differences, transmitter::DiffPrice);
    EXPECT_EQ(w->result().differing[2].differences, transmitter::DiffFreeInBase);
    EXPECT_EQ(w->gridSlots->rowCount(), 3);
    EXPECT_EQ(w->lblResumo->text(), QStringLiteral("3 posições diferem; 0 iguais (ocultas)"));

    w->btnEnviar->click();
    ASSERT_TRUE(done.wait(20000));
    ASSERT_TRUE(done.size() == 2 || done.wait(20000));
    EXPECT_TRUE(w->result().differing.empty());
    EXPECT_EQ(w->lblResumo->text(), QStringLiteral("0 posições diferem; 2 iguais (ocultas)"));
    w->ckbIguais->setChecked(true);
    EXPECT_EQ(w->gridSlots->rowCount(), 2);
    scale->stop();
    EXPECT_EQ(scale->sim.stats().framesAccepted, 3); // only the differing products went out
}

// "Enviar diferenças" changes what the scale holds: the next "send
// --changed" goes by it, not by the record of an earlier send.
TEST_F(ScaleWindows, DifferencesSentFromTheCheckAreSeenBySendChanged)
{
    transfer::RunSettings settings;
    settings.databasePath = db.path();
    settings.command.scales = {{QStringLiteral("COM1"), QStringLiteral("COM1")}};
    auto send = [&](bool changedOnly) {
        settings.command.changedOnly = changedOnly;
        const auto results = transfer::RunScales(settings);
        EXPECT_EQ(results[0].outcome, transfer::Outcome::Done) << results[0].detail.toStdString();
        return results[0].count;
    };
    transmitter::RegisterTorvaneDataSource();
    ASSERT_EQ(send(false), 8);

    db.exec(QStringLiteral("UPDATE PLU SET unitPrice = 300 WHERE pluNo = 2"));
    TfrmConferirBalanca *w = openCheck();
    QSignalSpy done(w, &TfrmConferirBalanca::checkFinished);
    ASSERT_TRUE(press(w->btnLerBalanca, done));
    ASSERT_TRUE(press(w->btnEnviar, done));
    ASSERT_TRUE(done.size() == 2 || done.wait(20000));
    ASSERT_TRUE(w->result().differing.empty());

    // The price comes back: the one product goes out again.
    db.exec(QStringLiteral("UPDATE PLU SET unitPrice = 250 WHERE pluNo = 2"));
    EXPECT_EQ(send(true), 1);
    scale->stop();
    EXPECT_EQ((*scale->sim.slot(2))[42], 250);
}

// A read that fails leaves nothing of the comparison before it; a send the
// scale stops answering names the product by its PLU.
TEST_F(ScaleWindows, CheckThatFailsSaysSoAndNamesThePlu)
{
    startDifferingScale();
    TfrmConferirBalanca *w = openCheck();
    QSignalSpy done(w, &TfrmConferirBalanca::checkFinished);
    ASSERT_TRUE(press(w->btnLerBalanca, done));
    ASSERT_EQ(w->gridSlots->rowCount(), 3);

    scalesim::Options silent;
    silent.noHeader = true;
    startScale(silent);
    ASSERT_TRUE(press(w->btnLerBalanca, done));
    ASSERT_EQ(fx->dialogs.messages().size(), 1);
    EXPECT_TRUE(fx->dialogs.messages()[0].contains(QStringLiteral("A balança não respondeu")))
        << fx->dialogs.messages()[0].toStdString();
    fx->dialogs.clear();
    EXPECT_EQ(w->gridSlots->rowCount(), 0);
    EXPECT_FALSE(w->lblResumo->text().contains(QStringLiteral("diferem"))) << w->lblResumo->text().toStdString();
    EXPECT_FALSE(w->btnEnviar->isEnabled());

    // The differing slots go out as PLU 1, 2 and 6; the third is not answered.
    scalesim::Options stops;
    stops.noAnswerFrom = 3;
    startDifferingScale(stops);
    ASSERT_TRUE(press(w->btnLerBalanca, done));
    ASSERT_TRUE(press(w->btnEnviar, done));
    ASSERT_EQ(fx->dialogs.messages().size(), 1);
    EXPECT_TRUE(fx->dialogs.messages()[0].contains(QStringLiteral("não confirmou o produto PLU 6")))
        << fx->dialogs.messages()[0].toStdString();
    fx->dialogs.clear();
    EXPECT_TRUE(w->lblResumo->text().contains(QStringLiteral("PLU 6"))) << w->lblResumo->text().toStdString();
}

// The scale acknowledged every difference but the record of what it
// received could not be written: the box says so, and the window still
// reads the scale again, which now holds the base.
TEST_F(ScaleWindows, CheckReadsAgainWhenOnlyTheRecordOfTheSendWasLost)
{
    startDifferingScale();
    scale->stop();
    scale->sim.setOnStored([this] {
        if (scale->sim.stats().framesAccepted == 3)
            db.exec(QStringLiteral("DROP TABLE ScaleAck"));
    });
    scale->start();
    TfrmConferirBalanca *w = openCheck();
    QSignalSpy done(w, &TfrmConferirBalanca::checkFinished);
    ASSERT_TRUE(press(w->btnLerBalanca, done));
    ASSERT_TRUE(press(w->btnEnviar, done));
    ASSERT_EQ(fx->dialogs.messages().size(), 1);
    EXPECT_TRUE(fx->dialogs.messages()[0].contains(QStringLiteral("o registro do que a balança recebeu")))
        << fx->dialogs.messages()[0].toStdString();
    fx->dialogs.clear();
    EXPECT_TRUE(w->result().differing.empty());
    EXPECT_EQ(w->lblResumo->text(), QStringLiteral("0 posições diferem; 2 iguais (ocultas)"));
}
