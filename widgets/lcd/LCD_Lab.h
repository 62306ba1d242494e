#pragma once
// TLCDLabel: a simulated liquid-crystal dot-matrix display. Every dot of
// every character cell is drawn on its own, lit dots in PixelOn and unlit
// ones in PixelOff, on a panel with an optional bevelled frame. The control
// sizes itself to its cells; when something else resizes it, the next paint
// derives the cells from the new size and snaps the size to them.
#include "Matrix.h"

#include <QByteArray>
#include <QColor>
#include <QImage>
#include <QString>
#include <QWidget>

#include <cstdint>

// 0x00BBGGRR for an RGB colour, 0x80000000 + index for a system colour.
using TColor = std::uint32_t;

constexpr TColor clBlack = 0x000000;
constexpr TColor clSilver = 0xC0C0C0;
constexpr TColor clBtnFace = 0x8000000F;
constexpr TColor clBtnShadow = 0x80000010;
constexpr TColor clBtnHighlight = 0x80000014;

enum TPixelSize : std::uint8_t {
    pix1x1, pix2x2, pix3x3, pix4x4, pix5x5, pix6x6, pix7x7, pix8x8,
    pix9x9, pix10x10, pix11x11, pix12x12, pix13x13, pix14x14, pix15x15, pix16x16,
    pixCustom
};

enum TPixelShape : std::uint8_t { spSquare, spShaped, spRound };

enum TMyBorder : std::uint8_t { frRaised, frLowered, frSingle, frNone };

using T_FileName = QString;

class TLCDLabel : public QWidget {
    Q_OBJECT

public:
    explicit TLCDLabel(QWidget* owner = nullptr);
    ~TLCDLabel() override;

    // Published properties, in their published order.
    QByteArray Caption() const;
    void setCaption(const QByteArray& value);
    TDotMatrix DotMatrix() const { return FDotMatrix; }
    void setDotMatrix(TDotMatrix value);
    TPixelSize PixelSize() const { return FPixelSize; }
    void setPixelSize(TPixelSize value);
    int PixelSpacing() const { return FPixelSpacing; }
    void setPixelSpacing(int value);
    TPixelShape PixelShape() const { return FPixelShape; }
    void setPixelShape(TPixelShape value);
    int PixelWidth() const { return FPixelWidth; }
    void setPixelWidth(int value);
    int PixelHeight() const { return FPixelHeight; }
    void setPixelHeight(int value);
    int CharSpacing() const { return FCharSpacing; }
    void setCharSpacing(int value);
    int LineSpacing() const { return FLineSpacing; }
    void setLineSpacing(int value);
    int BorderSpace() const { return FBorderSpace; }
    void setBorderSpace(int value);
    int TextLines() const { return FTextLines; }
    void setTextLines(int value);
    int NoOfChars() const { return FNoOfChars; }
    void setNoOfChars(int value);
    TColor BackGround() const { return FBackGround; }
    void setBackGround(TColor value);
    TMyBorder BorderStyle() const { return FBorderStyle; }
    void setBorderStyle(TMyBorder value);
    TColor BorderColor() const { return FBorderColor; }
    void setBorderColor(TColor value);
    TColor PixelOn() const { return FPixelOn; }
    void setPixelOn(TColor value);
    TColor PixelOff() const { return FPixelOff; }
    void setPixelOff(TColor value);
    T_FileName filename() const { return Ffilename; }
    void setfilename(const T_FileName& value);

    // The platform's hint: shown as the tool tip while ShowHint is on.
    QString Hint() const { return FHint; }
    void setHint(const QString& value);
    bool ShowHint() const { return FShowHint; }
    void setShowHint(bool value);

    // Internal state, readable for the window that holds the control and for tests.
    TColor DimColor() const { return FDimColor; }
    int LastWidth() const { return FLastWidth; }
    int LastHeight() const { return FLastHeight; }
    int CellWidth() const { return FCellWidth; }
    int CellHeight() const { return FCellHeight; }
    int DotWidth() const { return FDotWidth; }
    int DotHeight() const { return FDotHeight; }
    int GlyphCols() const { return FGlyphCols; }
    int GlyphRows() const { return FGlyphRows; }
    int FirstCode() const { return FFirstCode; }
    int LastCode() const { return FLastCode; }
    const TCustomFont& customFont() const { return CustomGlyphs; }

    // Lays the control out and composes the whole display off-screen, then
    // copies that image onto the control's surface in one piece, at once.
    void Paint();
    // The last composed display, Width x Height pixels.
    const QImage& image() const { return FImage; }

    // The RGB value a colour stands for, with system colours taken from `palette`.
    static QRgb resolveColor(TColor color, const QPalette& palette);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;
    void setVisible(bool visible) override;

signals:
    void OnClick();
    void OnDblClick();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    void UpdateCodeRange();
    void ResizeToCells();
    void CellsFromSize();
    void DotSizeAndCells();
    void ApplySize();
    void DrawCaption(class QPainter& canvas);
    void DrawGlyph(QPainter& canvas, int x, int y, int code);
    DotState dotAt(int code, int row, int dot) const;
    bool rejectNegative(int value, const char* message);
    bool shownAsVisible() const;
    void buildEllipseSpans();
    void showComposed();

    TPixelSize FPixelSize = pix2x2;
    TPixelShape FPixelShape = spSquare;
    TDotMatrix FDotMatrix = mat5x7;
    int FPixelSpacing = 1;
    int FCharSpacing = 2;
    int FLineSpacing = 2;
    int FBorderSpace = 3;
    int FTextLines = 1;
    int FNoOfChars = 10;
    TColor FBackGround = clSilver;
    TColor FPixelOn = clBlack;
    TColor FPixelOff = 0xAAAAAA;
    TColor FDimColor = clBlack;
    int FPixelWidth = 2;
    int FPixelHeight = 2;
    TMyBorder FBorderStyle = frLowered;
    TColor FBorderColor = clBlack;
    int FLastWidth = 0;
    int FLastHeight = 0;
    int FCellWidth = 0;
    int FCellHeight = 0;
    int FDotWidth = 0;
    int FDotHeight = 0;
    int FGlyphCols = 5;
    int FGlyphRows = 7;
    int FFirstCode = 32;
    int FLastCode = 126;
    T_FileName Ffilename;
    QByteArray CaptionText;
    TCustomFont CustomGlyphs;

    // Width and height the layout asks for; the widget follows them.
    int FWidth = 0;
    int FHeight = 0;
    QImage FImage;
    // PixelOn, PixelOff and DimColor as resolved for the paint in progress.
    QColor FOnColour;
    QColor FOffColour;
    QColor FDimColour;
    bool FComposed = false;
    bool FInPaintEvent = false;
    // Spans (left, right exclusive) of the ellipse inscribed in one dot,
    // one per dot row, for the current dot size.
    std::vector<std::pair<int, int>> FEllipse;
    int FEllipseW = -1;
    int FEllipseH = -1;
    bool FPressed = false;
    QString FHint;
    bool FShowHint = false;
};
