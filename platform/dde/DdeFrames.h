#pragma once
// The frames a DDE client and a DDE server exchange over a local socket.
// Layout and meaning are described in FRAMES.md beside this file.
#include <QByteArray>
#include <QString>
#include <QtGlobal>
#include <optional>

#ifdef Q_OS_UNIX
#include <sys/types.h>
#endif

namespace dde {

enum class FrameType : quint8 {
    Connect = 'C', // client: topic
    Accept = 'A',  // server: conversation on that topic is open
    Refuse = 'R',  // server: no conversation
    Execute = 'X', // client: id, wait flag, command
    Done = 'D',    // server: id (only for executes with the wait flag)
    Request = 'Q', // client: id, item
    Data = 'V',    // server: id, data
    NoData = 'N',  // server: id
};

struct Frame {
    FrameType type = FrameType::Connect;
    quint32 id = 0;
    bool wait = false;
    QByteArray text; // topic, command, item or data
};

// Frames longer than this are treated as a broken peer.
inline constexpr quint32 MaxFrameLength = 64u * 1024u * 1024u;

QByteArray encodeFrame(const Frame& frame);
// Appends the encoded frame to `out` (saves a copy on hot paths).
void appendFrame(QByteArray& out, FrameType type, quint32 id, bool wait, const QByteArray& text);

// Collects the bytes of a stream and hands out complete frames. Consumed
// bytes are dropped lazily so that a burst of many small frames is parsed
// in linear time.
class FrameReader {
public:
    void append(const QByteArray& bytes);
    // The next complete frame, or nothing until more bytes arrive. A frame
    // that cannot be valid sets malformed(); the stream is unusable then.
    std::optional<Frame> next();
    bool malformed() const { return malformed_; }
    void clear();

private:
    QByteArray buffer_;
    qsizetype pos_ = 0;
    bool malformed_ = false;
};

// Where the server of `service` listens: "dde-<service in lower case>" in
// the user's runtime folder (a pipe name on Windows).
QString serverName(const QString& service);

#ifdef Q_OS_UNIX
// Whether a client of the user `uid` may talk to the server socket at
// `path`. A runtime folder that others can write lets them put a socket of
// their own under the service's name, and it would receive everything the
// client sends.
enum class ServerSocket {
    Owned,   // a socket of that user in a folder of that user
    Missing, // nothing there yet (or no socket), in a folder of that user
    Foreign, // the socket or its folder belongs to someone else
};
ServerSocket checkServerSocket(const QString& path, uid_t uid);
// The process at the other end of the connected local socket `descriptor`
// runs as `uid` (closes the gap between checking the path and connecting).
bool peerIsUser(qintptr descriptor, uid_t uid);
#endif

} // namespace dde
