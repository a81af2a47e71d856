#pragma once
// Decoding of JPEG pictures with libjpeg, for the pictures the manager ships
// (the barcode illustration of the product form).

#include <QByteArray>
#include <QImage>
#include <QString>

class QLabel;

namespace torvane::manager {

// Decodes a JPEG held in memory.  Grey pictures give Format_Grayscale8,
// colour pictures Format_RGB888.  A damaged or unsupported picture (libjpeg
// error or warning, such as a truncated file) gives a null image and sets
// *error to libjpeg's explanation.
QImage decodeJpeg(const QByteArray &data, QString *error);

// Reads and decodes a JPEG file (a Qt resource path such as ":/..." too).
// A missing file gives a null image and an error naming it.
QImage loadJpegFile(const QString &path, QString *error);

// Shows the JPEG at path in frame, scaled to the frame.  A missing or
// damaged picture leaves the frame empty and says so on standard error
// (what names the picture for the reader); the program goes on.  Returns
// whether the picture is shown.
bool showJpegInFrame(QLabel *frame, const QString &path, const QString &what);

} // namespace torvane::manager
