// Draws every glyph of every built-in LCD character set large on a grid,
// each with its code, one PNG per set: glyphs_<set>.png in the folder given
// as the first argument (default: the current folder).
#include "Matrix.h"

#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>

#include <cstdio>

namespace {

struct SetInfo {
    TDotMatrix set;
    const char* name;
};

constexpr SetInfo Sets[] = {
    {mat5x7, "mat5x7"}, {mat5x8, "mat5x8"},     {mat7x9, "mat7x9"}, {mat9x12, "mat9x12"},
    {Hitachi, "Hitachi"}, {Hitachi2, "Hitachi2"}, {dos5x7, "dos5x7"},
};

constexpr int Dot = 6;
constexpr int Gap = 1;
constexpr int PerLine = 16;
constexpr int Label = 14;
constexpr int Margin = 8;

bool renderSet(const SetInfo& info, const QDir& out)
{
    const matrix::GlyphSize size = matrix::glyphSize(info.set);
    const matrix::CodeRange range = matrix::codeRange(info.set);
    const int count = range.last - range.first + 1;
    const int glyphW = size.cols * (Dot + Gap) - Gap;
    const int glyphH = size.rows * (Dot + Gap) - Gap;
    const int cellW = std::max(glyphW, 24) + 2 * Margin;
    const int cellH = glyphH + Label + 2 * Margin;
    const int lines = (count + PerLine - 1) / PerLine;

    QImage image(PerLine * cellW + 1, lines * cellH + 1, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter p(&image);
    QFont font = p.font();
    font.setPixelSize(11);
    p.setFont(font);
    for (int i = 0; i < count; ++i) {
        const int code = range.first + i;
        const int left = (i % PerLine) * cellW;
        const int top = (i / PerLine) * cellH;
        p.setPen(QColor(200, 200, 200));
        p.drawRect(left, top, cellW, cellH);
        p.setPen(Qt::black);
        p.drawText(QRect(left, top + 2, cellW, Label), Qt::AlignCenter, QString::number(code));
        const int x0 = left + (cellW - glyphW) / 2;
        const int y0 = top + Label + Margin;
        for (int r = 1; r <= size.rows; ++r)
            for (int d = 1; d <= size.cols; ++d) {
                const bool lit = matrix::dotState(info.set, code, r, d) == DotState::Lit;
                p.fillRect(x0 + (d - 1) * (Dot + Gap), y0 + (r - 1) * (Dot + Gap), Dot, Dot,
                           lit ? QColor(20, 20, 20) : QColor(225, 225, 225));
            }
    }
    p.end();
    const QString path = out.filePath(QStringLiteral("glyphs_%1.png").arg(QLatin1String(info.name)));
    if (!image.save(path)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return false;
    }
    std::printf("%s\n", qPrintable(path));
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QDir out(argc > 1 ? QString::fromLocal8Bit(argv[1]) : QDir::currentPath());
    bool ok = true;
    for (const SetInfo& info : Sets)
        ok = renderSet(info, out) && ok;
    return ok ? 0 : 1;
}
