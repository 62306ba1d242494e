#include "CalcProbe.h"

#include <QDeadlineTimer>
#include <QThread>

#include <com/sun/star/bridge/BridgeFactory.hpp>
#include <com/sun/star/bridge/XBridge.hpp>
#include <com/sun/star/connection/Connector.hpp>
#include <com/sun/star/container/XEnumeration.hpp>
#include <com/sun/star/container/XEnumerationAccess.hpp>
#include <com/sun/star/container/XNamed.hpp>
#include <com/sun/star/frame/Desktop.hpp>
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
#include <com/sun/star/util/XCloseable.hpp>
#include <com/sun/star/view/XSelectionSupplier.hpp>
#include <cppuhelper/bootstrap.hxx>
#include <rtl/bootstrap.hxx>

namespace css = com::sun::star;
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
    Reference<css::frame::XDesktop2> desktop;

    Reference<css::frame::XModel> model()
    {
        const Reference<css::container::XEnumeration> all = desktop->getComponents()->createEnumeration();
        while (all->hasMoreElements()) {
            const Reference<css::sheet::XSpreadsheetDocument> doc(all->nextElement(), UNO_QUERY);
            if (doc.is())
                return Reference<css::frame::XModel>(doc, UNO_QUERY_THROW);
        }
        return {};
    }
    Reference<css::sheet::XSpreadsheet> sheet()
    {
        const Reference<css::sheet::XSpreadsheetView> view(model()->getCurrentController(), UNO_QUERY_THROW);
        return view->getActiveSheet();
    }
};

CalcProbe::CalcProbe(QString pipeName) : d(std::make_unique<Impl>())
{
    d->pipe = std::move(pipeName);
}

CalcProbe::~CalcProbe()
{
    try {
        if (d->bridge.is())
            d->bridge->dispose();
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
            const Reference<css::uno::XComponentContext> remote(
                bridge->getInstance(OUString::createFromAscii("StarOffice.ComponentContext")), UNO_QUERY_THROW);
            d->desktop = css::frame::Desktop::create(remote);
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

CalcProbe::Cell CalcProbe::cell(int row, int col)
{
    const Reference<css::table::XCell> c = d->sheet()->getCellByPosition(col - 1, row - 1);
    switch (c->getType()) {
    case css::table::CellContentType_EMPTY:
        return {'E', QString()};
    case css::table::CellContentType_TEXT:
        return {'T', fromOU(Reference<css::text::XText>(c, UNO_QUERY_THROW)->getString())};
    case css::table::CellContentType_VALUE:
        return {'V', fromOU(c->getFormula())};
    default:
        return {'F', fromOU(c->getFormula())};
    }
}

QString CalcProbe::documentAndSheet()
{
    const Reference<css::frame::XTitle> title(d->model(), UNO_QUERY_THROW);
    const Reference<css::container::XNamed> name(d->sheet(), UNO_QUERY_THROW);
    return u'[' + fromOU(title->getTitle()) + u']' + fromOU(name->getName());
}

void CalcProbe::select(int row, int col)
{
    const Reference<css::view::XSelectionSupplier> selection(d->model()->getCurrentController(), UNO_QUERY_THROW);
    selection->select(css::uno::Any(d->sheet()->getCellRangeByPosition(col - 1, row - 1, col - 1, row - 1)));
}

bool CalcProbe::closeDocument()
{
    const Reference<css::util::XCloseable> doc(d->model(), UNO_QUERY);
    if (!doc.is())
        return false;
    doc->close(true);
    return true;
}
