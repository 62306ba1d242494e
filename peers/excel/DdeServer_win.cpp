#include "DdeServer.h"

#include "SheetSink.h"

#include <QCoreApplication>
#include <QDir>
#include <QHash>
#include <QStandardPaths>
#include <QTimer>
#include <memory>
#include <optional>

#include <windows.h>
#include <ddeml.h>

namespace {
HDDEDATA CALLBACK ignoreAll(UINT, UINT, HCONV, HSZ, HSZ, HDDEDATA, ULONG_PTR, ULONG_PTR)
{
    return nullptr;
}
} // namespace

// The server through the DDE management library, in its ANSI form: Excel's
// clients send their commands as CF_TEXT.
//
// A slow sheet takes each command in turn. An execute is logged and kept in
// the conversation's own line as it arrives, and its transaction answered
// with CBR_BLOCK: the library keeps it queued, unacknowledged. When a
// command's time has come it is carried out and the conversation enabled for
// one transaction: the library hands the queued one back and it is
// acknowledged there and then. So a client's completion of an execute means
// the command was carried out. A transaction handed back is never blocked
// again: Wine's library would drop it.
//
// A request is answered after the executes sent before it, as Excel's own
// are: a client's library matches each answer to its oldest open
// transaction (Wine's does nothing else). Wine's library goes on passing a
// conversation's transactions to the callback after a CBR_BLOCK, so a
// request behind held commands is blocked too and joins the line; Windows'
// library holds it by itself, and it is seen only when handed back.
struct DdeServer::Transport {
    struct Conversation {
        // Commands received and not yet carried out, and requests behind
        // them (held as empty texts), in order.
        QStringList waiting;
        bool releasing = false; // the library hands back a held transaction
        bool carriedOut = false; // ... whose command was carried out
        bool requestLogged = false; // ... a request logged as it arrived
    };

    explicit Transport(DdeServer* q);
    ~Transport();

    static HDDEDATA CALLBACK callback(UINT type, UINT fmt, HCONV hconv, HSZ hsz1, HSZ hsz2,
                                      HDDEDATA data, ULONG_PTR data1, ULONG_PTR data2);
    HDDEDATA execute(HCONV hconv, HDDEDATA data);
    HDDEDATA request(HCONV hconv, UINT fmt, HSZ item);
    void finishRunning();
    QString text(HSZ hsz) const;
    bool idle() const { return heldCount == 0 && q->sink_.idle(); }

    static Transport* self; // one server per program

    DdeServer* q;
    DWORD inst = 0;
    HSZ service = nullptr;
    QHash<HCONV, Conversation> conversations;
    // A conversation for each transaction held, the next to go first.
    QList<HCONV> held;
    int heldCount = 0;
    QTimer timer;
};

DdeServer::Transport* DdeServer::Transport::self = nullptr;

DdeServer::Transport::Transport(DdeServer* q) : q(q)
{
    self = this;
    q->sink_.onIdle = [this] {
        if (heldCount == 0)
            emit this->q->stateChanged();
    };
    timer.setSingleShot(true);
    QObject::connect(&timer, &QTimer::timeout, q, [this] { finishRunning(); });
}

DdeServer::Transport::~Transport()
{
    if (inst) {
        // Every client sees its conversation end.
        DdeUninitialize(inst);
        inst = 0;
    }
    if (self == this)
        self = nullptr;
}

DdeServer::DdeServer(SheetSink& sink, Options options, QObject* parent)
    : QObject(parent), sink_(sink), options_(std::move(options))
{
    openLog();
    t_ = std::make_unique<Transport>(this);
}

DdeServer::~DdeServer()
{
    t_.reset();
    sink_.onFailed = nullptr;
    sink_.onIdle = nullptr;
}

bool DdeServer::idle() const
{
    return t_->idle();
}

bool DdeServer::listen(QString* error)
{
    Transport& t = *t_;
    const UINT rc = DdeInitializeA(&t.inst, &Transport::callback,
                                   APPCMD_FILTERINITS | CBF_FAIL_ADVISES | CBF_FAIL_POKES
                                       | CBF_SKIP_REGISTRATIONS | CBF_SKIP_UNREGISTRATIONS,
                                   0);
    if (rc != DMLERR_NO_ERROR) {
        t.inst = 0;
        if (error)
            *error = QStringLiteral("DdeInitialize failed (%1)").arg(rc);
        return false;
    }
    t.service = DdeCreateStringHandleA(t.inst, options_.service.toLocal8Bit().constData(), CP_WINANSI);
    if (!DdeNameService(t.inst, t.service, nullptr, DNS_REGISTER)) {
        if (error)
            *error = QStringLiteral("DdeNameService failed (%1)").arg(DdeGetLastError(t.inst));
        return false;
    }
    return true;
}

void DdeServer::closeAll()
{
    Transport& t = *t_;
    t.timer.stop();
    t.held.clear();
    t.heldCount = 0;
    if (!t.inst)
        return;
    DdeNameService(t.inst, t.service, nullptr, DNS_UNREGISTER);
    const QList<HCONV> open = t.conversations.keys();
    t.conversations.clear();
    for (HCONV c : open)
        DdeDisconnect(c);
}

QString DdeServer::lockFilePath(const QString& service)
{
    return QDir(QStandardPaths::writableLocation(QStandardPaths::TempLocation))
        .filePath(QStringLiteral("dsg-dde-") + service.toLower() + QStringLiteral(".lock"));
}

bool DdeServer::alreadyServed(const QString& service)
{
    DWORD inst = 0;
    if (DdeInitializeA(&inst, &ignoreAll, APPCMD_CLIENTONLY, 0) != DMLERR_NO_ERROR)
        return false;
    const HSZ s = DdeCreateStringHandleA(inst, service.toLocal8Bit().constData(), CP_WINANSI);
    const HSZ topic = DdeCreateStringHandleA(inst, "System", CP_WINANSI);
    const HCONV conv = DdeConnect(inst, s, topic, nullptr);
    if (conv)
        DdeDisconnect(conv);
    DdeFreeStringHandle(inst, s);
    DdeFreeStringHandle(inst, topic);
    DdeUninitialize(inst);
    return conv != nullptr;
}

bool DdeServer::mayServe(const QString&, QString*)
{
    return true; // the library keeps a user's conversations to the user's desktop
}

QString DdeServer::Transport::text(HSZ hsz) const
{
    char buffer[256] = {};
    DdeQueryStringA(inst, hsz, buffer, sizeof buffer, CP_WINANSI);
    return QString::fromLocal8Bit(buffer);
}

HDDEDATA CALLBACK DdeServer::Transport::callback(UINT type, UINT fmt, HCONV hconv, HSZ hsz1, HSZ hsz2,
                                                 HDDEDATA data, ULONG_PTR, ULONG_PTR)
{
    Transport* t = self;
    if (!t)
        return nullptr;
    DdeServer* q = t->q;
    switch (type) {
    case XTYP_CONNECT: {
        const QString topic = t->text(hsz1);
        q->log(QStringLiteral("connect ") + topic);
        emit q->conversationAsked();
        const bool accept = !q->options_.refuse
                            && topic.compare(QLatin1String("System"), Qt::CaseInsensitive) == 0;
        return reinterpret_cast<HDDEDATA>(accept ? TRUE : FALSE);
    }
    case XTYP_CONNECT_CONFIRM:
        t->conversations.insert(hconv, Conversation{});
        q->sink_.conversationOpened();
        return nullptr;
    case XTYP_DISCONNECT:
        t->conversations.remove(hconv);
        if (t->held.removeAll(hconv) > 0) {
            t->heldCount = int(t->held.size());
            emit q->stateChanged();
        }
        return nullptr;
    case XTYP_EXECUTE:
        return t->execute(hconv, data);
    case XTYP_REQUEST:
        return t->request(hconv, fmt, hsz2);
    default:
        return nullptr;
    }
}

namespace {
QString commandText(HDDEDATA data)
{
    QByteArray bytes(qsizetype(DdeGetData(data, nullptr, 0, 0)), '\0');
    if (!bytes.isEmpty())
        DdeGetData(data, reinterpret_cast<LPBYTE>(bytes.data()), DWORD(bytes.size()), 0);
    // Text ends at its first zero; a Unicode client's text comes as UTF-16.
    QString command;
    if (bytes.size() >= 2 && bytes[1] == '\0' && bytes[0] != '\0')
        command = QString::fromUtf16(reinterpret_cast<const char16_t*>(bytes.constData()),
                                     bytes.size() / 2);
    else
        command = QString::fromLocal8Bit(bytes);
    const qsizetype zero = command.indexOf(QChar(u'\0'));
    if (zero >= 0)
        command.truncate(zero);
    return command;
}
} // namespace

HDDEDATA DdeServer::Transport::execute(HCONV hconv, HDDEDATA data)
{
    auto it = conversations.find(hconv);
    if (it == conversations.end())
        return reinterpret_cast<HDDEDATA>(DDE_FNOTPROCESSED);
    if (it->releasing) {
        it->releasing = false;
        if (it->carriedOut) {
            // Carried out when its time came: acknowledged now.
            it->carriedOut = false;
            return reinterpret_cast<HDDEDATA>(DDE_FACK);
        }
        // One Windows' library queued without showing it: its time has
        // come too.
        const QString command = commandText(data);
        q->log(QStringLiteral("execute - ") + command);
        q->carryOut(command);
        return reinterpret_cast<HDDEDATA>(DDE_FACK);
    }
    const QString command = commandText(data);
    // The library does not pass on the client's wait flag.
    q->log(QStringLiteral("execute - ") + command);
    if (q->options_.delayMs <= 0 && held.isEmpty()) {
        q->carryOut(command);
        return reinterpret_cast<HDDEDATA>(DDE_FACK);
    }
    const bool wasIdle = idle();
    it->waiting.append(command);
    held.append(hconv);
    heldCount = int(held.size());
    if (!timer.isActive())
        timer.start(qMax(0, q->options_.delayMs));
    if (wasIdle)
        emit q->stateChanged();
    return CBR_BLOCK;
}

void DdeServer::Transport::finishRunning()
{
    // One command, and the requests right behind it (they take no time).
    bool commandDone = false;
    while (!held.isEmpty()) {
        const HCONV hconv = held.first();
        auto it = conversations.find(hconv);
        if (it == conversations.end()) {
            held.removeFirst();
            continue;
        }
        const bool isRequest = !it->waiting.isEmpty() && it->waiting.first().isEmpty();
        if (!isRequest && commandDone)
            break;
        held.removeFirst();
        heldCount = int(held.size());
        if (!it->waiting.isEmpty()) {
            const QString next = it->waiting.takeFirst();
            if (!isRequest) {
                q->carryOut(next);
                it->carriedOut = true;
            }
        }
        commandDone = commandDone || !isRequest;
        it->releasing = true;
        DdeEnableCallback(inst, hconv, EC_ENABLEONE);
        it = conversations.find(hconv); // the callback may have ended it
        if (it == conversations.end())
            continue;
        it->releasing = false;
        it->carriedOut = false;
        if (DdeEnableCallback(inst, hconv, EC_QUERYWAITING)) {
            if (!held.contains(hconv))
                held.append(hconv); // queued where the callback did not see it
        } else {
            DdeEnableCallback(inst, hconv, EC_ENABLEALL);
        }
    }
    heldCount = int(held.size());
    if (!held.isEmpty())
        timer.start(qMax(0, q->options_.delayMs));
    else if (idle())
        emit q->stateChanged();
}

HDDEDATA DdeServer::Transport::request(HCONV hconv, UINT fmt, HSZ hszItem)
{
    auto it = conversations.find(hconv);
    const bool handedBack = it != conversations.end() && it->releasing;
    if (handedBack)
        it->releasing = false;
    const QString item = text(hszItem);
    if (!handedBack || !it->requestLogged)
        q->log(QStringLiteral("request ") + item);
    if (it != conversations.end() && !handedBack && held.contains(hconv)) {
        it->waiting.append(QString());
        it->requestLogged = true;
        held.append(hconv);
        heldCount = int(held.size());
        return CBR_BLOCK;
    }
    if (it != conversations.end())
        it->requestLogged = false;
    if (it == conversations.end() || fmt != CF_TEXT)
        return nullptr;
    if (q->options_.mute)
        return CBR_BLOCK; // held for good: the client's wait runs out
    auto answer = std::make_shared<std::optional<QString>>();
    if (item.compare(QLatin1String("Status"), Qt::CaseInsensitive) == 0)
        *answer = idle() ? QStringLiteral("Ready") : QStringLiteral("Busy");
    else
        // The grid answers before returning; a sheet that would answer later
        // gives nothing here.
        q->sink_.query(item, [answer](std::optional<QString> text) { *answer = std::move(text); });
    if (!*answer)
        return nullptr;
    QByteArray bytes = (*answer)->toLocal8Bit();
    bytes.append('\0');
    return DdeCreateDataHandle(inst, reinterpret_cast<LPBYTE>(bytes.data()), DWORD(bytes.size()), 0,
                               hszItem, CF_TEXT, 0);
}
