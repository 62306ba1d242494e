#include "DdeFrames.h"

#include <QDir>
#include <QStandardPaths>
#include <QFile>
#include <QFileInfo>
#include <QtEndian>

#ifdef Q_OS_UNIX
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace dde {
namespace {

bool hasId(FrameType type)
{
    switch (type) {
    case FrameType::Execute:
    case FrameType::Done:
    case FrameType::Request:
    case FrameType::Data:
    case FrameType::NoData:
        return true;
    default:
        return false;
    }
}

bool knownType(quint8 t)
{
    switch (FrameType(t)) {
    case FrameType::Connect:
    case FrameType::Accept:
    case FrameType::Refuse:
    case FrameType::Execute:
    case FrameType::Done:
    case FrameType::Request:
    case FrameType::Data:
    case FrameType::NoData:
        return true;
    }
    return false;
}

void appendU32(QByteArray& out, quint32 v)
{
    char b[4];
    qToBigEndian(v, b);
    out.append(b, 4);
}

} // namespace

void appendFrame(QByteArray& out, FrameType type, quint32 id, bool wait, const QByteArray& text)
{
    quint32 length = 1 + quint32(text.size());
    if (hasId(type))
        length += 4;
    if (type == FrameType::Execute)
        length += 1;
    appendU32(out, length);
    out.append(char(type));
    if (hasId(type))
        appendU32(out, id);
    if (type == FrameType::Execute)
        out.append(char(wait ? 1 : 0));
    out.append(text);
}

QByteArray encodeFrame(const Frame& frame)
{
    QByteArray out;
    appendFrame(out, frame.type, frame.id, frame.wait, frame.text);
    return out;
}

void FrameReader::append(const QByteArray& bytes)
{
    if (pos_ > 0 && pos_ >= buffer_.size() / 2) {
        buffer_.remove(0, pos_);
        pos_ = 0;
    }
    buffer_.append(bytes);
}

std::optional<Frame> FrameReader::next()
{
    if (malformed_ || buffer_.size() - pos_ < 4)
        return std::nullopt;
    const char* p = buffer_.constData() + pos_;
    const quint32 length = qFromBigEndian<quint32>(p);
    if (length == 0 || length > MaxFrameLength) {
        malformed_ = true;
        return std::nullopt;
    }
    if (buffer_.size() - pos_ - 4 < qsizetype(length))
        return std::nullopt;
    p += 4;
    const quint8 t = quint8(p[0]);
    if (!knownType(t)) {
        malformed_ = true;
        return std::nullopt;
    }
    Frame f;
    f.type = FrameType(t);
    quint32 header = 1;
    if (hasId(f.type))
        header += 4;
    if (f.type == FrameType::Execute)
        header += 1;
    if (length < header) {
        malformed_ = true;
        return std::nullopt;
    }
    if (hasId(f.type))
        f.id = qFromBigEndian<quint32>(p + 1);
    if (f.type == FrameType::Execute)
        f.wait = p[5] != 0;
    f.text = QByteArray(p + header, qsizetype(length - header));
    pos_ += 4 + qsizetype(length);
    if (pos_ == buffer_.size()) {
        buffer_.clear();
        pos_ = 0;
    }
    return f;
}

void FrameReader::clear()
{
    buffer_.clear();
    pos_ = 0;
    malformed_ = false;
}

QString serverName(const QString& service)
{
    const QString name = QStringLiteral("dde-") + service.toLower();
#ifdef Q_OS_WIN
    return name;
#else
    QString dir = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (dir.isEmpty())
        dir = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (dir.isEmpty())
        dir = QDir::tempPath();
    return QDir(dir).filePath(name);
#endif
}

#ifdef Q_OS_UNIX
ServerSocket checkServerSocket(const QString& path, uid_t uid)
{
    const QByteArray file = QFile::encodeName(path);
    const QByteArray folder = QFile::encodeName(QFileInfo(path).absolutePath());
    struct stat st {};
    // The folder as it is reached (a link to it is fine if what it leads
    // to is the user's); the socket itself as it stands, links not followed.
    if (::stat(folder.constData(), &st) != 0)
        return ServerSocket::Missing;
    if (!S_ISDIR(st.st_mode) || st.st_uid != uid)
        return ServerSocket::Foreign;
    if (::lstat(file.constData(), &st) != 0)
        return ServerSocket::Missing;
    if (st.st_uid != uid)
        return ServerSocket::Foreign;
    return S_ISSOCK(st.st_mode) ? ServerSocket::Owned : ServerSocket::Missing;
}

bool peerIsUser(qintptr descriptor, uid_t uid)
{
    if (descriptor < 0)
        return false;
#if defined(Q_OS_LINUX)
    ucred cred{};
    socklen_t size = sizeof cred;
    if (::getsockopt(int(descriptor), SOL_SOCKET, SO_PEERCRED, &cred, &size) != 0
        || size != sizeof cred)
        return false;
    return cred.uid == uid;
#else
    uid_t peer = 0;
    gid_t group = 0;
    if (::getpeereid(int(descriptor), &peer, &group) != 0)
        return false;
    return peer == uid;
#endif
}
#endif

} // namespace dde
