// The System Setup dialog: its layout, the OK check, what Cancel restores,
// and the Display Time spin edit it uses.
#include "Dialogs.h"
#include "Fsetform.h"
#include "RegionalSettings.h"
#include "SpinEdit.h"
#include "TestSupport.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QtTest>

namespace {

struct DialogRun {
    bool visibleAfterOk = false;
    QString portAfterOk;
};

RegionalSettings withSeparator(QChar separator)
{
    RegionalSettings s;
    s.decimalSeparator = separator;
    return s;
}

} // namespace

class TestSetform : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    // Dialog.
    void dialogWindow();
    void centredOnScreen();
    void controls_data();
    void controls();
    void displayTimeDrawnAtItsSize();
    void fieldFonts();
    void speedIsReadOnlyAndSilver();
    void portTakesOneTypedCharacter();
    void displayTimeRangeAndLength();
    void tabOrder();
    void okCheck_data();
    void okCheck();
    void waysOut_data();
    void waysOut();
    void storedLongPortShowsInFull();
    void enterInDisplayTimePullsIntoRange_data();
    void enterInDisplayTimePullsIntoRange();

    // Spin edit.
    void spinRefusesCharacters_data();
    void spinRefusesCharacters();
    void spinAcceptsCharacters_data();
    void spinAcceptsCharacters();
    void spinArrowKeysStepByOne();
    void spinArrowButtonsStepByOne();
    void spinFocusOutClamps_data();
    void spinFocusOutClamps();
    void spinValueOfText_data();
    void spinValueOfText();
    void spinSetValueClamps();

private:
    TSetform* form_ = nullptr;
    std::unique_ptr<RecordingDialogs> dialogs_;
    std::unique_ptr<TSpinEdit> spin_;
};

void TestSetform::init()
{
    RegionalSettings::fix(withSeparator(u'.'));
    dialogs_ = std::make_unique<RecordingDialogs>();
    form_ = new TSetform();
    Setform = form_;
    spin_ = std::make_unique<TSpinEdit>();
    spin_->setRange(1, 99999);
    spin_->setMaxLength(5);
}

void TestSetform::cleanup()
{
    spin_.reset();
    delete form_;
    form_ = nullptr;
    Setform = nullptr;
    dialogs_.reset();
    RegionalSettings::unfix();
}

void TestSetform::dialogWindow()
{
    QCOMPARE(form_->windowTitle(), QStringLiteral("System Setup"));
    QCOMPARE(form_->size(), QSize(217, 129));
    QCOMPARE(form_->minimumSize(), QSize(217, 129));
    QCOMPARE(form_->maximumSize(), QSize(217, 129));
    const Qt::WindowFlags flags = form_->windowFlags();
    QVERIFY(flags.testFlag(Qt::WindowCloseButtonHint));
    QVERIFY(!flags.testFlag(Qt::WindowMinimizeButtonHint));
    QVERIFY(!flags.testFlag(Qt::WindowMaximizeButtonHint));
    QVERIFY(form_->BitBtn1->isDefault());
    QVERIFY(!form_->BitBtn2->isDefault());
}

void TestSetform::centredOnScreen()
{
    QPoint centre;
    dialogs_->modalHandlers.push_back([&](QDialog& d) {
        centre = d.frameGeometry().center();
        d.reject();
    });
    form_->Run();
    const QPoint screen = QGuiApplication::primaryScreen()->availableGeometry().center();
    QVERIFY2((centre - screen).manhattanLength() <= 2,
             qPrintable(QStringLiteral("dialog centre %1,%2, screen centre %3,%4")
                            .arg(centre.x()).arg(centre.y()).arg(screen.x()).arg(screen.y())));
}

void TestSetform::controls_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QRect>("geometry");
    QTest::addColumn<QString>("text");
    QTest::newRow("Label1") << "Label1" << QRect(63, 13, 31, 17) << "Port:";
    QTest::newRow("st_port") << "st_port" << QRect(99, 11, 41, 21) << "1";
    QTest::newRow("Label2") << "Label2" << QRect(17, 38, 77, 17) << "Port Speed:";
    QTest::newRow("ST_speed") << "ST_speed" << QRect(99, 36, 77, 21) << "4800";
    QTest::newRow("Label3") << "Label3" << QRect(5, 62, 89, 17) << "Display Time:";
    QTest::newRow("ST_RT") << "ST_RT" << QRect(100, 61, 73, 22) << "1";
    QTest::newRow("Label5") << "Label5" << QRect(178, 62, 30, 17) << "Sec.";
    QTest::newRow("Bevel1") << "Bevel1" << QRect(3, 88, 210, 6) << QString();
    QTest::newRow("BitBtn1") << "BitBtn1" << QRect(35, 100, 75, 25) << "OK";
    QTest::newRow("BitBtn2") << "BitBtn2" << QRect(115, 100, 75, 25) << "Cancel";
}

void TestSetform::controls()
{
    QFETCH(QString, name);
    QFETCH(QRect, geometry);
    QFETCH(QString, text);
    auto* w = form_->findChild<QWidget*>(name, Qt::FindDirectChildrenOnly);
    QVERIFY2(w, qPrintable(name));
    QCOMPARE(w->geometry(), geometry);
    QString shown;
    if (auto* label = qobject_cast<QLabel*>(w))
        shown = label->text();
    else if (auto* edit = qobject_cast<QLineEdit*>(w))
        shown = edit->text();
    else if (auto* button = qobject_cast<QPushButton*>(w))
        shown = button->text();
    else if (auto* spin = qobject_cast<TSpinEdit*>(w))
        shown = spin->text();
    QCOMPARE(shown, text);
}

// The Display Time field fills its 73 x 22 rectangle on the shown dialog,
// top and bottom rows included, like the one-line edits above it.
void TestSetform::displayTimeDrawnAtItsSize()
{
    form_->show();
    QVERIFY(QTest::qWaitForWindowExposed(form_));
    QCOMPARE(form_->ST_RT->geometry(), QRect(100, 61, 73, 22));
    const QImage shot = form_->grab().toImage();
    const QRgb background = form_->palette().color(QPalette::Window).rgb() & 0xFFFFFF;
    auto rowDrawn = [&](QWidget* field, int row) {
        const QRect r = field->geometry();
        for (int x = r.left() + 4; x <= r.right() - 4; ++x)
            if (pixelAt(shot, x, r.top() + row) == background)
                return false;
        return true;
    };
    for (QWidget* field : {static_cast<QWidget*>(form_->st_port), static_cast<QWidget*>(form_->ST_RT)}) {
        QVERIFY2(rowDrawn(field, 0), qPrintable(field->objectName()));
        QVERIFY2(rowDrawn(field, field->height() - 1), qPrintable(field->objectName()));
        // Nothing of the field above or below its rectangle.
        QVERIFY2(!rowDrawn(field, -1) && !rowDrawn(field, field->height()),
                 qPrintable(field->objectName()));
    }
    form_->hide();
}

void TestSetform::fieldFonts()
{
    for (QWidget* w : {static_cast<QWidget*>(form_->Label1), static_cast<QWidget*>(form_->Label2),
                       static_cast<QWidget*>(form_->Label3), static_cast<QWidget*>(form_->Label5),
                       static_cast<QWidget*>(form_->BitBtn1), static_cast<QWidget*>(form_->BitBtn2)}) {
        QCOMPARE(w->font().family(), QStringLiteral("Arial"));
        QCOMPARE(w->font().pixelSize(), 15);
    }
    for (QWidget* w : {static_cast<QWidget*>(form_->st_port), static_cast<QWidget*>(form_->ST_speed),
                       static_cast<QWidget*>(form_->ST_RT)}) {
        QCOMPARE(w->font().family(), QStringLiteral("MS Sans Serif"));
        QCOMPARE(w->font().pixelSize(), 11);
    }
}

void TestSetform::speedIsReadOnlyAndSilver()
{
    QVERIFY(form_->ST_speed->isReadOnly());
    QCOMPARE(form_->ST_speed->palette().color(QPalette::Base), QColor(0xC0, 0xC0, 0xC0));
    form_->show();
    form_->ST_speed->setFocus();
    QTest::keyClicks(form_->ST_speed, "96");
    QCOMPARE(form_->ST_speed->text(), QStringLiteral("4800"));
}

void TestSetform::portTakesOneTypedCharacter()
{
    form_->show();
    form_->st_port->clear();
    form_->st_port->setFocus();
    QTest::keyClicks(form_->st_port, "23");
    QCOMPARE(form_->st_port->text(), QStringLiteral("2"));
}

void TestSetform::displayTimeRangeAndLength()
{
    QCOMPARE(form_->ST_RT->MinValue(), 1);
    QCOMPARE(form_->ST_RT->MaxValue(), 99999);
    QCOMPARE(form_->ST_RT->Value(), 1);
    form_->show();
    form_->ST_RT->setText(QString());
    form_->ST_RT->setFocus();
    QTest::keyClicks(form_->ST_RT, "1234567");
    QCOMPARE(form_->ST_RT->text(), QStringLiteral("12345"));
}

void TestSetform::tabOrder()
{
    const QList<QWidget*> stops = {form_->st_port, form_->BitBtn1, form_->ST_speed,
                                   form_->BitBtn2, form_->ST_RT};
    QList<QWidget*> seen;
    QWidget* w = form_->st_port;
    for (int guard = 0; guard < 100 && seen.size() < stops.size(); ++guard) {
        if (stops.contains(w) && !seen.contains(w) && (w->focusPolicy() & Qt::TabFocus))
            seen << w;
        w = w->nextInFocusChain();
    }
    QCOMPARE(seen, stops);
}

void TestSetform::okCheck_data()
{
    QTest::addColumn<QString>("port");
    QTest::addColumn<bool>("closes");
    QTest::addColumn<QString>("title");
    QTest::addColumn<int>("icon");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("portAfter");

    const int warning = int(Dialogs::Icon::Warning);
    const int stop = int(Dialogs::Icon::Stop);
    for (const char* p : {"1", "2", "3", "4"})
        QTest::newRow(p) << p << true << QString() << 0 << QString() << p;
    for (const char* p : {"0", "5", "6", "7", "8", "9"})
        QTest::newRow(p) << p << false << "Warning" << warning << "Port must at 1~4" << "1";
    QTest::newRow("empty") << "" << false << "Dsg5926" << stop
                           << "'' is not a valid integer value." << "";
    QTest::newRow("letter") << "x" << false << "Dsg5926" << stop
                            << "'x' is not a valid integer value." << "x";
    QTest::newRow("sign") << "-" << false << "Dsg5926" << stop
                          << "'-' is not a valid integer value." << "-";
}

void TestSetform::okCheck()
{
    QFETCH(QString, port);
    QFETCH(bool, closes);
    QFETCH(QString, title);
    QFETCH(int, icon);
    QFETCH(QString, message);
    QFETCH(QString, portAfter);

    form_->st_port->setText(QStringLiteral("2"));
    DialogRun run;
    dialogs_->modalHandlers.push_back([&](QDialog& d) {
        form_->st_port->setText(port);
        form_->BitBtn1->click();
        run.visibleAfterOk = d.isVisible();
        run.portAfterOk = form_->st_port->text();
        if (d.isVisible())
            form_->BitBtn2->click();
    });
    form_->Run();

    QCOMPARE(run.visibleAfterOk, !closes);
    QCOMPARE(run.portAfterOk, portAfter);
    const QStringList texts = dialogs_->messageTexts();
    if (closes) {
        QVERIFY(texts.isEmpty());
        QCOMPARE(form_->st_port->text(), port);
    } else {
        QCOMPARE(texts, QStringList{message});
        const auto& shown = dialogs_->shown.last();
        QCOMPARE(shown.title, title);
        QCOMPARE(int(shown.icon), icon);
        QCOMPARE(shown.buttons, Dialogs::Buttons::Ok);
        // The Cancel that followed puts back what the field held at opening.
        QCOMPARE(form_->st_port->text(), QStringLiteral("2"));
    }
}

void TestSetform::waysOut_data()
{
    QTest::addColumn<QString>("way");
    QTest::addColumn<bool>("kept");
    QTest::newRow("OK button") << "ok" << true;
    QTest::newRow("Enter in port field") << "enter" << true;
    QTest::newRow("Cancel button") << "cancel" << false;
    QTest::newRow("Esc") << "esc" << false;
    QTest::newRow("close box") << "close" << false;
}

void TestSetform::waysOut()
{
    QFETCH(QString, way);
    QFETCH(bool, kept);
    form_->st_port->setText(QStringLiteral("2"));
    form_->ST_speed->setText(QStringLiteral("9600"));
    form_->ST_RT->setValue(7);

    dialogs_->modalHandlers.push_back([&](QDialog& d) {
        form_->st_port->setText(QStringLiteral("3"));
        form_->ST_speed->setText(QStringLiteral("2400"));
        form_->ST_RT->setText(QStringLiteral("20"));
        form_->st_port->setFocus();
        if (way == "ok")
            form_->BitBtn1->click();
        else if (way == "enter")
            QTest::keyClick(form_->st_port, Qt::Key_Return);
        else if (way == "cancel")
            form_->BitBtn2->click();
        else if (way == "esc")
            QTest::keyClick(form_->st_port, Qt::Key_Escape);
        else
            d.close();
        if (d.isVisible()) {
            QTest::qFail("the dialog stayed open", __FILE__, __LINE__);
            d.done(QDialog::Rejected);
        }
    });
    form_->Run();

    QCOMPARE(dialogs_->shown.size(), 1);
    QCOMPARE(dialogs_->shown.first().kind, QStringLiteral("modal"));
    QCOMPARE(dialogs_->shown.first().title, QStringLiteral("System Setup"));
    const QStringList fields = {form_->st_port->text(), form_->ST_speed->text(), form_->ST_RT->text()};
    if (kept)
        QCOMPARE(fields, (QStringList{"3", "2400", "20"}));
    else
        QCOMPARE(fields, (QStringList{"2", "9600", "7"}));
}

void TestSetform::storedLongPortShowsInFull()
{
    // A store edited by hand can hold more than the one character the
    // operator can type; it must be shown as it is, and OK must refuse it.
    form_->st_port->setText(QStringLiteral("12"));
    QCOMPARE(form_->st_port->text(), QStringLiteral("12"));

    DialogRun run;
    dialogs_->modalHandlers.push_back([&](QDialog& d) {
        run.portAfterOk = form_->st_port->text();
        form_->BitBtn1->click();
        run.visibleAfterOk = d.isVisible();
        d.reject();
    });
    form_->Run();
    QCOMPARE(run.portAfterOk, QStringLiteral("12"));
    QVERIFY(run.visibleAfterOk);
    QCOMPARE(dialogs_->messageTexts(), QStringList{"Port must at 1~4"});
    QCOMPARE(form_->st_port->text(), QStringLiteral("12"));
}

void TestSetform::enterInDisplayTimePullsIntoRange_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<int>("value");
    QTest::newRow("zero") << "0" << 1;
    QTest::newRow("negative") << "-5" << 1;
    QTest::newRow("in range") << "250" << 250;
    QTest::newRow("maximum") << "99999" << 99999;
}

void TestSetform::enterInDisplayTimePullsIntoRange()
{
    QFETCH(QString, typed);
    QFETCH(int, value);
    bool closed = false;
    dialogs_->modalHandlers.push_back([&](QDialog& d) {
        form_->ST_RT->setFocus();
        form_->ST_RT->setText(QString());
        QTest::keyClicks(form_->ST_RT, typed);
        QTest::keyClick(form_->ST_RT, Qt::Key_Return);
        closed = !d.isVisible();
        if (!closed)
            d.reject();
    });
    form_->Run();
    QVERIFY(closed);
    QCOMPARE(form_->ST_RT->Value(), value);
    QCOMPARE(form_->ST_RT->text(), QString::number(value));
}

void TestSetform::spinRefusesCharacters_data()
{
    QTest::addColumn<QChar>("separator");
    QTest::addColumn<QString>("typed");
    QTest::newRow("letter") << QChar(u'.') << "a";
    QTest::newRow("capital") << QChar(u'.') << "Z";
    QTest::newRow("blank") << QChar(u'.') << " ";
    QTest::newRow("comma when separator is point") << QChar(u'.') << ",";
    QTest::newRow("point when separator is comma") << QChar(u',') << ".";
    QTest::newRow("letter e") << QChar(u',') << "e";
}

void TestSetform::spinRefusesCharacters()
{
    QFETCH(QChar, separator);
    QFETCH(QString, typed);
    RegionalSettings::fix(withSeparator(separator));
    spin_->show();
    spin_->setFocus();
    spin_->setText(QStringLiteral("12"));
    QTest::keyClicks(spin_.get(), typed);
    QCOMPARE(spin_->text(), QStringLiteral("12"));
}

void TestSetform::spinAcceptsCharacters_data()
{
    QTest::addColumn<QChar>("separator");
    QTest::addColumn<QString>("typed");
    QTest::newRow("digits") << QChar(u'.') << "4096";
    QTest::newRow("plus") << QChar(u'.') << "+";
    QTest::newRow("minus") << QChar(u'.') << "-";
    QTest::newRow("point separator") << QChar(u'.') << "1.5";
    QTest::newRow("comma separator") << QChar(u',') << "1,5";
}

void TestSetform::spinAcceptsCharacters()
{
    QFETCH(QChar, separator);
    QFETCH(QString, typed);
    RegionalSettings::fix(withSeparator(separator));
    spin_->show();
    spin_->setFocus();
    spin_->setText(QString());
    QTest::keyClicks(spin_.get(), typed);
    QCOMPARE(spin_->text(), typed);
}

void TestSetform::spinArrowKeysStepByOne()
{
    spin_->show();
    spin_->setFocus();
    spin_->setValue(5);
    QTest::keyClick(spin_.get(), Qt::Key_Up);
    QCOMPARE(spin_->text(), QStringLiteral("6"));
    QTest::keyClick(spin_.get(), Qt::Key_Down);
    QTest::keyClick(spin_.get(), Qt::Key_Down);
    QCOMPARE(spin_->text(), QStringLiteral("4"));
    spin_->setValue(99999);
    QTest::keyClick(spin_.get(), Qt::Key_Up);
    QCOMPARE(spin_->Value(), 99999);
    spin_->setValue(1);
    QTest::keyClick(spin_.get(), Qt::Key_Down);
    QCOMPARE(spin_->Value(), 1);
}

void TestSetform::spinArrowButtonsStepByOne()
{
    form_->show();
    TSpinEdit* spin = form_->ST_RT;
    spin->setValue(10);
    // The arrow buttons sit at the right end, up above down.
    const QPoint up(spin->width() - 4, 4);
    const QPoint down(spin->width() - 4, spin->height() - 4);
    QTest::mouseClick(spin, Qt::LeftButton, Qt::NoModifier, up);
    QCOMPARE(spin->text(), QStringLiteral("11"));
    QTest::mouseClick(spin, Qt::LeftButton, Qt::NoModifier, down);
    QTest::mouseClick(spin, Qt::LeftButton, Qt::NoModifier, down);
    QCOMPARE(spin->text(), QStringLiteral("9"));
}

void TestSetform::spinFocusOutClamps_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("after");
    QTest::newRow("zero") << "0" << "1";
    QTest::newRow("negative") << "-20" << "1";
    QTest::newRow("empty") << "" << "1";
    QTest::newRow("lone sign") << "-" << "1";
    QTest::newRow("in range") << "42" << "42";
    QTest::newRow("maximum") << "99999" << "99999";
}

void TestSetform::spinFocusOutClamps()
{
    QFETCH(QString, typed);
    QFETCH(QString, after);
    QWidget window;
    auto* spin = new TSpinEdit(&window);
    spin->setRange(1, 99999);
    spin->setMaxLength(5);
    auto* other = new QLineEdit(&window);
    other->move(0, 40);
    window.show();
    spin->setFocus();
    spin->setText(QString());
    QTest::keyClicks(spin, typed);
    QCOMPARE(spin->text(), typed); // not pulled into range while typing
    QFocusEvent out(QEvent::FocusOut, Qt::TabFocusReason);
    QApplication::sendEvent(spin, &out);
    QCOMPARE(spin->text(), after);
}

void TestSetform::spinValueOfText_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("value");
    QTest::newRow("number") << "12" << 12;
    QTest::newRow("empty") << "" << 1;
    QTest::newRow("sign") << "+" << 1;
    QTest::newRow("fraction") << "1.5" << 1;
    QTest::newRow("letters") << "abc" << 1;
    QTest::newRow("typed zero") << "0" << 0;
}

void TestSetform::spinValueOfText()
{
    QFETCH(QString, text);
    QFETCH(int, value);
    spin_->setText(text);
    QCOMPARE(spin_->Value(), value);
}

void TestSetform::spinSetValueClamps()
{
    spin_->setValue(0);
    QCOMPARE(spin_->text(), QStringLiteral("1"));
    spin_->setValue(100000);
    QCOMPARE(spin_->text(), QStringLiteral("99999"));
    spin_->setValue(-7);
    QCOMPARE(spin_->text(), QStringLiteral("1"));
    spin_->setValue(321);
    QCOMPARE(spin_->text(), QStringLiteral("321"));
}

DSG_TEST_MAIN(TestSetform)
#include "tst_setform.moc"
