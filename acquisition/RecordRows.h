#pragma once
// Read access to the record list's rows, as the exports see them: column 0
// is a row's caption (its time), columns 1 to 4 its sub-items 0 to 3. The
// texts are the 8-bit bytes the list holds, in the local 8-bit encoding.
#include <QByteArray>

class RecordRows {
public:
    static constexpr int ColumnCount = 5;

    virtual ~RecordRows() = default;
    virtual int rowCount() const = 0;
    virtual QByteArray cell(int row, int column) const = 0;
};
