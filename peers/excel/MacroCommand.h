#pragma once
// The macro commands the spreadsheet understands, parsed once, in front of
// every place a sheet can live (see SheetSink.h).
#include <QString>
#include <optional>

namespace macro {

// The grid a 1997 workbook offers; nothing is written or selected outside.
inline constexpr int MaxRow = 65536;
inline constexpr int MaxCol = 256;

inline bool onGrid(int row, int col)
{
    return row >= 1 && col >= 1 && row <= MaxRow && col <= MaxCol;
}

// One coordinate of a SELECT: kept, moved by n, or set to n.
struct Coordinate {
    enum class Mode { Keep, By, To };
    Mode mode = Mode::Keep;
    int n = 0;
    int applyTo(int from) const { return mode == Mode::By ? from + n : mode == Mode::To ? n : from; }
};

struct Command {
    enum class Kind { Formula, Select, Error, Quit };
    Kind kind = Kind::Formula;
    // Formula: the value, whether it is a text constant (unquoted already),
    // and the cell; row 0 means the active cell.
    QString value;
    bool text = false;
    int row = 0;
    int col = 0;
    // Select
    Coordinate toRow;
    Coordinate toCol;
    // Error: 0 = macro errors do not interrupt
    int error = 0;
};

// "[FORMULA(value, "RrCc")]", "[FORMULA(value)]", "[SELECT("R[n]C[m]")]"
// and its absolute forms, "[ERROR(n)]", "[QUIT()]". Nothing for a command
// that is not understood, or whose address is malformed or off the grid.
std::optional<Command> parse(const QString& command);

} // namespace macro
