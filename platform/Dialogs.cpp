#include "Dialogs.h"

#include <QAbstractButton>
#include <QCoreApplication>
#include <QDialog>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QPushButton>
#include <QStandardPaths>

#include "WindowPlacement.h"

namespace {

class QtDialogs final : public Dialogs {
public:
    Answer message(QWidget* parent, const QString& title, const QString& text, Icon icon,
                   Buttons buttons) override
    {
        QMessageBox box(parent);
        // Over the window it belongs to, or in the middle of the screen
        // while there is none yet (the show step's prompts come before the
        // main window appears).
        CentreWhenShown(&box, Centring::EveryShow, parent);
        box.setWindowTitle(title);
        box.setText(text);
        switch (icon) {
        case Icon::None: box.setIcon(QMessageBox::NoIcon); break;
        case Icon::Error:
        case Icon::Stop: box.setIcon(QMessageBox::Critical); break;
        case Icon::Warning: box.setIcon(QMessageBox::Warning); break;
        case Icon::Information: box.setIcon(QMessageBox::Information); break;
        }
        // Custom buttons keep the exact captions whatever Qt's translation.
        QAbstractButton* ok = nullptr;
        QAbstractButton* yes = nullptr;
        QAbstractButton* no = nullptr;
        if (buttons == Buttons::Ok) {
            ok = box.addButton(QStringLiteral("OK"), QMessageBox::AcceptRole);
            box.setDefaultButton(static_cast<QPushButton*>(ok));
            box.setEscapeButton(ok);
        } else {
            yes = box.addButton(QStringLiteral("&Yes"), QMessageBox::YesRole);
            no = box.addButton(QStringLiteral("&No"), QMessageBox::NoRole);
            box.setDefaultButton(static_cast<QPushButton*>(yes));
        }
        box.exec();
        QAbstractButton* clicked = box.clickedButton();
        if (clicked && clicked == ok)
            return Answer::Ok;
        if (clicked && clicked == yes)
            return Answer::Yes;
        if (clicked && clicked == no)
            return Answer::No;
        return Answer::Closed;
    }

    std::optional<QString> saveFileName(QWidget* parent, const QString& title,
                                        const QString& filter, const QString& folder) override
    {
        QFileDialog dialog(parent, title, folder, qtFilterFromFormFilter(filter));
        CentreWhenShown(&dialog, Centring::EveryShow, parent);
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setFileMode(QFileDialog::AnyFile);
        dialog.setOption(QFileDialog::DontConfirmOverwrite, true);
        dialog.setDefaultSuffix(QString());
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
            return std::nullopt;
        return dialog.selectedFiles().constFirst();
    }

    int execModal(QDialog& dialog) override { return dialog.exec(); }
};

QtDialogs& qtDialogs()
{
    static QtDialogs d;
    return d;
}

Dialogs* installed = nullptr;

} // namespace

Dialogs& Dialogs::instance()
{
    return installed ? *installed : static_cast<Dialogs&>(qtDialogs());
}

void Dialogs::setInstance(Dialogs* dialogs)
{
    installed = dialogs;
}

std::optional<QString> TSaveDialog::Execute(QWidget* parent)
{
    std::optional<QString> chosen = Dialogs::instance().saveFileName(parent, Title, Filter, InitialDir());
    if (chosen)
        lastFolder_ = QFileInfo(*chosen).absolutePath();
    return chosen;
}

QString TSaveDialog::InitialDir() const
{
    if (!lastFolder_.isEmpty() && QFileInfo(lastFolder_).isDir())
        return lastFolder_;
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    if (!documents.isEmpty() && QFileInfo(documents).isDir())
        return documents;
    return QDir::homePath();
}

QString applicationTitle()
{
    return QCoreApplication::applicationName();
}

void ShowErrorBox(const QString& text, QWidget* parent)
{
    Dialogs::instance().message(parent, QStringLiteral("Error"), text, Dialogs::Icon::Error,
                                Dialogs::Buttons::Ok);
}

QString uncaughtErrorText(const QString& text)
{
    if (!text.isEmpty() && text.back().unicode() > u'.')
        return text + u'.';
    return text;
}

void ReportUncaughtError(const QString& text, QWidget* parent)
{
    Dialogs::instance().message(parent, applicationTitle(), uncaughtErrorText(text),
                                Dialogs::Icon::Stop, Dialogs::Buttons::Ok);
}

QString qtFilterFromFormFilter(const QString& formFilter)
{
    // "Desc1|pat1|Desc2|pat2" -> "Desc1 (pat1);;Desc2 (pat2)" unless the
    // description already shows its pattern.
    const QStringList parts = formFilter.split(u'|');
    QStringList out;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        const QString& desc = parts[i];
        QString pattern = parts[i + 1];
        pattern.replace(u';', u' ');
        if (desc.contains(u'(') && desc.contains(u')'))
            out << desc;
        else
            out << QStringLiteral("%1 (%2)").arg(desc, pattern);
    }
    return out.join(QStringLiteral(";;"));
}
