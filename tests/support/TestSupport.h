#pragma once
// Shared test helpers: an isolated environment for every test process, and a
// Dialogs implementation that answers prompts and records what was shown.
#include "Dialogs.h"
#include "Fonts.h"

#include <QList>
#include <QString>
#include <QtTest>
#include <deque>
#include <functional>
#include <optional>

// Points XDG_CONFIG_HOME, XDG_RUNTIME_DIR and HOME-based caches at a fresh
// temporary folder for this process. Call before the application object.
void isolateTestEnvironment();
// The temporary folder isolateTestEnvironment made.
QString testScratchDir();

// Like QTEST_MAIN, with the environment isolated first.
#define DSG_TEST_MAIN(TestClass)                                                                   \
    int main(int argc, char** argv)                                                                \
    {                                                                                              \
        isolateTestEnvironment();                                                                  \
        QApplication app(argc, argv);                                                              \
        app.setApplicationName(QStringLiteral("Dsg5926"));                                          \
        InstallFontSubstitutions();                                                                \
        TestClass tc;                                                                              \
        QTEST_SET_MAIN_SOURCE_PATH                                                                 \
        return QTest::qExec(&tc, argc, argv);                                                      \
    }

class RecordingDialogs : public Dialogs {
public:
    struct Shown {
        QString kind; // "message", "save" or "modal"
        QString title;
        QString text;
        Icon icon = Icon::None;
        Buttons buttons = Buttons::Ok;
    };

    // Installs itself on construction and restores the previous one after.
    RecordingDialogs();
    ~RecordingDialogs() override;

    Answer message(QWidget* parent, const QString& title, const QString& text, Icon icon,
                   Buttons buttons) override;
    std::optional<QString> saveFileName(QWidget* parent, const QString& title,
                                        const QString& filter, const QString& folder) override;
    int execModal(QDialog& dialog) override;

    QList<Shown> shown;
    QStringList filters; // filter of every save dialog shown
    QStringList saveFolders; // the folder every save dialog opened in

    // Answers, used front first; when empty: Ok for OK boxes, No for Yes/No.
    std::deque<Answer> messageAnswers;
    // File names for save dialogs; nullopt cancels. When empty: cancel.
    std::deque<std::optional<QString>> saveAnswers;
    // Handlers for modal dialogs, front first; each gets the dialog while it
    // is shown (as a real modal) and must close it (accept/reject/done).
    // When empty the dialog is rejected.
    std::deque<std::function<void(QDialog&)>> modalHandlers;
    // While a message box "is open", the event loop runs this long, so timers
    // keep firing as they would behind a real modal box.
    int messageOpenMs = 0;
    // Called with each message as it is shown (for checks made meanwhile).
    std::function<void(const Shown&)> onMessage;

    QStringList messageTexts() const;

private:
    Dialogs* previous_ = nullptr;
};

// The text of the error of type E that `f` raises; empty when it raises none.
template <class E, class F>
QString errorTextOf(F&& f)
{
    try {
        f();
    } catch (const E& e) {
        return e.text();
    }
    return QString();
}

// Pixel colour helper for painting tests: 0x00RRGGBB of an image pixel.
QRgb pixelAt(const QImage& image, int x, int y);
