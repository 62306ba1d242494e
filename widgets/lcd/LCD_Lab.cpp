#include "LCD_Lab.h"

#include "Dialogs.h"

#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QPalette>

#include <algorithm>
#include <limits>

namespace {

// Geometry is computed in 64 bits and kept within what a widget can be, so
// extreme property values give a large display instead of an overflow.
constexpr qint64 MaxSide = QWIDGETSIZE_MAX;
// Beyond this many pixels no image is composed at all (about 256 MB).
constexpr qint64 MaxImagePixels = qint64(1) << 26;

int clampSide(qint64 v)
{
    return static_cast<int>(std::clamp<qint64>(v, 0, MaxSide));
}

int clampCount(qint64 v)
{
    return static_cast<int>(std::clamp<qint64>(v, 1, std::numeric_limits<int>::max()));
}

} // namespace

TLCDLabel::TLCDLabel(QWidget* owner) : QWidget(owner)
{
    // Drawn entirely from the composed image; no native window of its own.
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAttribute(Qt::WA_NoSystemBackground);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    FDimColor = (FPixelOn & 0xFF000000u) | ((FPixelOn >> 1) & 0x007F7F7Fu);
    ResizeToCells();
    Paint();
}

TLCDLabel::~TLCDLabel()
{
    CustomGlyphs.FreeCustomFont();
}

QRgb TLCDLabel::resolveColor(TColor color, const QPalette& palette)
{
    if ((color & 0xFF000000u) == 0x80000000u) {
        QPalette::ColorRole role = QPalette::NoRole;
        QPalette::ColorGroup group = QPalette::Active;
        switch (color & 0xFFu) {
        case 0: role = QPalette::Button; break;           // scroll bar
        case 1: role = QPalette::Window; break;           // desktop
        case 2: role = QPalette::Highlight; break;        // active caption
        case 3: role = QPalette::Highlight; group = QPalette::Inactive; break;
        case 4: role = QPalette::Window; break;           // menu
        case 5: role = QPalette::Base; break;             // window
        case 6: role = QPalette::Shadow; break;           // window frame
        case 7: role = QPalette::WindowText; break;       // menu text
        case 8: role = QPalette::Text; break;             // window text
        case 9: role = QPalette::HighlightedText; break;  // caption text
        case 10: role = QPalette::Window; break;          // active border
        case 11: role = QPalette::Window; break;          // inactive border
        case 12: role = QPalette::Mid; break;             // application workspace
        case 13: role = QPalette::Highlight; break;
        case 14: role = QPalette::HighlightedText; break;
        case 15: role = QPalette::Button; break;          // clBtnFace
        case 16: role = QPalette::Dark; break;            // clBtnShadow
        case 17: role = QPalette::Text; group = QPalette::Disabled; break;
        case 18: role = QPalette::ButtonText; break;
        case 19: role = QPalette::WindowText; group = QPalette::Inactive; break;
        case 20: role = QPalette::Light; break;           // clBtnHighlight
        case 21: role = QPalette::Shadow; break;          // 3D dark shadow
        case 22: role = QPalette::Midlight; break;        // 3D light
        case 23: role = QPalette::ToolTipText; break;
        case 24: role = QPalette::ToolTipBase; break;
        default: break;
        }
        if (role == QPalette::NoRole)
            return qRgb(0, 0, 0);
        return palette.color(group, role).rgb();
    }
    return qRgb(color & 0xFF, (color >> 8) & 0xFF, (color >> 16) & 0xFF);
}

// ---------------------------------------------------------------------------
// Property writes

bool TLCDLabel::rejectNegative(int value, const char* message)
{
    if (value >= 0)
        return false;
    Dialogs::instance().message(this, QStringLiteral("Error"), QString::fromLatin1(message),
                                Dialogs::Icon::Error, Dialogs::Buttons::Ok);
    return true;
}

QByteArray TLCDLabel::Caption() const
{
    // The text as the display reads it: up to its first zero byte.
    const qsizetype end = CaptionText.indexOf('\0');
    return end < 0 ? CaptionText : CaptionText.left(end);
}

void TLCDLabel::setCaption(const QByteArray& value)
{
    // The acquisition writes every display on every tick: an unchanged text
    // must cost nothing.
    const QByteArray text = value.left(255);
    if (text == Caption())
        return;
    CaptionText = text;
    Paint();
}

void TLCDLabel::setDotMatrix(TDotMatrix value)
{
    const TDotMatrix fallback = FDotMatrix == CustomFont ? mat5x7 : FDotMatrix;
    FDotMatrix = value;
    if (value == CustomFont) {
        if (Ffilename.isEmpty()) {
            FDotMatrix = fallback;
        } else {
            CustomGlyphs.FreeCustomFont();
            // A file cut inside its header leaves the geometry as it was.
            CustomGlyphs.GlyphCols = FGlyphCols;
            CustomGlyphs.GlyphRows = FGlyphRows;
            CustomGlyphs.FirstCode = FFirstCode;
            CustomGlyphs.LastCode = FLastCode;
            bool loaded = false;
            try {
                loaded = CustomGlyphs.LoadCustomFont(Ffilename);
            } catch (...) {
                // The display stays on the custom font with what was read, so
                // it shows that before the error goes to the writer.
                FGlyphCols = CustomGlyphs.GlyphCols;
                FGlyphRows = CustomGlyphs.GlyphRows;
                FFirstCode = CustomGlyphs.FirstCode;
                FLastCode = CustomGlyphs.LastCode;
                Paint();
                throw;
            }
            if (loaded) {
                FGlyphCols = CustomGlyphs.GlyphCols;
                FGlyphRows = CustomGlyphs.GlyphRows;
                FFirstCode = CustomGlyphs.FirstCode;
                FLastCode = CustomGlyphs.LastCode;
            } else {
                FDotMatrix = fallback;
            }
        }
    }
    Paint();
}

void TLCDLabel::setPixelSize(TPixelSize value)
{
    if (value == FPixelSize)
        return;
    FPixelSize = value;
    Paint();
}

void TLCDLabel::setPixelSpacing(int value)
{
    if (value == FPixelSpacing || rejectNegative(value, "Pixel spacing can't be less than zero!"))
        return;
    FPixelSpacing = value;
    Paint();
}

void TLCDLabel::setPixelShape(TPixelShape value)
{
    if (value == FPixelShape)
        return;
    FPixelShape = value;
    Paint();
}

void TLCDLabel::setPixelWidth(int value)
{
    if (FPixelSize != pixCustom || value == FPixelWidth)
        return;
    if (value < 1) {
        Dialogs::instance().message(this, QStringLiteral("Error"),
                                    QStringLiteral("Display pixel width must be 1 or greater!"),
                                    Dialogs::Icon::Error, Dialogs::Buttons::Ok);
        return;
    }
    FPixelWidth = value;
    Paint();
}

void TLCDLabel::setPixelHeight(int value)
{
    if (FPixelSize != pixCustom || value == FPixelHeight)
        return;
    if (value < 1) {
        Dialogs::instance().message(this, QStringLiteral("Error"),
                                    QStringLiteral("Display pixel height must be 1 or greate!"),
                                    Dialogs::Icon::Error, Dialogs::Buttons::Ok);
        return;
    }
    FPixelHeight = value;
    Paint();
}

void TLCDLabel::setCharSpacing(int value)
{
    if (value == FCharSpacing || rejectNegative(value, "Character spacing can't be less than zero!"))
        return;
    FCharSpacing = value;
    Paint();
}

void TLCDLabel::setLineSpacing(int value)
{
    if (value == FLineSpacing || rejectNegative(value, "Line spacing can't be less than zero!"))
        return;
    FLineSpacing = value;
    Paint();
}

void TLCDLabel::setBorderSpace(int value)
{
    if (value == FBorderSpace || rejectNegative(value, "Border spacing can't be less than zero!"))
        return;
    FBorderSpace = value;
    Paint();
}

void TLCDLabel::setTextLines(int value)
{
    if (value == FTextLines)
        return;
    if (value < 1) {
        Dialogs::instance().message(this, QStringLiteral("Error"),
                                    QStringLiteral("Display needs at least on line!"),
                                    Dialogs::Icon::Error, Dialogs::Buttons::Ok);
        return;
    }
    FTextLines = value;
    Paint();
}

void TLCDLabel::setNoOfChars(int value)
{
    if (value == FNoOfChars)
        return;
    if (value < 1) {
        Dialogs::instance().message(this, QStringLiteral("Error"),
                                    QStringLiteral("Display needs at least one character!"),
                                    Dialogs::Icon::Error, Dialogs::Buttons::Ok);
        return;
    }
    FNoOfChars = value;
    Paint();
}

void TLCDLabel::setBackGround(TColor value)
{
    if (value == FBackGround)
        return;
    FBackGround = value;
    Paint();
}

void TLCDLabel::setBorderStyle(TMyBorder value)
{
    if (value == FBorderStyle)
        return;
    FBorderStyle = value;
    Paint();
}

void TLCDLabel::setBorderColor(TColor value)
{
    if (value == FBorderColor)
        return;
    FBorderColor = value;
    Paint();
}

void TLCDLabel::setPixelOn(TColor value)
{
    if (value == FPixelOn)
        return;
    FPixelOn = value;
    FDimColor = (FPixelOn & 0xFF000000u) | ((FPixelOn >> 1) & 0x007F7F7Fu);
    Paint();
}

void TLCDLabel::setPixelOff(TColor value)
{
    if (value == FPixelOff)
        return;
    FPixelOff = value;
    Paint();
}

void TLCDLabel::setfilename(const T_FileName& value)
{
    Ffilename = value;
    setDotMatrix(CustomFont);
    Paint();
}

void TLCDLabel::setHint(const QString& value)
{
    FHint = value;
    setToolTip(FShowHint ? FHint : QString());
}

void TLCDLabel::setShowHint(bool value)
{
    FShowHint = value;
    setToolTip(FShowHint ? FHint : QString());
}

// ---------------------------------------------------------------------------
// Layout

void TLCDLabel::UpdateCodeRange()
{
    if (FDotMatrix == CustomFont)
        return;
    const matrix::CodeRange range = matrix::codeRange(FDotMatrix);
    FFirstCode = range.first;
    FLastCode = range.last;
}

void TLCDLabel::DotSizeAndCells()
{
    if (FPixelSize != pixCustom) {
        FDotWidth = FDotHeight = static_cast<int>(FPixelSize) + 1;
        FPixelWidth = FPixelHeight = FDotWidth;
    } else {
        FDotWidth = FPixelWidth;
        FDotHeight = FPixelHeight;
    }
    if (FDotMatrix != CustomFont) {
        const matrix::GlyphSize size = matrix::glyphSize(FDotMatrix);
        FGlyphCols = size.cols;
        FGlyphRows = size.rows;
    }
    FCellWidth = clampSide(qint64(FGlyphCols) * FDotWidth + qint64(FGlyphCols - 1) * FPixelSpacing);
    FCellHeight =
        clampSide(qint64(FGlyphRows) * FDotHeight + qint64(FGlyphRows - 1) * FPixelSpacing);
}

void TLCDLabel::ApplySize()
{
    FWidth = clampSide(2 * qint64(FBorderSpace) + qint64(FNoOfChars - 1) * FCharSpacing +
                       qint64(FNoOfChars) * FCellWidth + 2);
    FHeight = clampSide(2 * qint64(FBorderSpace) + qint64(FTextLines - 1) * FLineSpacing +
                        qint64(FTextLines) * FCellHeight + 2);
    FLastWidth = FWidth;
    FLastHeight = FHeight;
    if (size() != QSize(FWidth, FHeight)) {
        resize(FWidth, FHeight);
        updateGeometry();
    }
}

void TLCDLabel::ResizeToCells()
{
    DotSizeAndCells();
    ApplySize();
}

void TLCDLabel::CellsFromSize()
{
    DotSizeAndCells();
    // Truncating division; the frame's two pixels are deliberately left in,
    // which is why the snapped size can come out slightly larger.
    const qint64 charStep = qint64(FCellWidth) + FCharSpacing;
    const qint64 lineStep = qint64(FCellHeight) + FLineSpacing;
    if (charStep > 0)
        FNoOfChars = clampCount((qint64(width()) - 2 * qint64(FBorderSpace) + FCharSpacing) / charStep);
    if (lineStep > 0)
        FTextLines =
            clampCount((qint64(height()) - 2 * qint64(FBorderSpace) + FLineSpacing) / lineStep);
    ApplySize();
}

// ---------------------------------------------------------------------------
// Drawing

bool TLCDLabel::shownAsVisible() const
{
    // Visible unless hidden on purpose: a control on a window that is not
    // shown yet still composes its display.
    return !(testAttribute(Qt::WA_WState_ExplicitShowHide) && testAttribute(Qt::WA_WState_Hidden));
}

void TLCDLabel::Paint()
{
    const bool resized = width() != FLastWidth || height() != FLastHeight;
    UpdateCodeRange();
    if (resized)
        CellsFromSize();
    else
        ResizeToCells();

    FComposed = true;
    if (FWidth < 1 || FHeight < 1 || qint64(FWidth) * FHeight > MaxImagePixels) {
        FImage = QImage();
        showComposed();
        return;
    }
    if (FImage.width() != FWidth || FImage.height() != FHeight)
        FImage = QImage(FWidth, FHeight, QImage::Format_RGB32);
    if (FImage.isNull()) {
        showComposed();
        return;
    }

    const QPalette& pal = palette();
    QPainter canvas(&FImage);
    canvas.setRenderHint(QPainter::Antialiasing, false);
    if (shownAsVisible()) {
        const int w = FWidth;
        const int h = FHeight;
        canvas.fillRect(0, 0, w, h, QColor::fromRgb(resolveColor(FBackGround, pal)));
        auto frameRect = [&](QRgb c) {
            const QColor colour = QColor::fromRgb(c);
            canvas.fillRect(0, 0, w, 1, colour);
            canvas.fillRect(0, h - 1, w, 1, colour);
            canvas.fillRect(0, 0, 1, h, colour);
            canvas.fillRect(w - 1, 0, 1, h, colour);
        };
        // The line from (w, 0) through (0, 0) to (0, h) ends before its last
        // point, so it covers all of row 0 and column 0, both corners included.
        auto topLeftLine = [&](QRgb c) {
            const QColor colour = QColor::fromRgb(c);
            canvas.fillRect(0, 0, w, 1, colour);
            canvas.fillRect(0, 0, 1, h, colour);
        };
        switch (FBorderStyle) {
        case frRaised:
            frameRect(resolveColor(clBtnShadow, pal));
            topLeftLine(resolveColor(clBtnHighlight, pal));
            break;
        case frLowered:
            frameRect(resolveColor(clBtnHighlight, pal));
            topLeftLine(resolveColor(clBtnShadow, pal));
            break;
        case frSingle:
            frameRect(resolveColor(FBorderColor, pal));
            break;
        case frNone:
            break;
        }
        if (isEnabled()) {
            FOnColour = QColor::fromRgb(resolveColor(FPixelOn, pal));
            FOffColour = QColor::fromRgb(resolveColor(FPixelOff, pal));
            FDimColour = QColor::fromRgb(resolveColor(FDimColor, pal));
            DrawCaption(canvas);
        }
    } else {
        FImage.fill(QColor::fromRgb(resolveColor(clBtnFace, pal)));
    }
    canvas.end();
    showComposed();
}

void TLCDLabel::showComposed()
{
    // A write shows on the screen before it returns, not when the event loop
    // next runs. A control that is not on the screen (hidden, or on a window
    // not shown yet) has no surface to paint: Qt skips the repaint, and the
    // image composed here is what its first paint event draws. Inside a
    // paint event the image is drawn right after, and a nested repaint would
    // recurse.
    if (!FInPaintEvent)
        repaint();
}

void TLCDLabel::DrawCaption(QPainter& canvas)
{
    if (FPixelShape != spSquare)
        buildEllipseSpans();
    // Positions in 64 bits: extreme spacings must not wrap around.
    const qint64 left = qint64(FBorderSpace) + 1;
    qint64 x = left;
    qint64 y = left;
    qsizetype pos = 0;
    bool ended = false;
    for (int line = 0; line < FTextLines; ++line) {
        if (y >= FHeight)
            break; // the rest would fall outside the image
        for (int cell = 0; cell < FNoOfChars; ++cell) {
            int code = 0;
            if (!ended) {
                if (pos >= CaptionText.size() || CaptionText.at(pos) == '\0')
                    ended = true;
                else
                    code = static_cast<unsigned char>(CaptionText.at(pos));
            }
            code = std::clamp(code, FFirstCode, std::max(FFirstCode, FLastCode));
            ++pos;
            if (x >= FWidth) {
                // The rest of the line falls outside the image.
                pos += FNoOfChars - 1 - cell;
                break;
            }
            DrawGlyph(canvas, static_cast<int>(x), static_cast<int>(y), code);
            x += qint64(FCellWidth) + FCharSpacing;
        }
        y += qint64(FCellHeight) + FLineSpacing;
        x = left;
    }
}

DotState TLCDLabel::dotAt(int code, int row, int dot) const
{
    if (FDotMatrix == CustomFont)
        return CustomGlyphs.dotState(code, row, dot);
    return matrix::dotState(FDotMatrix, code, row, dot);
}

namespace {

// Whether pixel (i, j) of a w x h dot belongs to the ellipse inscribed in the
// dot: its centre must lie inside the ellipse drawn an eighth of a pixel
// within the dot's edges. The inset is what gives a 3 x 3 dot its round
// corners (their centres lie at 0.94 of the radius, inside the true ellipse);
// larger dots keep the outline of the true ellipse. In units of an eighth of
// a pixel the test is exact, and the two sides can never be equal (the
// right-hand side is odd), so no pixel sits on the boundary.
bool insideEllipse(qint64 i, qint64 j, qint64 w, qint64 h)
{
    const qint64 x = 2 * i + 1 - w; // twice the offset from the centre
    const qint64 y = 2 * j + 1 - h;
    const qint64 a = 4 * w - 1;     // eight times the semi-axes
    const qint64 b = 4 * h - 1;
    if (w <= 4096 && h <= 4096)
        return 16 * x * x * b * b + 16 * y * y * a * a < a * a * b * b;
    const double u = 4.0 * double(x) / double(a);
    const double v = 4.0 * double(y) / double(b);
    return u * u + v * v < 1.0;
}

} // namespace

void TLCDLabel::buildEllipseSpans()
{
    if (FEllipseW == FDotWidth && FEllipseH == FDotHeight)
        return;
    // One span per dot row (left, right exclusive), symmetric about the
    // dot's middle; a row the ellipse does not reach stays empty.
    FEllipseW = FDotWidth;
    FEllipseH = FDotHeight;
    FEllipse.assign(static_cast<std::size_t>(std::max(0, FDotHeight)), {0, 0});
    const qint64 w = FDotWidth;
    const qint64 h = FDotHeight;
    if (w < 1)
        return;
    const qint64 middle = (w - 1) / 2; // a pixel nearest the vertical axis
    for (qint64 j = 0; j < h; ++j) {
        if (!insideEllipse(middle, j, w, h))
            continue;
        // Leftmost pixel inside: the test only grows towards the middle.
        qint64 lo = 0;
        qint64 hi = middle;
        while (lo < hi) {
            const qint64 mid = lo + (hi - lo) / 2;
            if (insideEllipse(mid, j, w, h))
                hi = mid;
            else
                lo = mid + 1;
        }
        FEllipse[static_cast<std::size_t>(j)] = {int(lo), int(w - lo)};
    }
}

void TLCDLabel::DrawGlyph(QPainter& canvas, int x, int y, int code)
{
    if (FGlyphRows < 1)
        return;
    const QColor& onColour = FOnColour;
    const QColor& offColour = FOffColour;
    const QColor& dimColour = FDimColour;

    auto ellipse = [&](int dx, int dy, const QColor& colour) {
        for (int j = 0; j < FDotHeight; ++j) {
            const auto [from, to] = FEllipse[static_cast<std::size_t>(j)];
            if (to > from)
                canvas.fillRect(dx + from, dy + j, to - from, 1, colour);
        }
    };

    // A keep-previous dot at the start of a glyph has nothing before it; it
    // shows unlit.
    TColor previous = FPixelOff;
    qint64 dy = y;
    for (int row = 1; row <= FGlyphRows; ++row) {
        if (dy >= FHeight)
            break;
        qint64 dx = x;
        for (int dot = 1; dot <= FGlyphCols; ++dot) {
            TColor colour;
            switch (dotAt(code, row, dot)) {
            case DotState::Lit: colour = FPixelOn; break;
            case DotState::Unlit: colour = FPixelOff; break;
            default: colour = previous; break;
            }
            previous = colour;
            const QColor& paint = colour == FPixelOn ? onColour : offColour;
            if (dx >= FWidth) {
                dx += qint64(FDotWidth) + FPixelSpacing;
                continue;
            }
            switch (FPixelShape) {
            case spSquare:
                canvas.fillRect(int(dx), int(dy), FDotWidth, FDotHeight, paint);
                break;
            case spShaped:
                if (colour == FPixelOn) {
                    canvas.fillRect(int(dx), int(dy), FDotWidth, FDotHeight, dimColour);
                    ellipse(int(dx), int(dy), onColour);
                } else {
                    canvas.fillRect(int(dx), int(dy), FDotWidth, FDotHeight, paint);
                }
                break;
            case spRound:
                ellipse(int(dx), int(dy), paint);
                break;
            }
            dx += qint64(FDotWidth) + FPixelSpacing;
        }
        dy += qint64(FDotHeight) + FPixelSpacing;
    }
}

// ---------------------------------------------------------------------------
// Widget plumbing

QSize TLCDLabel::sizeHint() const
{
    return {FLastWidth, FLastHeight};
}

QSize TLCDLabel::minimumSizeHint() const
{
    return sizeHint();
}

void TLCDLabel::setVisible(bool visible)
{
    const bool was = shownAsVisible();
    QWidget::setVisible(visible);
    if (shownAsVisible() != was)
        Paint();
}

void TLCDLabel::paintEvent(QPaintEvent* event)
{
    // Someone else resized the control since the last layout: the size now
    // decides the cells.
    if (!FComposed || width() != FLastWidth || height() != FLastHeight) {
        FInPaintEvent = true;
        Paint();
        FInPaintEvent = false;
    }
    if (FImage.isNull())
        return;
    QPainter p(this);
    const QRect r = event->rect() & QRect(0, 0, FImage.width(), FImage.height());
    p.drawImage(r.topLeft(), FImage, r);
}

void TLCDLabel::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    if (width() != FLastWidth || height() != FLastHeight)
        update();
}

void TLCDLabel::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::EnabledChange || event->type() == QEvent::PaletteChange)
        Paint();
}

void TLCDLabel::mousePressEvent(QMouseEvent* event)
{
    FPressed = event->button() == Qt::LeftButton;
    QWidget::mousePressEvent(event);
}

void TLCDLabel::mouseReleaseEvent(QMouseEvent* event)
{
    const bool click = FPressed && event->button() == Qt::LeftButton && rect().contains(event->position().toPoint());
    FPressed = false;
    QWidget::mouseReleaseEvent(event);
    if (click)
        emit OnClick();
}

void TLCDLabel::mouseDoubleClickEvent(QMouseEvent* event)
{
    QWidget::mouseDoubleClickEvent(event);
    if (event->button() == Qt::LeftButton)
        emit OnDblClick();
}
