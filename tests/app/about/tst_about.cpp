// The About box and its scrolling credits: the scrolling arithmetic, what the
// composed text area shows at chosen positions, and that every way of
// closing the box stops the scrolling while other timers keep running.
#include "Fabout.h"
#include "TestSupport.h"

#include <QEventLoop>
#include <QFontInfo>
#include <QGlyphRun>
#include <QRawFont>
#include <QTextLayout>
#include <QPainter>
#include <QPushButton>
#include <QTimer>
#include <memory>

namespace {
// Colours that cannot be confused with each other in a pixel check.
const QRgb kFace = 0xC0C0C0, kLight = 0xFFFF00, kShadow = 0x800080, kText = 0x000080;

std::unique_ptr<TAbout> makeAbout()
{
    auto about = std::make_unique<TAbout>();
    QPalette pal = about->palette();
    pal.setColor(QPalette::Button, QColor(kFace));
    pal.setColor(QPalette::Window, QColor(kFace));
    pal.setColor(QPalette::Light, QColor(kLight));
    pal.setColor(QPalette::Dark, QColor(kShadow));
    pal.setColor(QPalette::WindowText, QColor(kText));
    about->setPalette(pal);
    // Without antialiasing every text pixel is exactly one of the colours.
    QFont f = about->SecretPanel1->font();
    f.setStyleStrategy(QFont::NoAntialias);
    about->SecretPanel1->setFont(f);
    return about;
}

QTimer* panelTimer(TSecretPanel* panel) { return panel->findChild<QTimer*>(); }

void stepTo(TSecretPanel* panel, int position)
{
    while (panel->scrollPosition() < position)
        panel->step();
}

bool allFace(const QImage& image)
{
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (pixelAt(image, x, y) != kFace)
                return false;
    return true;
}

// One credit line with its top at row 0: highlight one pixel right and
// below, then the text colour at its place.
QImage expectedLine(const QFont& font, QSize size, const QString& text)
{
    QImage img(size, QImage::Format_RGB32);
    img.fill(QColor(kFace));
    QPainter p(&img);
    p.setFont(font);
    const int flags = Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine | Qt::TextExpandTabs;
    p.setPen(QColor(kLight));
    p.drawText(QRect(QPoint(1, 1), size), flags, text);
    p.setPen(QColor(kText));
    p.drawText(QRect(QPoint(0, 0), size), flags, text);
    return img;
}
} // namespace

class TestAbout : public QObject {
    Q_OBJECT
private slots:
    void boxAndCredits();
    void scrollState_data();
    void scrollState();
    void linesEnterFromBottom_data();
    void linesEnterFromBottom();
    void engravedHighlightBelowRight();
    void deactivationAndRepeatedCalls();
    void everyCloseStopsScrolling_data();
    void everyCloseStopsScrolling();
    void otherTimersRunWhileModal();
    void creditsFitTextArea();
    void chineseInSongFont();
};

void TestAbout::boxAndCredits()
{
    auto about = makeAbout();
    QCOMPARE(about->windowTitle(), QStringLiteral("About Trova Modal 5926"));
    QCOMPARE(about->maximumSize(), QSize(269, 140));
    QCOMPARE(about->minimumSize(), QSize(269, 140));
    const Qt::WindowFlags flags = about->windowFlags();
    QVERIFY(flags.testFlag(Qt::WindowCloseButtonHint));
    QVERIFY(!(flags & (Qt::WindowMinMaxButtonsHint | Qt::WindowContextHelpButtonHint)));

    const QStringList lines = about->SecretPanel1->lines();
    QCOMPARE(lines.size(), 19);
    QCOMPARE(lines.mid(0, 6), QStringList(6, QString()));
    QCOMPARE(lines.at(7), QString(36, QLatin1Char('=')));
    QCOMPARE(lines.at(12), QStringLiteral("convent these data to Excel or Text File."));
    QCOMPARE(lines.at(18), QStringLiteral(" "));

    // The bevel's area spans rows 96..104: highlight above shadow at the bottom.
    const QImage shot = about->grab().toImage();
    for (int x : {0, 134, 268}) {
        QCOMPARE(pixelAt(shot, x, 102), kFace);
        QCOMPARE(pixelAt(shot, x, 103), kLight);
        QCOMPARE(pixelAt(shot, x, 104), kShadow);
    }
}

void TestAbout::scrollState_data()
{
    // Steps taken: travelMultiple x total travel + extra.
    QTest::addColumn<int>("travelMultiple");
    QTest::addColumn<int>("extra");
    QTest::addColumn<int>("expected"); // -1: total travel
    QTest::newRow("activated") << 0 << 0 << 0;
    QTest::newRow("one step") << 0 << 1 << 1;
    QTest::newRow("hundred steps") << 0 << 100 << 100;
    QTest::newRow("whole travel") << 1 << 0 << -1;
    QTest::newRow("wraps to zero") << 1 << 1 << 0;
    QTest::newRow("starts over") << 1 << 2 << 1;
}

void TestAbout::scrollState()
{
    QFETCH(int, travelMultiple);
    QFETCH(int, extra);
    QFETCH(int, expected);
    auto about = makeAbout();
    TSecretPanel* panel = about->SecretPanel1;
    panel->setActive(true);

    const QFontMetrics fm(panel->font());
    const int lh = fm.height() + fm.leading() + 1;
    const int travel = 91 + 13 * lh;
    QCOMPARE(panel->lineHeight(), lh);
    QCOMPARE(panel->firstLineShown(), 6);
    QCOMPARE(panel->textArea(), QRect(3, 3, 255, 91));
    QCOMPARE(panel->totalTravel(), travel);
    QCOMPARE(panelTimer(panel)->interval(), 120);

    for (int i = 0; i < travelMultiple * travel + extra; ++i)
        panel->step();
    QCOMPARE(panel->scrollPosition(), expected < 0 ? travel : expected);
    QVERIFY(panel->active());
    // Before the first line enters and after the last has left: nothing shown.
    if (panel->scrollPosition() == 0 || panel->scrollPosition() == travel)
        QVERIFY(allFace(panel->composedImage()));
}

void TestAbout::linesEnterFromBottom_data()
{
    // After `linesUp` line heights of steps, the bottom line of the text area
    // and the two above it show these lines ("" = a gap).
    QTest::addColumn<int>("linesUp");
    QTest::addColumn<QStringList>("bottomUp");
    QTest::newRow("first line, no leading gap")
        << 1 << QStringList{"Trova Serial Communication Program", "", ""};
    QTest::newRow("gap before company")
        << 11 << QStringList{"Trova Instruments", "", "Salinity/Temperature change processes."};
}

void TestAbout::linesEnterFromBottom()
{
    QFETCH(int, linesUp);
    QFETCH(QStringList, bottomUp);
    auto about = makeAbout();
    TSecretPanel* panel = about->SecretPanel1;
    panel->setActive(true);
    const int lh = panel->lineHeight();
    const int h = panel->textArea().height();
    const QSize lineSize(panel->textArea().width(), lh);

    stepTo(panel, linesUp * lh);
    const QImage img = panel->composedImage();
    for (int i = 0; i < bottomUp.size(); ++i) {
        const QImage band = img.copy(0, h - (i + 1) * lh, lineSize.width(), lh);
        if (bottomUp.at(i).isEmpty())
            QVERIFY2(allFace(band), qPrintable(QString("band %1 not empty").arg(i)));
        else
            QCOMPARE(band, expectedLine(panel->font(), lineSize, bottomUp.at(i)));
    }
}

void TestAbout::engravedHighlightBelowRight()
{
    auto about = makeAbout();
    TSecretPanel* panel = about->SecretPanel1;
    panel->setActive(true);
    stepTo(panel, 50);
    const QImage img = panel->renderToImage();

    int textPixels = 0, lightPixels = 0;
    for (int y = 1; y < img.height() - 1; ++y) {
        for (int x = 1; x < img.width() - 1; ++x) {
            const QRgb c = pixelAt(img, x, y);
            QVERIFY(c == kText || c == kLight || c == kFace);
            if (c == kLight) {
                ++lightPixels;
                QCOMPARE(pixelAt(img, x - 1, y - 1), kText);
            } else if (c == kText) {
                ++textPixels;
                // The highlight is clipped at the text area's edge.
                if (panel->textArea().contains(x + 1, y + 1))
                    QVERIFY(pixelAt(img, x + 1, y + 1) != kFace);
            }
        }
    }
    QVERIFY(textPixels > 100 && lightPixels > 50);
    // The three-pixel margin stays plain.
    QVERIFY(allFace(img.copy(0, 0, img.width(), 3)) && allFace(img.copy(0, 0, 3, img.height())));
}

void TestAbout::deactivationAndRepeatedCalls()
{
    auto about = makeAbout();
    TSecretPanel* panel = about->SecretPanel1;
    panel->setActive(false);
    QVERIFY(!panel->active() && !panelTimer(panel)->isActive());

    panel->setActive(true);
    stepTo(panel, 60);
    const QImage before = panel->composedImage();
    panel->setActive(true); // must not restart from the bottom
    QVERIFY(panelTimer(panel)->isActive());
    QCOMPARE(panel->scrollPosition(), 60);
    QCOMPARE(panel->composedImage(), before);

    panel->setActive(false);
    panel->setActive(false);
    QVERIFY(!panel->active() && !panelTimer(panel)->isActive());
    QCOMPARE(panel->scrollPosition(), 0);
    QVERIFY(panel->composedImage().isNull());
    QVERIFY(allFace(panel->renderToImage()));
    panel->step(); // a stray tick after the stop moves nothing
    QCOMPARE(panel->scrollPosition(), 0);
}

void TestAbout::everyCloseStopsScrolling_data()
{
    QTest::addColumn<QString>("how");
    QTest::addColumn<int>("result");
    QTest::newRow("Ok button") << "ok" << int(QDialog::Accepted);
    QTest::newRow("close box") << "closebox" << int(QDialog::Rejected);
    QTest::newRow("Esc") << "escape" << int(QDialog::Rejected);
}

void TestAbout::everyCloseStopsScrolling()
{
    QFETCH(QString, how);
    QFETCH(int, result);
    auto about = makeAbout();
    TSecretPanel* panel = about->SecretPanel1;
    RecordingDialogs dialogs;

    for (int opening = 0; opening < 2; ++opening) {
        int positionAtOpen = -1;
        bool activeWhileOpen = false;
        dialogs.modalHandlers.push_back([&](QDialog& d) {
            positionAtOpen = panel->scrollPosition();
            activeWhileOpen = panel->active() && d.isVisible();
            stepTo(panel, 40);
            if (how == "ok")
                about->Button1->click();
            else if (how == "closebox")
                d.close();
            else
                QTest::keyClick(&d, Qt::Key_Escape);
        });
        panel->setActive(true);
        QCOMPARE(Dialogs::instance().execModal(*about), result);

        QVERIFY(activeWhileOpen);
        QVERIFY2(positionAtOpen <= 1, qPrintable(QString::number(positionAtOpen)));
        QVERIFY(!about->isVisible() && !panel->active() && !panelTimer(panel)->isActive());
        QCOMPARE(panel->scrollPosition(), 0);
        QVERIFY(panel->composedImage().isNull());
    }
}

void TestAbout::otherTimersRunWhileModal()
{
    auto about = makeAbout();
    TSecretPanel* panel = about->SecretPanel1;
    RecordingDialogs dialogs;

    int ticks = 0;
    QTimer recording;
    QObject::connect(&recording, &QTimer::timeout, [&] { ++ticks; });
    recording.start(50);

    int panelPosition = 0;
    dialogs.modalHandlers.push_back([&](QDialog&) {
        QEventLoop wait;
        QTimer::singleShot(500, &wait, &QEventLoop::quit);
        wait.exec();
        panelPosition = panel->scrollPosition();
        about->Button1->click();
    });
    panel->setActive(true);
    QCOMPARE(Dialogs::instance().execModal(*about), int(QDialog::Accepted));

    QVERIFY2(ticks >= 4, qPrintable(QString::number(ticks)));
    // About four steps of 120 ms fit in the wait.
    QVERIFY2(panelPosition >= 1 && panelPosition <= 6, qPrintable(QString::number(panelPosition)));
    QVERIFY(recording.isActive() && !panel->active());
}

// Every credit line, as the panel draws it (engraved, in the font it really
// gets), ends inside the text area: nothing is clipped at the right.
void TestAbout::creditsFitTextArea()
{
    auto about = makeAbout();
    TSecretPanel* panel = about->SecretPanel1;
    panel->setActive(true);
    const int width = panel->textArea().width();
    QCOMPARE(width, 255);
    const QFontMetrics fm(panel->font());
    for (const QString& line : panel->lines()) {
        const QImage wide = expectedLine(panel->font(), QSize(2 * width, panel->lineHeight()), line);
        int right = -1;
        for (int y = 0; y < wide.height(); ++y)
            for (int x = wide.width() - 1; x > right; --x)
                if (pixelAt(wide, x, y) != kFace)
                    right = x;
        QVERIFY2(right < width && fm.horizontalAdvance(line) < width,
                 qPrintable(QStringLiteral("\"%1\" ends at %2 in %3").arg(line).arg(right).arg(
                     QFontInfo(panel->font()).family())));
    }
}

// The Latin-first substitute of the Chinese font still draws Chinese.
void TestAbout::chineseInSongFont()
{
    QTextLayout layout(QStringLiteral("宋体清除所有记录"), pixelFont(QStringLiteral("宋体"), 12));
    layout.beginLayout();
    layout.createLine();
    layout.endLayout();
    const QList<QGlyphRun> runs = layout.glyphRuns();
    QVERIFY(!runs.isEmpty());
    for (const QGlyphRun& run : runs) {
        QVERIFY2(run.rawFont().supportsCharacter(QChar(0x8BB0)), qPrintable(run.rawFont().familyName()));
        QVERIFY(!run.glyphIndexes().contains(0));
    }
}

DSG_TEST_MAIN(TestAbout)
#include "tst_about.moc"
