#include "Fpross.h"

#include "Fonts.h"
#include "WindowPlacement.h"

#include <QCloseEvent>
#include <QFont>
#include <QLabel>
#include <QPalette>
#include <QProgressBar>

Tprocess* process = nullptr;

namespace {

const QColor Navy(0x00, 0x00, 0x80);

} // namespace

Tprocess::Tprocess(QWidget* parent)
    : QWidget(parent, Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint)
{
    setObjectName(QStringLiteral("process"));
    setWindowTitle(QStringLiteral("Export Progress"));
    setFixedSize(288, 66);

    QPalette pal = palette();
    pal.setColor(QPalette::Window, pal.color(QPalette::Button));
    setPalette(pal);
    setAutoFillBackground(true);

    RxLabel1 = new QLabel(QStringLiteral("Data Exporting  Now....."), this);
    RxLabel1->setObjectName(QStringLiteral("RxLabel1"));
    RxLabel1->setGeometry(26, 8, 236, 24);
    QFont labelFont = pixelFont(QStringLiteral("Arial"), 21);
    labelFont.setBold(true);
    RxLabel1->setFont(labelFont);
    QPalette labelPal = RxLabel1->palette();
    labelPal.setColor(QPalette::WindowText, Navy);
    RxLabel1->setPalette(labelPal);

    ProgressBar1 = new QProgressBar(this);
    ProgressBar1->setObjectName(QStringLiteral("ProgressBar1"));
    ProgressBar1->setGeometry(10, 36, 269, 18);
    ProgressBar1->setRange(0, 100);
    ProgressBar1->setValue(0);
    ProgressBar1->setTextVisible(false);
}

void Tprocess::closeEvent(QCloseEvent* event)
{
    event->ignore();
}

void Tprocess::showEvent(QShowEvent* event)
{
    CentreWindowOnScreen(this);
    QWidget::showEvent(event);
}

Tprocess* CreateProcessWindow(QWidget* parent)
{
    DestroyProcessWindow();
    process = new Tprocess(parent);
    process->show();
    process->repaint();
    return process;
}

void DestroyProcessWindow()
{
    Tprocess* w = process;
    process = nullptr;
    delete w;
}
