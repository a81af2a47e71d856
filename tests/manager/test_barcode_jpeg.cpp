// The libjpeg decoder behind the barcode picture: the picture we ship, colour
// pictures, and damaged or missing files.
#include "JpegImage.h"

#include <QBuffer>
#include <QColor>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using torvane::manager::decodeJpeg;
using torvane::manager::loadJpegFile;

namespace {

QString shippedPicture()
{
    return qEnvironmentVariable("TORVANE_SOURCE_DIR") + QStringLiteral("/manager/products/resources/barcode.jpg");
}

QByteArray readAll(const QString &path)
{
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::ReadOnly)) << path.toStdString();
    return f.readAll();
}

TEST(BarcodeJpeg, ShippedPictureIsABarcodeOf119By46)
{
    QString error;
    const QImage img = loadJpegFile(shippedPicture(), &error);
    ASSERT_FALSE(img.isNull()) << error.toStdString();
    EXPECT_EQ(img.width(), 119);
    EXPECT_EQ(img.height(), 46);
    // White quiet zones at both ends, dark bars in between, white top row.
    EXPECT_GT(qGray(img.pixel(2, 20)), 200);
    EXPECT_GT(qGray(img.pixel(116, 20)), 200);
    EXPECT_GT(qGray(img.pixel(60, 0)), 200);
    int dark = 0;
    for (int x = 0; x < img.width(); ++x)
        dark += qGray(img.pixel(x, 20)) < 80;
    EXPECT_GT(dark, 25);
    EXPECT_LT(dark, 70);
}

TEST(BarcodeJpeg, ColourPicturesKeepTheirColours)
{
    QImage src(40, 20, QImage::Format_RGB32);
    src.fill(QColor(200, 30, 30));
    for (int y = 0; y < 20; ++y)
        for (int x = 20; x < 40; ++x)
            src.setPixel(x, y, qRgb(20, 40, 220));
    QByteArray bytes;
    QBuffer buf(&bytes);
    buf.open(QIODevice::WriteOnly);
    ASSERT_TRUE(src.save(&buf, "JPEG", 95));

    QString error;
    const QImage img = decodeJpeg(bytes, &error);
    ASSERT_FALSE(img.isNull()) << error.toStdString();
    EXPECT_EQ(img.format(), QImage::Format_RGB888);
    EXPECT_EQ(img.size(), QSize(40, 20));
    const QColor left = img.pixelColor(5, 10), right = img.pixelColor(35, 10);
    EXPECT_NEAR(left.red(), 200, 12);
    EXPECT_NEAR(left.blue(), 30, 12);
    EXPECT_NEAR(right.blue(), 220, 12);
    EXPECT_NEAR(right.red(), 20, 12);
}

TEST(BarcodeJpeg, DamagedAndMissingPicturesGiveNoImageAndAReason)
{
    const QByteArray good = readAll(shippedPicture());
    ASSERT_GT(good.size(), 200);
    QString error;

    EXPECT_TRUE(decodeJpeg(QByteArray(), &error).isNull());
    EXPECT_FALSE(error.isEmpty());

    error.clear();
    EXPECT_TRUE(decodeJpeg(QByteArray("this is not a picture at all"), &error).isNull());
    EXPECT_FALSE(error.isEmpty());

    // Cut inside the scan data: libjpeg would paint the rest grey; we refuse.
    error.clear();
    EXPECT_TRUE(decodeJpeg(good.left(good.size() / 2), &error).isNull());
    EXPECT_FALSE(error.isEmpty());

    // Cut inside the header.
    error.clear();
    EXPECT_TRUE(decodeJpeg(good.left(40), &error).isNull());
    EXPECT_FALSE(error.isEmpty());

    // A PNG is not a JPEG.
    QByteArray png;
    QBuffer buf(&png);
    buf.open(QIODevice::WriteOnly);
    QImage(4, 4, QImage::Format_RGB32).save(&buf, "PNG");
    error.clear();
    EXPECT_TRUE(decodeJpeg(png, &error).isNull());
    EXPECT_FALSE(error.isEmpty());

    QTemporaryDir dir;
    const QString missing = dir.filePath(QStringLiteral("nada.jpg"));
    error.clear();
    EXPECT_TRUE(loadJpegFile(missing, &error).isNull());
    EXPECT_TRUE(error.contains(missing)) << error.toStdString();

    // Decoding a good picture after failures still works (no state left over).
    error.clear();
    EXPECT_FALSE(decodeJpeg(good, &error).isNull());
}

} // namespace
