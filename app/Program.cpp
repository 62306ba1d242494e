#include "Program.h"

#include "APIimp.h"
#include "AppWindows.h"
#include "Dialogs.h"
#include "Fmain.h"
#include "RegionalSettings.h"

#include <QApplication>

int RunProgram()
{
    RegionalSettings::reload();

    if (!DriverFilePresent()) {
        Dialogs::instance().message(nullptr, QStringLiteral("Error"),
                                    QStringLiteral("系统驱动程序'trovport.dll'无法找到!"),
                                    Dialogs::Icon::Error, Dialogs::Buttons::Ok);
        return 1;
    }
    QString error;
    std::unique_ptr<DriverLibrary> driver = DriverLibrary::loadFromWorkingDirectory(&error);
    if (!driver) {
        Dialogs::instance().message(nullptr, QStringLiteral("Error"), error, Dialogs::Icon::Error,
                                    Dialogs::Buttons::Ok);
        return 1;
    }

    CreateWindows(*driver);
    Main->ShowMainWindow();
    const int result = QApplication::exec();
    DestroyWindows();
    return result;
}
