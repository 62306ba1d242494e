#include "CalcProbe.h"

#include <QDeadlineTimer>
#include <QThread>

#include <com/sun/star/beans/PropertyValue.hpp>
#include <com/sun/star/beans/XPropertySet.hpp>
#include <com/sun/star/bridge/BridgeFactory.hpp>
#include <com/sun/star/bridge/XBridge.hpp>
#include <com/sun/star/connection/Connector.hpp>
#include <com/sun/star/container/XEnumeration.hpp>
#include <com/sun/star/container/XEnumerationAccess.hpp>
#include <com/sun/star/container/XNamed.hpp>
#include <com/sun/star/frame/Desktop.hpp>
#include <com/sun/star/frame/XController.hpp>
#include <com/sun/star/frame/XFrame.hpp>
#include <com/sun/star/frame/XModel.hpp>
#include <com/sun/star/frame/XTitle.hpp>
#include <com/sun/star/lang/XComponent.hpp>
#include <com/sun/star/sheet/XSpreadsheet.hpp>
#include <com/sun/star/sheet/XSpreadsheetDocument.hpp>
#include <com/sun/star/sheet/XSpreadsheetView.hpp>
#include <com/sun/star/table/CellContentType.hpp>
#include <com/sun/star/table/XCell.hpp>
#include <com/sun/star/text/XText.hpp>
#include <com/sun/star/uno/XComponentContext.hpp>
#include <com/sun/star/util/NotNumericException.hpp>
#include <com/sun/star/util/NumberFormat.hpp>
#include <com/sun/star/util/NumberFormatter.hpp>
#include <com/sun/star/util/XCloseable.hpp>
#include <com/sun/star/util/XNumberFormatTypes.hpp>
#include <com/sun/star/util/XNumberFormatsSupplier.hpp>
#include <com/sun/star/view/XSelectionSupplier.hpp>
#include <cppuhelper/bootstrap.hxx>
#include <rtl/bootstrap.hxx>

namespace css = com::sun::star;
using css::uno::Any;
using css::uno::Reference;
using css::uno::UNO_QUERY;
using css::uno::UNO_QUERY_THROW;
using rtl::OUString;

namespace {
OUString toOU(const QString& s)
{
    return OUString(reinterpret_cast<const sal_Unicode*>(s.utf16()), sal_Int32(s.size()));
}
QString fromOU(const OUString& s)
{
    return QString(reinterpret_cast<const QChar*>(s.getStr()), s.getLength());
}
} // namespace

struct CalcProbe::Impl {
    QString pipe;
    Reference<css::uno::XComponentContext> local;
    Reference<css::lang::XComponent> bridge;
    Reference<css::uno::XComponentContext> remote;
    Reference<css::frame::XDesktop2> desktop;

    Reference<css::frame::XFrame> emptyWindow;

    // The Calc document of that title, or the first one.
    Reference<css::frame::XModel> model(const QString& title = {})
    {
        const Reference<css::container::XEnumeration> all = desktop->getComponents()->createEnumeration();
        while (all->hasMoreElements()) {
            const Reference<css::sheet::XSpreadsheetDocument> doc(all->nextElement(), UNO_QUERY);
            if (!doc.is())
                continue;
            if (title.isEmpty() || fromOU(Reference<css::frame::XTitle>(doc, UNO_QUERY_THROW)->getTitle()) == title)
                return Reference<css::frame::XModel>(doc, UNO_QUERY_THROW);
        }
        return {};
    }
    Reference<css::sheet::XSpreadsheet> sheet(const QString& title = {})
    {
        const Reference<css::sheet::XSpreadsheetView> view(model(title)->getCurrentController(), UNO_QUERY_THROW);
        return view->getActiveSheet();
    }
    Reference<css::table::XCell> cell(int row, int col, const QString& title)
    {
        return sheet(title)->getCellByPosition(col - 1, row - 1);
    }
};

CalcProbe::CalcProbe(QString pipeName) : d(std::make_unique<Impl>())
{
    d->pipe = std::move(pipeName);
}

CalcProbe::~CalcProbe()
{
    try {
        closeEmptyWindow();
    } catch (const css::uno::Exception&) {
    }
    d->desktop.clear();
    d->remote.clear();
    try {
        if (d->bridge.is())
            d->bridge->dispose();
        // What this probe bootstrapped goes with it (the sanitizer's leak
        // check would see it otherwise).
        const Reference<css::lang::XComponent> context(d->local, UNO_QUERY);
        d->local.clear();
        if (context.is())
            context->dispose();
    } catch (const css::uno::Exception&) {
    }
}

bool CalcProbe::connect(int timeoutMs, QString* why)
{
    const QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        try {
            if (!d->local.is()) {
                rtl::Bootstrap::set(OUString::createFromAscii("URE_BOOTSTRAP"),
                                    OUString::createFromAscii("vnd.sun.star.pathname:" DSG_LO_PROGRAM_DIR
                                                              "/fundamentalrc"));
                d->local = cppu::defaultBootstrap_InitialComponentContext();
            }
            const auto connection = css::connection::Connector::create(d->local)->connect(
                toOU(QStringLiteral("pipe,name=") + d->pipe));
            const Reference<css::bridge::XBridge> bridge = css::bridge::BridgeFactory::create(d->local)->createBridge(
                OUString(), OUString::createFromAscii("urp"), connection, nullptr);
            d->bridge.set(bridge, UNO_QUERY_THROW);
            d->remote.set(bridge->getInstance(OUString::createFromAscii("StarOffice.ComponentContext")),
                          UNO_QUERY_THROW);
            d->desktop = css::frame::Desktop::create(d->remote);
            return true;
        } catch (const css::uno::Exception& e) {
            *why = fromOU(e.Message);
        }
        if (deadline.hasExpired())
            return false;
        QThread::msleep(200);
    }
}

int CalcProbe::documents()
{
    int n = 0;
    const Reference<css::container::XEnumeration> all = d->desktop->getComponents()->createEnumeration();
    while (all->hasMoreElements())
        n += Reference<css::sheet::XSpreadsheetDocument>(all->nextElement(), UNO_QUERY).is();
    return n;
}

CalcProbe::Cell CalcProbe::cell(int row, int col, const QString& document)
{
    const Reference<css::table::XCell> c = d->cell(row, col, document);
    Cell out;
    switch (c->getType()) {
    case css::table::CellContentType_EMPTY:
        return out;
    case css::table::CellContentType_TEXT:
        out.kind = 'T';
        out.text = fromOU(Reference<css::text::XText>(c, UNO_QUERY_THROW)->getString());
        return out;
    case css::table::CellContentType_VALUE:
        out.kind = 'V';
        break;
    default:
        out.kind = 'F';
        break;
    }
    out.text = fromOU(c->getFormula());
    out.value = c->getValue();
    sal_Int32 key = 0;
    Reference<css::beans::XPropertySet>(c, UNO_QUERY_THROW)->getPropertyValue(OUString::createFromAscii("NumberFormat")) >>= key;
    const Reference<css::util::XNumberFormatsSupplier> formats(d->model(document), UNO_QUERY_THROW);
    sal_Int16 type = 0;
    formats->getNumberFormats()->getByKey(key)->getPropertyValue(OUString::createFromAscii("Type")) >>= type;
    out.time = (type & css::util::NumberFormat::TIME) != 0;
    return out;
}

QString CalcProbe::documentAndSheet(const QString& document)
{
    const Reference<css::frame::XTitle> title(d->model(document), UNO_QUERY_THROW);
    const Reference<css::container::XNamed> name(d->sheet(document), UNO_QUERY_THROW);
    return u'[' + fromOU(title->getTitle()) + u']' + fromOU(name->getName());
}

void CalcProbe::select(int row, int col, const QString& document)
{
    const Reference<css::view::XSelectionSupplier> selection(d->model(document)->getCurrentController(),
                                                             UNO_QUERY_THROW);
    selection->select(Any(d->sheet(document)->getCellRangeByPosition(col - 1, row - 1, col - 1, row - 1)));
}

void CalcProbe::setFormula(int row, int col, const QString& text, const QString& document)
{
    d->cell(row, col, document)->setFormula(toOU(text));
}

void CalcProbe::setText(int row, int col, const QString& text, const QString& document)
{
    Reference<css::text::XText>(d->cell(row, col, document), UNO_QUERY_THROW)->setString(toOU(text));
}

QString CalcProbe::newDocument()
{
    css::uno::Sequence<css::beans::PropertyValue> props(1);
    props.getArray()[0].Name = OUString::createFromAscii("Hidden");
    props.getArray()[0].Value <<= true;
    const Reference<css::frame::XModel> doc(
        d->desktop->loadComponentFromURL(OUString::createFromAscii("private:factory/scalc"),
                                         OUString::createFromAscii("_blank"), 0, props),
        UNO_QUERY_THROW);
    doc->getCurrentController()->getFrame()->activate();
    return fromOU(Reference<css::frame::XTitle>(doc, UNO_QUERY_THROW)->getTitle());
}

void CalcProbe::activate(const QString& document)
{
    d->model(document)->getCurrentController()->getFrame()->activate();
}

bool CalcProbe::closeDocument(const QString& document)
{
    const Reference<css::util::XCloseable> doc(d->model(document), UNO_QUERY);
    if (!doc.is())
        return false;
    doc->close(true);
    return true;
}

void CalcProbe::showEmptyWindow()
{
    closeEmptyWindow();
    d->emptyWindow = d->desktop->findFrame(OUString::createFromAscii("_blank"), 0);
    d->emptyWindow->activate();
}

void CalcProbe::closeEmptyWindow()
{
    if (!d->emptyWindow.is())
        return;
    Reference<css::util::XCloseable>(d->emptyWindow, UNO_QUERY_THROW)->close(true);
    d->emptyWindow.clear();
}

QList<std::optional<double>> CalcProbe::formatterReads(const QStringList& texts, const QString& document)
{
    const Reference<css::util::XNumberFormatsSupplier> supplier(d->model(document), UNO_QUERY_THROW);
    const Reference<css::util::XNumberFormatter2> formatter = css::util::NumberFormatter::create(d->remote);
    formatter->attachNumberFormatsSupplier(supplier);
    // The standard format of the document's own language: a fresh cell's.
    const sal_Int32 standard = Reference<css::util::XNumberFormatTypes>(supplier->getNumberFormats(), UNO_QUERY_THROW)
                                   ->getStandardIndex(css::lang::Locale());
    QList<std::optional<double>> out;
    for (const QString& t : texts) {
        try {
            out << formatter->convertStringToNumber(standard, toOU(t));
        } catch (const css::util::NotNumericException&) {
            out << std::nullopt;
        }
    }
    return out;
}
