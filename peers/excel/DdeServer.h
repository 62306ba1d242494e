#pragma once
// The spreadsheet's DDE server: service "Excel", topic "System", on the
// local socket of platform/dde (see FRAMES.md there).
#include "DdeFrames.h"

#include <QFile>
#include <QHash>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <deque>
#include <memory>

class QLocalServer;
class QLocalSocket;
class Sheet;

class DdeServer : public QObject {
    Q_OBJECT
public:
    struct Options {
        QString service = QStringLiteral("Excel");
        int delayMs = 0;      // time to carry out each command
        bool refuse = false;  // refuse every conversation
        QString logFile;      // append every received frame here
    };

    DdeServer(Sheet& sheet, Options options, QObject* parent = nullptr);
    ~DdeServer() override;

    // Listens on the service's name; false (with a reason) when it cannot.
    bool listen(QString* error);

    // The folder that holds the server's socket may be written by no one
    // but the current user: in a shared folder another user could put a
    // socket of their own in its place. False, with the reason, otherwise.
    static bool folderIsPrivate(const QString& socketPath, QString* why);

    // Every command received has been carried out.
    bool idle() const { return queue_.empty(); }

signals:
    void stateChanged(); // idle() may have changed

private:
    struct Client {
        dde::FrameReader reader;
        bool open = false;
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
    void carryOut(const Pending& p);
    void runNext();
    void send(QLocalSocket* socket, dde::FrameType type, quint32 id, const QByteArray& text = {});
    void log(const QString& line);
    QByteArray item(const QString& name) const;
    QString cellItem(const QString& ref) const;

    Sheet& sheet_;
    Options options_;
    QLocalServer* server_ = nullptr;
    QHash<QLocalSocket*, Client> clients_;
    std::deque<Pending> queue_;
    QTimer timer_;
    QFile log_;
    QByteArray out_;
};
