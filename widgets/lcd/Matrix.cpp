#include "Matrix.h"

#include "Errors.h"
#include "MatrixGlyphData.h"

#include <QFile>
#include <QFileInfo>
#include <QIODevice>

#include <algorithm>
#include <new>

namespace {

// Hitachi's own glyphs among the low codes: the ROM has a yen sign where
// ASCII has a backslash and arrows at 126 and 127.
constexpr std::uint8_t HitachiYen[7] = {0x11, 0x0A, 0x1F, 0x04, 0x1F, 0x04, 0x04};
constexpr std::uint8_t HitachiArrowRight[7] = {0x00, 0x04, 0x02, 0x1F, 0x02, 0x04, 0x00};
constexpr std::uint8_t HitachiArrowLeft[7] = {0x00, 0x04, 0x08, 0x1F, 0x08, 0x04, 0x00};

// The mat5x8 glyphs that reach into the eighth row; every other mat5x8
// glyph is its 5 x 7 form with an unlit eighth row.
struct TallGlyph {
    int code;
    std::uint8_t rows[8];
};
constexpr TallGlyph Mat5x8Tall[] = {
    {44, {0x00, 0x00, 0x00, 0x00, 0x00, 0x0C, 0x04, 0x08}},
    {92, {0x10, 0x10, 0x08, 0x08, 0x04, 0x04, 0x02, 0x02}},
    {95, {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x1F}},
    {103, {0x00, 0x00, 0x0F, 0x11, 0x11, 0x0F, 0x01, 0x0E}},
    {106, {0x02, 0x00, 0x06, 0x02, 0x02, 0x02, 0x12, 0x0C}},
    {113, {0x00, 0x00, 0x0D, 0x13, 0x0F, 0x01, 0x03, 0x01}},
    {121, {0x00, 0x00, 0x11, 0x11, 0x11, 0x0F, 0x01, 0x0E}},
    {124, {0x04, 0x04, 0x04, 0x04, 0x04, 0x04, 0x04, 0x04}},
};

// One built-in set as the display reads it: one byte per dot, 1 lit and
// 0 unlit, glyphs in ascending code order from `first`.
struct FlagTable {
    int first = 0;
    int count = 0;
    int cols = 0;
    int rows = 0;
    std::vector<std::uint8_t> flags;

    FlagTable(int first_, int count_, int cols_, int rows_)
        : first(first_), count(count_), cols(cols_), rows(rows_),
          flags(static_cast<std::size_t>(count_) * cols_ * rows_, 0)
    {
    }

    // Writes one glyph from its row masks (leftmost dot = highest used bit).
    template <class Row>
    void put(int code, const Row* masks, int nRows)
    {
        std::uint8_t* g = flags.data() + static_cast<std::size_t>(code - first) * cols * rows;
        for (int r = 0; r < nRows && r < rows; ++r)
            for (int d = 0; d < cols; ++d)
                g[r * cols + d] = (masks[r] >> (cols - 1 - d)) & 1u;
    }

    DotState at(int code, int row, int dot) const
    {
        if (code < first || code >= first + count || row < 1 || row > rows || dot < 1 || dot > cols)
            return DotState::Unlit;
        const std::size_t i =
            (static_cast<std::size_t>(code - first) * rows + (row - 1)) * cols + (dot - 1);
        return flags[i] == 1 ? DotState::Lit : DotState::Unlit;
    }
};

struct Tables {
    FlagTable m5x7{32, 95, 5, 7};
    FlagTable m5x8{32, 95, 5, 8};
    FlagTable m7x9{32, 95, 7, 9};
    FlagTable m9x12{32, 95, 9, 12};
    FlagTable hitachi{32, 192, 5, 7};
    FlagTable hitachi2{194, 30, 5, 10};
    FlagTable dos{0, 256, 5, 7};

    Tables()
    {
        using namespace lcdglyphs;
        for (int c = 32; c <= 126; ++c) {
            const std::uint8_t* g = Font5x7[c - 32];
            m5x7.put(c, g, 7);
            m5x8.put(c, g, 7);
            hitachi.put(c, g, 7);
            dos.put(c, g, 7);
            m7x9.put(c, Mat7x9[c - 32], 9);
            m9x12.put(c, Mat9x12[c - 32], 12);
        }
        for (const TallGlyph& t : Mat5x8Tall)
            m5x8.put(t.code, t.rows, 8);

        hitachi.put(92, HitachiYen, 7);
        hitachi.put(126, HitachiArrowRight, 7);
        hitachi.put(127, HitachiArrowLeft, 7);
        for (int c = 128; c <= 223; ++c)
            hitachi.put(c, HitachiHigh[c - 128], 7);
        for (int c = 194; c <= 223; ++c)
            hitachi2.put(c, Hitachi2Tall[c - 194], 10);

        for (int c = 0; c <= 31; ++c)
            dos.put(c, DosLow[c], 7);
        for (int c = 127; c <= 255; ++c)
            dos.put(c, DosHigh[c - 127], 7);
    }

    const FlagTable* of(TDotMatrix set) const
    {
        switch (set) {
        case mat5x7: return &m5x7;
        case mat5x8: return &m5x8;
        case mat7x9: return &m7x9;
        case mat9x12: return &m9x12;
        case Hitachi: return &hitachi;
        case Hitachi2: return &hitachi2;
        case dos5x7: return &dos;
        case CustomFont: break;
        }
        return nullptr;
    }
};

const Tables& tables()
{
    static const Tables t;
    return t;
}

} // namespace

namespace matrix {

GlyphSize glyphSize(TDotMatrix set)
{
    switch (set) {
    case mat5x7: return {5, 7};
    case mat5x8: return {5, 8};
    case mat7x9: return {7, 9};
    case mat9x12: return {9, 12};
    case Hitachi: return {5, 7};
    case Hitachi2: return {5, 10};
    case dos5x7: return {5, 7};
    case CustomFont: break;
    }
    return {0, 0};
}

CodeRange codeRange(TDotMatrix set)
{
    switch (set) {
    case mat5x7:
    case mat5x8:
    case mat7x9:
    case mat9x12: return {32, 126};
    case Hitachi:
    case Hitachi2: return {32, 223};
    case dos5x7: return {0, 255};
    case CustomFont: break;
    }
    return {0, 0};
}

DotState dotState(TDotMatrix set, int code, int row, int dot)
{
    const Tables& t = tables();
    if (set == Hitachi2) {
        if (code >= 194)
            return t.hitachi2.at(code, row, dot);
        // The low codes sit in the top seven rows of the taller cell.
        if (row > 7)
            return DotState::Unlit;
        return t.hitachi.at(code, row, dot);
    }
    const FlagTable* table = t.of(set);
    return table ? table->at(code, row, dot) : DotState::Unlit;
}

int flagCount(TDotMatrix set)
{
    const FlagTable* table = tables().of(set);
    return table ? static_cast<int>(table->flags.size()) : 0;
}

int totalFlagCount()
{
    int total = 0;
    for (int s = mat5x7; s < CustomFont; ++s)
        total += flagCount(static_cast<TDotMatrix>(s));
    return total;
}

} // namespace matrix

namespace {

[[noreturn]] void readBeyondEnd(QIODevice& device)
{
    device.close();
    throw EInOutError(QStringLiteral("Read beyond end of file"));
}

bool readInt32(QIODevice& device, qint32& value)
{
    unsigned char b[4];
    if (device.read(reinterpret_cast<char*>(b), 4) != 4)
        return false;
    value = static_cast<qint32>(static_cast<quint32>(b[0]) | (static_cast<quint32>(b[1]) << 8) |
                                (static_cast<quint32>(b[2]) << 16) |
                                (static_cast<quint32>(b[3]) << 24));
    return true;
}

} // namespace

bool TCustomFont::LoadCustomFont(const QString& fileName)
{
    if (fileName.isEmpty())
        return false;
    // Only a regular file can be a font: opening a FIFO would block until a
    // writer comes, and a device such as /dev/zero never ends.
    if (!QFileInfo(fileName).isFile())
        return false;
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    return LoadCustomFont(static_cast<QIODevice&>(file));
}

bool TCustomFont::LoadCustomFont(QIODevice& device)
{
    // The header is read whole before anything is taken from it: a file cut
    // inside it, or one declaring sizes the display cannot hold, must not
    // leave half-read or hostile values behind.
    qint32 cols = 0, rows = 0, first = 0, last = 0;
    if (!readInt32(device, cols) || !readInt32(device, rows) || !readInt32(device, first) ||
        !readInt32(device, last))
        readBeyondEnd(device);

    // Both sides are below 2^31, so their product fits in 64 bits.
    const std::int64_t glyphArea = std::int64_t(cols) * std::int64_t(rows);
    if (cols < 1 || rows < 1 || glyphArea > MaxFontBytes / 256 || first < 0 || first > 255 ||
        last < 0 || last > 255) {
        device.close();
        return false;
    }
    GlyphCols = cols;
    GlyphRows = rows;
    FirstCode = first;
    LastCode = last;

    const std::size_t glyphBytes = static_cast<std::size_t>(glyphArea);
    const int glyphsClaimed = last >= first ? last - first + 1 : 0;
    // How many whole glyphs the file holds, where its length is known. A
    // file shorter than its header claims gets buffers only for those, so
    // a few bytes claiming a huge font cannot make the display reserve it.
    int glyphsHeld = glyphsClaimed;
    if (!device.isSequential()) {
        const qint64 rest = std::max<qint64>(0, device.size() - device.pos());
        glyphsHeld = static_cast<int>(
            std::min<qint64>(glyphsClaimed, rest / static_cast<qint64>(glyphBytes)));
    }
    const bool shortFile = glyphsHeld < glyphsClaimed;

    // Emptied and released: a short file leaves the buffers it does not
    // make without memory.
    for (auto& buffer : CustomGlyphs)
        std::vector<std::uint8_t>().swap(buffer);
    try {
        if (shortFile) {
            for (int code = first; code < first + glyphsHeld; ++code)
                CustomGlyphs[static_cast<std::size_t>(code)].assign(glyphBytes, 1);
        } else {
            for (auto& buffer : CustomGlyphs)
                buffer.assign(glyphBytes, 1);
        }
    } catch (const std::bad_alloc&) {
        device.close();
        return false;
    }

    for (int code = first; code < first + glyphsHeld; ++code) {
        std::vector<std::uint8_t>& buffer = CustomGlyphs[static_cast<std::size_t>(code)];
        const qint64 got =
            device.read(reinterpret_cast<char*>(buffer.data()), static_cast<qint64>(glyphBytes));
        if (got != static_cast<qint64>(glyphBytes)) {
            // A glyph read only in part is not shown.
            std::fill(buffer.begin(), buffer.end(), std::uint8_t(1));
            readBeyondEnd(device);
        }
    }
    if (shortFile)
        readBeyondEnd(device);
    device.close();
    return true;
}

void TCustomFont::FreeCustomFont()
{
    for (auto& buffer : CustomGlyphs) {
        if (!buffer.empty()) {
            buffer.clear();
            buffer.shrink_to_fit();
        }
    }
}

DotState TCustomFont::dotState(int code, int row, int dot) const
{
    if (code < 0 || code > 255 || row < 1 || dot < 1 || dot > GlyphCols)
        return DotState::Unlit;
    const std::vector<std::uint8_t>& buffer = CustomGlyphs[static_cast<std::size_t>(code)];
    const std::size_t i = static_cast<std::size_t>(row - 1) * static_cast<std::size_t>(GlyphCols) +
                          static_cast<std::size_t>(dot - 1);
    if (i >= buffer.size())
        return DotState::Unlit;
    switch (buffer[i]) {
    case 0: return DotState::Lit;
    case 1: return DotState::Unlit;
    default: return DotState::KeepPrevious;
    }
}

bool TCustomFont::hasGlyph(int code) const
{
    return code >= 0 && code <= 255 && !CustomGlyphs[static_cast<std::size_t>(code)].empty();
}

std::size_t TCustomFont::allocatedBytes() const
{
    std::size_t total = 0;
    for (const auto& buffer : CustomGlyphs)
        total += buffer.size();
    return total;
}
