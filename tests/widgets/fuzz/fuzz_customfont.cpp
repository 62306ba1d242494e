// libFuzzer target: any byte string as a custom font file. The loader must
// refuse, load or raise its read error, never read or allocate out of bounds.
#include "Errors.h"
#include "Matrix.h"

#include <QBuffer>
#include <QByteArray>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    QBuffer device(&bytes);
    device.open(QIODevice::ReadOnly);
    TCustomFont font;
    try {
        font.LoadCustomFont(device);
    } catch (const EInOutError&) {
    }
    if (font.allocatedBytes() > std::size_t(256) * 64 * 64)
        std::abort();
    // Every position of every code, including ones just outside, must be
    // answerable.
    unsigned lit = 0;
    for (int code = -1; code <= 256; ++code)
        for (int row = 0; row <= font.GlyphRows + 1; ++row)
            for (int dot = 0; dot <= font.GlyphCols + 1; ++dot)
                lit += font.dotState(code, row, dot) == DotState::Lit;
    return lit == 0xFFFFFFFFu ? 1 : 0;
}
