#include "ButtonPictures.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <functional>

namespace {

QIcon draw(int size, const std::function<void(QPainter&)>& paint)
{
    QPixmap pm(size, size);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing, true);
    paint(p);
    p.end();
    return QIcon(pm);
}

} // namespace

namespace pictures {

QIcon retry()
{
    return draw(16, [](QPainter& p) {
        QPen pen(QColor(0, 128, 0), 2.2);
        p.setPen(pen);
        p.drawArc(QRectF(2.5, 2.5, 11, 11), 60 * 16, 280 * 16);
        QPainterPath head;
        head.moveTo(10.5, 0.5);
        head.lineTo(15, 4);
        head.lineTo(9.5, 6.5);
        head.closeSubpath();
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(0, 128, 0));
        p.drawPath(head);
    });
}

QIcon no()
{
    return draw(16, [](QPainter& p) {
        p.setPen(QPen(QColor(192, 0, 0), 2.2));
        p.setBrush(Qt::NoBrush);
        p.drawEllipse(QRectF(2, 2, 12, 12));
        p.drawLine(QPointF(4.2, 11.8), QPointF(11.8, 4.2));
    });
}

QIcon close()
{
    return draw(16, [](QPainter& p) {
        // An open door with an arrow leaving through it.
        p.setPen(QPen(QColor(96, 64, 0), 1.2));
        p.setBrush(QColor(224, 192, 128));
        p.drawRect(QRectF(2.5, 1.5, 7, 13));
        p.setBrush(QColor(160, 112, 48));
        QPolygonF door{{2.5, 1.5}, {6.5, 3.5}, {6.5, 15.5}, {2.5, 14.5}};
        p.drawPolygon(door);
        p.setPen(QPen(QColor(0, 0, 160), 1.8));
        p.drawLine(QPointF(8, 8), QPointF(14.5, 8));
        p.drawLine(QPointF(12, 5.5), QPointF(14.5, 8));
        p.drawLine(QPointF(12, 10.5), QPointF(14.5, 8));
    });
}

QIcon exportData()
{
    return draw(16, [](QPainter& p) {
        // A sheet of rows with an arrow leaving it.
        p.setPen(QPen(Qt::black, 1));
        p.setBrush(Qt::white);
        p.drawRect(QRectF(1.5, 1.5, 9, 12));
        p.setPen(QPen(QColor(0, 0, 128), 1));
        for (int y = 4; y <= 11; y += 2)
            p.drawLine(QPointF(3, y + 0.5), QPointF(9, y + 0.5));
        p.setPen(QPen(QColor(0, 128, 0), 2));
        p.drawLine(QPointF(8, 10), QPointF(14.5, 10));
        p.drawLine(QPointF(12, 7.5), QPointF(14.5, 10));
        p.drawLine(QPointF(12, 12.5), QPointF(14.5, 10));
    });
}

QIcon analyze()
{
    return draw(16, [](QPainter& p) {
        p.setPen(QPen(Qt::black, 1));
        p.drawLine(QPointF(1.5, 1), QPointF(1.5, 14.5));
        p.drawLine(QPointF(1.5, 14.5), QPointF(15, 14.5));
        p.setPen(QPen(QColor(192, 0, 0), 1.6));
        QPolygonF line{{2.5, 12}, {5.5, 8}, {8.5, 10}, {11.5, 4}, {14.5, 6}};
        p.drawPolyline(line);
    });
}

QIcon setup()
{
    return draw(16, [](QPainter& p) {
        // A gear.
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(64, 64, 96));
        p.translate(8, 8);
        for (int i = 0; i < 8; ++i) {
            p.drawRect(QRectF(-1.5, -7.5, 3, 4));
            p.rotate(45);
        }
        p.drawEllipse(QPointF(0, 0), 5, 5);
        p.setBrush(QColor(224, 224, 224));
        p.drawEllipse(QPointF(0, 0), 2, 2);
    });
}

QIcon ok()
{
    return draw(16, [](QPainter& p) {
        p.setPen(QPen(QColor(0, 128, 0), 2.4, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        QPolygonF tick{{2.5, 8.5}, {6.5, 12.5}, {13.5, 3.5}};
        p.drawPolyline(tick);
    });
}

QIcon cancel()
{
    return draw(16, [](QPainter& p) {
        p.setPen(QPen(QColor(192, 0, 0), 2.4, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(3.5, 3.5), QPointF(12.5, 12.5));
        p.drawLine(QPointF(12.5, 3.5), QPointF(3.5, 12.5));
    });
}

QIcon windowIcon()
{
    return draw(32, [](QPainter& p) {
        p.setRenderHint(QPainter::Antialiasing, false);
        p.setPen(QPen(Qt::black, 1));
        p.setBrush(QColor(0, 0, 128));
        p.drawRect(1, 5, 29, 22);
        p.setBrush(QColor(192, 192, 192));
        p.drawRect(4, 8, 23, 9);
        p.setPen(Qt::NoPen);
        p.setBrush(Qt::black);
        // Three dot-matrix digits on the meter's display.
        const char* rows[3][5] = {{"111", "101", "101", "101", "111"},
                                  {"010", "110", "010", "010", "111"},
                                  {"111", "001", "111", "100", "111"}};
        for (int d = 0; d < 3; ++d)
            for (int r = 0; r < 5; ++r)
                for (int c = 0; c < 3; ++c)
                    if (rows[d][r][c] == '1')
                        p.drawRect(6 + d * 7 + c * 2 - 1, 9 + r * 1 + r, 1, 1);
        p.setBrush(QColor(255, 0, 0));
        p.drawEllipse(6, 20, 4, 4);
        p.setBrush(QColor(0, 255, 0));
        p.drawEllipse(13, 20, 4, 4);
        p.setBrush(QColor(255, 255, 0));
        p.drawEllipse(20, 20, 4, 4);
    });
}

} // namespace pictures
