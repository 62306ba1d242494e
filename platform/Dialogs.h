#pragma once
// Every modal prompt of the program goes through this interface: message
// boxes, the file-save dialog, the program's own modal dialogs and the
// general error report. Production shows real Qt windows; a test installs its
// own implementation to answer the prompts and record what was shown.
#include <QString>
#include <optional>

class QDialog;
class QWidget;

class Dialogs {
public:
    enum class Icon { None, Error, Warning, Information, Stop };
    enum class Buttons { Ok, YesNo };
    enum class Answer { Ok, Yes, No, Closed };

    virtual ~Dialogs() = default;

    // A message box with the exact title, icon, buttons ("OK" or "&Yes"/"&No")
    // and text. Runs a nested event loop: timers keep firing meanwhile.
    virtual Answer message(QWidget* parent, const QString& title, const QString& text, Icon icon,
                           Buttons buttons) = 0;

    // The file-save dialog, opening in `folder`. `filter` is in the
    // "Description|pattern" form the program's forms use. No default
    // extension is added and no question is asked before an existing file is
    // replaced. Empty when cancelled.
    virtual std::optional<QString> saveFileName(QWidget* parent, const QString& title,
                                                const QString& filter, const QString& folder) = 0;

    // Runs one of the program's own modal dialogs and returns its result code.
    virtual int execModal(QDialog& dialog) = 0;

    // The one installed implementation; the Qt one unless a test replaced it.
    static Dialogs& instance();
    // Install `dialogs` (not owned); nullptr restores the Qt implementation.
    static void setInstance(Dialogs* dialogs);
};

// A form's file-save dialog: its title and filter, and the folder it opens
// in. That is the folder of the file last chosen in it, so a user who only
// types a name saves where they saved before; the first time it is the
// user's documents folder, never the working folder, which the user does not
// choose and may never find again.
class TSaveDialog {
public:
    TSaveDialog(const QString& title, const QString& filter) : Title(title), Filter(filter) {}

    QString Title;
    QString Filter;

    // Runs the dialog (through Dialogs); the chosen full path, or empty when
    // cancelled.
    std::optional<QString> Execute(QWidget* parent);
    // The folder it opens in next: the last file's while that folder still
    // exists, else the documents folder, else the home folder.
    QString InitialDir() const;

private:
    QString lastFolder_;
};

// The title of the general error report: the application's title.
QString applicationTitle();

// An error box: title "Error", error icon, one OK button.
void ShowErrorBox(const QString& text, QWidget* parent = nullptr);

// The general error report for an error no command caught: stop icon, one OK
// button, the application's title, and the text with a full stop added when
// its last character comes after "." in character-code order.
void ReportUncaughtError(const QString& text, QWidget* parent = nullptr);
QString uncaughtErrorText(const QString& text);

// Runs `command`; an AppError (or any std::exception) that escapes it ends the
// command there and goes to the general error report. Returns false then.
template <class F>
bool RunCommand(F&& command, QWidget* parent = nullptr);

// Converts "Text file (*.txt)|*.txt" to the Qt form "Text file (*.txt)".
QString qtFilterFromFormFilter(const QString& formFilter);

#include "Errors.h"
template <class F>
bool RunCommand(F&& command, QWidget* parent)
{
    try {
        command();
        return true;
    } catch (const AppError& e) {
        ReportUncaughtError(e.text(), parent);
    } catch (const std::exception& e) {
        ReportUncaughtError(QString::fromLocal8Bit(e.what()), parent);
    }
    return false;
}
