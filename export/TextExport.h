#pragma once
// The comma-separated text export of the record list.
#include <QByteArray>
#include <QFile>
#include <QString>
#include <cstring>
#include <functional>
#include <memory>
#include <vector>

class QProgressBar;
class QWidget;
class RecordRows;
class TSaveDialog;

// The file's first line, without its line end.
extern const QByteArray TextExportHeader;

// Collects small writes into one buffer and hands it to the file in large
// pieces, so a million short lines cost few system calls. Every hand-over and
// the close are checked: once one fails, the writer stays failed and writes
// nothing more. The caller marks where its lines end (endLine); after a
// failed hand-over the file is cut back to the last such end that reached it
// whole, and closed, so it keeps whole lines only.
class BufferedFileWriter {
public:
    static constexpr qsizetype DefaultCapacity = qsizetype(1) << 18;

    explicit BufferedFileWriter(qsizetype capacity = DefaultCapacity);
    // Closes a file still open, handing over what is buffered first unless a
    // write has failed already.
    ~BufferedFileWriter();
    BufferedFileWriter(const BufferedFileWriter&) = delete;
    BufferedFileWriter& operator=(const BufferedFileWriter&) = delete;

    // Creates the file under exactly this name, replacing one that exists.
    bool open(const QString& path);
    bool append(const char* data, qsizetype size)
    {
        // The common case, a short piece that fits, stays inline.
        if (open_ && size <= capacity_ - used_ && size >= 0) {
            std::memcpy(buffer_.get() + used_, data, size_t(size));
            used_ += size;
            return true;
        }
        return appendSlow(data, size);
    }
    bool append(const QByteArray& bytes) { return append(bytes.constData(), bytes.size()); }

    // Room for `size` bytes in the buffer (handing over what it holds first
    // when needed), to be filled and then taken with commit(size). Nullptr
    // when the writer has failed or `size` exceeds the buffer.
    char* reserve(qsizetype size)
    {
        if (open_ && size <= capacity_ - used_)
            return buffer_.get() + used_;
        return reserveSlow(size);
    }
    void commit(qsizetype size) { used_ += size; }
    // What was appended so far ends a line: a failure never leaves part of
    // what follows in the file.
    void endLine()
    {
        if (open_)
            lineEnds_.push_back(written_ + used_);
    }
    // Hands over the rest and closes; false when that or any earlier write
    // failed.
    bool close();

    bool isOpen() const { return open_; }
    bool failed() const { return failed_; }

private:
    bool appendSlow(const char* data, qsizetype size);
    char* reserveSlow(qsizetype size);
    bool flushBuffer();
    bool writeThrough(const char* data, qint64 size);
    void fail();

    QFile file_;
    std::unique_ptr<char[]> buffer_;
    qsizetype capacity_;
    qsizetype used_ = 0;
    qint64 written_ = 0;            // bytes the file has taken
    qint64 wholeLinesEnd_ = 0;      // end of the last line known to be in the file whole
    std::vector<qint64> lineEnds_;  // line ends after that one, in file offsets
    bool open_ = false; // open and nothing failed: appends are accepted
    bool failed_ = false;
};

// Steps 5 to 8 of the export: creates the file at `path`, writes the header
// and rows 0 to count - 1, each line ended by CR LF, setting `bar` (if any) to
// i after row i, and closes the file. False as soon as the file cannot be
// created or a write or the close fails; the file then keeps the lines that
// reached it whole.
bool WriteRecordRowsToFile(const QString& path, const RecordRows& rows, int count,
                           QProgressBar* bar);

// The whole text export as the main window runs it: asks for the file name
// with the window's `saveDialog`, reports into status-bar panel 0 through
// `setStatus0`, shows the progress window while writing and reports failures
// in error boxes.
void ExportToText(QWidget* parent, TSaveDialog& saveDialog, const RecordRows& rows,
                  const std::function<void(const QString&)>& setStatus0);
