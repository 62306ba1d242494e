#include "DdeServer.h"

#include "Sheet.h"

#include <QLocalServer>
#include <QLocalSocket>
#include <QFileInfo>
#include <QRegularExpression>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {
// Clients that may wait to be accepted at once (a burst of connects while
// the server is busy must not be turned away by the kernel).
constexpr int ListenBacklog = 1024;
} // namespace

DdeServer::DdeServer(Sheet& sheet, Options options, QObject* parent)
    : QObject(parent), sheet_(sheet), options_(std::move(options))
{
    timer_.setSingleShot(true);
    connect(&timer_, &QTimer::timeout, this, &DdeServer::runNext);
    if (!options_.logFile.isEmpty()) {
        log_.setFileName(options_.logFile);
        if (!log_.open(QIODevice::Append | QIODevice::Text))
            qWarning("Excel: cannot open log %s", qPrintable(options_.logFile));
    }
}

DdeServer::~DdeServer()
{
    for (auto it = clients_.keyBegin(); it != clients_.keyEnd(); ++it)
        (*it)->disconnect(this);
}

bool DdeServer::listen(QString* error)
{
    const QString name = dde::serverName(options_.service);
    server_ = new QLocalServer(this);
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    server_->setListenBacklogSize(ListenBacklog);
    server_->setMaxPendingConnections(ListenBacklog);
    QLocalServer::removeServer(name); // a socket left by a killed instance
    if (!server_->listen(name)) {
        if (error)
            *error = server_->errorString();
        return false;
    }
    connect(server_, &QLocalServer::newConnection, this, &DdeServer::newConnection);
    return true;
}

bool DdeServer::folderIsPrivate(const QString& socketPath, QString* why)
{
#ifdef Q_OS_UNIX
    const QString dir = QFileInfo(socketPath).absolutePath();
    struct stat st {};
    if (::lstat(QFile::encodeName(dir).constData(), &st) != 0) {
        *why = QStringLiteral("%1 cannot be read").arg(dir);
        return false;
    }
    if (!S_ISDIR(st.st_mode)) {
        *why = QStringLiteral("%1 is not a folder").arg(dir);
        return false;
    }
    if (st.st_uid != ::geteuid()) {
        *why = QStringLiteral("%1 belongs to another user").arg(dir);
        return false;
    }
    if (st.st_mode & (S_IWGRP | S_IWOTH)) {
        *why = QStringLiteral("%1 can be written by others (mode %2)")
                   .arg(dir)
                   .arg(st.st_mode & 07777, 4, 8, QChar(u'0'));
        return false;
    }
#else
    Q_UNUSED(socketPath);
    Q_UNUSED(why);
#endif
    return true;
}

void DdeServer::newConnection()
{
    while (QLocalSocket* s = server_->nextPendingConnection()) {
        clients_.insert(s, Client{});
        connect(s, &QLocalSocket::readyRead, this, [this, s] { readClient(s); });
        connect(s, &QLocalSocket::disconnected, this, [this, s] {
            clients_.remove(s);
            s->deleteLater();
        });
        if (s->bytesAvailable() > 0)
            readClient(s);
    }
}

void DdeServer::readClient(QLocalSocket* socket)
{
    auto it = clients_.find(socket);
    if (it == clients_.end())
        return;
    it->reader.append(socket->readAll());
    while (auto f = it->reader.next()) {
        handleFrame(socket, *it, *f);
        it = clients_.find(socket); // handling may have dropped the client
        if (it == clients_.end())
            return;
    }
    if (it->reader.malformed()) {
        log(QStringLiteral("malformed"));
        socket->abort();
    }
}

void DdeServer::handleFrame(QLocalSocket* socket, Client& client, const dde::Frame& f)
{
    switch (f.type) {
    case dde::FrameType::Connect: {
        const QString topic = QString::fromUtf8(f.text);
        log(QStringLiteral("connect ") + topic);
        if (!client.open && !options_.refuse
            && topic.compare(QLatin1String("System"), Qt::CaseInsensitive) == 0) {
            client.open = true;
            send(socket, dde::FrameType::Accept, 0);
        } else {
            send(socket, dde::FrameType::Refuse, 0);
            socket->disconnectFromServer();
        }
        return;
    }
    case dde::FrameType::Execute: {
        const QString command = QString::fromUtf8(f.text);
        log(QStringLiteral("execute ") + (f.wait ? u'1' : u'0') + u' ' + command);
        if (!client.open)
            return;
        Pending p{socket, f.id, f.wait, command};
        if (options_.delayMs <= 0 && queue_.empty()) {
            carryOut(p);
            return;
        }
        const bool wasIdle = queue_.empty();
        queue_.push_back(std::move(p));
        if (!timer_.isActive())
            timer_.start(options_.delayMs);
        if (wasIdle)
            emit stateChanged();
        return;
    }
    case dde::FrameType::Request: {
        const QString name = QString::fromUtf8(f.text);
        log(QStringLiteral("request ") + name);
        const QByteArray data = client.open ? item(name) : QByteArray();
        if (data.isNull())
            send(socket, dde::FrameType::NoData, f.id);
        else
            send(socket, dde::FrameType::Data, f.id, data);
        return;
    }
    default:
        log(QStringLiteral("unexpected %1").arg(QChar(char(f.type))));
        return;
    }
}

QByteArray DdeServer::item(const QString& name) const
{
    QString text;
    if (name.compare(QLatin1String("Status"), Qt::CaseInsensitive) == 0)
        text = idle() ? QStringLiteral("Ready") : QStringLiteral("Busy");
    else if (name.compare(QLatin1String("Selection"), Qt::CaseInsensitive) == 0)
        text = sheet_.selection();
    else if (name.compare(QLatin1String("Sheet"), Qt::CaseInsensitive) == 0)
        text = sheet_.toCsv();
    else if (name.startsWith(QLatin1String("Cell "), Qt::CaseInsensitive))
        text = cellItem(name.mid(5));
    else
        return QByteArray();
    // Text items end with a zero byte, as clipboard text does.
    QByteArray data = text.toUtf8();
    data.append('\0');
    return data;
}

QString DdeServer::cellItem(const QString& ref) const
{
    static const QRegularExpression rc(QStringLiteral(R"(^R(\d+)C(\d+)$)"),
                                       QRegularExpression::CaseInsensitiveOption);
    const auto m = rc.match(ref.trimmed());
    if (!m.hasMatch())
        return QStringLiteral("E");
    const Cell* c = sheet_.cell(m.captured(1).toInt(), m.captured(2).toInt());
    if (!c)
        return QStringLiteral("E");
    return (c->text ? QStringLiteral("T:") : QStringLiteral("V:")) + c->value;
}

void DdeServer::carryOut(const Pending& p)
{
    if (!sheet_.execute(p.command))
        log(QStringLiteral("failed ") + p.command);
    if (p.wait && p.socket)
        send(p.socket, dde::FrameType::Done, p.id);
}

void DdeServer::runNext()
{
    if (queue_.empty())
        return;
    const Pending p = std::move(queue_.front());
    queue_.pop_front();
    carryOut(p);
    if (!queue_.empty())
        timer_.start(options_.delayMs);
    else
        emit stateChanged();
}

void DdeServer::send(QLocalSocket* socket, dde::FrameType type, quint32 id, const QByteArray& text)
{
    out_.clear();
    dde::appendFrame(out_, type, id, false, text);
    socket->write(out_);
    socket->flush();
}

void DdeServer::log(const QString& line)
{
    if (!log_.isOpen())
        return;
    QString l = line;
    l.replace(u'\n', QStringLiteral("\\n"));
    log_.write(l.toUtf8() + '\n');
    log_.flush();
}
