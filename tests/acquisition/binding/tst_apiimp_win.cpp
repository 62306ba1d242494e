// The driver binding on Windows: the library comes from the working folder
// by its full path, never from wherever the loader's search would go.
#include "APIimp.h"
#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QtTest>

#include <windows.h>

namespace {

// Absolute in the system's own terms, taken before any test changes folder:
// under Wine a Unix path is read relative to the current drive.
QString binDir()
{
    static const QString dir = QDir(qEnvironmentVariable("DSG_BIN_DIR")).canonicalPath();
    return dir;
}

// The file of the loaded module named trovport.dll; empty when none is.
QString loadedDriverFile()
{
    const HMODULE module = GetModuleHandleW(L"trovport.dll");
    if (!module)
        return QString();
    wchar_t path[MAX_PATH];
    const DWORD n = GetModuleFileNameW(module, path, MAX_PATH);
    return QDir::fromNativeSeparators(QString::fromWCharArray(path, int(n)));
}

bool samePath(const QString& a, const QString& b)
{
    return QFileInfo(a).canonicalFilePath().compare(QFileInfo(b).canonicalFilePath(),
                                                    Qt::CaseInsensitive)
           == 0;
}

} // namespace

class TestApiImpWin : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { binDir(); }
    void init();
    void cleanup();

    void workingFolderLibraryWinsOverTheSearchPath();
    void searchPathIsNeverTried();

private:
    QString originalDir_;
    QString originalPath_;
    std::unique_ptr<QTemporaryDir> work_;
    std::unique_ptr<QTemporaryDir> decoy_;
};

void TestApiImpWin::init()
{
    QVERIFY(loadedDriverFile().isEmpty());
    originalDir_ = QDir::currentPath();
    originalPath_ = qEnvironmentVariable("PATH");
    work_ = std::make_unique<QTemporaryDir>();
    decoy_ = std::make_unique<QTemporaryDir>();
    QVERIFY(work_->isValid() && decoy_->isValid());
    QVERIFY(QFile::copy(binDir() + "/trovport.dll", work_->filePath("trovport.dll")));
    // A library a search would find first, and that the binding would refuse.
    QVERIFY(QFile::copy(binDir() + "/trovport_broken_ReadSalinity.dll",
                        decoy_->filePath("trovport.dll")));
    const QString decoy = QDir::toNativeSeparators(decoy_->path());
    QVERIFY(SetDllDirectoryW(reinterpret_cast<const wchar_t*>(decoy.utf16())));
    const QString path = decoy + u';' + originalPath_;
    QVERIFY(SetEnvironmentVariableW(L"PATH", reinterpret_cast<const wchar_t*>(path.utf16())));
    QVERIFY(QDir::setCurrent(work_->path()));
}

void TestApiImpWin::cleanup()
{
    SetDllDirectoryW(nullptr);
    SetEnvironmentVariableW(L"PATH", reinterpret_cast<const wchar_t*>(originalPath_.utf16()));
    QDir::setCurrent(originalDir_);
    work_.reset();
    decoy_.reset();
}

void TestApiImpWin::workingFolderLibraryWinsOverTheSearchPath()
{
    // The loader's own search finds another file (the program's folder
    // comes first, then the decoy), so the test can tell.
    {
        const HMODULE searched = LoadLibraryW(L"trovport.dll");
        QVERIFY(searched);
        const auto release = qScopeGuard([searched] { FreeLibrary(searched); });
        QVERIFY2(!samePath(loadedDriverFile(), work_->filePath("trovport.dll")),
                 qPrintable(loadedDriverFile()));
    }
    QVERIFY(loadedDriverFile().isEmpty());

    QString error;
    auto driver = DriverLibrary::loadFromWorkingDirectory(&error);
    QVERIFY2(driver, qPrintable(error));
    QVERIFY2(samePath(loadedDriverFile(), work_->filePath("trovport.dll")),
             qPrintable(loadedDriverFile()));
    THandle handle = InvalidHandle;
    QVERIFY(driver->OpenMeterPort(1, 4800, handle));
    MeasuredValue salinity{-1.0, -1, 0};
    driver->ReadSalinity(handle, ModelCode, salinity);
    QCOMPARE(salinity.Status, 0); // the decoy answers 9, if it answered at all
    QVERIFY(CloseHandle(handle));

    driver.reset();
    QVERIFY(loadedDriverFile().isEmpty());
}

void TestApiImpWin::searchPathIsNeverTried()
{
    QVERIFY(QFile::remove("trovport.dll"));
    QVERIFY(!DriverFilePresent());
    QString error;
    QVERIFY(!DriverLibrary::loadFromWorkingDirectory(&error));
    QCOMPARE(error, QStringLiteral("The meter driver library '%1' does not exist.")
                        .arg(QDir::toNativeSeparators(QFileInfo("trovport.dll").absoluteFilePath())));
    QVERIFY(loadedDriverFile().isEmpty());
}

DSG_TEST_MAIN(TestApiImpWin)
#include "tst_apiimp_win.moc"
