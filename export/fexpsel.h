#pragma once
// The export choice dialog: text file or Excel. Created once and reused, so
// the radio buttons remember the last choice for the whole run.
#include "Bevel.h"

#include <QDialog>
#include <QtGlobal>

class QLabel;
class QPushButton;
class QRadioButton;

class Texpsel : public QDialog {
    Q_OBJECT
public:
    // Values of ExportChoice.
    enum : quint8 { ChoiceNone = 0, ChoiceExcel = 1, ChoiceText = 2 };

    explicit Texpsel(QWidget* parent = nullptr);

    // Shows the dialog modally and returns ExportChoice when it closes.
    quint8 Execute();

    quint8 ExportChoice = ChoiceNone;

    QLabel* RxLabel1 = nullptr;
    QRadioButton* RD1 = nullptr;
    QRadioButton* RD2 = nullptr;
    TBevel* Bevel1 = nullptr;
    QPushButton* Button2 = nullptr;
    QPushButton* Button3 = nullptr;

public slots:
    void Button2Click();
    void Button3Click();

protected:
    void showEvent(QShowEvent* event) override;
    // The dialog has no cancel button, so Escape does not close it.
    void keyPressEvent(QKeyEvent* event) override;
};
