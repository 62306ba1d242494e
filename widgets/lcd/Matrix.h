#pragma once
// Character sets of the LCD display: the built-in glyph tables, the dot
// look-up the display asks for every dot it draws, and custom fonts loaded
// from a font file.
#include <QString>

#include <array>
#include <cstdint>
#include <vector>

class QIODevice;

enum TDotMatrix : std::uint8_t {
    mat5x7 = 0,
    mat5x8 = 1,
    mat7x9 = 2,
    mat9x12 = 3,
    Hitachi = 4,
    Hitachi2 = 5,
    dos5x7 = 6,
    CustomFont = 7
};

// What one dot of a glyph shows. KeepPrevious only comes from custom fonts:
// the dot takes the colour of the dot drawn just before it in the same glyph.
enum class DotState : std::uint8_t { Lit, Unlit, KeepPrevious };

namespace matrix {

struct GlyphSize {
    int cols = 0;
    int rows = 0;
};

struct CodeRange {
    int first = 0;
    int last = 0;
};

// Glyph size (dots per row x rows) of a built-in set; {0, 0} for CustomFont,
// whose size comes from its file.
GlyphSize glyphSize(TDotMatrix set);

// Codes a built-in set can show; {0, 0} for CustomFont.
CodeRange codeRange(TDotMatrix set);

// State of one dot of a built-in set. Rows and dots count from 1. A code,
// row or dot outside the set gives Unlit, so a caller can never read past a
// table. CustomFont is not answered here (see TCustomFont::dotState).
DotState dotState(TDotMatrix set, int code, int row, int dot);

// Dot flags held by a built-in set's own table (glyphs x cols x rows).
// Hitachi2 counts only its 5 x 10 part; the rest it borrows from Hitachi.
int flagCount(TDotMatrix set);
// All built-in tables together.
int totalFlagCount();

} // namespace matrix

// The glyphs of a custom font: a header (glyph size and code range) and one
// buffer per code 0..255, each GlyphCols x GlyphRows bytes row by row
// (0 lit, 1 unlit, anything else keep-previous).
class TCustomFont {
public:
    // Most bytes the 256 glyph buffers of one font may take together. A
    // header asking for more is refused like a file that cannot be opened.
    static constexpr std::int64_t MaxFontBytes = std::int64_t(64) << 20;

    int GlyphCols = 5;
    int GlyphRows = 7;
    int FirstCode = 32;
    int LastCode = 126;

    // Reads a font file. Returns false, silently, when the file cannot be
    // opened (or is not a regular file), its header is outside the limits
    // (sides of at least 1, codes 0..255, all 256 buffers within
    // MaxFontBytes; the header fields are then left as they were) or memory
    // runs out. Throws EInOutError("Read beyond end of file") when the file
    // ends inside the header (no buffers are made) or before its last glyph
    // (buffers are made only for the whole glyphs it holds, so a short file
    // never costs more memory than its own length). The file is closed on
    // every way out.
    bool LoadCustomFont(const QString& fileName);
    // Same, from an open device (used by the file variant and by fuzzing).
    bool LoadCustomFont(QIODevice& device);

    // Releases every glyph buffer.
    void FreeCustomFont();

    // Dot of a loaded glyph, rows and dots from 1. A code without a buffer,
    // or a position outside its buffer, reads as Unlit.
    DotState dotState(int code, int row, int dot) const;

    // Whether the buffer of `code` exists, and the bytes held by all buffers.
    bool hasGlyph(int code) const;
    std::size_t allocatedBytes() const;

private:
    std::array<std::vector<std::uint8_t>, 256> CustomGlyphs;
};
