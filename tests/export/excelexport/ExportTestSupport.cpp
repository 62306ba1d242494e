#include "ExportTestSupport.h"

#include "Fpross.h"
#include "RegionalSettings.h"
#include "TestSupport.h"

#include <QApplication>

void fixPlainRegion()
{
    RegionalSettings r;
    r.decimalSeparator = u'.';
    r.longTimeFormat = QStringLiteral("HH:mm:ss");
    r.amDesignator = QStringLiteral("AM");
    r.pmDesignator = QStringLiteral("PM");
    RegionalSettings::fix(r);
}

int liveProgressWindows()
{
    int n = 0;
    for (QWidget* w : QApplication::topLevelWidgets())
        n += qobject_cast<Tprocess*>(w) != nullptr;
    return n;
}

bool RecordingConv::SetLink(const QString& service, const QString& topic)
{
    service_ = service;
    topic_ = topic;
    return true;
}

bool RecordingConv::OpenLink()
{
    ++openCount;
    open = true;
    notifyOpen();
    return true;
}

void RecordingConv::CloseLink()
{
    if (open) {
        open = false;
        notifyClose();
    }
}

bool RecordingConv::ExecuteMacro(const QString& command, bool)
{
    if (!open)
        return false;
    if (keepCommands)
        commands << command;
    if (onExecute)
        onExecute(command);
    return true;
}

std::optional<QByteArray> RecordingConv::RequestData(const QString& item)
{
    if (!open)
        return std::nullopt;
    if (item == QLatin1String("Status"))
        return QByteArray("Ready\0", 6);
    if (item == QLatin1String("Selection"))
        return QByteArray("[Book1]Sheet1!R1C1\0", 19);
    return std::nullopt;
}

QByteArray GeneratedRows::cell(int row, int column) const
{
    ++cellReads;
    if (onCell)
        onCell(row, column);
    if (row < 0 || row >= count || column < 0 || column >= ColumnCount) {
        ++outOfRange;
        return QByteArray("<out of range>");
    }
    return QByteArray("r") + QByteArray::number(row) + 'c' + QByteArray::number(column);
}

QByteArray WatchedRows::cell(int row, int column) const
{
    if (onCell)
        onCell(row, column);
    return rows_.cell(row, column);
}

RefusingStarter::RefusingStarter()
{
    ProgramStarter::setInstance(this);
}

RefusingStarter::~RefusingStarter()
{
    ProgramStarter::setInstance(nullptr);
}

bool RefusingStarter::start(const QString& program, const QStringList&, Show)
{
    started << program;
    if (onStart)
        onStart();
    return false;
}

QStringList formulaCommands(int r, const QList<QByteArray>& texts)
{
    QStringList out;
    for (int c = 0; c < texts.size(); ++c)
        out << QStringLiteral("[FORMULA(\"%1\", \"R%2C%3\")]")
                   .arg(QString::fromLocal8Bit(texts.at(c)))
                   .arg(r)
                   .arg(c + 1);
    return out;
}

QStringList titleAndHeaderCommands()
{
    return formulaCommands(1, {"These data are import from Pemdat.exe (5926)"})
           + formulaCommands(2, {"Time", "ppt", "Compensated Conductivity",
                                 "UnCompensated Conductivity", "Temp"});
}

QStringList formulasOf(const QStringList& commands)
{
    QStringList out;
    for (const QString& c : commands) {
        if (c.startsWith(QLatin1String("[FORMULA(")))
            out << c;
    }
    return out;
}
