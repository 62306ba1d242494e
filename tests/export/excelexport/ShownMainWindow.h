#pragma once
// For export tests that run the whole main window: stored settings on the
// stand-in meter's COM1, so the show step opens no Setup dialog and the
// port test enables Start.
#include "AppWindows.h"
#include "Fmain.h"
#include "RegIniFile.h"

inline void showMainWindowOnCom1()
{
    const QString device = QStringLiteral("Device");
    Main->Settings->WriteString(device, QStringLiteral("Port"), QStringLiteral("1"));
    Main->Settings->WriteString(device, QStringLiteral("Speed"), QStringLiteral("4800"));
    Main->Settings->WriteString(device, QStringLiteral("RT"), QStringLiteral("1"));
    Main->ShowMainWindow();
}
