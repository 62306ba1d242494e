#pragma once
// A test's own view into LibreOffice Calc, over a bridge of its own (not the
// stand-in's code): it reads what landed in a sheet, moves the selection,
// opens, brings to the front and closes documents, and types into cells as
// a user would.
#include <QList>
#include <QString>
#include <QStringList>
#include <memory>
#include <optional>

class CalcProbe {
public:
    struct Cell {
        char kind = 'E'; // 'E' empty, 'T' text, 'V' number, 'F' formula
        QString text;    // the text shown, or the formula
        double value = 0;
        bool time = false; // shown in a time format
    };

    explicit CalcProbe(QString pipeName);
    ~CalcProbe();

    // Retries for up to `timeoutMs` while LibreOffice comes up.
    bool connect(int timeoutMs, QString* why);
    // Calc documents open in that LibreOffice.
    int documents();

    // `document` is a document's title; empty: the first Calc document.
    // Cells are those of the document's active sheet, counted from 1.
    Cell cell(int row, int col, const QString& document = {});
    // "[document title]sheet name"
    QString documentAndSheet(const QString& document = {});
    void select(int row, int col, const QString& document = {});
    // Enters `text` into a cell as Calc's input line takes a formula or a
    // number ("" empties it).
    void setFormula(int row, int col, const QString& text, const QString& document = {});
    // A text cell, as a user types a text.
    void setText(int row, int col, const QString& text, const QString& document = {});
    // A new Calc document (hidden, as LibreOffice runs headless), brought to
    // the front as the user's click on its window would; its title.
    QString newDocument();
    // Brings the document to the front.
    void activate(const QString& document);
    // Closes the Calc document, as its user would.
    bool closeDocument(const QString& document = {});
    // A LibreOffice window without a document comes to the front (where a
    // Writer document or the Start Center would be): no Calc document is
    // active. It goes with the probe, or with closeEmptyWindow().
    void showEmptyWindow();
    void closeEmptyWindow();

    // What the document's own number formatter makes of each text in its
    // standard format: a number (times too, in days), or nothing for text.
    QList<std::optional<double>> formatterReads(const QStringList& texts, const QString& document = {});

    struct Impl;

private:
    std::unique_ptr<Impl> d;
};
