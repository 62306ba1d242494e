#include "DdeClientConv.h"
#include "DdeClientConv_p.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace {
std::function<std::unique_ptr<TDdeClientConv>()>& factory()
{
    static std::function<std::unique_ptr<TDdeClientConv>()> f;
    return f;
}

} // namespace

std::unique_ptr<TDdeClientConv> TDdeClientConv::create()
{
    if (factory())
        return factory()();
    return dde_detail::createPlatformConv();
}

void TDdeClientConv::setFactory(std::function<std::unique_ptr<TDdeClientConv>()> f)
{
    factory() = std::move(f);
}

void TDdeClientConv::WaitForActivity(int ms)
{
    dde_detail::EventWait wait;
    wait.run(ms);
}

QByteArray TDdeClientConv::filterData(QByteArray data) const
{
    if (formatChars_)
        return data;
    data.removeIf([](char c) { return c == '\b' || c == '\t' || c == '\n' || c == '\r'; });
    return data;
}


QString dde_detail::findServiceApplication(const QString& name, const QStringList& suffixes)
{
    if (QCoreApplication::instance()) {
        const QDir appDir(QCoreApplication::applicationDirPath());
        for (const QString& suffix : suffixes) {
            const QFileInfo fi(appDir.filePath(name + suffix));
            if (fi.isFile() && fi.isExecutable())
                return fi.absoluteFilePath();
        }
    }
    return QStandardPaths::findExecutable(name);
}
