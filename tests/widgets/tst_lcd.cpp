// The LCD display control, checked on the pixels it composes.
#include "FontFiles.h"
#include "Errors.h"
#include "LCD_Lab.h"
#include "TestSupport.h"

#include <QFile>
#include <QHBoxLayout>
#include <QScreen>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>

namespace {

QRgb rgb(const TLCDLabel& lab, TColor c)
{
    return TLCDLabel::resolveColor(c, lab.palette()) & 0xFFFFFF;
}

QPoint dotOrigin(const TLCDLabel& lab, int line, int cell, int row, int dot)
{
    const qint64 left = qint64(lab.BorderSpace()) + 1;
    return {int(left + cell * (qint64(lab.CellWidth()) + lab.CharSpacing()) +
                (dot - 1) * (qint64(lab.DotWidth()) + lab.PixelSpacing())),
            int(left + line * (qint64(lab.CellHeight()) + lab.LineSpacing()) +
                (row - 1) * (qint64(lab.DotHeight()) + lab.PixelSpacing()))};
}

// What one cell shows, read back from the image: each row as a hex mask of
// the dots in PixelOn (leftmost dot = highest bit), dots sampled at their
// top-left pixel.
QString cellRows(const TLCDLabel& lab, int line, int cell)
{
    const QRgb on = rgb(lab, lab.PixelOn());
    QStringList rows;
    for (int r = 1; r <= lab.GlyphRows(); ++r) {
        unsigned mask = 0;
        for (int d = 1; d <= lab.GlyphCols(); ++d) {
            const QPoint p = dotOrigin(lab, line, cell, r, d);
            mask = (mask << 1) | (pixelAt(lab.image(), p.x(), p.y()) == on ? 1u : 0u);
        }
        rows << QStringLiteral("%1").arg(mask, lab.GlyphCols() > 8 ? 3 : 2, 16, QLatin1Char('0')).toUpper();
    }
    return rows.join(QLatin1Char(' '));
}

// The same for a glyph of a built-in set, straight from the tables.
QString glyphRows(TDotMatrix set, int code)
{
    const matrix::GlyphSize size = matrix::glyphSize(set);
    QStringList rows;
    for (int r = 1; r <= size.rows; ++r) {
        unsigned mask = 0;
        for (int d = 1; d <= size.cols; ++d)
            mask = (mask << 1) | (matrix::dotState(set, code, r, d) == DotState::Lit ? 1u : 0u);
        rows << QStringLiteral("%1").arg(mask, size.cols > 8 ? 3 : 2, 16, QLatin1Char('0')).toUpper();
    }
    return rows.join(QLatin1Char(' '));
}

QString unlitRows(TDotMatrix set)
{
    const matrix::GlyphSize size = matrix::glyphSize(set);
    QStringList rows;
    for (int r = 0; r < size.rows; ++r)
        rows << QString(size.cols > 8 ? 3 : 2, QLatin1Char('0'));
    return rows.join(QLatin1Char(' '));
}

int countPixels(const QImage& image, QRgb colour)
{
    int n = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            n += pixelAt(image, x, y) == colour;
    return n;
}

// A dot's pixels as text: '#' in `colour`, '.' otherwise.
QStringList dotMask(const TLCDLabel& lab, QPoint origin, QRgb colour)
{
    QStringList rows;
    for (int j = 0; j < lab.DotHeight(); ++j) {
        QString row;
        for (int i = 0; i < lab.DotWidth(); ++i)
            row += pixelAt(lab.image(), origin.x() + i, origin.y() + j) == colour ? QLatin1Char('#')
                                                                                 : QLatin1Char('.');
        rows << row;
    }
    return rows;
}

// Counts the paint events a widget receives.
class PaintCounter : public QObject {
public:
    explicit PaintCounter(QWidget* w) { w->installEventFilter(this); }
    int count = 0;

protected:
    bool eventFilter(QObject*, QEvent* e) override
    {
        count += e->type() == QEvent::Paint;
        return false;
    }
};

// What the window system holds for the control right now; reading it runs
// no event loop.
QImage onScreen(const TLCDLabel& lab)
{
    QWidget* window = lab.window();
    const QPoint at = lab.mapTo(window, QPoint(0, 0));
    return window->screen()
        ->grabWindow(window->winId(), at.x(), at.y(), lab.width(), lab.height())
        .toImage()
        .convertToFormat(QImage::Format_RGB32);
}

} // namespace

class TestLcd : public QObject {
    Q_OBJECT

    QTemporaryDir dir;

    QString writeFile(const QString& name, const QByteArray& bytes)
    {
        return writeTestFile(dir, name, bytes);
    }

    // Codes 65 and 66 as 3 x 4 glyphs: "A" a frame, "B" a diagonal.
    QString smallFont()
    {
        QByteArray f = fontHeader(3, 4, 65, 66);
        f.append(QByteArray::fromHex("000000" "000100" "000100" "000000"));
        f.append(QByteArray::fromHex("000101" "010001" "010100" "010101"));
        return writeFile(QStringLiteral("small.fnt"), f);
    }

private slots:
    void newControl();
    void workedSizes_data();
    void workedSizes();
    void foreignResizeDerivesCells();
    void staysAtItsSizeInALayout();
    void frames_data();
    void frames();
    void singleFrameUsesBorderColor();
    void shapedDotsAreEllipsesOnDimSquares();
    void roundDotsShowBackgroundInCorners();
    void dotCoversExactlyItsPixels();
    void smallDotsAreRound_data();
    void smallDotsAreRound();
    void ellipseSymmetricInsideItsDot_data();
    void ellipseSymmetricInsideItsDot();
    void captionFillsCellsInReadingOrder();
    void shortCaptionLeavesCellsUnlit();
    void codesClampedToSet_data();
    void codesClampedToSet();
    void invalidWritesRejected_data();
    void invalidWritesRejected();
    void zeroSpacingsAccepted();
    void pixelWidthOnlyForCustomSize();
    void dimColor_data();
    void dimColor();
    void customFontWithoutFilenameKeepsSet();
    void customFontLoadSwitchesSet();
    void failedLoadReturnsToFallback();
    void shortFontRaisesAndStaysOnCustomFont();
    void keepPreviousDots();
    void bigCustomGlyphsLayOut();
    void unchangedCaptionDoesNotRepaint();
    void captionCutTo255Bytes();
    void disabledShowsBackgroundAndFrameOnly();
    void hiddenFillsButtonFace();
    void writesPaintAtOnce();
    void writesBeforeShowPaintLater();
    void extremeValuesStaySafe();
};

void TestLcd::newControl()
{
    TLCDLabel lab;
    QCOMPARE(lab.size(), QSize(166, 28));
    QCOMPARE(lab.sizeHint(), QSize(166, 28));
    QCOMPARE(lab.image().size(), QSize(166, 28));
    QCOMPARE(lab.NoOfChars(), 10);
    QCOMPARE(lab.TextLines(), 1);
    QCOMPARE(lab.DotMatrix(), mat5x7);
    QCOMPARE(lab.PixelSize(), pix2x2);
    QCOMPARE(lab.PixelWidth(), 2);
    QCOMPARE(lab.BorderStyle(), frLowered);
    QCOMPARE(lab.BackGround(), TColor(0xC0C0C0));
    QCOMPARE(lab.PixelOff(), TColor(0xAAAAAA));
    QCOMPARE(lab.DimColor(), TColor(0));
    QVERIFY(lab.Caption().isEmpty());

    // Ten cells of 35 unlit 2 x 2 dots, nothing lit.
    QCOMPARE(countPixels(lab.image(), 0xAAAAAA), 10 * 35 * 4);
    QCOMPARE(countPixels(lab.image(), 0x000000), 0);
    QCOMPARE(pixelAt(lab.image(), 4, 4), QRgb(0xAAAAAA));
    QCOMPARE(pixelAt(lab.image(), 5, 5), QRgb(0xAAAAAA));
    QCOMPARE(pixelAt(lab.image(), 6, 4), QRgb(0xC0C0C0)); // gap between dots
    QCOMPARE(pixelAt(lab.image(), 3, 3), QRgb(0xC0C0C0)); // border space
    // Last dot of the last cell ends one border space before the frame.
    QCOMPARE(pixelAt(lab.image(), 161, 23), QRgb(0xAAAAAA));
    QCOMPARE(pixelAt(lab.image(), 162, 24), QRgb(0xC0C0C0));
    // Lowered: dark on top and left, light at bottom and right.
    QCOMPARE(pixelAt(lab.image(), 0, 0), rgb(lab, clBtnShadow));
    QCOMPARE(pixelAt(lab.image(), 165, 27), rgb(lab, clBtnHighlight));
}

void TestLcd::workedSizes_data()
{
    QTest::addColumn<int>("set");
    QTest::addColumn<int>("pixelSize");
    QTest::addColumn<int>("chars");
    QTest::addColumn<QSize>("cell");
    QTest::addColumn<QSize>("control");
    QTest::newRow("dos5x7 pix3x3 7") << int(dos5x7) << int(pix3x3) << 7 << QSize(19, 27) << QSize(157, 39);
    QTest::newRow("mat5x7 pix2x2 8") << int(mat5x7) << int(pix2x2) << 8 << QSize(14, 20) << QSize(138, 32);
    QTest::newRow("dos5x7 pix3x3 5") << int(dos5x7) << int(pix3x3) << 5 << QSize(19, 27) << QSize(115, 39);
    QTest::newRow("Hitachi2 pix1x1 3") << int(Hitachi2) << int(pix1x1) << 3 << QSize(9, 19) << QSize(43, 31);
    QTest::newRow("mat9x12 pix16x16 1") << int(mat9x12) << int(pix16x16) << 1 << QSize(152, 203) << QSize(164, 215);
}

void TestLcd::workedSizes()
{
    QFETCH(int, set);
    QFETCH(int, pixelSize);
    QFETCH(int, chars);
    QFETCH(QSize, cell);
    QFETCH(QSize, control);
    TLCDLabel lab;
    lab.setBorderSpace(5);
    lab.setDotMatrix(static_cast<TDotMatrix>(set));
    lab.setPixelSize(static_cast<TPixelSize>(pixelSize));
    lab.setNoOfChars(chars);
    QCOMPARE(QSize(lab.CellWidth(), lab.CellHeight()), cell);
    QCOMPARE(lab.size(), control);
    QCOMPARE(lab.image().size(), control);
    QCOMPARE(QSize(lab.LastWidth(), lab.LastHeight()), control);
    QCOMPARE(lab.NoOfChars(), chars);
}

void TestLcd::foreignResizeDerivesCells()
{
    TLCDLabel lab;
    lab.setBorderSpace(5);
    lab.setDotMatrix(dos5x7);
    lab.setPixelSize(pix3x3);
    lab.resize(100, 50);
    lab.Paint();
    QCOMPARE(lab.NoOfChars(), 4);
    QCOMPARE(lab.TextLines(), 1);
    QCOMPARE(lab.size(), QSize(94, 39));
    QCOMPARE(lab.image().size(), QSize(94, 39));

    // The frame's two pixels count as room for cells, so the snapped size
    // can come out two pixels larger than the one given.
    lab.resize(113, 66);
    lab.Paint();
    QCOMPARE(lab.NoOfChars(), 5);
    QCOMPARE(lab.TextLines(), 2);
    QCOMPARE(lab.size(), QSize(115, 68));

    // Too small for one cell still gives one.
    lab.resize(5, 5);
    lab.Paint();
    QCOMPARE(lab.NoOfChars(), 1);
    QCOMPARE(lab.TextLines(), 1);
    QCOMPARE(lab.size(), QSize(31, 39));

    // Room for two lines of cells.
    lab.resize(80, 80);
    lab.Paint();
    QCOMPARE(lab.NoOfChars(), 3);
    QCOMPARE(lab.TextLines(), 2);
    QCOMPARE(lab.size(), QSize(73, 68));
}

void TestLcd::staysAtItsSizeInALayout()
{
    QWidget window;
    auto* layout = new QHBoxLayout(&window);
    auto* lab = new TLCDLabel(&window);
    layout->addWidget(lab);
    window.resize(400, 200);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QCOMPARE(lab->size(), QSize(166, 28));
    lab->setNoOfChars(5);
    QCoreApplication::processEvents();
    QCOMPARE(lab->size(), QSize(86, 28));
    QCOMPARE(lab->NoOfChars(), 5);
    QVERIFY(!lab->testAttribute(Qt::WA_NativeWindow));
    QCOMPARE(lab->image().size(), QSize(86, 28));

    // What reaches the screen is the composed image, pixel for pixel.
    lab->setCaption("-1.5");
    const QImage onScreen = lab->grab().toImage().convertToFormat(QImage::Format_RGB32);
    QCOMPARE(onScreen.size(), QSize(86, 28));
    for (int y = 0; y < 28; ++y)
        for (int x = 0; x < 86; ++x)
            QCOMPARE(pixelAt(onScreen, x, y), pixelAt(lab->image(), x, y));
}

void TestLcd::frames_data()
{
    QTest::addColumn<int>("style");
    QTest::addColumn<TColor>("topLeft");
    QTest::addColumn<TColor>("bottomRight");
    QTest::newRow("frRaised") << int(frRaised) << clBtnHighlight << clBtnShadow;
    QTest::newRow("frLowered") << int(frLowered) << clBtnShadow << clBtnHighlight;
}

void TestLcd::frames()
{
    QFETCH(int, style);
    QFETCH(TColor, topLeft);
    QFETCH(TColor, bottomRight);
    TLCDLabel lab;
    lab.setBorderColor(0x0000FF); // only frSingle may use it
    lab.setBorderStyle(static_cast<TMyBorder>(style));
    const QImage& img = lab.image();
    const int w = img.width();
    const int h = img.height();
    const QRgb light = rgb(lab, topLeft);
    const QRgb dark = rgb(lab, bottomRight);
    QVERIFY(light != dark);
    for (int x = 0; x < w; ++x)
        QCOMPARE(pixelAt(img, x, 0), light);
    for (int y = 0; y < h; ++y)
        QCOMPARE(pixelAt(img, 0, y), light);
    for (int x = 1; x < w; ++x)
        QCOMPARE(pixelAt(img, x, h - 1), dark);
    for (int y = 1; y < h; ++y)
        QCOMPARE(pixelAt(img, w - 1, y), dark);
    // Inside the frame the background starts at once.
    QCOMPARE(pixelAt(img, 1, 1), QRgb(0xC0C0C0));
    QCOMPARE(pixelAt(img, w - 2, h - 2), QRgb(0xC0C0C0));
}

void TestLcd::singleFrameUsesBorderColor()
{
    TLCDLabel lab;
    lab.setBorderColor(0x0000FF);
    lab.setBorderStyle(frSingle);
    const QImage& img = lab.image();
    for (QPoint p : {QPoint(0, 0), QPoint(165, 0), QPoint(0, 27), QPoint(165, 27), QPoint(80, 0), QPoint(80, 27)})
        QCOMPARE(pixelAt(img, p.x(), p.y()), QRgb(0xFF0000));
    lab.setBorderStyle(frNone);
    QCOMPARE(pixelAt(lab.image(), 0, 0), QRgb(0xC0C0C0));
    QCOMPARE(pixelAt(lab.image(), 165, 27), QRgb(0xC0C0C0));
}

void TestLcd::shapedDotsAreEllipsesOnDimSquares()
{
    TLCDLabel lab;
    lab.setPixelSize(pix8x8);
    lab.setPixelShape(spShaped);
    lab.setPixelOn(0x00FF00);
    lab.setNoOfChars(1);
    lab.setCaption("-"); // row 4 fully lit
    QCOMPARE(lab.DimColor(), TColor(0x007F00));
    const QStringList ellipse = {
        QStringLiteral("..####.."), QStringLiteral(".######."), QStringLiteral("########"),
        QStringLiteral("########"), QStringLiteral("########"), QStringLiteral("########"),
        QStringLiteral(".######."), QStringLiteral("..####.."),
    };
    const QStringList square(8, QStringLiteral("########"));
    for (int dot = 1; dot <= 5; ++dot) {
        const QPoint lit = dotOrigin(lab, 0, 0, 4, dot);
        QCOMPARE(dotMask(lab, lit, 0x00FF00), ellipse);
        // The rest of the square is the dim colour, nothing else.
        QStringList dim;
        for (const QString& r : ellipse)
            dim << QString(r).replace(QLatin1Char('#'), QLatin1Char('x')).replace(QLatin1Char('.'), QLatin1Char('#')).replace(QLatin1Char('x'), QLatin1Char('.'));
        QCOMPARE(dotMask(lab, lit, 0x007F00), dim);
        // Unlit dots are plain squares.
        QCOMPARE(dotMask(lab, dotOrigin(lab, 0, 0, 3, dot), 0xAAAAAA), square);
    }
    // Spacing between the dots stays background.
    const QPoint first = dotOrigin(lab, 0, 0, 4, 1);
    QCOMPARE(pixelAt(lab.image(), first.x() + 8, first.y() + 3), QRgb(0xC0C0C0));

    // An unlit dot in the same colour as PixelOn is drawn as lit.
    lab.setPixelOff(0x00FF00);
    QCOMPARE(dotMask(lab, dotOrigin(lab, 0, 0, 1, 1), 0x00FF00), ellipse);
}

void TestLcd::roundDotsShowBackgroundInCorners()
{
    TLCDLabel lab;
    lab.setPixelSize(pix8x8);
    lab.setPixelShape(spRound);
    lab.setPixelOn(0x0000FF);
    lab.setNoOfChars(1);
    lab.setCaption("-");
    const QStringList ellipse = {
        QStringLiteral("..####.."), QStringLiteral(".######."), QStringLiteral("########"),
        QStringLiteral("########"), QStringLiteral("########"), QStringLiteral("########"),
        QStringLiteral(".######."), QStringLiteral("..####.."),
    };
    const QPoint lit = dotOrigin(lab, 0, 0, 4, 2);
    QCOMPARE(dotMask(lab, lit, 0xFF0000), ellipse);
    QCOMPARE(pixelAt(lab.image(), lit.x(), lit.y()), QRgb(0xC0C0C0));
    QCOMPARE(pixelAt(lab.image(), lit.x() + 7, lit.y() + 7), QRgb(0xC0C0C0));
    QCOMPARE(dotMask(lab, dotOrigin(lab, 0, 0, 1, 1), 0xAAAAAA), ellipse);

    // Dots of 1 and 2 pixels are still filled completely.
    lab.setPixelSize(pix2x2);
    QCOMPARE(dotMask(lab, dotOrigin(lab, 0, 0, 4, 1), 0xFF0000), QStringList(2, QStringLiteral("##")));
}

void TestLcd::dotCoversExactlyItsPixels()
{
    TLCDLabel lab;
    lab.setPixelSize(pix3x3);
    lab.setPixelOn(0x0000FF);
    lab.setNoOfChars(1);
    lab.setCaption("."); // dots 2 and 3 of rows 6 and 7
    QCOMPARE(countPixels(lab.image(), 0xFF0000), 4 * 9);
    const QPoint p = dotOrigin(lab, 0, 0, 6, 2);
    QCOMPARE(p, QPoint(8, 24));
    for (int j = -1; j <= 3; ++j)
        for (int i = -1; i <= 3; ++i) {
            const bool inside = i >= 0 && i < 3 && j >= 0 && j < 3;
            QCOMPARE(pixelAt(lab.image(), p.x() + i, p.y() + j) == 0xFF0000, inside);
        }
}

void TestLcd::smallDotsAreRound_data()
{
    QTest::addColumn<int>("shape");
    QTest::addColumn<int>("w");
    QTest::addColumn<int>("h");
    QTest::addColumn<QStringList>("mask");
    // Every pixel of a 2 x 2 dot is a corner: leaving them out would leave
    // nothing, so the dot stays whole, as a 1 x 1 dot does.
    const QStringList one = {QStringLiteral("#")};
    const QStringList two = {QStringLiteral("##"), QStringLiteral("##")};
    const QStringList three = {QStringLiteral(".#."), QStringLiteral("###"), QStringLiteral(".#.")};
    const QStringList four = {QStringLiteral(".##."), QStringLiteral("####"), QStringLiteral("####"),
                              QStringLiteral(".##.")};
    const QStringList five = {QStringLiteral(".###."), QStringLiteral("#####"), QStringLiteral("#####"),
                              QStringLiteral("#####"), QStringLiteral(".###.")};
    const QStringList threeByFive = {QStringLiteral(".#."), QStringLiteral("###"), QStringLiteral("###"),
                                     QStringLiteral("###"), QStringLiteral(".#.")};
    for (int shape : {int(spRound), int(spShaped)}) {
        const char* name = shape == spRound ? "round" : "shaped";
        QTest::addRow("%s 1x1", name) << shape << 1 << 1 << one;
        QTest::addRow("%s 2x2", name) << shape << 2 << 2 << two;
        QTest::addRow("%s 3x3", name) << shape << 3 << 3 << three;
        QTest::addRow("%s 4x4", name) << shape << 4 << 4 << four;
        QTest::addRow("%s 5x5", name) << shape << 5 << 5 << five;
        QTest::addRow("%s 3x5", name) << shape << 3 << 5 << threeByFive;
    }
}

void TestLcd::smallDotsAreRound()
{
    QFETCH(int, shape);
    QFETCH(int, w);
    QFETCH(int, h);
    QFETCH(QStringList, mask);
    TLCDLabel lab;
    lab.setPixelSize(pixCustom);
    lab.setPixelWidth(w);
    lab.setPixelHeight(h);
    lab.setPixelShape(static_cast<TPixelShape>(shape));
    lab.setPixelOn(0x00FF00);
    lab.setNoOfChars(1);
    lab.setCaption("-"); // row 4 fully lit
    const QPoint lit = dotOrigin(lab, 0, 0, 4, 3);
    QCOMPARE(dotMask(lab, lit, 0x00FF00), mask);
    // What the ellipse leaves shows the background, or the dim colour under
    // a shaped dot.
    const QRgb corner = shape == spRound ? 0xC0C0C0 : 0x007F00;
    for (int j = 0; j < h; ++j)
        for (int i = 0; i < w; ++i)
            if (mask[j][i] == QLatin1Char('.'))
                QCOMPARE(pixelAt(lab.image(), lit.x() + i, lit.y() + j), corner);
    // Unlit round dots have the same outline; unlit shaped dots are squares.
    const QStringList square(h, QString(w, QLatin1Char('#')));
    QCOMPARE(dotMask(lab, dotOrigin(lab, 0, 0, 1, 1), 0xAAAAAA), shape == spRound ? mask : square);
}

void TestLcd::ellipseSymmetricInsideItsDot_data()
{
    QTest::addColumn<int>("w");
    QTest::addColumn<int>("h");
    for (int n = 2; n <= 16; ++n)
        QTest::addRow("%dx%d", n, n) << n << n;
    QTest::newRow("2x9") << 2 << 9;
    QTest::newRow("9x2") << 9 << 2;
    QTest::newRow("6x11") << 6 << 11;
    QTest::newRow("40x13") << 40 << 13;
}

void TestLcd::ellipseSymmetricInsideItsDot()
{
    QFETCH(int, w);
    QFETCH(int, h);
    TLCDLabel lab;
    lab.setPixelSize(pixCustom);
    lab.setPixelWidth(w);
    lab.setPixelHeight(h);
    lab.setPixelShape(spRound);
    lab.setPixelOn(0x0000FF);
    lab.setNoOfChars(1);
    lab.setCaption("-");
    const QPoint lit = dotOrigin(lab, 0, 0, 4, 3);
    QStringList ring; // the dot's rectangle and one pixel around it
    for (int j = -1; j <= h; ++j) {
        QString row;
        for (int i = -1; i <= w; ++i)
            row += pixelAt(lab.image(), lit.x() + i, lit.y() + j) == 0xFF0000 ? QLatin1Char('#')
                                                                              : QLatin1Char('.');
        ring << row;
    }
    const QString flat = ring.join(QLatin1Char('/'));
    // Nothing outside the rectangle.
    QVERIFY2(!ring.first().contains(QLatin1Char('#')) && !ring.last().contains(QLatin1Char('#')), qPrintable(flat));
    for (const QString& row : ring)
        QVERIFY2(row.front() == QLatin1Char('.') && row.back() == QLatin1Char('.'), qPrintable(flat));
    // Symmetric about both axes.
    for (int j = 0; j < ring.size(); ++j) {
        QString mirrored = ring[j];
        std::reverse(mirrored.begin(), mirrored.end());
        QVERIFY2(ring[j] == mirrored, qPrintable(flat));
        QVERIFY2(ring[j] == ring[ring.size() - 1 - j], qPrintable(flat));
    }
    // A round dot touches all four sides of its square; where both sides
    // are 3 or more, the corners are left to the background.
    if (w == h) {
        QVERIFY2(!ring[1 + h / 2].mid(1, w).contains(QLatin1Char('.')), qPrintable(flat));
        for (int j = 1; j <= h; ++j)
            QVERIFY2(ring[j][1 + w / 2] == QLatin1Char('#'), qPrintable(flat));
    }
    if (w >= 3 && h >= 3)
        QVERIFY2(ring[1][1] == QLatin1Char('.'), qPrintable(flat));
}

void TestLcd::captionFillsCellsInReadingOrder()
{
    TLCDLabel lab;
    lab.setTextLines(2);
    lab.setNoOfChars(8);
    lab.setCaption("ABCDEFGHIJ");
    QCOMPARE(lab.Caption(), QByteArray("ABCDEFGHIJ"));
    const QByteArray line1 = "ABCDEFGH";
    for (int i = 0; i < 8; ++i)
        QCOMPARE(cellRows(lab, 0, i), glyphRows(mat5x7, line1.at(i)));
    QCOMPARE(cellRows(lab, 1, 0), glyphRows(mat5x7, 'I'));
    QCOMPARE(cellRows(lab, 1, 1), glyphRows(mat5x7, 'J'));
    for (int i = 2; i < 8; ++i)
        QCOMPARE(cellRows(lab, 1, i), unlitRows(mat5x7));

    // Line breaks are drawn like any other code, not obeyed.
    lab.setDotMatrix(dos5x7);
    lab.setCaption("A\nB");
    QCOMPARE(cellRows(lab, 0, 1), glyphRows(dos5x7, 10));
    QCOMPARE(cellRows(lab, 0, 2), glyphRows(dos5x7, 'B'));
}

void TestLcd::shortCaptionLeavesCellsUnlit()
{
    TLCDLabel lab;
    lab.setCaption("12");
    QCOMPARE(cellRows(lab, 0, 0), glyphRows(mat5x7, '1'));
    QCOMPARE(cellRows(lab, 0, 1), glyphRows(mat5x7, '2'));
    for (int i = 2; i < 10; ++i)
        QCOMPARE(cellRows(lab, 0, i), unlitRows(mat5x7));
    // "1" has 10 lit dots and "2" has 14.
    QCOMPARE(countPixels(lab.image(), 0x000000), (10 + 14) * 4);

    // A zero byte ends the text.
    lab.setCaption(QByteArray("7\0" "8", 3));
    QCOMPARE(cellRows(lab, 0, 0), glyphRows(mat5x7, '7'));
    QCOMPARE(cellRows(lab, 0, 1), unlitRows(mat5x7));
    QCOMPARE(cellRows(lab, 0, 2), unlitRows(mat5x7));
}

void TestLcd::codesClampedToSet_data()
{
    QTest::addColumn<int>("set");
    QTest::addColumn<QByteArray>("caption");
    QTest::addColumn<int>("shownAs");
    QTest::newRow("mat5x8 127") << int(mat5x8) << QByteArray("\x7F") << 126;
    QTest::newRow("mat5x8 128") << int(mat5x8) << QByteArray("\x80") << 126;
    QTest::newRow("mat5x8 255") << int(mat5x8) << QByteArray("\xFF") << 126;
    QTest::newRow("mat5x7 200") << int(mat5x7) << QByteArray("\xC8") << 126;
    QTest::newRow("Hitachi 240") << int(Hitachi) << QByteArray("\xF0") << 223;
    QTest::newRow("Hitachi2 255") << int(Hitachi2) << QByteArray("\xFF") << 223;
    QTest::newRow("dos5x7 248") << int(dos5x7) << QByteArray("\xF8") << 248;
    QTest::newRow("dos5x7 176") << int(dos5x7) << QByteArray("\xB0") << 176;
    QTest::newRow("dos5x7 1") << int(dos5x7) << QByteArray("\x01") << 1;
    for (int set : {int(mat5x7), int(mat5x8), int(mat7x9), int(mat9x12), int(Hitachi), int(Hitachi2)}) {
        QTest::addRow("set %d code 1", set) << set << QByteArray("\x01") << 32;
        QTest::addRow("set %d code 31", set) << set << QByteArray("\x1F") << 32;
    }
}

void TestLcd::codesClampedToSet()
{
    QFETCH(int, set);
    QFETCH(QByteArray, caption);
    QFETCH(int, shownAs);
    const auto s = static_cast<TDotMatrix>(set);
    TLCDLabel lab;
    lab.setDotMatrix(s);
    lab.setNoOfChars(2);
    lab.setCaption(caption);
    QCOMPARE(cellRows(lab, 0, 0), glyphRows(s, shownAs));
    if (shownAs == 32)
        QCOMPARE(cellRows(lab, 0, 0), unlitRows(s));
}

void TestLcd::invalidWritesRejected_data()
{
    QTest::addColumn<QString>("property");
    QTest::addColumn<int>("value");
    QTest::addColumn<QString>("message");
    QTest::newRow("PixelSpacing") << "PixelSpacing" << -1 << "Pixel spacing can't be less than zero!";
    QTest::newRow("CharSpacing") << "CharSpacing" << -1 << "Character spacing can't be less than zero!";
    QTest::newRow("LineSpacing") << "LineSpacing" << -2 << "Line spacing can't be less than zero!";
    QTest::newRow("BorderSpace") << "BorderSpace" << -1 << "Border spacing can't be less than zero!";
    QTest::newRow("TextLines") << "TextLines" << 0 << "Display needs at least on line!";
    QTest::newRow("NoOfChars 0") << "NoOfChars" << 0 << "Display needs at least one character!";
    QTest::newRow("NoOfChars -5") << "NoOfChars" << -5 << "Display needs at least one character!";
    QTest::newRow("PixelWidth") << "PixelWidth" << 0 << "Display pixel width must be 1 or greater!";
    QTest::newRow("PixelHeight") << "PixelHeight" << -3 << "Display pixel height must be 1 or greate!";
}

void TestLcd::invalidWritesRejected()
{
    QFETCH(QString, property);
    QFETCH(int, value);
    QFETCH(QString, message);
    TLCDLabel lab;
    lab.setPixelSize(pixCustom);
    lab.setCaption("42");
    const QImage before = lab.image().copy();
    auto read = [&] {
        return QList<int>{lab.PixelSpacing(), lab.CharSpacing(), lab.LineSpacing(), lab.BorderSpace(),
                          lab.TextLines(), lab.NoOfChars(), lab.PixelWidth(), lab.PixelHeight()};
    };
    const QList<int> values = read();
    // A resize by someone else stays in place unless something repaints.
    lab.resize(300, 60);

    RecordingDialogs dialogs;
    if (property == QLatin1String("PixelSpacing")) lab.setPixelSpacing(value);
    else if (property == QLatin1String("CharSpacing")) lab.setCharSpacing(value);
    else if (property == QLatin1String("LineSpacing")) lab.setLineSpacing(value);
    else if (property == QLatin1String("BorderSpace")) lab.setBorderSpace(value);
    else if (property == QLatin1String("TextLines")) lab.setTextLines(value);
    else if (property == QLatin1String("NoOfChars")) lab.setNoOfChars(value);
    else if (property == QLatin1String("PixelWidth")) lab.setPixelWidth(value);
    else if (property == QLatin1String("PixelHeight")) lab.setPixelHeight(value);

    QCOMPARE(dialogs.shown.size(), 1);
    QCOMPARE(dialogs.shown[0].kind, QStringLiteral("message"));
    QCOMPARE(dialogs.shown[0].title, QStringLiteral("Error"));
    QCOMPARE(dialogs.shown[0].text, message);
    QCOMPARE(dialogs.shown[0].icon, Dialogs::Icon::Error);
    QCOMPARE(dialogs.shown[0].buttons, Dialogs::Buttons::Ok);
    QCOMPARE(read(), values);
    QCOMPARE(lab.size(), QSize(300, 60));
    QCOMPARE(lab.image(), before);
}

void TestLcd::zeroSpacingsAccepted()
{
    RecordingDialogs dialogs;
    TLCDLabel lab;
    lab.setPixelSpacing(0);
    lab.setCharSpacing(0);
    lab.setLineSpacing(0);
    lab.setBorderSpace(0);
    QVERIFY(dialogs.shown.isEmpty());
    QCOMPARE(lab.CellWidth(), 10);
    QCOMPARE(lab.size(), QSize(10 * 10 + 2, 14 + 2));
    // Cells touch each other and the frame.
    QCOMPARE(pixelAt(lab.image(), 1, 1), QRgb(0xAAAAAA));
    QCOMPARE(pixelAt(lab.image(), 100, 14), QRgb(0xAAAAAA));
}

void TestLcd::pixelWidthOnlyForCustomSize()
{
    RecordingDialogs dialogs;
    TLCDLabel lab;
    lab.setPixelSize(pix3x3);
    const QSize size3 = lab.size();
    lab.setPixelWidth(5);
    lab.setPixelHeight(0); // ignored as well, without a message
    QVERIFY(dialogs.shown.isEmpty());
    QCOMPARE(lab.PixelWidth(), 3);
    QCOMPARE(lab.PixelHeight(), 3);
    QCOMPARE(lab.size(), size3);

    lab.setPixelSize(pixCustom);
    QCOMPARE(lab.DotWidth(), 3);
    QCOMPARE(lab.DotHeight(), 3);
    QCOMPARE(lab.size(), size3);

    lab.setPixelWidth(5);
    QCOMPARE(lab.DotWidth(), 5);
    QCOMPARE(lab.DotHeight(), 3);
    QCOMPARE(lab.CellWidth(), 5 * 5 + 4);
    QCOMPARE(lab.width(), 2 * 3 + 9 * 2 + 10 * 29 + 2);
    lab.setPixelHeight(1);
    QCOMPARE(lab.CellHeight(), 7 + 6);
    QVERIFY(dialogs.shown.isEmpty());

    // Back to a preset: the preset's size is written into both.
    lab.setPixelSize(pix4x4);
    QCOMPARE(lab.PixelWidth(), 4);
    QCOMPARE(lab.PixelHeight(), 4);
}

void TestLcd::dimColor_data()
{
    QTest::addColumn<TColor>("on");
    QTest::addColumn<TColor>("dim");
    QTest::newRow("black") << TColor(0) << TColor(0);
    QTest::newRow("green") << TColor(0x00FF00) << TColor(0x007F00);
    QTest::newRow("white") << TColor(0xFFFFFF) << TColor(0x7F7F7F);
    QTest::newRow("odd bytes") << TColor(0x00030507) << TColor(0x00010203);
    QTest::newRow("high byte kept") << TColor(0x12FF8001) << TColor(0x127F4000);
    QTest::newRow("system colour") << clBtnShadow << TColor(0x80000008);
}

void TestLcd::dimColor()
{
    QFETCH(TColor, on);
    QFETCH(TColor, dim);
    TLCDLabel lab;
    lab.setPixelOn(0x123456);
    lab.setPixelOn(on);
    QCOMPARE(lab.PixelOn(), on);
    QCOMPARE(lab.DimColor(), dim);
}

void TestLcd::customFontWithoutFilenameKeepsSet()
{
    TLCDLabel lab;
    lab.setDotMatrix(Hitachi2);
    lab.setDotMatrix(CustomFont);
    QCOMPARE(lab.DotMatrix(), Hitachi2);
    QCOMPARE(lab.GlyphRows(), 10);
    QCOMPARE(lab.size(), QSize(166, 2 * 3 + 10 * 2 + 9 + 2));
}

void TestLcd::customFontLoadSwitchesSet()
{
    TLCDLabel lab;
    lab.setCaption("AB");
    lab.setfilename(smallFont());
    QCOMPARE(lab.DotMatrix(), CustomFont);
    QCOMPARE(lab.GlyphCols(), 3);
    QCOMPARE(lab.GlyphRows(), 4);
    QCOMPARE(lab.FirstCode(), 65);
    QCOMPARE(lab.LastCode(), 66);
    QCOMPARE(lab.CellWidth(), 3 * 2 + 2);
    QCOMPARE(lab.CellHeight(), 4 * 2 + 3);
    QCOMPARE(lab.size(), QSize(6 + 18 + 80 + 2, 6 + 11 + 2));
    QCOMPARE(cellRows(lab, 0, 0), QStringLiteral("07 05 05 07"));
    QCOMPARE(cellRows(lab, 0, 1), QStringLiteral("04 02 01 00"));
    // Cells after the text, and codes below the range, show FirstCode's glyph;
    // codes above show LastCode's.
    QCOMPARE(cellRows(lab, 0, 9), QStringLiteral("07 05 05 07"));
    lab.setCaption("0Z");
    QCOMPARE(cellRows(lab, 0, 0), QStringLiteral("07 05 05 07"));
    QCOMPARE(cellRows(lab, 0, 1), QStringLiteral("04 02 01 00"));

    // Writing DotMatrix CustomFont again reloads from the file.
    lab.setDotMatrix(mat5x7);
    QCOMPARE(lab.GlyphCols(), 5);
    lab.setDotMatrix(CustomFont);
    QCOMPARE(lab.DotMatrix(), CustomFont);
    QCOMPARE(lab.GlyphCols(), 3);
}

void TestLcd::failedLoadReturnsToFallback()
{
    const QString missing = dir.filePath(QStringLiteral("missing.fnt"));
    QByteArray hostile = fontHeader(0x40000000, 0x40000000, 0, 255);
    const QString refused = writeFile(QStringLiteral("refused.fnt"), hostile);
    for (const QString& bad : {missing, refused}) {
        RecordingDialogs dialogs;
        TLCDLabel lab;
        lab.setDotMatrix(mat7x9);
        lab.setfilename(bad);
        QCOMPARE(lab.DotMatrix(), mat7x9);
        QCOMPARE(lab.GlyphCols(), 7);
        QCOMPARE(lab.filename(), bad);

        // From a custom font the way back is mat5x7.
        lab.setfilename(smallFont());
        QCOMPARE(lab.DotMatrix(), CustomFont);
        lab.setfilename(bad);
        QCOMPARE(lab.DotMatrix(), mat5x7);
        QCOMPARE(lab.GlyphCols(), 5);
        QCOMPARE(lab.FirstCode(), 32);
        QCOMPARE(lab.size(), QSize(166, 28));
        QVERIFY(dialogs.shown.isEmpty());
        QCOMPARE(lab.customFont().allocatedBytes(), std::size_t(0));
    }
}

void TestLcd::shortFontRaisesAndStaysOnCustomFont()
{
    // Header for 5 x 7 digits, the glyph of "0" and part of "1".
    QByteArray f = fontHeader(5, 7, 48, 57);
    QByteArray zero(35, '\1');
    zero[0] = '\0';
    f.append(zero);
    f.append(QByteArray(10, '\0'));
    const QString cut = writeFile(QStringLiteral("cut.fnt"), f);

    TLCDLabel lab;
    lab.setDotMatrix(Hitachi2);
    lab.setCaption("0");
    bool raised = false;
    try {
        lab.setfilename(cut);
    } catch (const EInOutError& e) {
        raised = true;
        QCOMPARE(e.text(), QStringLiteral("Read beyond end of file"));
    }
    QVERIFY(raised);
    QCOMPARE(lab.DotMatrix(), CustomFont);
    QCOMPARE(lab.GlyphRows(), 7);
    QCOMPARE(lab.FirstCode(), 48);
    QCOMPARE(cellRows(lab, 0, 0), QStringLiteral("10 00 00 00 00 00 00"));
    lab.setCaption("5");
    QCOMPARE(cellRows(lab, 0, 0), QStringLiteral("00 00 00 00 00 00 00"));

    // Cut inside the header: no glyphs at all, the geometry it had.
    const QString cutHeader = writeFile(QStringLiteral("cuthead.fnt"), fontHeader(3, 3, 0, 0).left(9));
    TLCDLabel other;
    other.setDotMatrix(Hitachi2);
    other.setCaption("AAAA");
    raised = false;
    try {
        other.setfilename(cutHeader);
    } catch (const EInOutError&) {
        raised = true;
    }
    QVERIFY(raised);
    QCOMPARE(other.DotMatrix(), CustomFont);
    QCOMPARE(other.customFont().allocatedBytes(), std::size_t(0));
    QCOMPARE(other.GlyphCols(), 5);
    QCOMPARE(other.GlyphRows(), 10);
    other.Paint();
    QCOMPARE(countPixels(other.image(), 0x000000), 0);
    QCOMPARE(countPixels(other.image(), 0xAAAAAA), 10 * 50 * 4);
}

void TestLcd::keepPreviousDots()
{
    // One row of five: keep (first: unlit), lit, keep, unlit, keep.
    QByteArray f = fontHeader(5, 1, 32, 32);
    f.append(QByteArray::fromHex("0200020102"));
    TLCDLabel lab;
    lab.setPixelOn(0x0000FF);
    lab.setfilename(writeFile(QStringLiteral("keep.fnt"), f));
    QCOMPARE(lab.DotMatrix(), CustomFont);
    QCOMPARE(cellRows(lab, 0, 0), QStringLiteral("0C"));
    const QPoint first = dotOrigin(lab, 0, 0, 1, 1);
    QCOMPARE(pixelAt(lab.image(), first.x(), first.y()), QRgb(0xAAAAAA));
}

void TestLcd::bigCustomGlyphsLayOut()
{
    // 200 x 200 dots: code 65 lit on its outline and its main diagonal.
    const int n = 200;
    QByteArray f = fontHeader(n, n, 65, 65);
    for (int r = 0; r < n; ++r)
        for (int d = 0; d < n; ++d)
            f.append(r == 0 || d == 0 || r == n - 1 || d == n - 1 || r == d ? '\0' : '\1');
    TLCDLabel lab;
    lab.setPixelOn(0x0000FF);
    lab.setNoOfChars(2);
    lab.setCaption("AA");
    lab.setfilename(writeFile(QStringLiteral("big.fnt"), f));
    QCOMPARE(lab.DotMatrix(), CustomFont);
    QCOMPARE(lab.GlyphCols(), n);
    QCOMPARE(lab.CellWidth(), n * 2 + (n - 1));
    QCOMPARE(lab.CellHeight(), 599);
    QCOMPARE(lab.size(), QSize(2 * 3 + 2 + 2 * 599 + 2, 2 * 3 + 599 + 2));
    QCOMPARE(lab.image().size(), lab.size());
    const QRgb on = 0xFF0000;
    for (int cell = 0; cell < 2; ++cell) {
        for (auto [row, dot, lit] : {std::tuple{1, 1, true}, {1, n, true}, {n, n, true}, {n, 1, true},
                                     {100, 100, true}, {100, 101, false}, {2, 3, false}, {n - 1, 2, false}}) {
            const QPoint p = dotOrigin(lab, 0, cell, row, dot);
            QCOMPARE(pixelAt(lab.image(), p.x(), p.y()) == on, lit);
            QCOMPARE(pixelAt(lab.image(), p.x() + 1, p.y() + 1) == on, lit);
        }
    }
    // The last dot ends one border space before the frame.
    const QPoint last = dotOrigin(lab, 0, 1, n, n);
    QCOMPARE(last + QPoint(2, 2), QPoint(lab.width() - 4, lab.height() - 4));
    QCOMPARE(pixelAt(lab.image(), last.x() + 2, last.y() + 2), QRgb(0xC0C0C0));

    // A size from outside: cells from the size, then snapped to them.
    lab.resize(700, 1300);
    lab.Paint();
    QCOMPARE(lab.NoOfChars(), 1);
    QCOMPARE(lab.TextLines(), 2);
    QCOMPARE(lab.size(), QSize(6 + 599 + 2, 6 + 2 * 599 + 2 + 2));
    const QPoint second = dotOrigin(lab, 1, 0, n, n);
    QCOMPARE(pixelAt(lab.image(), second.x(), second.y()), on);
}

void TestLcd::unchangedCaptionDoesNotRepaint()
{
    TLCDLabel lab;
    lab.setCaption("12.5");
    const QImage shown = lab.image().copy();
    // Someone resizes the control; only a repaint would snap it back.
    lab.resize(300, 60);
    lab.setCaption("12.5");
    QCOMPARE(lab.size(), QSize(300, 60));
    QCOMPARE(lab.image(), shown);

    lab.setCaption("12.6");
    QCOMPARE(lab.NoOfChars(), (300 - 6 + 2) / 16);
    QCOMPARE(lab.TextLines(), 2);
    QCOMPARE(cellRows(lab, 0, 3), glyphRows(mat5x7, '6'));

    // The comparison is case-sensitive.
    lab.setCaption("ab");
    lab.resize(300, 60);
    lab.setCaption("AB");
    QVERIFY(lab.size() != QSize(300, 60));
}

void TestLcd::captionCutTo255Bytes()
{
    TLCDLabel lab;
    lab.setDotMatrix(dos5x7);
    lab.setNoOfChars(20);
    lab.setTextLines(13);
    QByteArray text;
    for (int i = 0; i < 300; ++i)
        text.append(static_cast<char>('A' + i % 26));
    lab.setCaption(text);
    QCOMPARE(lab.Caption(), text.left(255));
    // Cell 256 (line 12, cell 15) is past the kept text.
    QCOMPARE(cellRows(lab, 12, 14), glyphRows(dos5x7, text.at(254)));
    QCOMPARE(cellRows(lab, 12, 15), glyphRows(dos5x7, 0));
    // The same long text again counts as unchanged.
    lab.resize(50, 50);
    lab.setCaption(text);
    QCOMPARE(lab.size(), QSize(50, 50));
}

void TestLcd::disabledShowsBackgroundAndFrameOnly()
{
    TLCDLabel lab;
    lab.setCaption("8888");
    QVERIFY(countPixels(lab.image(), 0x000000) > 0);
    lab.setEnabled(false);
    QCOMPARE(countPixels(lab.image(), 0x000000), 0);
    QCOMPARE(countPixels(lab.image(), 0xAAAAAA), 0);
    QCOMPARE(pixelAt(lab.image(), 0, 0), rgb(lab, clBtnShadow));
    QCOMPARE(pixelAt(lab.image(), 165, 27), rgb(lab, clBtnHighlight));
    QCOMPARE(countPixels(lab.image(), 0xC0C0C0), 164 * 26);
    lab.setEnabled(true);
    QCOMPARE(cellRows(lab, 0, 3), glyphRows(mat5x7, '8'));
}

void TestLcd::hiddenFillsButtonFace()
{
    QWidget window;
    auto* lab = new TLCDLabel(&window);
    lab->setCaption("1");
    QVERIFY(countPixels(lab->image(), 0x000000) > 0);
    lab->hide();
    const QRgb face = rgb(*lab, clBtnFace);
    QCOMPARE(countPixels(lab->image(), face), 166 * 28);
    lab->show();
    QCOMPARE(cellRows(*lab, 0, 0), glyphRows(mat5x7, '1'));
}

void TestLcd::writesPaintAtOnce()
{
    QWidget window;
    window.resize(320, 120);
    auto* lab = new TLCDLabel(&window);
    lab->move(10, 20);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QCoreApplication::processEvents();
    QCOMPARE(onScreen(*lab), lab->image());

    // From here on no event loop runs: what a write paints must already be
    // on the window's surface when it returns.
    PaintCounter paints(lab);
    lab->setCaption("12.5");
    QCOMPARE(paints.count, 1);
    QCOMPARE(onScreen(*lab), lab->image());
    QCOMPARE(cellRows(*lab, 0, 3), glyphRows(mat5x7, '5'));
    lab->setPixelOn(0x0000FF);
    QCOMPARE(paints.count, 2);
    QCOMPARE(onScreen(*lab), lab->image());
    lab->setNoOfChars(4);
    QCOMPARE(lab->size(), QSize(70, 28));
    QCOMPARE(onScreen(*lab), lab->image());
    lab->setDotMatrix(dos5x7);
    QCOMPARE(onScreen(*lab), lab->image());
    const int before = paints.count;
    RecordingDialogs dialogs;
    lab->setCaption("12.5"); // unchanged: no paint
    lab->setNoOfChars(0);    // rejected: no paint
    QCOMPARE(dialogs.shown.size(), 1);
    QCOMPARE(paints.count, before);

    // A control hidden on purpose has nothing on the screen to paint.
    lab->hide();
    const int hidden = paints.count;
    lab->setCaption("99.9");
    QCOMPARE(paints.count, hidden);
    lab->show();
    QCoreApplication::processEvents();
    QCOMPARE(onScreen(*lab), lab->image());
    QCOMPARE(cellRows(*lab, 0, 0), glyphRows(dos5x7, '9'));
}

void TestLcd::writesBeforeShowPaintLater()
{
    // On a window that is not shown yet there is no surface: the writes
    // compose the display, and showing the window draws it.
    QWidget window;
    auto* lab = new TLCDLabel(&window);
    PaintCounter paints(lab);
    lab->setCaption("-3");
    lab->setPixelShape(spRound);
    lab->setNoOfChars(3);
    QCOMPARE(paints.count, 0);
    QCOMPARE(cellRows(*lab, 0, 0), glyphRows(mat5x7, '-'));
    window.resize(200, 60);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QCoreApplication::processEvents();
    QVERIFY(paints.count >= 1);
    QCOMPARE(onScreen(*lab), lab->image());
}

void TestLcd::extremeValuesStaySafe()
{
    const int huge = std::numeric_limits<int>::max();
    {
        // One cell: the spacing after it never lands in the image.
        TLCDLabel lab;
        lab.setNoOfChars(1);
        lab.setCharSpacing(huge);
        lab.setLineSpacing(huge);
        lab.setCaption("8");
        QCOMPARE(lab.size(), QSize(22, 28));
        QCOMPARE(cellRows(lab, 0, 0), glyphRows(mat5x7, '8'));
    }
    {
        // Sizes beyond what a widget can be are held at the limit, and no
        // image is made for them.
        TLCDLabel lab;
        lab.setPixelSpacing(huge);
        QCOMPARE(lab.width(), QWIDGETSIZE_MAX);
        QVERIFY(lab.image().isNull());
        lab.setPixelSpacing(1);
        QCOMPARE(lab.size(), QSize(166, 28));
        QCOMPARE(lab.image().size(), QSize(166, 28));
    }
}

DSG_TEST_MAIN(TestLcd)
#include "tst_lcd.moc"
