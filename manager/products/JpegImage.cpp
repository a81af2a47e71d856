#include "JpegImage.h"

#include <QFile>
#include <QLabel>
#include <QPixmap>

#include <csetjmp>
#include <cstdio>
#include <jpeglib.h>

namespace torvane::manager {

namespace {

// The largest picture we agree to decode: far beyond anything we ship, small
// enough that a damaged header cannot ask for an absurd allocation.
constexpr JDIMENSION kMaxSide = 8192;

// libjpeg reports errors by calling error_exit, which must not return; we
// jump back to the function that started the step.  The steps keep only
// plain C data in their frames, so the jump skips no destructor.
struct ErrorManager {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
    bool warned;
};

void onError(j_common_ptr cinfo)
{
    auto *err = reinterpret_cast<ErrorManager *>(cinfo->err);
    (*cinfo->err->format_message)(cinfo, err->message);
    std::longjmp(err->jump, 1);
}

// Corrupt data is only a warning for libjpeg, which then paints the rest of
// the picture grey; for us a damaged picture is not shown at all.
void onMessage(j_common_ptr cinfo, int level)
{
    auto *err = reinterpret_cast<ErrorManager *>(cinfo->err);
    if (level < 0 && !err->warned) {
        (*cinfo->err->format_message)(cinfo, err->message);
        err->warned = true;
    }
}

struct Decoder {
    jpeg_decompress_struct cinfo;
    ErrorManager err;
};

bool startDecoding(Decoder *d, const unsigned char *data, unsigned long size)
{
    if (setjmp(d->err.jump))
        return false;
    jpeg_mem_src(&d->cinfo, data, size);
    jpeg_read_header(&d->cinfo, TRUE);
    switch (d->cinfo.jpeg_color_space) {
    case JCS_GRAYSCALE:
        d->cinfo.out_color_space = JCS_GRAYSCALE;
        break;
    case JCS_YCbCr:
    case JCS_RGB:
        d->cinfo.out_color_space = JCS_RGB;
        break;
    default:
        std::snprintf(d->err.message, sizeof d->err.message, "unsupported colour space (%d)",
                      int(d->cinfo.jpeg_color_space));
        return false;
    }
    jpeg_start_decompress(&d->cinfo);
    return !d->err.warned;
}

bool readLines(Decoder *d, unsigned char *bits, qsizetype bytesPerLine)
{
    if (setjmp(d->err.jump))
        return false;
    while (d->cinfo.output_scanline < d->cinfo.output_height) {
        JSAMPROW row = bits + qsizetype(d->cinfo.output_scanline) * bytesPerLine;
        jpeg_read_scanlines(&d->cinfo, &row, 1);
    }
    jpeg_finish_decompress(&d->cinfo);
    return !d->err.warned;
}

} // namespace

QImage decodeJpeg(const QByteArray &data, QString *error)
{
    auto fail = [error](const QString &why) {
        if (error)
            *error = why;
        return QImage();
    };
    if (data.isEmpty())
        return fail(QStringLiteral("empty file"));

    Decoder d{};
    d.cinfo.err = jpeg_std_error(&d.err.pub);
    d.err.pub.error_exit = onError;
    d.err.pub.emit_message = onMessage;
    jpeg_create_decompress(&d.cinfo);

    QImage image;
    bool ok = startDecoding(&d, reinterpret_cast<const unsigned char *>(data.constData()),
                            static_cast<unsigned long>(data.size()));
    if (ok) {
        const JDIMENSION w = d.cinfo.output_width;
        const JDIMENSION h = d.cinfo.output_height;
        if (w == 0 || h == 0 || w > kMaxSide || h > kMaxSide) {
            std::snprintf(d.err.message, sizeof d.err.message, "unreasonable size %ux%u", unsigned(w),
                          unsigned(h));
            ok = false;
        } else {
            image = QImage(int(w), int(h),
                           d.cinfo.out_color_space == JCS_GRAYSCALE ? QImage::Format_Grayscale8
                                                                    : QImage::Format_RGB888);
            ok = !image.isNull() && readLines(&d, image.bits(), image.bytesPerLine());
        }
    }
    const QString why = QString::fromLocal8Bit(d.err.message);
    jpeg_destroy_decompress(&d.cinfo);
    if (!ok)
        return fail(why.isEmpty() ? QStringLiteral("not a JPEG picture") : why);
    return image;
}

QImage loadJpegFile(const QString &path, QString *error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        if (error)
            *error = QStringLiteral("cannot open %1: %2").arg(path, file.errorString());
        return QImage();
    }
    QString why;
    QImage image = decodeJpeg(file.readAll(), &why);
    if (image.isNull() && error)
        *error = QStringLiteral("%1: %2").arg(path, why);
    return image;
}

bool showJpegInFrame(QLabel *frame, const QString &path, const QString &what)
{
    QString why;
    const QImage image = loadJpegFile(path, &why);
    if (image.isNull()) {
        frame->clear();
        const QByteArray text = QStringLiteral("Torvane: a figura do %1 não pôde ser mostrada (%2); o quadro fica vazio.\n")
                                    .arg(what, why)
                                    .toLocal8Bit();
        std::fputs(text.constData(), stderr);
        std::fflush(stderr);
        return false;
    }
    QPixmap pixmap = QPixmap::fromImage(image);
    if (!frame->size().isEmpty() && pixmap.size() != frame->size())
        pixmap = pixmap.scaled(frame->size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    frame->setPixmap(pixmap);
    return true;
}

} // namespace torvane::manager
