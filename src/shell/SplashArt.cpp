#include "shell/SplashArt.h"

#include <QColor>
#include <QFont>
#include <QPainter>
#include <QPainterPath>
#include <QtMath>

namespace splash {

namespace {

const QColor kMaroon(128, 0, 0);
const QColor kGold(214, 170, 60);

QPixmap Transparent(int size)
{
    QPixmap pm(size, size);
    pm.fill(Qt::transparent);
    return pm;
}

}  // namespace

QPixmap Logo(int size)
{
    QPixmap pm = Transparent(size);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal s = size;

    // A seal: a toothed outer ring around a plain disc.
    QPainterPath seal;
    const int teeth = 24;
    for (int i = 0; i <= 2 * teeth; ++i) {
        const qreal r = (i % 2 == 0) ? s * 0.48 : s * 0.43;
        const qreal a = M_PI * i / teeth;
        const QPointF pt(s / 2 + r * qCos(a), s / 2 + r * qSin(a));
        if (i == 0)
            seal.moveTo(pt);
        else
            seal.lineTo(pt);
    }
    seal.closeSubpath();
    p.setPen(Qt::NoPen);
    p.setBrush(kMaroon);
    p.drawPath(seal);
    p.setBrush(QColor(250, 244, 238));
    p.drawEllipse(QPointF(s / 2, s / 2), s * 0.36, s * 0.36);
    p.setPen(QPen(kGold, s * 0.025));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(QPointF(s / 2, s / 2), s * 0.32, s * 0.32);

    // The letter V, its right stroke drawn as a check mark.
    QPen stroke(kMaroon, s * 0.075, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    p.setPen(stroke);
    QPainterPath v;
    v.moveTo(s * 0.33, s * 0.36);
    v.lineTo(s * 0.47, s * 0.66);
    v.lineTo(s * 0.68, s * 0.30);
    p.drawPath(v);
    return pm;
}

QPixmap Lock(int size)
{
    QPixmap pm = Transparent(size);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal s = size;

    p.setPen(QPen(QColor(60, 60, 60), s * 0.12, Qt::SolidLine, Qt::RoundCap));
    p.setBrush(Qt::NoBrush);
    p.drawArc(QRectF(s * 0.28, s * 0.08, s * 0.44, s * 0.56), 0, 180 * 16);
    p.drawLine(QPointF(s * 0.28, s * 0.36), QPointF(s * 0.28, s * 0.46));
    p.drawLine(QPointF(s * 0.72, s * 0.36), QPointF(s * 0.72, s * 0.46));

    p.setPen(Qt::NoPen);
    p.setBrush(kGold);
    p.drawRoundedRect(QRectF(s * 0.14, s * 0.44, s * 0.72, s * 0.50), s * 0.08, s * 0.08);
    p.setBrush(QColor(60, 60, 60));
    p.drawEllipse(QPointF(s * 0.5, s * 0.64), s * 0.07, s * 0.07);
    p.drawRect(QRectF(s * 0.47, s * 0.66, s * 0.06, s * 0.16));
    return pm;
}

}  // namespace splash
