// Program entry of 5926 Data Collect.
#include "Fonts.h"
#include "Program.h"

#include <QApplication>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Dsg5926"));
    InstallFontSubstitutions();
    return RunProgram();
}
