#pragma once
// A test's own view into LibreOffice Calc, over a bridge of its own (not the
// stand-in's code): it reads what landed in the active sheet, moves the
// selection and closes the document as a user would.
#include <QString>
#include <memory>

class CalcProbe {
public:
    struct Cell {
        char kind = 'E'; // 'E' empty, 'T' text, 'V' number, 'F' formula
        QString text;    // the text shown, or the formula
    };

    explicit CalcProbe(QString pipeName);
    ~CalcProbe();

    // Retries for up to `timeoutMs` while LibreOffice comes up.
    bool connect(int timeoutMs, QString* why);
    // Calc documents open in that LibreOffice.
    int documents();
    // Cells of the active sheet of the (first) Calc document, from 1.
    Cell cell(int row, int col);
    // "[document title]sheet name"
    QString documentAndSheet();
    void select(int row, int col);
    // Closes the Calc document, as its user would.
    bool closeDocument();

    struct Impl;

private:
    std::unique_ptr<Impl> d;
};
