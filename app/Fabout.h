#pragma once
// The About box: what the program is for, with credits scrolling upward for
// as long as the box is open.
#include "Bevel.h"
#include "SecretPanel.h"

#include <QDialog>
#include <QStringList>

class QLabel;
class QPushButton;

class TAbout : public QDialog {
    Q_OBJECT
public:
    explicit TAbout(QWidget* parent = nullptr);

    // The 19 credit lines the panel scrolls.
    static QStringList creditLines();

    TSecretPanel* SecretPanel1 = nullptr;
    TBevel* Bevel1 = nullptr;
    QLabel* RxLabel1 = nullptr;
    QPushButton* Button1 = nullptr;

    // Every way of closing the box (the button, the close box, Esc) ends
    // here, so the scrolling never outlives the box.
    void done(int result) override;

public slots:
    void Button1Click();

protected:
    void hideEvent(QHideEvent* event) override;
};

// The one About box of the program; the program entry creates it.
extern TAbout* About;
