// Shows why the launcher could not start the program. A start from the
// desktop's menu has no terminal, so a reason written to stderr alone would
// never reach the user: it goes into the same error box the program shows
// its own start problems in. The text is the one argument; the exit code
// stays 1, since the program did not start.
#include "Dialogs.h"
#include "Fonts.h"

#include <QApplication>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Dsg5926"));
    QGuiApplication::setDesktopFileName(QStringLiteral("com.trova.Dsg5926"));
    InstallFontSubstitutions();
    const QStringList arguments = QCoreApplication::arguments();
    ShowErrorBox(arguments.size() > 1
                     ? arguments.at(1)
                     : QStringLiteral("5926 Data Collect could not be started."));
    return 1;
}
