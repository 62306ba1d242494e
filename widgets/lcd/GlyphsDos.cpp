#include "MatrixGlyphData.h"

// Placeholder until the designs are drawn: every dot unlit.
const std::uint8_t lcdglyphs::DosLow[32][7] = {};
const std::uint8_t lcdglyphs::DosHigh[129][7] = {};
