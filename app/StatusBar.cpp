#include "StatusBar.h"

#include <QPainter>
#include <qdrawutil.h>

TStatusBar::TStatusBar(const QVector<int>& panelWidths, QWidget* parent)
    : QWidget(parent), widths_(panelWidths), fonts_(panelWidths.size())
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

QRect TStatusBar::textRect(int panel) const
{
    // The bevel takes a pixel on each side; a text as wide as the panel
    // allows still gets a pixel of air on the left, as the count's five
    // digits need every other pixel.
    return panelRect(panel).adjusted(2, 1, -1, -1);
}

void TStatusBar::setPanelFont(int panel, const QFont& font)
{
    fonts_[panel] = font;
    update(panelRect(panel));
}

QFont TStatusBar::panelFont(int panel) const
{
    return fonts_.at(panel).value_or(font());
}

void TStatusBar::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.fillRect(rect(), palette().color(QPalette::Button));
    for (int i = 0; i < panelCount(); ++i) {
        const QRect r = panelRect(i);
        qDrawShadePanel(&p, r, palette(), true, 1);
        p.setPen(palette().color(QPalette::ButtonText));
        p.setFont(panelFont(i));
        p.drawText(textRect(i), Qt::AlignLeft | Qt::AlignVCenter, texts_[i]);
    }
}
