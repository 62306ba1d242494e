#pragma once
// A status bar of fixed-width text panels without a size grip.
#include <QFont>
#include <QStringList>
#include <QVector>
#include <QWidget>
#include <optional>

class TStatusBar : public QWidget {
    Q_OBJECT
public:
    TStatusBar(const QVector<int>& panelWidths, QWidget* parent = nullptr);

    int panelCount() const { return int(widths_.size()); }
    int panelWidth(int index) const { return widths_.at(index); }
    QString text(int panel) const { return texts_.at(panel); }
    void setText(int panel, const QString& text);
    QRect panelRect(int panel) const;
    // Where a panel's text goes: inside its bevel, one pixel clear of it on
    // the left. Text beyond it is cut off.
    QRect textRect(int panel) const;
    // A panel's own font; the others draw in the bar's font.
    void setPanelFont(int panel, const QFont& font);
    QFont panelFont(int panel) const;

protected:
    void paintEvent(QPaintEvent*) override;

private:
    QVector<int> widths_;
    QStringList texts_;
    QVector<std::optional<QFont>> fonts_;
};
