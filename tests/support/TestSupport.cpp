#include "TestSupport.h"

#include <QDialog>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QTimer>

namespace {
QTemporaryDir* scratch = nullptr;
}

void isolateTestEnvironment()
{
    if (!scratch) {
        scratch = new QTemporaryDir(); // lives for the whole test process
        scratch->setAutoRemove(true);
    }
    const QByteArray base = scratch->path().toLocal8Bit();
    qputenv("XDG_CONFIG_HOME", base + "/config");
    qputenv("XDG_RUNTIME_DIR", base + "/runtime");
    qputenv("XDG_CACHE_HOME", base + "/cache");
    qputenv("XDG_DATA_HOME", base + "/data");
    QDir().mkpath(scratch->path() + "/config");
    QDir().mkpath(scratch->path() + "/runtime");
    QFile::setPermissions(scratch->path() + "/runtime",
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    // Wine hands no QT_* variable of the host to a Windows program, so a
    // test run there names its platform in DSG_QPA_PLATFORM.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", qEnvironmentVariableIsEmpty("DSG_QPA_PLATFORM")
                                       ? QByteArray("offscreen")
                                       : qgetenv("DSG_QPA_PLATFORM"));
    // Warnings on stderr, where the test runner collects them, also where
    // Qt sees no console (Windows).
    qputenv("QT_FORCE_STDERR_LOGGING", "1");
}

QString testScratchDir()
{
    return scratch ? scratch->path() : QString();
}

RecordingDialogs::RecordingDialogs() : previous_(&Dialogs::instance())
{
    Dialogs::setInstance(this);
}

RecordingDialogs::~RecordingDialogs()
{
    // The Qt implementation is never "installed", so restoring nullptr is
    // right unless another recorder was active before this one.
    Dialogs::setInstance(dynamic_cast<RecordingDialogs*>(previous_) ? previous_ : nullptr);
}

Dialogs::Answer RecordingDialogs::message(QWidget*, const QString& title, const QString& text,
                                          Icon icon, Buttons buttons)
{
    Shown s{QStringLiteral("message"), title, text, icon, buttons};
    shown.append(s);
    if (onMessage)
        onMessage(s);
    if (messageOpenMs > 0) {
        QEventLoop loop;
        QTimer::singleShot(messageOpenMs, &loop, &QEventLoop::quit);
        loop.exec();
    }
    if (!messageAnswers.empty()) {
        const Answer a = messageAnswers.front();
        messageAnswers.pop_front();
        return a;
    }
    return buttons == Buttons::Ok ? Answer::Ok : Answer::No;
}

std::optional<QString> RecordingDialogs::saveFileName(QWidget*, const QString& title,
                                                      const QString& filter, const QString& folder)
{
    shown.append(Shown{QStringLiteral("save"), title, QString(), Icon::None, Buttons::Ok});
    filters.append(filter);
    saveFolders.append(folder);
    if (saveAnswers.empty())
        return std::nullopt;
    auto a = saveAnswers.front();
    saveAnswers.pop_front();
    return a;
}

int RecordingDialogs::execModal(QDialog& dialog)
{
    shown.append(Shown{QStringLiteral("modal"), dialog.windowTitle(), QString(), Icon::None,
                       Buttons::Ok});
    std::function<void(QDialog&)> handler;
    if (!modalHandlers.empty()) {
        handler = std::move(modalHandlers.front());
        modalHandlers.pop_front();
    }
    QDialog* d = &dialog;
    QTimer::singleShot(0, d, [d, handler] {
        if (handler)
            handler(*d);
        else
            d->reject();
    });
    return dialog.exec();
}

QStringList RecordingDialogs::messageTexts() const
{
    QStringList out;
    for (const Shown& s : shown)
        if (s.kind == QLatin1String("message"))
            out << s.text;
    return out;
}

QRgb pixelAt(const QImage& image, int x, int y)
{
    return image.pixel(x, y) & 0xFFFFFF;
}
