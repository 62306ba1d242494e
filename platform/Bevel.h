#pragma once
// A raised separator line along the bottom edge of its area: the highlight
// row above the shadow row, as the program's dialogs separate their buttons.
#include <QWidget>

class TBevel : public QWidget {
    Q_OBJECT
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent*) override;
};
