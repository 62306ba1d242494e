// How long one full repaint of a display takes: layout, composing every dot
// into the off-screen image, and the update request. The main window's
// displays must stay well under 50 microseconds.
#include "LCD_Lab.h"

#include <QApplication>
#include <QFile>
#include <QTemporaryDir>
#include <QWidget>

#include <benchmark/benchmark.h>

namespace {

void repaint(benchmark::State& state, TDotMatrix set, TPixelSize size, int chars, int lines,
             const char* caption, TPixelShape shape = spSquare)
{
    TLCDLabel lab;
    lab.setDotMatrix(set);
    lab.setPixelSize(size);
    lab.setPixelShape(shape);
    lab.setNoOfChars(chars);
    lab.setTextLines(lines);
    lab.setCaption(caption);
    for (auto _ : state) {
        lab.Paint();
        benchmark::DoNotOptimize(lab.image().constBits());
    }
    state.counters["dots"] = double(chars) * lines * lab.GlyphCols() * lab.GlyphRows();
}

// A main-window reading display.
void BM_Mat5x7_8cells_pix2x2(benchmark::State& state)
{
    repaint(state, mat5x7, pix2x2, 8, 1, "35.127");
}
BENCHMARK(BM_Mat5x7_8cells_pix2x2);

void BM_Dos5x7_5cells_pix3x3(benchmark::State& state)
{
    repaint(state, dos5x7, pix3x3, 5, 1, "25.1\xF8");
}
BENCHMARK(BM_Dos5x7_5cells_pix3x3);

void BM_Mat9x12_40x4_pix3x3(benchmark::State& state)
{
    repaint(state, mat9x12, pix3x3, 40, 4,
            "The quick brown fox jumps over the lazy dog 0123456789 !\"#$%&'()*+,-./:;<=>?@[]^_`{|}~");
}
BENCHMARK(BM_Mat9x12_40x4_pix3x3);

void BM_Mat5x7_8cells_pix4x4_shaped(benchmark::State& state)
{
    repaint(state, mat5x7, pix4x4, 8, 1, "35.127", spShaped);
}
BENCHMARK(BM_Mat5x7_8cells_pix4x4_shaped);

// The acquisition writes every display on every tick; most writes are unchanged.
void BM_UnchangedCaption(benchmark::State& state)
{
    TLCDLabel lab;
    lab.setNoOfChars(8);
    lab.setCaption("35.127");
    const QByteArray same("35.127");
    for (auto _ : state)
        lab.setCaption(same);
}
BENCHMARK(BM_UnchangedCaption);

// A caption write on a display that is on the screen: layout, composing and
// the synchronous repaint onto the window's surface.
void BM_CaptionWriteShown(benchmark::State& state)
{
    QWidget window;
    window.resize(200, 60);
    auto* lab = new TLCDLabel(&window);
    lab->setNoOfChars(8);
    window.show();
    QApplication::processEvents();
    const QByteArray texts[2] = {"35.127", "35.128"};
    int i = 0;
    for (auto _ : state)
        lab->setCaption(texts[i ^= 1]);
}
BENCHMARK(BM_CaptionWriteShown);

// Two cells of a 200 x 200 custom font, one screen pixel per dot: 80,000
// dots per repaint.
void BM_CustomFont200x200(benchmark::State& state)
{
    const int n = 200;
    QByteArray f;
    for (qint32 v : {n, n, 65, 66})
        for (int b = 0; b < 4; ++b)
            f.append(static_cast<char>((static_cast<quint32>(v) >> (8 * b)) & 0xFF));
    for (int code = 65; code <= 66; ++code)
        for (int r = 0; r < n; ++r)
            for (int d = 0; d < n; ++d)
                f.append((r + d + code) % 3 == 0 ? '\0' : '\1');
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("big.fnt"));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(f) != f.size()) {
        state.SkipWithError("cannot write the font file");
        return;
    }
    file.close();
    TLCDLabel lab;
    lab.setPixelSize(pix1x1);
    lab.setNoOfChars(2);
    lab.setCaption("AB");
    lab.setfilename(path);
    if (lab.DotMatrix() != CustomFont) {
        state.SkipWithError("font not loaded");
        return;
    }
    for (auto _ : state) {
        lab.Paint();
        benchmark::DoNotOptimize(lab.image().constBits());
    }
    state.counters["dots"] = 2.0 * n * n;
}
BENCHMARK(BM_CustomFont200x200)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
