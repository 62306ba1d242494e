// libxlsxwriter has no build for this system: the sheet saves as CSV only.
#include "Sheet.h"

bool Sheet::xlsxAvailable()
{
    return false;
}

bool Sheet::saveXlsx(const QString&, QString* error) const
{
    if (error)
        *error = QStringLiteral("saving .xlsx is not available in this build");
    return false;
}
