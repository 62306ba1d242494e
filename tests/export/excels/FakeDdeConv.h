#pragma once
// A conversation that records what the component asks of it and answers
// from a script, so command strings and their order can be checked.
#include "DdeClientConv.h"

#include <QHash>
#include <QStringList>
#include <deque>
#include <functional>
#include <memory>

class FakeDdeConv : public TDdeClientConv {
public:
    explicit FakeDdeConv(std::shared_ptr<QStringList> log) : log_(std::move(log))
    {
        replies.insert(QStringLiteral("Status"), QByteArray("Ready\0", 6));
        replies.insert(QStringLiteral("Selection"), QByteArray("[Book1]Sheet1!R1C1\0", 19));
    }
    ~FakeDdeConv() override
    {
        if (open)
            CloseLink();
    }

    bool SetLink(const QString& service, const QString& topic) override
    {
        *log_ << QStringLiteral("SetLink %1/%2").arg(service, topic);
        service_ = service;
        topic_ = topic;
        return true;
    }
    bool OpenLink() override
    {
        *log_ << QStringLiteral("OpenLink");
        bool ok = openDefault;
        if (!openResults.empty()) {
            ok = openResults.front();
            openResults.pop_front();
        }
        if (ok) {
            open = true;
            notifyOpen();
        }
        return ok;
    }
    void CloseLink() override
    {
        *log_ << QStringLiteral("CloseLink");
        if (open) {
            open = false;
            waitStat_ = false;
            notifyClose();
        }
    }
    bool ExecuteMacro(const QString& command, bool waitFlag) override
    {
        *log_ << (waitFlag ? QStringLiteral("ExecuteWait ") : QStringLiteral("Execute ")) + command;
        if (!open || waitStat_)
            return false;
        if (!executeResults.empty()) {
            const bool ok = executeResults.front();
            executeResults.pop_front();
            if (!ok)
                return false;
        }
        if (waitFlag)
            waitStat_ = true;
        ++executed;
        return true;
    }
    std::optional<QByteArray> RequestData(const QString& item) override
    {
        *log_ << QStringLiteral("Request ") + item;
        if (!open || waitStat_)
            return std::nullopt;
        if (item == QLatin1String("Status") && !statusReplies.empty()) {
            const auto r = statusReplies.front();
            statusReplies.pop_front();
            return r;
        }
        const auto it = replies.constFind(item);
        if (it == replies.constEnd())
            return std::nullopt;
        return *it;
    }

    // Records the pause instead of making it; `onPause` stands for what the
    // server does meanwhile.
    void WaitForActivity(int ms) override
    {
        pauses << ms;
        if (onPause)
            onPause();
    }

    // The server ends the conversation.
    void serverCloses()
    {
        open = false;
        waitStat_ = false;
        notifyClose();
    }
    void setWaitStat(bool on) { waitStat_ = on; }

    bool open = false;
    bool openDefault = true;
    std::deque<bool> openResults;
    std::deque<bool> executeResults;
    QHash<QString, std::optional<QByteArray>> replies;
    std::deque<std::optional<QByteArray>> statusReplies;
    int executed = 0;
    QList<int> pauses;
    std::function<void()> onPause;

private:
    std::shared_ptr<QStringList> log_;
};
