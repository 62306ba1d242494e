#pragma once
// The Linux conversation: a local socket to the server of the service.
#include "DdeClientConv.h"

#include <sys/types.h>

class QLocalSocket;

// The conversation over a local socket to the server of the service (see
// FRAMES.md). Incoming "done" frames and the server's end of the socket are
// seen whenever the application handles its pending events. Its own waits
// (connecting, the handshake, a request's reply) handle the application's
// events too, as a DDE transaction's modal loop does, so timer ticks go on
// and a close of the main window ends them. Once the program is quitting it
// opens nothing, hands nothing over and gets no reply.
class LocalSocketDdeClientConv final : public TDdeClientConv {
public:
    LocalSocketDdeClientConv();
    ~LocalSocketDdeClientConv() override;

    bool SetLink(const QString& service, const QString& topic) override;
    bool OpenLink() override;
    void CloseLink() override;
    bool ExecuteMacro(const QString& command, bool waitFlag) override;
    std::optional<QByteArray> RequestData(const QString& item) override;

    void WaitForActivity(int ms) override;

    bool isOpen() const { return open_; }

    // How long OpenLink waits for a started service application's server.
    int startWaitMs = 10000;
    // How long one open attempt waits for the server's accept or refuse. A
    // server answers at once; one that does not is broken, and an open pays
    // for it at most twice (before and after starting the application).
    int handshakeTimeoutMs = 1000;
    // How long one open attempt waits for the connection itself.
    int connectTimeoutMs = 1000;
    // The user whose server socket this client talks to: the one it runs as.
    uid_t serverOwner;

private:
    // NoServer: nothing listens (yet). Broken: a server that sent garbage,
    // hung up or kept silent instead of answering. Foreign: a socket that is
    // not the user's. Only NoServer is worth trying again.
    enum class Attempt { Accepted, Refused, NoServer, Broken, Foreign };
    Attempt tryOpen();
    bool startServiceApplication();
    void readIncoming();
    void lostConnection();
    bool writeFrame(const QByteArray& frame);
    bool queueFrame(const QByteArray& frame);
    bool peerAlive();

    static constexpr bool CoalesceExecutes = true;
    static constexpr qint64 FlushThreshold = 16 * 1024;

    struct Impl;
    std::unique_ptr<Impl> d;
    bool open_ = false;
    bool opening_ = false;
};
