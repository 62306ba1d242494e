#include "SpinEdit.h"

#include "Errors.h"
#include "RegionalSettings.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>

TSpinEdit::TSpinEdit(QWidget* parent) : QAbstractSpinBox(parent)
{
    setButtonSymbols(QAbstractSpinBox::UpDownArrows);
    setAccelerated(false);
    setKeyboardTracking(true);
    setCorrectionMode(QAbstractSpinBox::CorrectToPreviousValue);
    lineEdit()->setText(QStringLiteral("1"));
}

void TSpinEdit::setRange(int minValue, int maxValue)
{
    min_ = minValue;
    max_ = maxValue;
}

void TSpinEdit::setMaxLength(int length)
{
    lineEdit()->setMaxLength(length);
}

int TSpinEdit::CheckValue(int value) const
{
    if (value < min_)
        return min_;
    if (value > max_)
        return max_;
    return value;
}

int TSpinEdit::Value() const
{
    return StrToIntDef(lineEdit()->text(), min_);
}

void TSpinEdit::setValue(int value)
{
    lineEdit()->setText(QString::number(CheckValue(value)));
}

QString TSpinEdit::text() const
{
    return lineEdit()->text();
}

void TSpinEdit::setText(const QString& text)
{
    lineEdit()->setText(text);
}

void TSpinEdit::stepBy(int steps)
{
    setValue(Value() + steps);
    selectAll();
}

QAbstractSpinBox::StepEnabled TSpinEdit::stepEnabled() const
{
    return StepUpEnabled | StepDownEnabled;
}

bool TSpinEdit::allowedChar(QChar c) const
{
    return c.isDigit() || c == u'+' || c == u'-'
           || c == RegionalSettings::current().decimalSeparator;
}

QValidator::State TSpinEdit::validate(QString& input, int&) const
{
    for (QChar c : input)
        if (!allowedChar(c))
            return QValidator::Invalid;
    return QValidator::Acceptable;
}

void TSpinEdit::keyPressEvent(QKeyEvent* event)
{
    const QString typed = event->text();
    if (!typed.isEmpty() && typed.front().isPrint() && !allowedChar(typed.front())) {
        QApplication::beep();
        event->accept();
        return;
    }
    QAbstractSpinBox::keyPressEvent(event);
}

void TSpinEdit::focusOutEvent(QFocusEvent* event)
{
    setValue(Value());
    QAbstractSpinBox::focusOutEvent(event);
}
