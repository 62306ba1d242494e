#pragma once
// One DDE client conversation: the operations the Excel client relies on and
// nothing more. The interface is abstract so that tests can record what the
// client asks of it. Production uses the local-socket conversation
// (LocalSocketDdeClientConv.h) on Linux and the DDEML one on Windows.
#include <QByteArray>
#include <QString>
#include <functional>
#include <memory>
#include <optional>

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
