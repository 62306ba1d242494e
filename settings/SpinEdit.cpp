#include "SpinEdit.h"

#include "Errors.h"
#include "RegionalSettings.h"

#include <QApplication>
#include <QImage>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPainter>
#include <QStyleOptionSpinBox>
#include <QStylePainter>

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

bool TSpinEdit::styleDrawsInside()
{
    if (insetStyle_ == style() && insetSize_ == size())
        return inset_;
    insetStyle_ = style();
    insetSize_ = size();
    inset_ = false;
    if (width() <= 0 || height() < 3)
        return inset_;
    // Draw the field once off-screen and look at its top and bottom rows.
    QImage probe(size(), QImage::Format_ARGB32_Premultiplied);
    probe.fill(Qt::transparent);
    {
        QPainter p(&probe);
        QStyleOptionSpinBox opt;
        initStyleOption(&opt);
        style()->drawComplexControl(QStyle::CC_SpinBox, &opt, &p, this);
    }
    auto blank = [&](int y) {
        for (int x = 0; x < probe.width(); ++x)
            if (qAlpha(probe.pixel(x, y)) != 0)
                return false;
        return true;
    };
    inset_ = blank(0) && blank(probe.height() - 1) && !blank(1) && !blank(probe.height() - 2);
    return inset_;
}

void TSpinEdit::paintEvent(QPaintEvent*)
{
    // Some styles (Fusion) draw a spin box one pixel inside its rectangle at
    // the top and at the bottom: it would look two pixels shorter than the
    // size it is given and than the one-line edits above it. Such a style
    // gets a rectangle one pixel larger on both sides, so what it draws
    // fills the field.
    QStyleOptionSpinBox opt;
    initStyleOption(&opt);
    if (styleDrawsInside())
        opt.rect.adjust(0, -1, 0, 1);
    QStylePainter p(this);
    p.drawComplexControl(QStyle::CC_SpinBox, opt);
}

void TSpinEdit::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::StyleChange)
        insetStyle_ = nullptr;
    QAbstractSpinBox::changeEvent(event);
}
