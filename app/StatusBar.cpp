#include "StatusBar.h"

#include <QPainter>
#include <qdrawutil.h>

TStatusBar::TStatusBar(const QVector<int>& panelWidths, QWidget* parent)
    : QWidget(parent), widths_(panelWidths)
{
    for (qsizetype i = 0; i < widths_.size(); ++i)
        texts_.append(QString());
}

void TStatusBar::setText(int panel, const QString& text)
{
    if (texts_[panel] == text)
        return;
    texts_[panel] = text;
    update(panelRect(panel));
}

QRect TStatusBar::panelRect(int panel) const
{
    int x = 0;
    for (int i = 0; i < panel; ++i)
        x += widths_[i] + 2;
    return QRect(x, 2, widths_[panel], height() - 2);
}

void TStatusBar::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.fillRect(rect(), palette().color(QPalette::Button));
    for (int i = 0; i < panelCount(); ++i) {
        const QRect r = panelRect(i);
        qDrawShadePanel(&p, r, palette(), true, 1);
        p.setPen(palette().color(QPalette::ButtonText));
        const QRect textRect = r.adjusted(3, 1, -3, -1);
        p.drawText(textRect, Qt::AlignLeft | Qt::AlignVCenter,
                   fontMetrics().elidedText(texts_[i], Qt::ElideNone, textRect.width()));
    }
}
