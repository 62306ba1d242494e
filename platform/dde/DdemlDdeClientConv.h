#pragma once
// The Windows conversation: the DDE management library (DDEML) as a client.
// Executes and requests are asynchronous transactions; their completions
// and the server's end of the conversation arrive through the library's
// callback while the application handles its window messages, so every wait
// here is an event loop: timer ticks go on and the end of the program ends it.
#include "DdeClientConv.h"

#include <QObject>
#include <memory>

// Wakes the conversation's waits when the library reported something.
class DdemlActivity : public QObject {
    Q_OBJECT
signals:
    void happened();
};

class DdemlDdeClientConv final : public TDdeClientConv {
public:
    DdemlDdeClientConv();
    ~DdemlDdeClientConv() override;

    bool SetLink(const QString& service, const QString& topic) override;
    bool OpenLink() override;
    void CloseLink() override;
    bool ExecuteMacro(const QString& command, bool waitFlag) override;
    std::optional<QByteArray> RequestData(const QString& item) override;
    void WaitForActivity(int ms) override;

    bool isOpen() const { return open_; }

    // How long OpenLink waits for a started service application's server,
    // and how often it asks for it meanwhile.
    int startWaitMs = 10000;
    int connectPollMs = 100;
    // How often an open conversation looks whether its server is still there
    // (a server that died says nothing).
    int partnerCheckMs = 250;

private:
    struct Impl;
    friend struct Impl;

    bool connectOnce();
    bool startServiceApplication();
    void release();

    std::unique_ptr<Impl> d;
    bool open_ = false;
    bool opening_ = false;
};
