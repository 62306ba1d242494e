// Finding and starting the spreadsheet program through the ".xls" file
// association in the system's registry, and starting it through WinExec.
#include "Excels.h"
#include "ProgramStart.h"
#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QtTest>

#include <windows.h>

namespace {

const wchar_t* wide(const QString& text)
{
    return reinterpret_cast<const wchar_t*>(text.utf16());
}

bool setClassesDefault(const QString& key, const QString& text)
{
    return RegSetValueW(HKEY_CLASSES_ROOT, wide(key), REG_SZ, wide(text),
                        DWORD(text.size() * sizeof(wchar_t)))
           == ERROR_SUCCESS;
}

void removeAssociation()
{
    RegDeleteTreeW(HKEY_CLASSES_ROOT, L".xls");
    RegDeleteKeyW(HKEY_CLASSES_ROOT, L".xls");
    RegDeleteTreeW(HKEY_CLASSES_ROOT, L"Excel.Sheet.8");
    RegDeleteKeyW(HKEY_CLASSES_ROOT, L"Excel.Sheet.8");
}

QString native(const QString& path)
{
    return QDir::toNativeSeparators(path);
}

// What the marker program wrote: the show mode it was given; empty while
// it has not (yet) written.
QByteArray markerText(const QString& file)
{
    QFile f(file);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QString markerProgram()
{
    static const QString program =
        QDir(qEnvironmentVariable("DSG_BIN_DIR")).canonicalPath() + "/start_marker.exe";
    return program;
}

} // namespace

class TestAssociationWin : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { markerProgram(); }
    void init();
    void cleanup() { removeAssociation(); }

    void quotedCommandUnderFolderWithSpaces();
    void commandWithoutTheProgramName();
    void associatedProgramMissing();
    void noAssociationLeavesTheNameAlone();
    void startExcelStartsTheLocatedProgram();
    void startRefusedForFileThatIsNoProgram();
    void nothingStartsOnceQuitting();

private:
    std::unique_ptr<QTemporaryDir> dir_;
    QString office_; // "...\Microsoft Office\OFFICE11"
};

void TestAssociationWin::init()
{
    removeAssociation();
    SetProgramQuitting(false);
    dir_ = std::make_unique<QTemporaryDir>();
    QVERIFY(dir_->isValid());
    office_ = dir_->filePath("Microsoft Office/OFFICE11");
    QVERIFY(QDir().mkpath(office_));
    QVERIFY(QFile::copy(markerProgram(), office_ + "/EXCEL.EXE"));
    QVERIFY(setClassesDefault(".xls", "Excel.Sheet.8"));
}

void TestAssociationWin::quotedCommandUnderFolderWithSpaces()
{
    QVERIFY(setClassesDefault("Excel.Sheet.8\\shell\\Open\\command",
                              '"' + native(office_ + "/EXCEL.EXE") + "\" /e"));
    TCustomExcel excel(nullptr);
    excel.LocateExcel();
    QCOMPARE(excel.ExeName(), native(office_ + "/EXCEL").toUpper());
}

void TestAssociationWin::commandWithoutTheProgramName()
{
    // The first eight characters stand in for the name: "C:\WINDO".
    QVERIFY(setClassesDefault("Excel.Sheet.8\\shell\\Open\\command",
                              "C:\\WINDOWS\\NOTEPAD.EXE %1"));
    TCustomExcel excel(nullptr);
    excel.LocateExcel();
    QCOMPARE(excel.ExeName(), QString());

    // ... and stay, when such a program exists.
    QVERIFY(setClassesDefault("Excel.Sheet.8\\shell\\Open\\command", "c:\\dsgtestx.exe /x"));
    QVERIFY(QFile::copy(markerProgram(), "C:/DSGTE.EXE"));
    const auto removeStandIn = qScopeGuard([] { QFile::remove("C:/DSGTE.EXE"); });
    TCustomExcel other(nullptr);
    other.LocateExcel();
    QCOMPARE(other.ExeName(), QStringLiteral("C:\\DSGTE"));
}

void TestAssociationWin::associatedProgramMissing()
{
    QVERIFY(setClassesDefault("Excel.Sheet.8\\shell\\Open\\command",
                              '"' + native(dir_->filePath("Elsewhere/EXCEL.EXE")) + "\" /e"));
    TCustomExcel excel(nullptr);
    excel.LocateExcel();
    QCOMPARE(excel.ExeName(), QString());
    QCOMPARE(errorTextOf<AppError>([&] { excel.StartExcel(); }),
             QStringLiteral("Excel could not be launched"));
}

void TestAssociationWin::noAssociationLeavesTheNameAlone()
{
    removeAssociation();
    TCustomExcel excel(nullptr);
    excel.LocateExcel();
    QCOMPARE(excel.ExeName(), QStringLiteral("Excel"));
}

void TestAssociationWin::startExcelStartsTheLocatedProgram()
{
    QVERIFY(setClassesDefault("Excel.Sheet.8\\shell\\Open\\command",
                              '"' + native(office_ + "/EXCEL.EXE") + "\" /e"));
    TCustomExcel excel(nullptr);
    excel.LocateExcel();
    const QString marker = office_ + "/EXCEL.EXE.started";
    QVERIFY(!QFile::exists(marker));
    excel.StartExcel();
    QTRY_COMPARE_WITH_TIMEOUT(markerText(marker), QByteArray("5"), 20000); // SW_SHOW
}

void TestAssociationWin::startRefusedForFileThatIsNoProgram()
{
    QFile fake(office_ + "/FAKE.EXE");
    QVERIFY(fake.open(QIODevice::WriteOnly));
    fake.write("this is no program\r\n");
    fake.close();
    const QString path = native(office_ + "/FAKE.EXE");
    QVERIFY(WinExec(path, 5) <= 31);

    TCustomExcel excel(nullptr);
    excel.setExeName(native(office_ + "/FAKE"));
    QCOMPARE(errorTextOf<AppError>([&] { excel.StartExcel(); }),
             QStringLiteral("Excel could not be launched"));
}

void TestAssociationWin::nothingStartsOnceQuitting()
{
    const QString program = native(office_ + "/EXCEL.EXE");
    SetProgramQuitting(true);
    const unsigned result = WinExec(program, 5);
    const bool started = ProgramStarter::instance().start(program, {},
                                                          ProgramStarter::Show::Normal);
    SetProgramQuitting(false);
    QCOMPARE(result, 2u);
    QVERIFY(!started);

    // The same start goes through when the program is not ending.
    QVERIFY(ProgramStarter::instance().start(program, {},
                                             ProgramStarter::Show::MinimizedNoActivate));
    QTRY_COMPARE_WITH_TIMEOUT(markerText(office_ + "/EXCEL.EXE.started"), QByteArray("7"),
                              20000); // SW_SHOWMINNOACTIVE
}

DSG_TEST_MAIN(TestAssociationWin)
#include "tst_association_win.moc"
