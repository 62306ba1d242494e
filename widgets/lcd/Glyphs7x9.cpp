#include "MatrixGlyphData.h"

// Placeholder until the designs are drawn: every dot unlit.
const std::uint8_t lcdglyphs::Mat7x9[95][9] = {};
