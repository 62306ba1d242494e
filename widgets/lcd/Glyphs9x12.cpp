#include "MatrixGlyphData.h"

// Placeholder until the designs are drawn: every dot unlit.
const std::uint16_t lcdglyphs::Mat9x12[95][12] = {};
