#pragma once
// A panel whose lines of text drift upward, one pixel per step, entering at
// the bottom and leaving at the top; used for the About box credits.
#include <QImage>
#include <QRect>
#include <QStringList>
#include <QWidget>

class QTimer;

class TSecretPanel : public QWidget {
    Q_OBJECT
public:
    // Engraved text is drawn twice (highlight below-right, then the text
    // colour) and so needs one more pixel per line.
    enum class TextStyle { Normal, Engraved };

    explicit TSecretPanel(QWidget* parent = nullptr);
    ~TSecretPanel() override;

    void setLines(const QStringList& lines);
    const QStringList& lines() const { return lines_; }

    // Horizontal alignment of every line within the text area.
    void setAlignment(Qt::Alignment alignment);
    Qt::Alignment alignment() const { return alignment_; }

    void setTextStyle(TextStyle style);
    TextStyle textStyle() const { return style_; }

    // Whether the text starts again from the bottom after it has left at the
    // top; without it the scrolling stops there.
    void setCycled(bool cycled) { cycled_ = cycled; }
    bool cycled() const { return cycled_; }

    // Milliseconds between two one-pixel steps.
    void setInterval(int ms);
    int interval() const { return interval_; }

    // Starting restarts the text from the bottom; a repeated call in the same
    // state is ignored, so it cannot restart a running scroll.
    void setActive(bool active);
    bool active() const { return active_; }

    // Scrolling state; all but the position are measured at activation.
    int scrollPosition() const { return position_; }
    int totalTravel() const { return travel_; }
    int lineHeight() const { return lineHeight_; }
    int firstLineShown() const { return firstLine_; }
    QRect textArea() const { return textArea_; }

    // One tick of the timer: advance one pixel, or wrap to the start.
    void step();

    // The text area as last composed off-screen (null while inactive).
    const QImage& composedImage() const { return buffer_; }
    // The whole panel as it would appear on screen now.
    QImage renderToImage();

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void startScrolling();
    void stopScrolling();
    void composeText();

    QStringList lines_;
    Qt::Alignment alignment_ = Qt::AlignLeft;
    TextStyle style_ = TextStyle::Engraved;
    bool cycled_ = true;
    int interval_ = 120;

    bool active_ = false;
    int firstLine_ = 0;
    int lineHeight_ = 0;
    QRect textArea_;
    int position_ = 0;
    int travel_ = 0;

    QTimer* timer_ = nullptr;
    QImage buffer_;
};
