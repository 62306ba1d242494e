#pragma once
// A broken DDE server under the service's name, in the test process: it
// answers a client's connection with garbage, a zero-length frame, a hang-up
// or silence, or accepts the conversation and then never replies. It runs
// only while the test process handles its events, as the client's waits do.
#include "DdeFrames.h"

#include <QByteArray>
#include <QList>
#include <QLocalServer>
#include <QLocalSocket>
#include <QString>

class HostileServer : public QObject {
public:
    enum class Mode { Garbage, ZeroLength, HangUp, Silent, MuteAfterAccept };

    explicit HostileServer(Mode mode) : mode_(mode)
    {
        const QString name = dde::serverName(QStringLiteral("Excel"));
        QLocalServer::removeServer(name);
        server_.setSocketOptions(QLocalServer::UserAccessOption);
        listening = server_.listen(name);
        connect(&server_, &QLocalServer::newConnection, this, [this] {
            while (QLocalSocket* s = server_.nextPendingConnection()) {
                ++connections;
                sockets_ << s;
                connect(s, &QLocalSocket::readyRead, this, [this, s] { answer(s); });
                if (s->bytesAvailable() > 0)
                    answer(s);
            }
        });
    }
    ~HostileServer() override
    {
        for (QLocalSocket* s : sockets_)
            s->abort();
        server_.close();
    }

    bool listening = false;
    int connections = 0;
    int requests = 0;

private:
    void answer(QLocalSocket* s)
    {
        const QByteArray in = s->readAll();
        switch (mode_) {
        case Mode::Garbage:
            s->write("HTTP/1.1 400 Bad Request\r\n\r\n");
            break;
        case Mode::ZeroLength:
            s->write(QByteArray(4, '\0'));
            break;
        case Mode::HangUp:
            s->abort();
            return;
        case Mode::Silent:
            return;
        case Mode::MuteAfterAccept:
            if (in.size() > 4 && in[4] == char(dde::FrameType::Connect))
                s->write(dde::encodeFrame({dde::FrameType::Accept, 0, false, {}}));
            else
                ++requests;
            break;
        }
        s->flush();
    }

    Mode mode_;
    QLocalServer server_;
    QList<QLocalSocket*> sockets_;
};
