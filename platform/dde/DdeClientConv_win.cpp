#include "DdemlDdeClientConv.h"

#include "DdeClientConv_p.h"

#include <QAbstractNativeEventFilter>
#include <QDir>
#include <QHash>
#include <QList>
#include <QSet>
#include <QTimer>

#include <windows.h>
#include <dde.h>
#include <ddeml.h>

using dde_detail::EventWait;
using dde_detail::remainingMs;

namespace {
// Wine hands out a transaction's id in the high word but looks it up by the
// plain number; the library of Windows takes back what it handed out.
void abandon(DWORD inst, HCONV conv, DWORD id)
{
    DdeAbandonTransaction(inst, conv, id);
    if (LOWORD(id) == 0 && HIWORD(id) != 0)
        DdeAbandonTransaction(inst, conv, HIWORD(id));
}
} // namespace

std::unique_ptr<TDdeClientConv> dde_detail::createPlatformConv()
{
    return std::make_unique<DdemlDdeClientConv>();
}

// The ANSI library with CF_TEXT: what Excel takes from every client, and the
// spreadsheet's own texts are plain ASCII.
struct DdemlDdeClientConv::Impl {
    explicit Impl(DdemlDdeClientConv* owner) : owner(owner)
    {
        partnerTimer.setTimerType(Qt::CoarseTimer);
        QObject::connect(&partnerTimer, &QTimer::timeout, &activity, [this] { checkPartner(); });
    }

    DdemlDdeClientConv* owner;
    DWORD inst = 0;
    HCONV conv = nullptr;
    HWND window = nullptr;  // the library's window of this conversation
    HWND partner = nullptr; // the server's
    DWORD waitId = 0;       // the wait-flag execute in progress
    DWORD requestId = 0;    // the request being waited for
    QSet<DWORD> pending;    // handed over, not completed
    bool unanswered = false; // a request of this conversation timed out
    QSet<ATOM> requestAtoms; // the names of the items asked for
    std::optional<std::optional<QByteArray>> reply;
    DdemlActivity activity;
    QTimer partnerTimer;

    // The callback has no room for a context: it finds its conversation by
    // the handle. Everything runs on the GUI thread.
    static QList<Impl*>& live()
    {
        static QList<Impl*> all;
        return all;
    }
    static HDDEDATA CALLBACK callback(UINT type, UINT fmt, HCONV hconv, HSZ hsz1, HSZ hsz2,
                                      HDDEDATA data, ULONG_PTR data1, ULONG_PTR data2);
    void completed(DWORD id, HDDEDATA data);
    void disconnected();
    bool partnerGone() const;
    void checkPartner()
    {
        if (owner->open_ && partnerGone())
            disconnected();
    }
    void watchMessages(bool on);
    static bool filter(MSG* msg);

    // Sees the messages of the library's client windows before the library
    // does.
    struct Watch final : QAbstractNativeEventFilter {
        bool nativeEventFilter(const QByteArray& type, void* message, qintptr*) override
        {
            return type == "windows_generic_MSG" && filter(static_cast<MSG*>(message));
        }
    };

    bool initialize()
    {
        if (inst != 0)
            return true;
        DWORD id = 0;
        const UINT rc = DdeInitializeA(&id, &Impl::callback,
                                       APPCMD_CLIENTONLY | CBF_SKIP_REGISTRATIONS
                                           | CBF_SKIP_UNREGISTRATIONS,
                                       0);
        if (rc != DMLERR_NO_ERROR)
            return false;
        inst = id;
        return true;
    }
    HSZ string(const QString& text) const
    {
        return DdeCreateStringHandleA(inst, text.toLocal8Bit().constData(), CP_WINANSI);
    }
    // An item's handle stays while the instance does: the library refers to
    // it from the transaction until long after the request returned.
    HSZ itemHandle(const QString& item)
    {
        auto it = items.find(item);
        if (it == items.end())
            it = items.insert(item, string(item));
        return *it;
    }
    QHash<QString, HSZ> items;
};

// A server answers a request with its data or with a negative
// acknowledgement, never with a positive one; Wine's library sends one after
// the data anyway, naming the same item. Arriving while the next transaction is at the head of the
// conversation's queue, it would be taken for that transaction's (negative)
// answer and the real answer dropped. So it goes no further than here.
bool DdemlDdeClientConv::Impl::filter(MSG* msg)
{
    if (msg->message != WM_DDE_ACK && msg->message != WM_DDE_TERMINATE)
        return false;
    for (Impl* d : live()) {
        if (d->window == nullptr || d->window != msg->hwnd)
            continue;
        if (msg->message == WM_DDE_TERMINATE) {
            // The library may not tell (Wine's never does): look once it has
            // handled the message.
            QTimer::singleShot(0, &d->activity, [d] { d->checkPartner(); });
            return false;
        }
        if (reinterpret_cast<HWND>(msg->wParam) != d->partner)
            return false;
        UINT_PTR status = 0;
        UINT_PTR item = 0;
        if (!UnpackDDElParam(WM_DDE_ACK, msg->lParam, &status, &item))
            return false;
        const bool positive = (status & 0x8000) != 0;
        if (!positive || item > 0xFFFF || !d->requestAtoms.contains(ATOM(item)))
            return false;
        // Its item's atom is the one the data brought, already let go of
        // there: only the message's own parameter block is freed.
        FreeDDElParam(WM_DDE_ACK, msg->lParam);
        return true;
    }
    return false;
}

void DdemlDdeClientConv::Impl::watchMessages(bool on)
{
    QCoreApplication* app = QCoreApplication::instance();
    if (!app)
        return;
    static Watch watch;
    static int watching = 0;
    if (on && watching++ == 0)
        app->installNativeEventFilter(&watch);
    else if (!on && watching > 0 && --watching == 0)
        app->removeNativeEventFilter(&watch);
}

HDDEDATA CALLBACK DdemlDdeClientConv::Impl::callback(UINT type, UINT, HCONV hconv, HSZ, HSZ,
                                                     HDDEDATA data, ULONG_PTR data1, ULONG_PTR)
{
    for (Impl* d : live()) {
        if (d->conv == nullptr || d->conv != hconv)
            continue;
        if (type == XTYP_XACT_COMPLETE) {
            d->completed(DWORD(data1), data);
            // Wine's library keeps a completed asynchronous transaction at
            // the head of the conversation's queue, where it would take every
            // later reply for its own: let go of it now that it is done.
            if (d->conv && d->inst)
                abandon(d->inst, hconv, DWORD(data1));
        } else if (type == XTYP_DISCONNECT) {
            d->disconnected();
        }
        break;
    }
    return nullptr;
}

void DdemlDdeClientConv::Impl::completed(DWORD id, HDDEDATA data)
{
    pending.remove(id);
    if (owner->waitStat_ && id == waitId) {
        owner->waitStat_ = false;
        waitId = 0;
        emit activity.happened();
    } else if (requestId != 0 && id == requestId) {
        // The data belongs to the library: copy it before returning. Text
        // ends at its first zero; the handle may be larger than the text.
        if (data == nullptr) {
            reply = std::optional<QByteArray>();
        } else {
            QByteArray bytes(qsizetype(DdeGetData(data, nullptr, 0, 0)), '\0');
            if (!bytes.isEmpty())
                DdeGetData(data, reinterpret_cast<LPBYTE>(bytes.data()), DWORD(bytes.size()), 0);
            const qsizetype zero = bytes.indexOf('\0');
            if (zero >= 0)
                bytes.truncate(zero);
            reply = std::optional<QByteArray>(bytes);
        }
        emit activity.happened();
    }
}

bool DdemlDdeClientConv::Impl::partnerGone() const
{
    if (!conv)
        return true;
    CONVINFO info{};
    info.cb = sizeof info;
    if (DdeQueryConvInfo(conv, QID_SYNC, &info) == 0)
        return true;
    if ((info.wStatus & ST_TERMINATED) || !(info.wStatus & ST_CONNECTED))
        return true;
    return !IsWindow(info.hwndPartner);
}

void DdemlDdeClientConv::Impl::disconnected()
{
    // What is left of the conversation goes with the instance, released
    // later, outside the library's callback.
    conv = nullptr;
    partnerTimer.stop();
    pending.clear();
    if (!owner->open_)
        return;
    owner->open_ = false;
    owner->waitStat_ = false;
    emit activity.happened();
    owner->notifyClose();
}

DdemlDdeClientConv::DdemlDdeClientConv() : d(std::make_unique<Impl>(this))
{
    Impl::live().append(d.get());
}

DdemlDdeClientConv::~DdemlDdeClientConv()
{
    if (open_)
        CloseLink();
    release();
    Impl::live().removeAll(d.get());
}

void DdemlDdeClientConv::release()
{
    d->partnerTimer.stop();
    if (d->conv) {
        const bool partnerThere = d->partner && IsWindow(d->partner);
        if (partnerThere) {
            // The library waits up to ten seconds for the server's half of
            // the farewell. One that has left something unanswered may never
            // give it, and an ending program waits for nobody: it is said in
            // the server's name, so the library's wait ends at once.
            const bool mayHang = !d->pending.isEmpty() || d->unanswered || waitStat_ || ProgramQuitting();
            if (mayHang) {
                DdeAbandonTransaction(d->inst, d->conv, 0);
                PostMessageA(d->window, WM_DDE_TERMINATE, reinterpret_cast<WPARAM>(d->partner), 0);
            }
            DdeDisconnect(d->conv);
        }
        d->conv = nullptr;
    }
    if (d->window) {
        d->window = nullptr;
        d->watchMessages(false);
    }
    d->partner = nullptr;
    d->pending.clear();
    d->requestAtoms.clear();
    d->unanswered = false;
    if (d->inst) {
        for (HSZ h : std::as_const(d->items))
            DdeFreeStringHandle(d->inst, h);
        d->items.clear();
        // A conversation the server ended or left is closed here, without
        // a wait: its window is gone or it has already said goodbye.
        DdeUninitialize(d->inst);
        d->inst = 0;
    }
}

bool DdemlDdeClientConv::SetLink(const QString& service, const QString& topic)
{
    service_ = service;
    topic_ = topic;
    if (connectMode_ == ConnectMode::Automatic)
        return OpenLink();
    return true;
}

bool DdemlDdeClientConv::connectOnce()
{
    if (!d->initialize())
        return false;
    const HSZ service = d->string(service_);
    const HSZ topic = d->string(topic_);
    const HCONV conv = DdeConnect(d->inst, service, topic, nullptr);
    DdeFreeStringHandle(d->inst, service);
    DdeFreeStringHandle(d->inst, topic);
    if (!conv)
        return false;
    CONVINFO info{};
    info.cb = sizeof info;
    if (DdeQueryConvInfo(conv, QID_SYNC, &info) == 0) {
        DdeDisconnect(conv);
        return false;
    }
    d->conv = conv;
    d->window = info.hwnd;
    d->partner = info.hwndPartner;
    d->watchMessages(true);
    d->waitId = 0;
    d->requestId = 0;
    open_ = true;
    waitStat_ = false;
    if (partnerCheckMs > 0 && QCoreApplication::instance())
        d->partnerTimer.start(partnerCheckMs);
    return true;
}

bool DdemlDdeClientConv::startServiceApplication()
{
    const QString path = dde_detail::findServiceApplication(
        serviceApplication_, {QStringLiteral(".exe"), QString()});
    if (path.isEmpty())
        return false;
    QString commandLine = QDir::toNativeSeparators(path);
    if (commandLine.contains(u' '))
        commandLine = u'"' + commandLine + u'"';
    return WinExec(commandLine, 7) > 31;
}

bool DdemlDdeClientConv::OpenLink()
{
    if (open_)
        return true;
    // An open already under way (this was called from an event handled
    // during its waits) must not be disturbed.
    if (opening_ || ProgramQuitting())
        return false;
    opening_ = true;
    release(); // what a conversation the server ended left behind
    bool ok = connectOnce();
    if (!ok && !ProgramQuitting() && !serviceApplication_.isEmpty() && startServiceApplication()) {
        // The program needs a moment before its server is registered.
        const QDeadlineTimer deadline(startWaitMs);
        EventWait pause;
        while (!ok && !deadline.hasExpired()
               && pause.run(qMin<qint64>(connectPollMs, remainingMs(deadline))))
            ok = connectOnce();
    }
    opening_ = false;
    if (!ok) {
        release();
        return false;
    }
    notifyOpen();
    return open_;
}

void DdemlDdeClientConv::CloseLink()
{
    if (!open_)
        return;
    open_ = false;
    release();
    waitStat_ = false;
    notifyClose();
}

bool DdemlDdeClientConv::ExecuteMacro(const QString& command, bool waitFlag)
{
    if (!open_ || waitStat_ || ProgramQuitting() || !d->conv)
        return false;
    QByteArray text = command.toLocal8Bit();
    text.append('\0');
    DWORD id = 0;
    const HDDEDATA sent = DdeClientTransaction(reinterpret_cast<LPBYTE>(text.data()), DWORD(text.size()),
                                               d->conv, nullptr, CF_TEXT, XTYP_EXECUTE,
                                               TIMEOUT_ASYNC, &id);
    if (!sent) {
        // The server may have gone without a word (its program died).
        d->checkPartner();
        return false;
    }
    d->pending.insert(id);
    if (waitFlag) {
        waitStat_ = true;
        d->waitId = id;
    }
    return true;
}

std::optional<QByteArray> DdemlDdeClientConv::RequestData(const QString& item)
{
    // One request at a time: a second one from an event handled during the
    // first's wait gets nothing, as a nested synchronous transaction.
    if (!open_ || waitStat_ || d->requestId != 0 || ProgramQuitting() || !d->conv)
        return std::nullopt;
    const DWORD inst = d->inst;
    const HSZ hszItem = d->itemHandle(item);
    DWORD id = 0;
    d->reply.reset();
    const HDDEDATA sent = DdeClientTransaction(nullptr, 0, d->conv, hszItem, CF_TEXT, XTYP_REQUEST,
                                               TIMEOUT_ASYNC, &id);
    if (!sent) {
        d->checkPartner();
        return std::nullopt;
    }
    // The library has made the item's name a global atom for the server.
    if (const ATOM atom = GlobalFindAtomA(item.toLocal8Bit().constData()))
        d->requestAtoms.insert(atom);
    d->pending.insert(id);
    d->requestId = id;
    EventWait wait;
    wait.wakeOn(&d->activity, &DdemlActivity::happened);
    const QDeadlineTimer deadline(RequestTimeoutMs);
    while (!d->reply && open_ && !deadline.hasExpired() && wait.run(remainingMs(deadline))) {
    }
    if (!d->reply && d->conv && d->inst == inst) {
        abandon(inst, d->conv, id);
        d->pending.remove(id);
        d->unanswered = true;
    }
    d->requestId = 0;
    std::optional<std::optional<QByteArray>> reply = std::move(d->reply);
    d->reply.reset();
    if (!reply || !*reply)
        return std::nullopt;
    return filterData(**reply);
}

void DdemlDdeClientConv::WaitForActivity(int ms)
{
    EventWait wait;
    wait.wakeOn(&d->activity, &DdemlActivity::happened);
    wait.run(ms);
}
