#pragma once
// Custom font files for the tests: the 16-byte header, and writing a file.
#include <QByteArray>
#include <QFile>
#include <QString>
#include <QTemporaryDir>
#include <QtGlobal>

// GlyphCols, GlyphRows, FirstCode, LastCode as 32-bit little-endian words.
inline QByteArray fontHeader(qint32 cols, qint32 rows, qint32 first, qint32 last)
{
    QByteArray h;
    for (qint32 v : {cols, rows, first, last})
        for (int i = 0; i < 4; ++i)
            h.append(static_cast<char>((static_cast<quint32>(v) >> (8 * i)) & 0xFF));
    return h;
}

// Writes `bytes` to `name` in `dir` and returns the path; a test cannot go on
// without it.
inline QString writeTestFile(const QTemporaryDir& dir, const QString& name, const QByteArray& bytes)
{
    const QString path = dir.filePath(name);
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(path));
    return path;
}
