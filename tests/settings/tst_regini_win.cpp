// The settings store in the system's registry: what a first run finds, what
// the values look like to the registry's own tools, and the errors when the
// registry refuses a write.
#include "Errors.h"
#include "RegIniFile.h"
#include "StoreFixtures.h"
#include "TestSupport.h"

#include <QProcess>
#include <QRegularExpression>
#include <QtTest>

#include <windows.h>
#include <sddl.h>

using namespace storefix;

namespace {

const wchar_t* wide(const QString& text)
{
    return reinterpret_cast<const wchar_t*>(text.utf16());
}

bool keyPresent(const QString& key)
{
    HKEY h = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, wide(key), 0, KEY_READ, &h) != ERROR_SUCCESS)
        return false;
    RegCloseKey(h);
    return true;
}

// The value's registry type and text, straight from the registry.
std::pair<DWORD, QString> rawValue(const QString& key, const QString& name)
{
    wchar_t buffer[256] = {};
    DWORD size = sizeof buffer;
    DWORD type = REG_NONE;
    if (RegGetValueW(HKEY_CURRENT_USER, wide(key), wide(name), RRF_RT_ANY | RRF_NOEXPAND, &type,
                     buffer, &size)
        != ERROR_SUCCESS)
        return {REG_NONE, QString()};
    return {type, QString::fromWCharArray(buffer)};
}

// Makes `key` (created when missing) refuse new values to everyone while it
// can still be read and deleted.
bool denyWrites(const QString& key)
{
    PSECURITY_DESCRIPTOR sd = nullptr;
    // Deny KEY_SET_VALUE; allow all the rest.
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:P(D;;0x2;;;WD)(A;;KA;;;WD)",
                                                              SDDL_REVISION_1, &sd, nullptr))
        return false;
    HKEY h = nullptr;
    LONG result = RegCreateKeyExW(HKEY_CURRENT_USER, wide(key), 0, nullptr, 0,
                                  KEY_READ | WRITE_DAC, nullptr, &h, nullptr);
    if (result == ERROR_SUCCESS)
        result = RegSetKeySecurity(h, DACL_SECURITY_INFORMATION, sd);
    if (h)
        RegCloseKey(h);
    LocalFree(sd);
    return result == ERROR_SUCCESS;
}

// Makes `key` volatile: the registry then refuses it any lasting subkey.
bool makeVolatile(const QString& key)
{
    HKEY h = nullptr;
    const LONG result = RegCreateKeyExW(HKEY_CURRENT_USER, wide(key), 0, nullptr,
                                        REG_OPTION_VOLATILE, KEY_READ, nullptr, &h, nullptr);
    if (h)
        RegCloseKey(h);
    return result == ERROR_SUCCESS;
}

void deleteStoreKey()
{
    RegDeleteTreeW(HKEY_CURRENT_USER, wide(SettingsKey));
    RegDeleteKeyW(HKEY_CURRENT_USER, wide(SettingsKey));
}

} // namespace

class TestRegIniFileWin : public QObject {
    Q_OBJECT

private slots:
    void init() { deleteStoreKey(); }
    void cleanup() { deleteStoreKey(); }

    void firstRunFindsNoSectionAndReadsMakeNone();
    void valuesAreRegistryStrings();
    void registryToolSeesTheValues();
    void nonTextValueIsRefused();
    void refusedWritesRaiseTheStoreErrors_data();
    void refusedWritesRaiseTheStoreErrors();
};

void TestRegIniFileWin::firstRunFindsNoSectionAndReadsMakeNone()
{
    QVERIFY(!keyPresent(SettingsKey));
    TRegIniFile store(SettingsKey);
    QVERIFY(keyPresent(SettingsKey));
    QVERIFY(!store.SectionExists("Device"));

    QCOMPARE(store.ReadString("Device", "Port", "1"), QStringLiteral("1"));
    QCOMPARE(store.ReadInteger("Device", "RT", 1), 1);
    // Reading must not make the section that marks a run after the first.
    QVERIFY(!keyPresent(SettingsKey + "\\Device"));
    QVERIFY(!store.SectionExists("Device"));

    store.WriteString("Other", "Port", "2");
    QVERIFY(!store.SectionExists("Device"));
    QVERIFY(store.SectionExists("Other"));
}

void TestRegIniFileWin::valuesAreRegistryStrings()
{
    {
        TRegIniFile store(SettingsKey);
        store.WriteString("Device", "Port", "3");
        store.WriteString("Device", "Speed", "4800");
        store.WriteInteger("Device", "RT", 99999);
    }
    const QString device = SettingsKey + "\\Device";
    QCOMPARE(rawValue(device, "Port"), std::make_pair(DWORD(REG_SZ), QStringLiteral("3")));
    QCOMPARE(rawValue(device, "Speed"), std::make_pair(DWORD(REG_SZ), QStringLiteral("4800")));
    QCOMPARE(rawValue(device, "RT"), std::make_pair(DWORD(REG_SZ), QStringLiteral("99999")));

    TRegIniFile again(SettingsKey);
    QVERIFY(again.SectionExists("Device"));
    QCOMPARE(again.ReadString("Device", "Port", "1"), QStringLiteral("3"));
    QCOMPARE(again.ReadInteger("Device", "RT", 1), 99999);
    QCOMPARE(again.ReadString("Device", "Absent", "x"), QStringLiteral("x"));
}

void TestRegIniFileWin::registryToolSeesTheValues()
{
    TRegIniFile store(SettingsKey);
    store.WriteString("Device", "Port", "4");
    store.WriteInteger("Device", "RT", 7);

    QProcess reg;
    reg.start("reg.exe", {"query", "HKCU\\Software\\Trova\\5926\\Device"});
    QVERIFY(reg.waitForFinished(30000));
    const QString out = QString::fromLocal8Bit(reg.readAllStandardOutput());
    QCOMPARE(reg.exitCode(), 0);
    QVERIFY2(out.contains(QRegularExpression("Port\\s+REG_SZ\\s+4\\s")), qPrintable(out));
    QVERIFY2(out.contains(QRegularExpression("RT\\s+REG_SZ\\s+7\\s")), qPrintable(out));
}

void TestRegIniFileWin::nonTextValueIsRefused()
{
    TRegIniFile store(SettingsKey);
    store.WriteString("Device", "Port", "2");
    HKEY h = nullptr;
    QCOMPARE(RegOpenKeyExW(HKEY_CURRENT_USER, wide(SettingsKey + "\\Device"), 0, KEY_SET_VALUE, &h),
             LONG(ERROR_SUCCESS));
    const DWORD five = 5;
    QCOMPARE(RegSetValueExW(h, L"RT", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&five),
                            sizeof five),
             LONG(ERROR_SUCCESS));
    RegCloseKey(h);

    QCOMPARE(errorTextOf<AppError>([&] { store.ReadInteger("Device", "RT", 1); }),
             QStringLiteral("Invalid data type for 'RT'"));
    QCOMPARE(errorTextOf<AppError>([&] { store.ReadString("Device", "RT", "1"); }),
             QStringLiteral("Invalid data type for 'RT'"));
    QCOMPARE(store.ReadString("Device", "Port", "1"), QStringLiteral("2"));
}

void TestRegIniFileWin::refusedWritesRaiseTheStoreErrors_data()
{
    QTest::addColumn<bool>("section"); // else the value
    QTest::addColumn<QString>("error");
    QTest::newRow("section cannot be made") << true << "Failed to create key Device";
    QTest::newRow("value cannot be set") << false << "Failed to set data for 'Port'";
}

void TestRegIniFileWin::refusedWritesRaiseTheStoreErrors()
{
    QFETCH(bool, section);
    QFETCH(QString, error);
    // Wine does not check the right to make subkeys, but keeps volatile
    // keys' children volatile.
    QVERIFY(section ? makeVolatile(SettingsKey) : denyWrites(SettingsKey + "\\Device"));
    TRegIniFile store(SettingsKey);

    QCOMPARE(errorTextOf<AppError>([&] { store.WriteString("Device", "Port", "3"); }), error);
    QCOMPARE(rawValue(SettingsKey + "\\Device", "Port").first, DWORD(REG_NONE));
}

DSG_TEST_MAIN(TestRegIniFileWin)
#include "tst_regini_win.moc"
