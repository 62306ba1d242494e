#pragma once
// Where the sheet lives, behind the one thing the macro commands do to it.
// The spreadsheet's server parses each command once (MacroCommand.h) and
// hands it here; the stand-in's own grid (Sheet) and a LibreOffice Calc
// document (CalcSink) are the two places a sheet can be.
#include "MacroCommand.h"

#include <QString>
#include <functional>
#include <optional>

// One field of the "Sheet" item's CSV, quoted where it must be.
inline QString csvField(const QString& v)
{
    if (!v.contains(u',') && !v.contains(u'"') && !v.contains(u'\n') && !v.contains(u'\r'))
        return v;
    QString q = v;
    q.replace(QStringLiteral("\""), QStringLiteral("\"\""));
    return u'"' + q + u'"';
}

class SheetSink {
public:
    virtual ~SheetSink() = default;

    // Carries out `command` after every command handed over before it.
    // `source` is the command's text, for onFailed.
    virtual void submit(const macro::Command& command, const QString& source) = 0;
    // Every command handed over has been carried out.
    virtual bool idle() const = 0;
    // Answers an item of the sheet ("Selection", "Sheet", "Cell RrCc") once
    // the commands handed over before it have been carried out; nothing for
    // an item it does not know or cannot give. May answer before returning.
    virtual void query(const QString& item, std::function<void(std::optional<QString>)> reply) = 0;
    // Calls `done` once every command handed over so far has been carried
    // out. May call it before returning.
    virtual void afterAll(std::function<void()> done) = 0;
    // A client has opened a conversation: what it sends lands on the sheet
    // active at this moment.
    virtual void conversationOpened() {}

    // A command could not be carried out (its source text).
    std::function<void(const QString& source)> onFailed;
    // idle() has become true.
    std::function<void()> onIdle;
    // The sheet is gone (its program or document closed): nothing more can
    // be carried out.
    std::function<void(const QString& why)> onLost;
    // "[QUIT()]" was carried out.
    std::function<void()> onQuit;
};
