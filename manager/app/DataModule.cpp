#include "DataModule.h"

#include "ProductHistory.h"

#include <QFile>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace torvane::manager {

namespace {

// The toolbar's images, drawn here so the program carries no artwork.
QPixmap canvas()
{
    QPixmap pm(32, 32);
    pm.fill(Qt::transparent);
    return pm;
}

QIcon drawEdit()
{
    QPixmap pm = canvas();
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(60, 60, 60), 1.5));
    p.setBrush(QColor(250, 250, 240));
    p.drawRect(5, 4, 18, 24);
    p.setPen(QPen(QColor(120, 120, 120), 1));
    for (int y = 10; y <= 22; y += 4)
        p.drawLine(8, y, 19, y);
    p.translate(22, 18);
    p.rotate(45);
    p.setPen(QPen(QColor(80, 50, 10), 1));
    p.setBrush(QColor(240, 180, 40));
    p.drawRect(-3, -13, 6, 20);
    p.setBrush(QColor(80, 50, 10));
    QPainterPath tip;
    tip.moveTo(-3, 7);
    tip.lineTo(3, 7);
    tip.lineTo(0, 12);
    tip.closeSubpath();
    p.drawPath(tip);
    return QIcon(pm);
}

QIcon drawClear()
{
    QPixmap pm = canvas();
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(60, 60, 60), 1.5));
    p.setBrush(QColor(250, 250, 240));
    p.drawRect(4, 4, 18, 24);
    p.setPen(QPen(QColor(200, 30, 30), 3.5, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(15, 14, 27, 26);
    p.drawLine(27, 14, 15, 26);
    return QIcon(pm);
}

QIcon drawSave()
{
    QPixmap pm = canvas();
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(20, 40, 90), 1.5));
    p.setBrush(QColor(50, 90, 170));
    p.drawRoundedRect(4, 4, 24, 24, 2, 2);
    p.setBrush(QColor(235, 235, 235));
    p.drawRect(9, 5, 14, 9);
    p.setBrush(QColor(20, 40, 90));
    p.drawRect(18, 6, 3, 6);
    p.setBrush(QColor(245, 245, 245));
    p.drawRect(8, 18, 16, 9);
    return QIcon(pm);
}

QIcon drawCancel()
{
    QPixmap pm = canvas();
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(150, 20, 20), 1.5));
    p.setBrush(QColor(220, 50, 50));
    p.drawEllipse(4, 4, 24, 24);
    p.setPen(QPen(Qt::white, 3.5, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(11, 11, 21, 21);
    p.drawLine(21, 11, 11, 21);
    return QIcon(pm);
}

QIcon drawSearch()
{
    QPixmap pm = canvas();
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(40, 40, 40), 3));
    p.setBrush(QColor(200, 225, 250));
    p.drawEllipse(5, 5, 15, 15);
    p.setPen(QPen(QColor(90, 60, 30), 5, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(19, 19, 27, 27);
    return QIcon(pm);
}

QIcon drawPrint()
{
    QPixmap pm = canvas();
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(60, 60, 60), 1.5));
    p.setBrush(Qt::white);
    p.drawRect(9, 3, 14, 10);
    p.setBrush(QColor(150, 150, 160));
    p.drawRoundedRect(3, 12, 26, 12, 2, 2);
    p.setBrush(Qt::white);
    p.drawRect(9, 20, 14, 9);
    p.setPen(QPen(QColor(120, 120, 120), 1));
    p.drawLine(11, 24, 21, 24);
    p.drawLine(11, 26, 19, 26);
    return QIcon(pm);
}

QIcon drawExit()
{
    QPixmap pm = canvas();
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(90, 60, 30), 1.5));
    p.setBrush(QColor(170, 120, 70));
    p.drawRect(5, 3, 15, 26);
    p.setBrush(QColor(240, 200, 60));
    p.drawEllipse(15, 15, 3, 3);
    p.setPen(QPen(QColor(30, 130, 40), 3.5, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(19, 10, 29, 10);
    p.drawLine(25, 6, 29, 10);
    p.drawLine(25, 14, 29, 10);
    return QIcon(pm);
}

QIcon drawTransmit()
{
    QPixmap pm = canvas();
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    // A scale with an arrow toward it.
    p.setPen(QPen(QColor(50, 50, 60), 1.5));
    p.setBrush(QColor(210, 210, 220));
    p.drawRoundedRect(10, 16, 20, 12, 2, 2);
    p.setBrush(QColor(120, 200, 120));
    p.drawRect(13, 19, 14, 5);
    p.setBrush(QColor(180, 180, 190));
    p.drawRect(8, 12, 24, 4);
    p.setPen(QPen(QColor(30, 90, 200), 3, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(2, 6, 14, 6);
    p.drawLine(10, 2, 14, 6);
    p.drawLine(10, 10, 14, 6);
    return QIcon(pm);
}

} // namespace

TDM::TDM(QObject *parent) : QObject(parent), m_path(QString::fromLatin1(db::kDatabaseFileName))
{
    setObjectName(QStringLiteral("DM"));
    ImageList1.resize(36);
    ImageList1[1] = drawClear();
    ImageList1[2] = drawEdit();
    ImageList1[3] = drawSave();
    ImageList1[4] = drawCancel();
    ImageList1[6] = drawSearch();
    ImageList1[7] = drawPrint();
    ImageList1[26] = drawExit();
    ImageList1[35] = drawTransmit();
}

TDM::~TDM()
{
    qryConfig.close();
}

void TDM::setDatabasePath(const QString &path)
{
    disconnect();
    m_path = path;
}

db::Connection *TDM::ADOC(QString *error)
{
    if (!m_connection) {
        m_connection = db::Connection::open(m_path, error); // honours a read-only mark
        // Every change this program makes to a product is recorded.
        if (m_connection && !m_connection->readOnly())
            db::installHistoryTrigger(m_connection->database());
    }
    return m_connection.get();
}

void TDM::disconnect()
{
    qryConfig.close();
    m_connection.reset();
}

QIcon TDM::image(int index) const
{
    return index >= 0 && index < ImageList1.size() ? ImageList1[index] : QIcon();
}

} // namespace torvane::manager
