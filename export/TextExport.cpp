#include "TextExport.h"

#include "Dialogs.h"
#include "Fpross.h"
#include "RecordRows.h"

#include <QProgressBar>
#include <cstring>

const QByteArray TextExportHeader =
    QByteArrayLiteral("time,ppt,Compensated Conductivity,UnCompensated Conductivity,Temp");

BufferedFileWriter::BufferedFileWriter(qsizetype capacity)
    : buffer_(new char[size_t(capacity > 0 ? capacity : 1)]), capacity_(capacity > 0 ? capacity : 1)
{
}

BufferedFileWriter::~BufferedFileWriter()
{
    if (file_.isOpen()) {
        if (open_)
            flushBuffer();
        file_.close();
    }
}

bool BufferedFileWriter::open(const QString& path)
{
    if (file_.isOpen())
        file_.close();
    file_.setFileName(path);
    used_ = 0;
    written_ = 0;
    wholeLinesEnd_ = 0;
    lineEnds_.clear();
    failed_ = false;
    // Unbuffered: this class is the only buffer, so a failed write shows up
    // at the call that made it rather than somewhere inside QFile.
    open_ = file_.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered);
    failed_ = !open_;
    return open_;
}

void BufferedFileWriter::fail()
{
    failed_ = true;
    open_ = false;
    used_ = 0;
    // A short write leaves the file ending inside a line: cut it back to the
    // last line end among the bytes it took. (Where the file cannot be cut,
    // a device such as /dev/full, there is nothing more to do.)
    qint64 keep = wholeLinesEnd_;
    for (const qint64 end : lineEnds_) {
        if (end > written_)
            break;
        keep = end;
    }
    lineEnds_.clear();
    if (file_.isOpen()) {
        if (keep < written_)
            file_.resize(keep);
        file_.close();
    }
}

bool BufferedFileWriter::writeThrough(const char* data, qint64 size)
{
    // The file may take part of the bytes before it fails (a full disk, a
    // size limit): count them, so fail() knows where the file ends.
    const qint64 taken = file_.write(data, size);
    if (taken > 0)
        written_ += taken;
    if (taken != size) {
        fail();
        return false;
    }
    // Everything handed over so far is in the file.
    if (!lineEnds_.empty() && lineEnds_.back() <= written_) {
        wholeLinesEnd_ = lineEnds_.back();
        lineEnds_.clear();
    }
    return true;
}

bool BufferedFileWriter::flushBuffer()
{
    if (!open_)
        return false;
    if (used_ == 0)
        return true;
    const qint64 pending = used_;
    used_ = 0;
    return writeThrough(buffer_.get(), pending);
}

bool BufferedFileWriter::appendSlow(const char* data, qsizetype size)
{
    if (!open_)
        return false;
    if (size <= 0)
        return true;
    if (!flushBuffer())
        return false;
    if (size < capacity_) {
        std::memcpy(buffer_.get(), data, size_t(size));
        used_ = size;
        return true;
    }
    // Larger than the whole buffer: hand it over directly.
    return writeThrough(data, size);
}

char* BufferedFileWriter::reserveSlow(qsizetype size)
{
    if (!open_ || size > capacity_ || size < 0)
        return nullptr;
    if (!flushBuffer())
        return nullptr;
    return buffer_.get();
}

bool BufferedFileWriter::close()
{
    if (!file_.isOpen())
        return false;
    const bool flushed = flushBuffer();
    open_ = false;
    file_.close();
    // QFile keeps the error of a failing close().
    if (file_.error() != QFileDevice::NoError)
        failed_ = true;
    return flushed && !failed_;
}

namespace {

// Cells are a few bytes long: copying them with fixed-size moves (overlapping
// when needed, never reading past the source) saves a library call each.
inline char* copyCell(char* to, const char* from, qsizetype n)
{
    if (n >= 8 && n <= 16) {
        std::memcpy(to, from, 8);
        std::memcpy(to + n - 8, from + n - 8, 8);
    } else if (n >= 4 && n < 8) {
        std::memcpy(to, from, 4);
        std::memcpy(to + n - 4, from + n - 4, 4);
    } else if (n > 0) {
        std::memcpy(to, from, size_t(n));
    }
    return to + n;
}

// Up to this many rows the bar moves after every row. Beyond, it moves after
// every (count / ProgressSteps)-th row and after the last: one such step is
// still far below a pixel of the bar, while every move costs a style query
// that would otherwise dominate the export of a long list.
constexpr int ProgressSteps = 4096;

} // namespace

bool WriteRecordRowsToFile(const QString& path, const RecordRows& rows, int count,
                           QProgressBar* bar)
{
    constexpr int Columns = RecordRows::ColumnCount;
    static_assert(Columns == 5, "a line is the caption and four sub-items");
    BufferedFileWriter out;
    if (!out.open(path))
        return false;
    if (!out.append(TextExportHeader) || !out.append("\r\n", 2))
        return false;
    out.endLine();
    const int progressStride = count > ProgressSteps ? count / ProgressSteps : 1;
    int nextProgress = 0;
    for (int i = 0; i < count; ++i) {
        // Each cell is built in place: assigning into reused variables costs
        // more than the rest of the line.
        const QByteArray cells[Columns] = {rows.cell(i, 0), rows.cell(i, 1), rows.cell(i, 2),
                                           rows.cell(i, 3), rows.cell(i, 4)};
        qsizetype lineSize = Columns - 1 + 2; // the commas and CR LF
        for (const QByteArray& cell : cells)
            lineSize += cell.size();
        // No quoting and no conversion: the texts go out as the list holds them.
        if (char* p = out.reserve(lineSize)) {
            for (int column = 0; column < Columns; ++column) {
                if (column > 0)
                    *p++ = ',';
                p = copyCell(p, cells[column].constData(), cells[column].size());
            }
            *p++ = '\r';
            *p = '\n';
            out.commit(lineSize);
            out.endLine();
        } else {
            // A failed writer, or a line longer than the whole buffer.
            bool ok = out.append(cells[0]);
            for (int column = 1; ok && column < Columns; ++column)
                ok = out.append(",", 1) && out.append(cells[column]);
            if (!ok || !out.append("\r\n", 2))
                return false;
            out.endLine();
        }
        if (bar && (i == nextProgress || i == count - 1)) {
            bar->setValue(i);
            nextProgress += progressStride;
        }
    }
    return out.close();
}

void ExportToText(QWidget* parent, TSaveDialog& saveDialog, const RecordRows& rows,
                  const std::function<void(const QString&)>& setStatus0)
{
    const std::optional<QString> fileName = saveDialog.Execute(parent);
    if (!fileName)
        return;

    setStatus0(QStringLiteral("Now Export data to text file ,Please wait...!"));

    // Taken once: nothing below returns to the message loop, so the list
    // cannot change while it is written.
    const int count = rows.rowCount();
    if (count <= 0) {
        ShowErrorBox(QStringLiteral("No data,Can't Export"), parent);
        return;
    }

    ProcessWindowGuard progress(parent);
    progress.window()->ProgressBar1->setMaximum(count - 1);

    if (!WriteRecordRowsToFile(*fileName, rows, count, progress.window()->ProgressBar1)) {
        // Shown while the progress window is still up; the guard removes it
        // once the box is dismissed.
        ShowErrorBox(QStringLiteral("Error in Exporting!"), parent);
        return;
    }

    setStatus0(QStringLiteral("Date export complete!"));
}
