#pragma once
// A status bar of fixed-width text panels without a size grip.
#include <QStringList>
#include <QVector>
#include <QWidget>

class TStatusBar : public QWidget {
    Q_OBJECT
public:
    TStatusBar(const QVector<int>& panelWidths, QWidget* parent = nullptr);

    int panelCount() const { return int(widths_.size()); }
    int panelWidth(int index) const { return widths_.at(index); }
    QString text(int panel) const { return texts_.at(panel); }
    void setText(int panel, const QString& text);
    QRect panelRect(int panel) const;

protected:
    void paintEvent(QPaintEvent*) override;

private:
    QVector<int> widths_;
    QStringList texts_;
};
