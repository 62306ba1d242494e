// libFuzzer target: any byte string as a custom font file. The loader must
// refuse, load or raise its read error, never read or allocate out of bounds,
// and a file that raises must not have cost more memory than its own length.
#include "Errors.h"
#include "Matrix.h"

#include <QBuffer>
#include <QByteArray>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <initializer_list>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    QBuffer device(&bytes);
    device.open(QIODevice::ReadOnly);
    TCustomFont font;
    bool raised = false;
    try {
        font.LoadCustomFont(device);
    } catch (const EInOutError&) {
        raised = true;
    }
    if (device.isOpen())
        std::abort();
    if (font.allocatedBytes() > std::size_t(TCustomFont::MaxFontBytes))
        std::abort();
    if (raised && font.allocatedBytes() > size)
        std::abort();
    // Every code, at the edges of its glyph and just outside, must be
    // answerable; small glyphs are swept whole.
    const int cols = font.GlyphCols;
    const int rows = font.GlyphRows;
    const bool sweep = std::int64_t(cols) * rows <= 4096;
    unsigned lit = 0;
    for (int code = -1; code <= 256; ++code) {
        if (sweep) {
            for (int row = 0; row <= rows + 1; ++row)
                for (int dot = 0; dot <= cols + 1; ++dot)
                    lit += font.dotState(code, row, dot) == DotState::Lit;
        } else {
            for (int row : {0, 1, rows / 2, rows, rows + 1})
                for (int dot : {0, 1, cols / 2, cols, cols + 1})
                    lit += font.dotState(code, row, dot) == DotState::Lit;
        }
    }
    return lit == 0xFFFFFFFFu ? 1 : 0;
}
