#pragma once
// The glyph designs behind the built-in character sets. Each glyph is written
// as its rows from top to bottom; each row is a mask whose highest used bit
// is the leftmost dot (bit 4 for 5 dots, bit 6 for 7, bit 8 for 9), so the
// 5-dot row 0x11 is lit at both edges and 0x0E in the middle three.
#include <cstdint>

namespace lcdglyphs {

// Codes 32..126: the 5 x 7 design shared by mat5x7, dos5x7 and Hitachi.
extern const std::uint8_t Font5x7[95][7];
// Codes 194..223 of Hitachi2, 5 x 10.
extern const std::uint8_t Hitachi2Tall[30][10];
// Codes 32..126 of mat7x9.
extern const std::uint8_t Mat7x9[95][9];
// Codes 32..126 of mat9x12 (serif design).
extern const std::uint16_t Mat9x12[95][12];
// Codes 128..223 of Hitachi: the HD44780 ROM A00 codes 160..255.
extern const std::uint8_t HitachiHigh[96][7];
// Codes 0..31 and 127..255 of dos5x7: code page 437.
extern const std::uint8_t DosLow[32][7];
extern const std::uint8_t DosHigh[129][7];

} // namespace lcdglyphs
