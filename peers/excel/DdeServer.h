#pragma once
// The spreadsheet's DDE server: service "Excel", topic "System", on the
// local socket of platform/dde (see FRAMES.md there). Commands are parsed
// here and carried out by a sheet sink.
#include "DdeFrames.h"

#include <QFile>
#include <QHash>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <deque>
#include <memory>
#include <optional>

class QLocalServer;
class QLocalSocket;
class SheetSink;
namespace macro {
struct Command;
}

class DdeServer : public QObject {
    Q_OBJECT
public:
    struct Options {
        QString service = QStringLiteral("Excel");
        int delayMs = 0;      // time to carry out each command
        bool refuse = false;  // refuse every conversation
        QString logFile;      // append every received frame here
        // A "Status" asked for while commands wait is answered when they are
        // done, or after this long with "Busy" (0: at once). A client that
        // polls for "Ready" then asks a few times, not thousands of times,
        // during a long wait, and still hears "Ready" at once.
        int statusHoldMs = 0;
    };

    DdeServer(SheetSink& sink, Options options, QObject* parent = nullptr);
    ~DdeServer() override;

    // Listens on the service's name; false (with a reason) when it cannot.
    bool listen(QString* error);

    // The folder that holds the server's socket may be written by no one
    // but the current user: in a shared folder another user could put a
    // socket of their own in its place. False, with the reason, otherwise.
    static bool folderIsPrivate(const QString& socketPath, QString* why);

    // Every command received has been carried out.
    bool idle() const;
    // From now on every conversation is refused.
    void refuseAll() { options_.refuse = true; }
    // Ends every conversation (the sheet has gone).
    void closeAll();

signals:
    void stateChanged(); // idle() may have changed
    void conversationAsked();

private:
    struct Reply {
        quint64 serial = 0;
        quint32 id = 0;
        bool ready = false;
        std::optional<QByteArray> data;
    };
    struct Client {
        dde::FrameReader reader;
        bool open = false;
        // Requests are answered in order; an item of the sheet may take a
        // while to come back from where the sheet lives.
        std::deque<Reply> replies;
        quint64 nextSerial = 1;
    };
    struct Pending {
        QPointer<QLocalSocket> socket;
        quint32 id = 0;
        bool wait = false;
        QString command;
    };

    void newConnection();
    void readClient(QLocalSocket* socket);
    void handleFrame(QLocalSocket* socket, Client& client, const dde::Frame& frame);
    void request(QLocalSocket* socket, Client& client, quint32 id, const QString& item);
    void answered(QLocalSocket* socket, quint64 serial, std::optional<QByteArray> data);
    void answerHeldStatus();
    void carryOut(const Pending& p);
    void runNext();
    void send(QLocalSocket* socket, dde::FrameType type, quint32 id, const QByteArray& text = {});
    void log(const QString& line);

    SheetSink& sink_;
    Options options_;
    QLocalServer* server_ = nullptr;
    QHash<QLocalSocket*, Client> clients_;
    std::deque<Pending> queue_;
    QTimer timer_;
    std::deque<std::pair<QPointer<QLocalSocket>, quint64>> heldStatus_;
    QTimer statusHold_;
    QFile log_;
    QByteArray out_;
};
