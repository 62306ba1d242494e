#include "CalcSink.h"
#include "TypedInput.h"

#include <QElapsedTimer>
#include <QList>
#include <QMetaObject>
#include <QPointer>
#include <QRegularExpression>
#include <QStringList>

#include <com/sun/star/beans/NamedValue.hpp>
#include <com/sun/star/beans/PropertyValue.hpp>
#include <com/sun/star/beans/XPropertySet.hpp>
#include <com/sun/star/bridge/BridgeFactory.hpp>
#include <com/sun/star/bridge/XBridge.hpp>
#include <com/sun/star/configuration/theDefaultProvider.hpp>
#include <com/sun/star/connection/Connector.hpp>
#include <com/sun/star/connection/NoConnectException.hpp>
#include <com/sun/star/container/XEnumeration.hpp>
#include <com/sun/star/container/XEnumerationAccess.hpp>
#include <com/sun/star/container/XIndexAccess.hpp>
#include <com/sun/star/container/XNameAccess.hpp>
#include <com/sun/star/container/XNamed.hpp>
#include <com/sun/star/frame/Desktop.hpp>
#include <com/sun/star/frame/XController.hpp>
#include <com/sun/star/frame/XModel.hpp>
#include <com/sun/star/frame/XTitle.hpp>
#include <com/sun/star/i18n/LocaleData2.hpp>
#include <com/sun/star/i18n/NumberFormatIndex.hpp>
#include <com/sun/star/lang/DisposedException.hpp>
#include <com/sun/star/lang/Locale.hpp>
#include <com/sun/star/lang/XComponent.hpp>
#include <com/sun/star/lang/XEventListener.hpp>
#include <com/sun/star/lang/XMultiServiceFactory.hpp>
#include <com/sun/star/sheet/XCellRangeAddressable.hpp>
#include <com/sun/star/sheet/XCellRangeData.hpp>
#include <com/sun/star/sheet/XCellRangeFormula.hpp>
#include <com/sun/star/sheet/XSheetCellCursor.hpp>
#include <com/sun/star/sheet/XSpreadsheet.hpp>
#include <com/sun/star/sheet/XSpreadsheetDocument.hpp>
#include <com/sun/star/sheet/XSpreadsheetView.hpp>
#include <com/sun/star/sheet/XUsedAreaCursor.hpp>
#include <com/sun/star/table/CellContentType.hpp>
#include <com/sun/star/table/XCell.hpp>
#include <com/sun/star/text/XText.hpp>
#include <com/sun/star/uno/XComponentContext.hpp>
#include <com/sun/star/util/NumberFormat.hpp>
#include <com/sun/star/util/XNumberFormatTypes.hpp>
#include <com/sun/star/util/XNumberFormatsSupplier.hpp>
#include <com/sun/star/view/XSelectionSupplier.hpp>
#include <cppuhelper/bootstrap.hxx>
#include <cppuhelper/implbase1.hxx>
#include <rtl/bootstrap.hxx>

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#ifndef DSG_LO_PROGRAM_DIR
#define DSG_LO_PROGRAM_DIR "/usr/lib/libreoffice/program"
#endif

namespace css = com::sun::star;
using rtl::OUString;
using css::uno::Any;
using css::uno::Reference;
using css::uno::Sequence;
using css::uno::UNO_QUERY;
using css::uno::UNO_QUERY_THROW;

namespace {

OUString toOU(const QString& s)
{
    return OUString(reinterpret_cast<const sal_Unicode*>(s.utf16()), sal_Int32(s.size()));
}

QString fromOU(const OUString& s)
{
    return QString(reinterpret_cast<const QChar*>(s.getStr()), s.getLength());
}

// Calls back when the object it listens to is disposed: the bridge (the
// pipe to LibreOffice has closed) or the document (closed by its user).
class DisposeWatcher : public cppu::WeakImplHelper1<css::lang::XEventListener> {
public:
    explicit DisposeWatcher(std::function<void()> f) : f_(std::move(f)) {}
    void SAL_CALL disposing(const css::lang::EventObject&) override
    {
        if (f_)
            f_();
    }

private:
    std::function<void()> f_;
};

// Consecutive cells of one kind that fill a rectangle row by row: one
// export row, or many rows of the same width, go over in one call.
struct Block {
    int row = 0;
    int col = 0;
    int width = 0; // 0 while only the first row has been seen
    // Quoted constants (entered as typed), or values as given (formulas).
    bool constant = false;
    QStringList values;
    QStringList sources;

    bool empty() const { return values.isEmpty(); }
    bool extend(const macro::Command& c, const QString& source)
    {
        if (empty()) {
            row = c.row;
            col = c.col;
            width = 0;
            constant = c.text;
        } else {
            if (c.text != constant)
                return false;
            const int n = int(values.size());
            if (width == 0) {
                if (c.row == row && c.col == col + n) {
                    // the first row grows
                } else if (c.row == row + 1 && c.col == col) {
                    width = n;
                } else {
                    return false;
                }
            } else if (c.row != row + n / width || c.col != col + n % width) {
                return false;
            }
        }
        values << c.value;
        sources << source;
        return true;
    }
};

// A UNO locale for a BCP 47 tag from LibreOffice's configuration ("de-DE",
// "en-US", "sr-Latn-RS").
css::lang::Locale localeOf(const QString& tag)
{
    const QStringList parts = tag.split(u'-');
    css::lang::Locale locale;
    if (parts.size() <= 2 && !parts.front().isEmpty()) {
        locale.Language = toOU(parts.front());
        if (parts.size() == 2)
            locale.Country = toOU(parts.back());
    } else if (!tag.isEmpty()) {
        // LibreOffice's own form for tags the two fields cannot hold.
        locale.Language = OUString::createFromAscii("qlt");
        locale.Variant = toOU(tag);
    }
    return locale;
}

QChar firstOf(const OUString& s, QChar otherwise)
{
    return s.isEmpty() ? otherwise : QChar(s[0]);
}

} // namespace

struct CalcSink::Impl {
    struct Job {
        enum class Kind { Attach, Command, Query, Barrier } kind = Kind::Command;
        macro::Command command;
        QString text; // the command's source, or the item
        std::function<void(bool, const QString&)> attached;
        std::function<void(std::optional<QString>)> reply;
        std::function<void()> done;
    };

    // What the bridge's own threads may reach after the sink has gone.
    struct Shared {
        std::mutex mutex;
        CalcSink* owner = nullptr;
        // Of the document written into: a watcher of a document left behind
        // carries an older one and is not heard.
        std::atomic<quint64> generation{0};
        // Runs `f` on the owner's thread, if there still is an owner.
        void post(std::function<void()> f)
        {
            std::lock_guard<std::mutex> lock(mutex);
            if (owner)
                QMetaObject::invokeMethod(owner, std::move(f), Qt::QueuedConnection);
        }
    };

    CalcSink* q = nullptr;
    QString pipeName;
    bool hidden = false;
    std::shared_ptr<Shared> shared = std::make_shared<Shared>();

    std::mutex mutex;
    std::condition_variable wake;
    std::deque<Job> jobs;
    bool stopping = false;
    std::thread worker;
    std::atomic<qint64> submitted{0};
    std::atomic<qint64> completed{0};
    std::atomic<bool> lost{false};
    bool lostReported = false; // owner's thread only
    bool wakeQueued = false;   // owner's thread only

    // The worker is woken once the owner's thread is back in its event
    // loop: the commands of one read from the socket then go over together
    // instead of the worker taking the first one alone.
    void wakeSoon()
    {
        if (wakeQueued)
            return;
        wakeQueued = true;
        QMetaObject::invokeMethod(
            q,
            [this] {
                wakeQueued = false;
                wake.notify_one();
            },
            Qt::QueuedConnection);
    }

    // Worker thread only, except `bridge`, which the owner may dispose of
    // (under `mutex`) to free a worker that waits on a LibreOffice that
    // hangs.
    Reference<css::uno::XComponentContext> local;
    Reference<css::lang::XComponent> bridge;
    Reference<css::uno::XComponentContext> remote;
    Reference<css::frame::XDesktop2> desktop;
    Reference<css::frame::XModel> model;
    Reference<css::sheet::XSpreadsheetDocument> document;
    // Watches `model` for its closing.
    Reference<css::lang::XEventListener> documentWatcher;
    // How the document reads what is typed into it, read once per document:
    // a round trip per cell would cut the export to a few hundred cells a
    // second.
    typed::Region region;
    sal_Int32 timeFormat = 0;       // the region's standard time format
    sal_Int32 elapsedFormat = 0;    // [HH]:MM:SS, for 24 hours and more
    sal_Int32 hundredthsFormat = 0; // [HH]:MM:SS.00
    // Used where the document has no view to hold a selection.
    int activeRow = 1;
    int activeCol = 1;
    // The document the user has in front, its view and its active sheet,
    // asked for again after a while (the user may switch documents or
    // sheets) and at every new conversation, not for every batch: each ask
    // is a round trip.
    Reference<css::frame::XController> cachedController;
    Reference<css::sheet::XSpreadsheet> cachedSheet;
    QElapsedTimer cachedSince;
    std::atomic<bool> followNow{false};
    static constexpr int SheetCacheMs = 250;
    void target(bool fresh, Reference<css::frame::XController>* ctl, Reference<css::sheet::XSpreadsheet>* sheet)
    {
        if (followNow.exchange(false) || fresh || !cachedSheet.is() || !cachedSince.isValid()
            || cachedSince.elapsed() > SheetCacheMs) {
            follow();
            cachedController = controller();
            cachedSheet = activeSheet(cachedController);
            cachedSince.start();
        }
        *ctl = cachedController;
        *sheet = cachedSheet;
    }

    void run();
    void process(std::deque<Job>& batch);
    void markLost(const QString& why) { lostFrom(shared, this, why); }
    static void lostFrom(const std::shared_ptr<Shared>& s, Impl* d, const QString& why);
    bool attach(QString* text);
    // Writes into `doc` from now on.
    void adopt(const Reference<css::sheet::XSpreadsheetDocument>& doc);
    // Moves to the Calc document active in LibreOffice, if it is another;
    // with no Calc document active, stays with the one used last.
    void follow();
    void readRegion();
    sal_Int32 formatFor(const typed::Entry& e) const;
    // Drops the document and disposes of the bridge.
    void releaseBridge();
    void applyCommands(const std::deque<Job>& batch, size_t from, size_t to);
    void flush(Block& block, const Reference<css::sheet::XSpreadsheet>& sheet);
    void writeOne(const Reference<css::sheet::XSpreadsheet>& sheet, int row, int col, bool constant,
                  const QString& value);
    // Sets the time formats of a rectangle of cells (0: none), one call per
    // run of equal formats down a column.
    void applyFormats(const Reference<css::sheet::XSpreadsheet>& sheet, int row, int col, int rows, int cols,
                      const std::vector<sal_Int32>& formats);
    std::optional<QString> answer(const QString& item);

    Reference<css::frame::XController> controller();
    Reference<css::sheet::XSpreadsheet> activeSheet(const Reference<css::frame::XController>& ctl);
    std::pair<int, int> activeCell(const Reference<css::frame::XController>& ctl);
    bool stillThere();
};

CalcSink::CalcSink(QString pipeName, bool hiddenDocuments, QObject* parent)
    : QObject(parent), d(std::make_unique<Impl>())
{
    d->q = this;
    d->pipeName = std::move(pipeName);
    d->hidden = hiddenDocuments;
    d->shared->owner = this;
    d->worker = std::thread([this] { d->run(); });
}

CalcSink::~CalcSink()
{
    {
        std::lock_guard<std::mutex> lock(d->shared->mutex);
        d->shared->owner = nullptr;
    }
    Reference<css::lang::XComponent> bridge;
    {
        std::lock_guard<std::mutex> lock(d->mutex);
        d->stopping = true;
        bridge = d->bridge;
    }
    d->wake.notify_all();
    // A call that waits on LibreOffice ends with the bridge.
    if (bridge.is()) {
        try {
            bridge->dispose();
        } catch (const css::uno::Exception&) {
        }
    }
    d->worker.join();
}

void CalcSink::tryAttach(std::function<void(bool, const QString&)> done)
{
    Impl::Job job;
    job.kind = Impl::Job::Kind::Attach;
    job.attached = std::move(done);
    {
        std::lock_guard<std::mutex> lock(d->mutex);
        d->jobs.push_back(std::move(job));
    }
    d->wake.notify_one();
}

void CalcSink::submit(const macro::Command& command, const QString& source)
{
    Impl::Job job;
    job.kind = Impl::Job::Kind::Command;
    job.command = command;
    job.text = source;
    d->submitted.fetch_add(1);
    {
        std::lock_guard<std::mutex> lock(d->mutex);
        d->jobs.push_back(std::move(job));
    }
    d->wakeSoon();
}

bool CalcSink::idle() const
{
    return d->completed.load() >= d->submitted.load();
}

void CalcSink::query(const QString& item, std::function<void(std::optional<QString>)> reply)
{
    Impl::Job job;
    job.kind = Impl::Job::Kind::Query;
    job.text = item;
    job.reply = std::move(reply);
    {
        std::lock_guard<std::mutex> lock(d->mutex);
        d->jobs.push_back(std::move(job));
    }
    d->wake.notify_one();
}

void CalcSink::conversationOpened()
{
    // A new conversation (an export starting, a restarted program) writes
    // where the user looks now, not where the last one wrote.
    d->followNow = true;
}

void CalcSink::afterAll(std::function<void()> done)
{
    Impl::Job job;
    job.kind = Impl::Job::Kind::Barrier;
    job.done = std::move(done);
    {
        std::lock_guard<std::mutex> lock(d->mutex);
        d->jobs.push_back(std::move(job));
    }
    d->wake.notify_one();
}

// ---------------------------------------------------------------------------
// Worker thread

void CalcSink::Impl::run()
{
    for (;;) {
        std::deque<Job> batch;
        {
            std::unique_lock<std::mutex> lock(mutex);
            wake.wait(lock, [this] { return stopping || !jobs.empty(); });
            if (stopping)
                break;
            batch.swap(jobs);
        }
        process(batch);
    }
    // Let go of every remote reference while the bridge can still be told.
    cachedController.clear();
    cachedSheet.clear();
    releaseBridge();
    // The UNO runtime bootstrapped here goes with its last user: the
    // service manager, its factories and their caches.
    const Reference<css::lang::XComponent> context(local, UNO_QUERY);
    local.clear();
    if (context.is()) {
        try {
            context->dispose();
        } catch (const css::uno::Exception&) {
        }
    }
}

void CalcSink::Impl::releaseBridge()
{
    ++shared->generation;
    documentWatcher.clear();
    model.clear();
    document.clear();
    desktop.clear();
    remote.clear();
    std::lock_guard<std::mutex> lock(mutex);
    if (bridge.is()) {
        try {
            bridge->dispose();
        } catch (const css::uno::Exception&) {
        }
    }
    bridge.clear();
}

void CalcSink::Impl::lostFrom(const std::shared_ptr<Shared>& s, Impl* d, const QString& why)
{
    // Any thread, the bridge's own included; the sink may be going away.
    std::lock_guard<std::mutex> lock(s->mutex);
    if (!s->owner || d->lost.exchange(true))
        return;
    QMetaObject::invokeMethod(
        s->owner,
        [d, why] {
            if (d->lostReported)
                return;
            d->lostReported = true;
            if (d->q->onLost)
                d->q->onLost(why);
        },
        Qt::QueuedConnection);
}

void CalcSink::Impl::process(std::deque<Job>& batch)
{
    size_t i = 0;
    while (i < batch.size()) {
        Job& job = batch[i];
        switch (job.kind) {
        case Job::Kind::Attach: {
            QString text;
            const bool ok = attach(&text);
            shared->post([f = std::move(job.attached), ok, text] { f(ok, text); });
            ++i;
            break;
        }
        case Job::Kind::Command: {
            size_t j = i;
            while (j < batch.size() && batch[j].kind == Job::Kind::Command)
                ++j;
            if (!lost && document.is())
                applyCommands(batch, i, j);
            completed.fetch_add(qint64(j - i));
            if (completed.load() >= submitted.load())
                shared->post([this] {
                    if (q->idle() && q->onIdle)
                        q->onIdle();
                });
            i = j;
            break;
        }
        case Job::Kind::Query: {
            std::optional<QString> text;
            if (!lost && document.is())
                text = answer(job.text);
            shared->post([f = std::move(job.reply), text] { f(text); });
            ++i;
            break;
        }
        case Job::Kind::Barrier:
            shared->post(std::move(job.done));
            ++i;
            break;
        }
    }
}

bool CalcSink::Impl::attach(QString* text)
{
    if (document.is() && !lost) {
        *text = QStringLiteral("attached already");
        return true;
    }
    try {
        if (!local.is()) {
            // The types and services of the LibreOffice that is installed.
            rtl::Bootstrap::set(OUString::createFromAscii("URE_BOOTSTRAP"),
                                OUString::createFromAscii("vnd.sun.star.pathname:" DSG_LO_PROGRAM_DIR
                                                          "/fundamentalrc"));
            local = cppu::defaultBootstrap_InitialComponentContext();
        }
        const Reference<css::connection::XConnection> connection
            = css::connection::Connector::create(local)->connect(toOU(QStringLiteral("pipe,name=") + pipeName));
        const Reference<css::bridge::XBridge> newBridge
            = css::bridge::BridgeFactory::create(local)->createBridge(OUString(), OUString::createFromAscii("urp"),
                                                                      connection, nullptr);
        const Reference<css::lang::XComponent> bridgeComponent(newBridge, UNO_QUERY_THROW);
        {
            std::lock_guard<std::mutex> lock(mutex);
            bridge = bridgeComponent;
        }
        remote.set(newBridge->getInstance(OUString::createFromAscii("StarOffice.ComponentContext")),
                   UNO_QUERY_THROW);
        desktop = css::frame::Desktop::create(remote);

        // The document the user works in, else any Calc document, else a
        // new one.
        Reference<css::sheet::XSpreadsheetDocument> doc(desktop->getCurrentComponent(), UNO_QUERY);
        if (!doc.is()) {
            const Reference<css::container::XEnumeration> all
                = desktop->getComponents()->createEnumeration();
            while (!doc.is() && all->hasMoreElements())
                doc.set(all->nextElement(), UNO_QUERY);
        }
        if (!doc.is()) {
            Sequence<css::beans::PropertyValue> props(1);
            props.getArray()[0].Name = OUString::createFromAscii("Hidden");
            props.getArray()[0].Value <<= hidden;
            doc.set(desktop->loadComponentFromURL(OUString::createFromAscii("private:factory/scalc"),
                                                  OUString::createFromAscii(hidden ? "_blank" : "_default"), 0,
                                                  props),
                    UNO_QUERY_THROW);
        }
        adopt(doc);

        const std::shared_ptr<Shared> s = shared;
        bridgeComponent->addEventListener(new DisposeWatcher(
            [s, this] { lostFrom(s, this, QStringLiteral("LibreOffice has ended")); }));

        const Reference<css::frame::XController> ctl = controller();
        const Reference<css::container::XNamed> sheetName(activeSheet(ctl), UNO_QUERY);
        const Reference<css::frame::XTitle> title(model, UNO_QUERY);
        *text = QStringLiteral("%1, sheet %2")
                    .arg(title.is() ? fromOU(title->getTitle()) : QStringLiteral("?"),
                         sheetName.is() ? fromOU(sheetName->getName()) : QStringLiteral("?"));
        return true;
    } catch (const css::connection::NoConnectException&) {
        *text = QStringLiteral("LibreOffice does not accept on pipe %1").arg(pipeName);
    } catch (const css::uno::Exception& e) {
        *text = QStringLiteral("LibreOffice: %1").arg(fromOU(e.Message));
    }
    releaseBridge();
    return false;
}

void CalcSink::Impl::adopt(const Reference<css::sheet::XSpreadsheetDocument>& doc)
{
    const Reference<css::frame::XModel> newModel(doc, UNO_QUERY_THROW);
    if (model.is() && documentWatcher.is()) {
        // Closing the document left behind no longer concerns this sink.
        try {
            Reference<css::lang::XComponent>(model, UNO_QUERY_THROW)->removeEventListener(documentWatcher);
        } catch (const css::uno::Exception&) {
        }
    }
    const quint64 mine = ++shared->generation;
    model = newModel;
    document = doc;
    activeRow = 1;
    activeCol = 1;
    cachedSheet.clear();
    cachedController.clear();
    const std::shared_ptr<Shared> s = shared;
    documentWatcher = new DisposeWatcher([s, this, mine] {
        if (s->generation.load() == mine)
            lostFrom(s, this, QStringLiteral("the Calc document was closed"));
    });
    Reference<css::lang::XComponent>(model, UNO_QUERY_THROW)->addEventListener(documentWatcher);
    readRegion();
}

void CalcSink::Impl::follow()
{
    const Reference<css::sheet::XSpreadsheetDocument> current(desktop->getCurrentComponent(), UNO_QUERY);
    if (!current.is() || current == document)
        return;
    adopt(current);
    const Reference<css::frame::XTitle> title(current, UNO_QUERY);
    std::fprintf(stderr, "Excel: now writing into %s\n",
                 qPrintable(title.is() ? fromOU(title->getTitle()) : QStringLiteral("another Calc document")));
}

void CalcSink::Impl::readRegion()
{
    // Calc reads typed input in its locale setting, which is the system's
    // (LibreOffice's own view of it) unless the user chose another.
    region = typed::Region{};
    css::lang::Locale locale;
    try {
        const Reference<css::lang::XMultiServiceFactory> config
            = css::configuration::theDefaultProvider::get(remote);
        const auto read = [&config](const char* path, const char* key) {
            css::beans::NamedValue node;
            node.Name = OUString::createFromAscii("nodepath");
            node.Value <<= OUString::createFromAscii(path);
            Sequence<Any> args(1);
            args.getArray()[0] <<= node;
            const Reference<css::container::XNameAccess> access(
                config->createInstanceWithArguments(
                    OUString::createFromAscii("com.sun.star.configuration.ConfigurationAccess"), args),
                UNO_QUERY_THROW);
            OUString value;
            access->getByName(OUString::createFromAscii(key)) >>= value;
            return fromOU(value);
        };
        QString tag = read("/org.openoffice.Setup/L10N", "ooSetupSystemLocale");
        if (tag.isEmpty())
            tag = read("/org.openoffice.System/L10N", "Locale");
        locale = localeOf(tag);
        const css::i18n::LocaleDataItem item = css::i18n::LocaleData2::create(remote)->getLocaleItem(locale);
        region.decimal = firstOf(item.decimalSeparator, region.decimal);
        region.group = firstOf(item.thousandSeparator, region.group);
        region.timeSeparator = firstOf(item.timeSeparator, region.timeSeparator);
        region.secondsDecimal = firstOf(item.time100SecSeparator, region.decimal);
        if (!item.timeAM.isEmpty())
            region.am = fromOU(item.timeAM);
        if (!item.timePM.isEmpty())
            region.pm = fromOU(item.timePM);
    } catch (const css::uno::Exception&) {
        // An office without these settings reads input the English way; one
        // that has gone fails at the next call below.
        region = typed::Region{};
    }
    // The empty locale is the document's own: the formats a typed time gets.
    const Reference<css::util::XNumberFormatTypes> formats(
        Reference<css::util::XNumberFormatsSupplier>(document, UNO_QUERY_THROW)->getNumberFormats(),
        UNO_QUERY_THROW);
    const css::lang::Locale own;
    timeFormat = formats->getStandardFormat(css::util::NumberFormat::TIME, own);
    elapsedFormat = formats->getFormatIndex(css::i18n::NumberFormatIndex::TIME_HH_MMSS, own);
    hundredthsFormat = formats->getFormatIndex(css::i18n::NumberFormatIndex::TIME_HH_MMSS00, own);
}

sal_Int32 CalcSink::Impl::formatFor(const typed::Entry& e) const
{
    if (e.kind != typed::Entry::Kind::Time)
        return 0;
    return e.hundredths ? hundredthsFormat : e.elapsed ? elapsedFormat : timeFormat;
}

Reference<css::frame::XController> CalcSink::Impl::controller()
{
    return model->getCurrentController();
}

Reference<css::sheet::XSpreadsheet>
CalcSink::Impl::activeSheet(const Reference<css::frame::XController>& ctl)
{
    const Reference<css::sheet::XSpreadsheetView> view(ctl, UNO_QUERY);
    if (view.is())
        return view->getActiveSheet();
    const Reference<css::container::XIndexAccess> sheets(document->getSheets(), UNO_QUERY_THROW);
    return Reference<css::sheet::XSpreadsheet>(sheets->getByIndex(0), UNO_QUERY_THROW);
}

std::pair<int, int> CalcSink::Impl::activeCell(const Reference<css::frame::XController>& ctl)
{
    const Reference<css::view::XSelectionSupplier> selection(ctl, UNO_QUERY);
    if (selection.is()) {
        const Reference<css::sheet::XCellRangeAddressable> range(selection->getSelection(),
                                                                 UNO_QUERY);
        if (range.is()) {
            const css::table::CellRangeAddress a = range->getRangeAddress();
            activeRow = a.StartRow + 1;
            activeCol = a.StartColumn + 1;
        }
    }
    return {activeRow, activeCol};
}

bool CalcSink::Impl::stillThere()
{
    try {
        model->getURL();
        return true;
    } catch (const css::uno::RuntimeException&) {
        return false;
    }
}

void CalcSink::Impl::writeOne(const Reference<css::sheet::XSpreadsheet>& sheet, int row, int col,
                              bool constant, const QString& value)
{
    if (constant) {
        // The same path as a range of constants.
        const Reference<css::table::XCellRange> range
            = sheet->getCellRangeByPosition(col - 1, row - 1, col - 1, row - 1);
        const typed::Entry e = typed::read(value, region);
        Sequence<Any> line(1);
        if (e.kind == typed::Entry::Kind::Text)
            line.getArray()[0] <<= toOU(value);
        else
            line.getArray()[0] <<= e.value;
        Reference<css::sheet::XCellRangeData>(range, UNO_QUERY_THROW)
            ->setDataArray(Sequence<Sequence<Any>>(&line, 1));
        if (const sal_Int32 format = formatFor(e))
            applyFormats(sheet, row, col, 1, 1, {format});
    } else {
        sheet->getCellByPosition(col - 1, row - 1)->setFormula(toOU(value));
    }
}

void CalcSink::Impl::applyFormats(const Reference<css::sheet::XSpreadsheet>& sheet, int row, int col,
                                  int rows, int cols, const std::vector<sal_Int32>& formats)
{
    const OUString property = OUString::createFromAscii("NumberFormat");
    for (int c = 0; c < cols; ++c) {
        int r = 0;
        while (r < rows) {
            const sal_Int32 format = formats[size_t(r * cols + c)];
            int end = r + 1;
            while (end < rows && formats[size_t(end * cols + c)] == format)
                ++end;
            if (format != 0) {
                const Reference<css::beans::XPropertySet> cells(
                    sheet->getCellRangeByPosition(col - 1 + c, row - 1 + r, col - 1 + c, row - 1 + end - 1),
                    UNO_QUERY_THROW);
                cells->setPropertyValue(property, Any(format));
            }
            r = end;
        }
    }
}

void CalcSink::Impl::flush(Block& block, const Reference<css::sheet::XSpreadsheet>& sheet)
{
    if (block.empty())
        return;
    const int n = int(block.values.size());
    const int width = block.width == 0 ? n : block.width;
    const int fullRows = n / width;
    const int rest = n % width;
    // Whole rows as one rectangle, a last partial row as another.
    const auto writeRect = [&](int first, int rowOffset, int rows, int cols) {
        const Reference<css::table::XCellRange> range = sheet->getCellRangeByPosition(
            block.col - 1, block.row - 1 + rowOffset, block.col - 1 + cols - 1,
            block.row - 1 + rowOffset + rows - 1);
        if (block.constant) {
            // Numbers and texts together in one call, then the time formats.
            Sequence<Sequence<Any>> data(rows);
            Sequence<Any>* lines = data.getArray();
            std::vector<sal_Int32> formats(size_t(rows * cols), 0);
            bool times = false;
            for (int r = 0; r < rows; ++r) {
                lines[r].realloc(cols);
                Any* cells = lines[r].getArray();
                for (int c = 0; c < cols; ++c) {
                    const QString& value = block.values.at(first + r * cols + c);
                    const typed::Entry e = typed::read(value, region);
                    if (e.kind == typed::Entry::Kind::Text) {
                        cells[c] <<= toOU(value);
                        continue;
                    }
                    cells[c] <<= e.value;
                    if (const sal_Int32 format = formatFor(e)) {
                        formats[size_t(r * cols + c)] = format;
                        times = true;
                    }
                }
            }
            Reference<css::sheet::XCellRangeData>(range, UNO_QUERY_THROW)->setDataArray(data);
            if (times)
                applyFormats(sheet, block.row + rowOffset, block.col, rows, cols, formats);
        } else {
            Sequence<Sequence<OUString>> data(rows);
            Sequence<OUString>* lines = data.getArray();
            for (int r = 0; r < rows; ++r) {
                lines[r].realloc(cols);
                OUString* cells = lines[r].getArray();
                for (int c = 0; c < cols; ++c)
                    cells[c] = toOU(block.values.at(first + r * cols + c));
            }
            Reference<css::sheet::XCellRangeFormula>(range, UNO_QUERY_THROW)->setFormulaArray(data);
        }
    };
    try {
        if (fullRows > 0)
            writeRect(0, 0, fullRows, width);
        if (rest > 0)
            writeRect(fullRows * width, fullRows, 1, rest);
    } catch (const css::uno::RuntimeException&) {
        throw;
    } catch (const css::uno::Exception&) {
        // Find the cells Calc would not take, one by one.
        for (int k = 0; k < n; ++k) {
            try {
                writeOne(sheet, block.row + k / width, block.col + k % width, block.constant,
                         block.values.at(k));
            } catch (const css::uno::RuntimeException&) {
                throw;
            } catch (const css::uno::Exception&) {
                shared->post([this, s = block.sources.at(k)] {
                    if (q->onFailed)
                        q->onFailed(s);
                });
            }
        }
    }
    block = Block{};
}

void CalcSink::Impl::applyCommands(const std::deque<Job>& batch, size_t from, size_t to)
{
    const auto failed = [this](const QString& source) {
        shared->post([this, source] {
            if (q->onFailed)
                q->onFailed(source);
        });
    };
    try {
        Reference<css::frame::XController> ctl;
        Reference<css::sheet::XSpreadsheet> sheet;
        target(false, &ctl, &sheet);
        Block block;
        for (size_t i = from; i < to; ++i) {
            const macro::Command& c = batch[i].command;
            const QString& source = batch[i].text;
            using Kind = macro::Command::Kind;
            if (c.kind == Kind::Formula && c.row > 0) {
                if (!block.extend(c, source)) {
                    flush(block, sheet);
                    block.extend(c, source);
                }
                continue;
            }
            flush(block, sheet);
            try {
                switch (c.kind) {
                case Kind::Formula: {
                    const auto [row, col] = activeCell(ctl);
                    writeOne(sheet, row, col, c.text, c.value);
                    break;
                }
                case Kind::Select: {
                    const auto [row, col] = activeCell(ctl);
                    const int r = c.toRow.applyTo(row);
                    const int k = c.toCol.applyTo(col);
                    if (!macro::onGrid(r, k)) {
                        failed(source);
                        break;
                    }
                    const Reference<css::view::XSelectionSupplier> selection(ctl, UNO_QUERY);
                    if (selection.is())
                        selection->select(Any(sheet->getCellRangeByPosition(k - 1, r - 1, k - 1, r - 1)));
                    activeRow = r;
                    activeCol = k;
                    break;
                }
                case Kind::Error:
                    break;
                case Kind::Quit:
                    shared->post([this] {
                        if (q->onQuit)
                            q->onQuit();
                    });
                    break;
                }
            } catch (const css::uno::RuntimeException&) {
                throw;
            } catch (const css::uno::Exception&) {
                failed(source);
            }
        }
        flush(block, sheet);
    } catch (const css::uno::RuntimeException& e) {
        if (!stillThere())
            markLost(QStringLiteral("LibreOffice or its document has gone: %1").arg(fromOU(e.Message)));
        else
            for (size_t i = from; i < to; ++i)
                failed(batch[i].text);
    }
}

std::optional<QString> CalcSink::Impl::answer(const QString& item)
{
    try {
        Reference<css::frame::XController> ctl;
        Reference<css::sheet::XSpreadsheet> sheet;
        target(true, &ctl, &sheet);
        if (item.compare(QLatin1String("Selection"), Qt::CaseInsensitive) == 0) {
            const auto [row, col] = activeCell(ctl);
            const Reference<css::frame::XTitle> title(model, UNO_QUERY);
            const Reference<css::container::XNamed> name(sheet, UNO_QUERY);
            return QStringLiteral("[%1]%2!R%3C%4")
                .arg(title.is() ? fromOU(title->getTitle()) : QStringLiteral("Book1"),
                     name.is() ? fromOU(name->getName()) : QStringLiteral("Sheet1"))
                .arg(row)
                .arg(col);
        }
        if (item.startsWith(QLatin1String("Cell "), Qt::CaseInsensitive)) {
            static const QRegularExpression rc(QStringLiteral(R"(^R(\d+)C(\d+)$)"),
                                               QRegularExpression::CaseInsensitiveOption);
            const auto m = rc.match(item.mid(5).trimmed());
            const int row = m.hasMatch() ? m.captured(1).toInt() : 0;
            const int col = m.hasMatch() ? m.captured(2).toInt() : 0;
            if (!macro::onGrid(row, col))
                return QStringLiteral("E");
            const Reference<css::table::XCell> cell = sheet->getCellByPosition(col - 1, row - 1);
            switch (cell->getType()) {
            case css::table::CellContentType_EMPTY:
                return QStringLiteral("E");
            case css::table::CellContentType_TEXT:
                return QStringLiteral("T:")
                       + fromOU(Reference<css::text::XText>(cell, UNO_QUERY_THROW)->getString());
            default:
                return QStringLiteral("V:") + fromOU(cell->getFormula());
            }
        }
        if (item.compare(QLatin1String("Sheet"), Qt::CaseInsensitive) == 0) {
            const Reference<css::sheet::XSheetCellCursor> cursor = sheet->createCursor();
            Reference<css::sheet::XUsedAreaCursor>(cursor, UNO_QUERY_THROW)->gotoEndOfUsedArea(false);
            const css::table::CellRangeAddress end
                = Reference<css::sheet::XCellRangeAddressable>(cursor, UNO_QUERY_THROW)->getRangeAddress();
            const Sequence<Sequence<Any>> data
                = Reference<css::sheet::XCellRangeData>(
                      sheet->getCellRangeByPosition(0, 0, end.EndColumn, end.EndRow), UNO_QUERY_THROW)
                      ->getDataArray();
            QString out;
            for (const Sequence<Any>& line : data) {
                QStringList fields;
                for (const Any& a : line) {
                    OUString s;
                    double v = 0;
                    if (a >>= s)
                        fields << csvField(fromOU(s));
                    else if (a >>= v)
                        fields << QString::number(v, 'g', 15);
                    else
                        fields << QString();
                }
                out += fields.join(u',') + u'\n';
            }
            return out;
        }
        return std::nullopt;
    } catch (const css::uno::RuntimeException& e) {
        if (!stillThere())
            markLost(QStringLiteral("LibreOffice or its document has gone: %1").arg(fromOU(e.Message)));
        return std::nullopt;
    } catch (const css::uno::Exception&) {
        return std::nullopt;
    }
}
