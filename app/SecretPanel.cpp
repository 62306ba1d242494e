#include "SecretPanel.h"

#include <QFontMetrics>
#include <QPaintEvent>
#include <QPainter>
#include <QTimer>

namespace {
// Room left free between the panel's edge and the scrolling text.
constexpr int kTextMargin = 3;

bool isBlank(const QString& line)
{
    // Control characters count as blanks too, like spaces.
    for (QChar c : line)
        if (c.unicode() > u' ')
            return false;
    return true;
}
} // namespace

TSecretPanel::TSecretPanel(QWidget* parent) : QWidget(parent), timer_(new QTimer(this))
{
    // The timer lives on the GUI thread: its steps interleave with every
    // other timer of the program, so a recording goes on behind a modal box.
    timer_->setTimerType(Qt::PreciseTimer);
    timer_->setInterval(interval_);
    connect(timer_, &QTimer::timeout, this, &TSecretPanel::step);
    // Every pixel of the panel is painted on each update.
    setAttribute(Qt::WA_OpaquePaintEvent);
}

TSecretPanel::~TSecretPanel() = default;

void TSecretPanel::setLines(const QStringList& lines)
{
    lines_ = lines;
    if (active_) {
        // The travel and first line depend on the lines: start over.
        stopScrolling();
        startScrolling();
    }
}

void TSecretPanel::setAlignment(Qt::Alignment alignment)
{
    alignment_ = alignment & Qt::AlignHorizontal_Mask;
    if (active_)
        composeText();
}

void TSecretPanel::setTextStyle(TextStyle style)
{
    if (style_ == style)
        return;
    style_ = style;
    if (active_) {
        stopScrolling();
        startScrolling();
    }
}

void TSecretPanel::setInterval(int ms)
{
    interval_ = qMax(1, ms);
    timer_->setInterval(interval_);
}

void TSecretPanel::setActive(bool active)
{
    if (active == active_)
        return;
    if (active)
        startScrolling();
    else
        stopScrolling();
}

void TSecretPanel::startScrolling()
{
    position_ = 0;
    firstLine_ = 0;
    while (firstLine_ < lines_.size() && isBlank(lines_.at(firstLine_)))
        ++firstLine_;

    const QFontMetrics fm(font());
    lineHeight_ = fm.height() + fm.leading();
    if (style_ == TextStyle::Engraved)
        ++lineHeight_;

    textArea_ = rect().adjusted(kTextMargin, kTextMargin, -kTextMargin, -kTextMargin);
    travel_ = qMax(0, textArea_.height()) + int(lines_.size() - firstLine_) * lineHeight_;

    active_ = true;
    composeText();
    update();
    timer_->start(interval_);
}

void TSecretPanel::stopScrolling()
{
    timer_->stop();
    active_ = false;
    buffer_ = QImage();
    position_ = 0;
    update();
}

void TSecretPanel::step()
{
    if (!active_)
        return;
    if (position_ < travel_) {
        ++position_;
    } else if (cycled_) {
        position_ = 0;
    } else {
        stopScrolling();
        return;
    }
    composeText();
    update(textArea_);
}

void TSecretPanel::composeText()
{
    if (textArea_.width() <= 0 || textArea_.height() <= 0) {
        buffer_ = QImage();
        return;
    }
    if (buffer_.size() != textArea_.size())
        buffer_ = QImage(textArea_.size(), QImage::Format_RGB32);

    const QPalette pal = palette();
    buffer_.fill(pal.color(QPalette::Button));

    QPainter p(&buffer_);
    p.setFont(font());
    const int width = textArea_.width();
    const int height = textArea_.height();
    // No Qt::TextShowMnemonic: "&" stays a literal character.
    const int flags = int(alignment_) | Qt::AlignTop | Qt::TextSingleLine | Qt::TextExpandTabs;

    // One extra line holding a space follows the last one, as a blank tail.
    const int count = int(lines_.size());
    for (int i = firstLine_; i <= count; ++i) {
        const int top = height - position_ + (i - firstLine_) * lineHeight_;
        if (top >= height)
            break;
        if (top + lineHeight_ <= 0)
            continue;
        const QString text = i < count ? lines_.at(i) : QStringLiteral(" ");
        const QRect line(0, top, width, lineHeight_);
        if (style_ == TextStyle::Engraved) {
            p.setPen(pal.color(QPalette::Light));
            p.drawText(line.translated(1, 1), flags, text);
        }
        p.setPen(pal.color(QPalette::WindowText));
        p.drawText(line, flags, text);
    }
}

void TSecretPanel::paintEvent(QPaintEvent* event)
{
    QPainter p(this);
    const QColor face = palette().color(QPalette::Button);
    if (!active_ || buffer_.isNull()) {
        p.fillRect(event->rect(), face);
        return;
    }
    // The margin around the text area, then the composed text in one piece.
    const QRegion margin = QRegion(event->rect()) - QRegion(textArea_);
    for (const QRect& r : margin)
        p.fillRect(r, face);
    p.drawImage(textArea_.topLeft(), buffer_);
}

QImage TSecretPanel::renderToImage()
{
    QImage image(size(), QImage::Format_RGB32);
    image.fill(Qt::black);
    render(&image);
    return image;
}
