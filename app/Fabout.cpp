#include "Fabout.h"

#include "Fonts.h"
#include "WindowPlacement.h"

#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QHideEvent>

TAbout* About = nullptr;

QStringList TAbout::creditLines()
{
    return {
        QString(),
        QString(),
        QString(),
        QString(),
        QString(),
        QString(),
        QStringLiteral("Trova Serial Communication Program"),
        QString(36, QLatin1Char('=')),
        QStringLiteral("This is a serial communication program"),
        QStringLiteral("for Trova Model 5926 Conductivity/"),
        QStringLiteral("Salinity/Temperature BENCH METER."),
        QStringLiteral("It can log the data from model 5926 and"),
        QStringLiteral("convent these data to Excel or Text File."),
        QStringLiteral("You can use this to analyze the Conductivity/"),
        QStringLiteral("Salinity/Temperature change processes."),
        QString(),
        QStringLiteral("Trova Instruments"),
        QStringLiteral("Copyright (C) 1999-2002 Trova Instruments"),
        QStringLiteral(" "),
    };
}

TAbout::TAbout(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("About"));
    setWindowTitle(QStringLiteral("About Trova Modal 5926"));
    // A dialog frame with the close box alone: no minimise, maximise or
    // context-help button, and no resizing.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                   Qt::MSWindowsFixedSizeDialogHint);
    setFixedSize(269, 140);
    // Centred on the desktop, not over the window that opened it.
    CentreWhenShown(this, Centring::EveryShow);

    // Set before the controls exist, so they inherit it.
    setFont(pixelFont(QStringLiteral("MS Sans Serif"), 11));

    SecretPanel1 = new TSecretPanel(this);
    SecretPanel1->setObjectName(QStringLiteral("SecretPanel1"));
    SecretPanel1->setGeometry(4, -1, 261, 97);
    // SimSun by either of its names; where it is missing, its substitutes
    // (InstallFontSubstitutions) keep the credits within the text area.
    QFont panelFont;
    panelFont.setFamilies({QStringLiteral("SimSun"), QStringLiteral("宋体")});
    panelFont.setPixelSize(12);
    SecretPanel1->setFont(panelFont);
    SecretPanel1->setAlignment(Qt::AlignLeft);
    SecretPanel1->setTextStyle(TSecretPanel::TextStyle::Engraved);
    SecretPanel1->setCycled(true);
    SecretPanel1->setInterval(120);
    SecretPanel1->setLines(creditLines());

    Bevel1 = new TBevel(this);
    Bevel1->setObjectName(QStringLiteral("Bevel1"));
    Bevel1->setGeometry(-4, 96, 273, 9);

    RxLabel1 = new QLabel(this);
    RxLabel1->setObjectName(QStringLiteral("RxLabel1"));
    RxLabel1->setGeometry(4, 112, 176, 26);
    RxLabel1->setTextFormat(Qt::PlainText);
    RxLabel1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    RxLabel1->setText(QStringLiteral("Written by Trova Software Group\nTrova Instruments"));

    Button1 = new QPushButton(QStringLiteral("&Ok"), this);
    Button1->setObjectName(QStringLiteral("Button1"));
    Button1->setGeometry(184, 112, 75, 25);
    connect(Button1, &QPushButton::clicked, this, &TAbout::Button1Click);
}

void TAbout::Button1Click()
{
    accept();
}

void TAbout::done(int result)
{
    SecretPanel1->setActive(false);
    QDialog::done(result);
}

void TAbout::hideEvent(QHideEvent* event)
{
    // A hide that bypasses done() must not leave the credits scrolling; a
    // hide by the window system (another virtual desktop) is not a close.
    if (!event->spontaneous())
        SecretPanel1->setActive(false);
    QDialog::hideEvent(event);
}
