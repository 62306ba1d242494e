#include "Fsetform.h"

#include "ButtonPictures.h"
#include "Dialogs.h"
#include "Errors.h"
#include "Fonts.h"
#include "SpinEdit.h"
#include "WindowPlacement.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QValidator>

TSetform* Setform = nullptr;

namespace {

// Limits what the operator can type without cutting texts the program puts
// in: a hand-edited store may hold a longer port text, which must be shown
// in full so that the OK check can refuse it. QLineEdit's own maximum length
// would silently truncate such a text on setText.
class TypingLimit final : public QValidator {
public:
    TypingLimit(int limit, QObject* parent) : QValidator(parent), limit_(limit) {}
    State validate(QString& input, int&) const override
    {
        return input.size() <= limit_ ? Acceptable : Invalid;
    }

private:
    int limit_;
};

QFont arial15()
{
    return pixelFont(QStringLiteral("Arial"), 15);
}

QLabel* makeLabel(QWidget* parent, const QString& text, int x, int y, int w, int h)
{
    auto* label = new QLabel(text, parent);
    label->setGeometry(x, y, w, h);
    label->setFont(arial15());
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    return label;
}

} // namespace

TSetform::TSetform(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("Setform"));
    setWindowTitle(QStringLiteral("System Setup"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint
                   | Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    setFixedSize(217, 129);
    setFont(pixelFont(QStringLiteral("MS Sans Serif"), 11));
    // In the middle of the screen whenever it opens, whatever the main
    // window's place.
    CentreWhenShown(this, Centring::EveryShow);

    Label1 = makeLabel(this, QStringLiteral("Port:"), 63, 13, 31, 17);
    Label1->setObjectName(QStringLiteral("Label1"));
    st_port = new QLineEdit(QStringLiteral("1"), this);
    st_port->setObjectName(QStringLiteral("st_port"));
    st_port->setGeometry(99, 11, 41, 21);
    st_port->setValidator(new TypingLimit(1, st_port));

    Label2 = makeLabel(this, QStringLiteral("Port Speed:"), 17, 38, 77, 17);
    Label2->setObjectName(QStringLiteral("Label2"));
    ST_speed = new QLineEdit(QStringLiteral("4800"), this);
    ST_speed->setObjectName(QStringLiteral("ST_speed"));
    ST_speed->setGeometry(99, 36, 77, 21);
    ST_speed->setReadOnly(true);
    QPalette silver = ST_speed->palette();
    silver.setColor(QPalette::Base, QColor(0xC0, 0xC0, 0xC0));
    ST_speed->setPalette(silver);

    Label3 = makeLabel(this, QStringLiteral("Display Time:"), 5, 62, 89, 17);
    Label3->setObjectName(QStringLiteral("Label3"));
    ST_RT = new TSpinEdit(this);
    ST_RT->setObjectName(QStringLiteral("ST_RT"));
    ST_RT->setGeometry(100, 61, 73, 22);
    ST_RT->setRange(1, 99999);
    ST_RT->setMaxLength(5);
    ST_RT->setValue(1);

    Label5 = makeLabel(this, QStringLiteral("Sec."), 178, 62, 30, 17);
    Label5->setObjectName(QStringLiteral("Label5"));

    Bevel1 = new TBevel(this);
    Bevel1->setObjectName(QStringLiteral("Bevel1"));
    Bevel1->setGeometry(3, 88, 210, 6);

    BitBtn1 = new QPushButton(pictures::ok(), QStringLiteral("OK"), this);
    BitBtn1->setObjectName(QStringLiteral("BitBtn1"));
    BitBtn1->setGeometry(35, 100, 75, 25);
    BitBtn1->setFont(arial15());
    BitBtn1->setDefault(true);
    BitBtn1->setAutoDefault(true);

    BitBtn2 = new QPushButton(pictures::cancel(), QStringLiteral("Cancel"), this);
    BitBtn2->setObjectName(QStringLiteral("BitBtn2"));
    BitBtn2->setGeometry(115, 100, 75, 25);
    BitBtn2->setFont(arial15());
    BitBtn2->setAutoDefault(false);

    setTabOrder(st_port, BitBtn1);
    setTabOrder(BitBtn1, ST_speed);
    setTabOrder(ST_speed, BitBtn2);
    setTabOrder(BitBtn2, ST_RT);

    connect(BitBtn1, &QPushButton::clicked, this, [this] { RunCommand([this] { BitBtn1Click(); }, this); });
    // Esc and the close box reject too, so every way out but OK is Cancel.
    connect(BitBtn2, &QPushButton::clicked, this, &QDialog::reject);
}

void TSetform::BitBtn1Click()
{
    const int port = StrToInt(st_port->text());
    if (port > 4 || port < 1) {
        Dialogs::instance().message(this, QStringLiteral("Warning"), QStringLiteral("Port must at 1~4"),
                                    Dialogs::Icon::Warning, Dialogs::Buttons::Ok);
        st_port->setText(QStringLiteral("1"));
        return;
    }
    // Enter can confirm while the Display Time still has the focus and has
    // not pulled its value into range yet; the interval and the stored value
    // must never be out of range.
    ST_RT->setValue(ST_RT->Value());
    accept();
}

void TSetform::Run()
{
    const QString port = st_port->text();
    const QString speed = ST_speed->text();
    const QString displayTime = ST_RT->text();
    if (Dialogs::instance().execModal(*this) == QDialog::Rejected) {
        st_port->setText(port);
        ST_speed->setText(speed);
        ST_RT->setText(displayTime);
    }
}
