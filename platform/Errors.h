#pragma once
// Error classes that commands raise and the general error report shows.
#include <QString>
#include <exception>
#include <string>

// Base of every error the program raises on purpose. The text is what the
// operator sees, so it is kept as a QString and never translated.
class AppError : public std::exception {
public:
    explicit AppError(QString text) : text_(std::move(text)), utf8_(text_.toStdString()) {}
    const QString& text() const noexcept { return text_; }
    const char* what() const noexcept override { return utf8_.c_str(); }

private:
    QString text_;
    std::string utf8_;
};

// A text that should have held a whole number.
class EConvertError : public AppError {
public:
    using AppError::AppError;
};

// The settings store could not create a key, write or read a value.
class ERegistryException : public AppError {
public:
    using AppError::AppError;
};

// A file ended before what had to be read from it.
class EInOutError : public AppError {
public:
    using AppError::AppError;
};

// Whole-number conversion of an operator-visible text. Accepts what the
// settings and the edits can hold: optional leading blanks, a sign, decimal
// digits, or a hexadecimal number written with "$" or "0x". Anything else,
// and numbers outside 32 bits, raise "'%s' is not a valid integer value".
int StrToInt(const QString& text);

// As StrToInt, but gives the fallback instead of raising.
int StrToIntDef(const QString& text, int fallback);
