#pragma once
// An integer edit with up and down arrows, as the Display Time needs it:
// only digits, signs and the decimal separator can be typed; the value is
// pulled into its range when the program sets it or the field loses focus.
#include <QAbstractSpinBox>

class TSpinEdit : public QAbstractSpinBox {
    Q_OBJECT
public:
    explicit TSpinEdit(QWidget* parent = nullptr);

    int MinValue() const { return min_; }
    int MaxValue() const { return max_; }
    void setRange(int minValue, int maxValue);
    void setMaxLength(int length);

    // The text read as an integer; a text that is not a whole number reads
    // as the minimum. Not clamped: typed text is taken as it stands until
    // the field loses the focus.
    int Value() const;
    // Sets the value pulled into the range.
    void setValue(int value);
    int CheckValue(int value) const;

    QString text() const;
    void setText(const QString& text);

    void stepBy(int steps) override;
    QValidator::State validate(QString& input, int& pos) const override;

protected:
    StepEnabled stepEnabled() const override;
    void keyPressEvent(QKeyEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    bool allowedChar(QChar c) const;
    bool styleDrawsInside();
    // Whether the style leaves the top and bottom rows of the field unpainted,
    // for the style and size it was found for.
    const QStyle* insetStyle_ = nullptr;
    QSize insetSize_;
    bool inset_ = false;
    int min_ = 1;
    int max_ = 99999;
};
