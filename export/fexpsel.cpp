#include "fexpsel.h"

#include "Dialogs.h"
#include "Fonts.h"
#include "WindowPlacement.h"
#include "Fpross.h"

#include <QFont>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>

namespace {

const QColor Navy(0x00, 0x00, 0x80);
const QColor Maroon(0x80, 0x00, 0x00);

void setTextColour(QWidget* w, const QColor& colour)
{
    QPalette pal = w->palette();
    pal.setColor(QPalette::WindowText, colour);
    pal.setColor(QPalette::ButtonText, colour);
    w->setPalette(pal);
}

} // namespace

Texpsel::Texpsel(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint
                          | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint)
{
    setObjectName(QStringLiteral("expsel"));
    setWindowTitle(QStringLiteral("Select"));
    setFixedSize(276, 123);
    setSizeGripEnabled(false);

    QPalette pal = palette();
    pal.setColor(QPalette::Window, pal.color(QPalette::Button));
    setPalette(pal);
    setAutoFillBackground(true);

    RxLabel1 = new QLabel(QStringLiteral("PLEASE SELECT FILE TYPE"), this);
    RxLabel1->setObjectName(QStringLiteral("RxLabel1"));
    RxLabel1->setGeometry(13, 4, 251, 24);
    RxLabel1->setFont(pixelFont(QStringLiteral("MS Sans Serif"), 19));
    setTextColour(RxLabel1, Navy);

    const QString song = QStringLiteral("宋体");

    // Created first: the focus chain follows creation, and the first control
    // in it gets the focus when the dialog opens.
    Button2 = new QPushButton(QStringLiteral("&Output"), this);
    Button2->setObjectName(QStringLiteral("Button2"));
    Button2->setGeometry(48, 96, 86, 25);

    Button3 = new QPushButton(QStringLiteral("&Cancel"), this);
    Button3->setObjectName(QStringLiteral("Button3"));
    Button3->setGeometry(141, 96, 86, 25);

    for (QPushButton* b : {Button2, Button3}) {
        b->setFont(pixelFont(song, 15));
        setTextColour(b, Qt::black);
        b->setAutoDefault(false);
        b->setDefault(false);
    }

    RD1 = new QRadioButton(QStringLiteral("Text File with ','"), this);
    RD1->setObjectName(QStringLiteral("RD1"));
    RD1->setGeometry(44, 32, 193, 17);
    RD1->setFont(pixelFont(song, 15));
    setTextColour(RD1, Maroon);
    RD1->setChecked(true);

    RD2 = new QRadioButton(QStringLiteral("Microsoft Excel "), this);
    RD2->setObjectName(QStringLiteral("RD2"));
    RD2->setGeometry(44, 60, 189, 17);
    RD2->setFont(pixelFont(song, 15));
    setTextColour(RD2, Maroon);

    Bevel1 = new TBevel(this);
    Bevel1->setObjectName(QStringLiteral("Bevel1"));
    Bevel1->setGeometry(4, 80, 263, 10);

    setTabOrder(Button2, Button3);
    setTabOrder(Button3, RD1);
    setTabOrder(RD1, RD2);

    connect(Button2, &QPushButton::clicked, this, &Texpsel::Button2Click);
    connect(Button3, &QPushButton::clicked, this, &Texpsel::Button3Click);
}

quint8 Texpsel::Execute()
{
    // Any way of closing other than the two buttons counts as cancel.
    ExportChoice = ChoiceNone;
    Dialogs::instance().execModal(*this);
    return ExportChoice;
}

void Texpsel::Button2Click()
{
    ExportChoice = RD1->isChecked() ? ChoiceText : ChoiceExcel;
    accept();
}

void Texpsel::Button3Click()
{
    ExportChoice = ChoiceNone;
    reject();
}

void Texpsel::showEvent(QShowEvent* event)
{
    CentreWindowOnScreen(this);
    QDialog::showEvent(event);
}

void Texpsel::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}
