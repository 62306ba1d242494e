#pragma once
// The System Setup dialog. Its three fields hold the current settings for
// the whole run: the port test, Start and the Setup command read them here.
#include "Bevel.h"

#include <QDialog>

class QLabel;
class QLineEdit;
class QToolButton;
class QPushButton;
class TSpinEdit;

class TSetform : public QDialog {
    Q_OBJECT
public:
    explicit TSetform(QWidget* parent = nullptr);

    QLabel* Label1;
    QLineEdit* st_port;
    QLabel* Label2;
    QLineEdit* ST_speed;
    QLabel* Label3;
    TSpinEdit* ST_RT;
    QLabel* Label5;
    TBevel* Bevel1;
    QPushButton* BitBtn1; // OK
    QPushButton* BitBtn2; // Cancel

    // Shows the dialog modally; a cancelled dialog leaves the three fields
    // exactly as they were before it opened.
    void Run();

    // The OK check: the dialog closes only for a port from 1 to 4.
    void BitBtn1Click();
};

extern TSetform* Setform;
