#pragma once
// One DDE client conversation: the operations the Excel client relies on and
// nothing more. The interface is abstract so that tests can record what the
// client asks of it; production uses the local-socket conversation below (a
// DDEML one can stand in its place on Windows).
#include <QByteArray>
#include <QString>
#include <functional>
#include <memory>
#include <optional>

#ifdef Q_OS_UNIX
#include <sys/types.h>
#endif

class TDdeClientConv {
public:
    enum class ConnectMode { Automatic, Manual };

    virtual ~TDdeClientConv() = default;

    // Sets service and topic for the next open. In automatic mode the link
    // is opened at once and the result is that of the open; in manual mode
    // it only records them and returns true.
    virtual bool SetLink(const QString& service, const QString& topic) = 0;
    // Opens the conversation. When the first attempt fails and a service
    // application is set, starts that program (minimised, not activated)
    // and tries once more after a bounded wait for its server.
    virtual bool OpenLink() = 0;
    // Closes the conversation (raising the close notification when it was
    // open).
    virtual void CloseLink() = 0;
    // Hands the command to the server and returns at once. False when no
    // conversation is open or a wait-flag execute is still in progress; a
    // wait-flag execute keeps WaitStat set until the server completed it.
    virtual bool ExecuteMacro(const QString& command, bool waitFlag) = 0;
    // Asks for an item and waits up to RequestTimeoutMs for the reply.
    // Nothing when no conversation is open, WaitStat is set or no reply came.
    virtual std::optional<QByteArray> RequestData(const QString& item) = 0;
    // Handles the application's events until the server sends something,
    // the conversation ends, the program quits or `ms` pass: the pause
    // between two polls of a wait, instead of asking again at once.
    virtual void WaitForActivity(int ms);

    // Plain settings and state.
    QString ServiceApplication() const { return serviceApplication_; }
    void setServiceApplication(const QString& program) { serviceApplication_ = program; }
    // False filters the format characters (backspace, tab, line feed,
    // carriage return) out of requested data; true passes them through.
    bool FormatChars() const { return formatChars_; }
    void setFormatChars(bool on) { formatChars_ = on; }
    ConnectMode connectMode() const { return connectMode_; }
    void setConnectMode(ConnectMode mode) { connectMode_ = mode; }
    QString DdeService() const { return service_; }
    QString DdeTopic() const { return topic_; }
    // A wait-flag execute is still in progress.
    bool WaitStat() const { return waitStat_; }

    // Raised after the conversation opened, and after it closed (by
    // CloseLink or because the server ended it).
    std::function<void()> OnOpen;
    std::function<void()> OnClose;

    static constexpr int RequestTimeoutMs = 10000;

    // The production conversation; tests may install a factory of their own.
    static std::unique_ptr<TDdeClientConv> create();
    static void setFactory(std::function<std::unique_ptr<TDdeClientConv>()> factory);

protected:
    void notifyOpen()
    {
        if (OnOpen)
            OnOpen();
    }
    void notifyClose()
    {
        if (OnClose)
            OnClose();
    }
    // Applies FormatChars to requested data.
    QByteArray filterData(QByteArray data) const;

    QString service_;
    QString topic_;
    QString serviceApplication_;
    bool formatChars_ = false;
    ConnectMode connectMode_ = ConnectMode::Automatic;
    bool waitStat_ = false;
};

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
#ifdef Q_OS_UNIX
    // The user whose server socket this client talks to: the one it runs as.
    uid_t serverOwner;
#endif

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

#ifdef Q_OS_UNIX
    static constexpr bool CoalesceExecutes = true;
#else
    static constexpr bool CoalesceExecutes = false;
#endif
    static constexpr qint64 FlushThreshold = 16 * 1024;

    struct Impl;
    std::unique_ptr<Impl> d;
    bool open_ = false;
    bool opening_ = false;
};
