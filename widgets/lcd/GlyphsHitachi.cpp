#include "MatrixGlyphData.h"

// Placeholder until the designs are drawn: every dot unlit.
const std::uint8_t lcdglyphs::HitachiHigh[96][7] = {};
