// How long one full repaint of a display takes: layout, composing every dot
// into the off-screen image, and the update request. The main window's
// displays must stay well under 50 microseconds.
#include "LCD_Lab.h"

#include <QApplication>

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
