// The barcode illustration of the product form: the picture, the four
// coloured labels and where they go, when they follow the operator's typing,
// and the help text.
#include "ManagerTestSupport.h"

#include "CodeSize.h"
#include "DataModule.h"
#include "JpegImage.h"
#include "ProductForm.h"
#include "RadioGroup.h"

#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

#include <gtest/gtest.h>

using namespace torvane;
using namespace torvane::test;
using manager::DialogIcon;

namespace {

class BarcodeFormTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        db = std::make_unique<TempDatabase>(dbOptions(4));
        db->exec("Update Config Set CodeSize = 5, flgPrefixo2 = 0");
        db->exec("Update PLU Set Codigo = 123, preFix = 2, Prefixb = 7, BarcodeMode = 1, pluCode = '001230', "
                 "pluDesc = 'Queijo' Where pluNo = 1");
        db->exec("Update PLU Set Codigo = 4567, preFix = 1, Prefixb = 7, BarcodeMode = 2, pluCode = '045670', "
                 "pluDesc = 'Pera' Where pluNo = 2");
        f = std::make_unique<FormFixture>(db->path());
        ASSERT_TRUE(f->start());
        QApplication::setActiveWindow(f->form.get());
    }
    void TearDown() override
    {
        EXPECT_EQ(f->dialogs.unexpected(), 0);
        f.reset();
        db.reset();
    }
    manager::TfrmProdutos &form() { return *f->form; }
    QString captions()
    {
        return form().lblPrefixo->text() + '|' + form().lblCodigo->text() + '|' + form().lblPeso->text() + '|' +
               form().lblDV->text();
    }
    std::unique_ptr<TempDatabase> db;
    std::unique_ptr<FormFixture> f;
};

TEST_F(BarcodeFormTest, ThePictureIsInItsFrame)
{
    QLabel *image = form().Image2;
    EXPECT_EQ(image->geometry(), QRect(200, 17, 119, 46));
    EXPECT_EQ(image->parentWidget(), form().gbCB);
    const QPixmap pixmap = image->pixmap();
    ASSERT_FALSE(pixmap.isNull());
    EXPECT_EQ(pixmap.size(), QSize(119, 46));
    const QImage img = pixmap.toImage();
    int dark = 0;
    for (int x = 0; x < img.width(); ++x)
        dark += qGray(img.pixel(x, 20)) < 80;
    EXPECT_GT(dark, 25);
}

TEST_F(BarcodeFormTest, LabelsOfTheCurrentProductSitUnderThePicture)
{
    EXPECT_EQ(captions(), QStringLiteral("20|01230|PPPPP|D"));
    EXPECT_EQ(form().lblPrefixo->x(), 208);
    EXPECT_EQ(form().lblCodigo->x(), 224);
    EXPECT_EQ(form().lblPeso->x(), 264);
    EXPECT_EQ(form().lblDV->x(), 304);
    const QColor colours[] = {Qt::red, Qt::blue, QColor(0, 128, 0), QColor(128, 0, 128)};
    int i = 0;
    for (QLabel *l : {form().lblPrefixo, form().lblCodigo, form().lblPeso, form().lblDV}) {
        EXPECT_EQ(l->y(), 62);
        EXPECT_EQ(l->parentWidget(), form().gbCB);
        EXPECT_TRUE(l->font().bold());
        EXPECT_EQ(l->font().pixelSize(), 12);
        EXPECT_EQ(l->palette().color(QPalette::WindowText), colours[i++]);
    }
    EXPECT_EQ(form().lblDV->toolTip(), QStringLiteral("Dígito Verificador"));

    // Another row: its own digits, total instead of weight.
    f->selectSlot(2);
    EXPECT_EQ(captions(), QStringLiteral("10|45670|TTTTT|D"));
    EXPECT_EQ(form().lblPeso->x(), 264);
    f->selectSlot(1);
    EXPECT_EQ(captions(), QStringLiteral("20|01230|PPPPP|D"));
}

TEST_F(BarcodeFormTest, LabelsFollowTheEditAsTheOperatorLeavesEachField)
{
    f->click(form().btnEditar);
    // "Imprimir:" shows at once.
    QTest::mouseClick(form().dbrbTP->button(1), Qt::LeftButton);
    EXPECT_EQ(form().lblPeso->text(), QStringLiteral("TTTTT"));
    QTest::mouseClick(form().dbrbTP->button(0), Qt::LeftButton);
    EXPECT_EQ(form().lblPeso->text(), QStringLiteral("PPPPP"));

    // The first prefix shows when its field is left.
    f->type(form().edtPrefixo, QStringLiteral("9"));
    EXPECT_EQ(form().lblPrefixo->text(), QStringLiteral("20"));
    form().edtDesc->setFocus();
    EXPECT_EQ(form().lblPrefixo->text(), QStringLiteral("90"));

    // The code shows only once the row is saved (the stored pluCode).
    f->type(form().edtCodigo, QStringLiteral("4"));
    form().edtDesc->setFocus();
    EXPECT_EQ(form().lblCodigo->text(), QStringLiteral("01230"));
    f->click(form().btnGravar);
    ASSERT_FALSE(form().qryProdutos->isEditing());
    EXPECT_EQ(captions(), QStringLiteral("90|00040|PPPPP|D"));
    EXPECT_EQ(db->scalar("Select pluCode From PLU Where pluNo = 1").toString(), QStringLiteral("000040"));
}

TEST_F(BarcodeFormTest, HelpExplainsTheLayout)
{
    f->click(form().SpeedButton1);
    ASSERT_EQ(f->dialogs.shown().size(), 1);
    const ShownDialog &d = f->dialogs.shown()[0];
    EXPECT_EQ(d.caption, QStringLiteral("Informação"));
    EXPECT_EQ(d.icon, DialogIcon::Exclamation);
    EXPECT_TRUE(d.text.startsWith(QStringLiteral("Sobre o Código de Barras:\n\nO código de barras é composto por 13 dígitos\n")));
    EXPECT_TRUE(d.text.endsWith(QStringLiteral("D - Digito verificador calculado automaticamente")));
    EXPECT_EQ(d.text.count(QLatin1Char('\n')), 15);
    EXPECT_EQ(form().SpeedButton1->toolTip(), QStringLiteral("Instruções de preenchimento"));
}

TEST(BarcodePicture, MissingOrDamagedPictureLeavesAnEmptyFrameAndSaysWhy)
{
    QTemporaryDir dir;
    QLabel frame;
    frame.resize(119, 46);
    frame.setPixmap(QPixmap(5, 5));

    const QString missing = dir.filePath(QStringLiteral("barcode.jpg"));
    testing::internal::CaptureStderr();
    EXPECT_FALSE(manager::showJpegInFrame(&frame, missing, QStringLiteral("código de barras")));
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_TRUE(frame.pixmap().isNull());
    EXPECT_NE(err.find("código de barras"), std::string::npos) << err;
    EXPECT_NE(err.find(missing.toStdString()), std::string::npos) << err;

    // Half a picture.
    QFile good(qEnvironmentVariable("TORVANE_SOURCE_DIR") + QStringLiteral("/manager/products/resources/barcode.jpg"));
    ASSERT_TRUE(good.open(QIODevice::ReadOnly));
    const QByteArray bytes = good.readAll();
    const QString damaged = dir.filePath(QStringLiteral("damaged.jpg"));
    QFile out(damaged);
    ASSERT_TRUE(out.open(QIODevice::WriteOnly));
    out.write(bytes.left(bytes.size() / 2));
    out.close();
    frame.setPixmap(QPixmap(5, 5));
    testing::internal::CaptureStderr();
    EXPECT_FALSE(manager::showJpegInFrame(&frame, damaged, QStringLiteral("código de barras")));
    err = testing::internal::GetCapturedStderr();
    EXPECT_TRUE(frame.pixmap().isNull());
    EXPECT_NE(err.find("damaged.jpg"), std::string::npos) << err;

    // The real one.
    EXPECT_TRUE(manager::showJpegInFrame(&frame, good.fileName(), QStringLiteral("código de barras")));
    EXPECT_EQ(frame.pixmap().size(), QSize(119, 46));
}

} // namespace
