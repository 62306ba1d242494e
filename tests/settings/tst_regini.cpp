// The settings store: sections under one per-user key, values kept as text,
// and the errors the operator sees when the store refuses a read or write.
#include "Errors.h"
#include "RegIniFile.h"
#include "StoreFixtures.h"
#include "TestSupport.h"

#include <QScopeGuard>
#include <QTemporaryDir>
#include <QtTest>

#ifdef Q_OS_UNIX
#include <csignal>
#include <sys/resource.h>
#endif

using namespace storefix;

class TestRegIniFile : public QObject {
    Q_OBJECT

private slots:
    void init() { removeStore(); }
    void cleanup()
    {
        removeStore();
        for (const QString& kept : keptStores())
            QFile::remove(QFileInfo(storeFile()).absolutePath() + u'/' + kept);
    }

    void openingCreatesKeyButNoSection();
    void sectionExistsDecidedBySectionAlone_data();
    void sectionExistsDecidedBySectionAlone();
    void readsFallBackWhenMissing();
    void readInteger_data();
    void readInteger();
    void writesStoreText_data();
    void writesStoreText();
    void writeCreatesSectionAndKeepsOthers();
    void nonTextValueIsRefused_data();
    void nonTextValueIsRefused();
    void storeBeneathAFileCannotBeWritten();
    void writeFailureTexts_data();
    void writeFailureTexts();
    void unparsableStoreIsKeptAndWritten_data();
    void unparsableStoreIsKeptAndWritten();
    void keptStoreNeverReplacesAnother();
    void unparsableStoreStillReportsRealFailures_data();
    void unparsableStoreStillReportsRealFailures();
    void configHomeFromEnvironment_data();
    void configHomeFromEnvironment();
};

void TestRegIniFile::openingCreatesKeyButNoSection()
{
    QVERIFY(!QFileInfo::exists(storeFile()));
    TRegIniFile store(SettingsKey);
    QCOMPARE(store.FileName(), SettingsKey);
    QVERIFY(Registry::instance().keyExists(RegRoot::CurrentUser, SettingsKey));
    // A first run is recognised by the missing section, so opening must not
    // make one.
    QVERIFY(!store.SectionExists(QStringLiteral("Device")));
}

void TestRegIniFile::sectionExistsDecidedBySectionAlone_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("exists");
    QTest::newRow("no file") << QByteArray() << false;
    QTest::newRow("empty section") << QByteArray("[Device]\n") << true;
    QTest::newRow("one value") << QByteArray("[Device]\nRT=5\n") << true;
    QTest::newRow("other section only") << QByteArray("[Other]\nPort=2\n") << false;
    QTest::newRow("value outside sections") << QByteArray("Port=2\n") << false;
}

void TestRegIniFile::sectionExistsDecidedBySectionAlone()
{
    QFETCH(QByteArray, content);
    QFETCH(bool, exists);
    if (!content.isEmpty())
        QVERIFY(writeStore(content));
    TRegIniFile store(SettingsKey);
    QCOMPARE(store.SectionExists(QStringLiteral("Device")), exists);
}

void TestRegIniFile::readsFallBackWhenMissing()
{
    {
        TRegIniFile store(SettingsKey);
        QCOMPARE(store.ReadString("Device", "Port", "1"), QStringLiteral("1"));
        QCOMPARE(store.ReadString("Device", "Speed", "4800"), QStringLiteral("4800"));
        QCOMPARE(store.ReadInteger("Device", "RT", 1), 1);
        QCOMPARE(store.ReadInteger("Device", "RT", 17), 17);
    }
    QVERIFY(writeStore("[Device]\nSpeed=9600\n"));
    TRegIniFile store(SettingsKey);
    QCOMPARE(store.ReadString("Device", "Port", "1"), QStringLiteral("1"));
    QCOMPARE(store.ReadString("Device", "Speed", "4800"), QStringLiteral("9600"));
    QCOMPARE(store.ReadInteger("Device", "RT", 3), 3);
    // Reading never writes.
    QCOMPARE(readStore(), QByteArray("[Device]\nSpeed=9600\n"));
}

void TestRegIniFile::readInteger_data()
{
    QTest::addColumn<QByteArray>("stored");
    QTest::addColumn<int>("expected");
    QTest::newRow("digits") << QByteArray("250") << 250;
    QTest::newRow("negative") << QByteArray("-3") << -3;
    QTest::newRow("letters") << QByteArray("abc") << 7;
    QTest::newRow("empty") << QByteArray("") << 7;
    QTest::newRow("fraction") << QByteArray("1.5") << 7;
    QTest::newRow("beyond 32 bits") << QByteArray("99999999999") << 7;
}

void TestRegIniFile::readInteger()
{
    QFETCH(QByteArray, stored);
    QFETCH(int, expected);
    QVERIFY(writeStore("[Device]\nRT=" + stored + "\n"));
    TRegIniFile store(SettingsKey);
    QCOMPARE(store.ReadInteger("Device", "RT", 7), expected);
}

void TestRegIniFile::writesStoreText_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("asInteger");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("number");
    QTest::addColumn<QString>("stored");
    QTest::newRow("port text") << "Port" << false << "3" << 0 << "3";
    QTest::newRow("port text kept unchanged") << "Port" << false << " 12" << 0 << " 12";
    QTest::newRow("speed text") << "Speed" << false << "4800" << 0 << "4800";
    QTest::newRow("integer") << "RT" << true << QString() << 99999 << "99999";
    QTest::newRow("negative integer") << "RT" << true << QString() << -1 << "-1";
}

void TestRegIniFile::writesStoreText()
{
    QFETCH(QString, name);
    QFETCH(bool, asInteger);
    QFETCH(QString, text);
    QFETCH(int, number);
    QFETCH(QString, stored);
    TRegIniFile store(SettingsKey);
    if (asInteger)
        store.WriteInteger("Device", name, number);
    else
        store.WriteString("Device", name, text);
    QVERIFY(store.SectionExists("Device"));
    // Stored as text, whatever the write, so a later read sees a string.
    QCOMPARE(storedValue(name), stored);
    QCOMPARE(store.ReadString("Device", name, "fallback"), stored);
}

void TestRegIniFile::writeCreatesSectionAndKeepsOthers()
{
    QVERIFY(writeStore("[Other]\nPort=9\n"));
    TRegIniFile store(SettingsKey);
    QVERIFY(!store.SectionExists("Device"));
    store.WriteString("Device", "Port", "2");
    QVERIFY(store.SectionExists("Device"));
    QCOMPARE(storedValue("Port"), QStringLiteral("2"));
    QCOMPARE(storedValue("Port", "Other"), QStringLiteral("9"));
}

void TestRegIniFile::nonTextValueIsRefused_data()
{
    QTest::addColumn<QString>("name");
    QTest::newRow("Port") << "Port";
    QTest::newRow("Speed") << "Speed";
    QTest::newRow("RT") << "RT";
}

void TestRegIniFile::nonTextValueIsRefused()
{
    QFETCH(QString, name);
    QVERIFY(writeStore("[Device]\n" + name.toLatin1() + "=@ByteArray(5)\n"));
    TRegIniFile store(SettingsKey);
    const QString expected = QStringLiteral("Invalid data type for '%1'").arg(name);
    QCOMPARE(errorTextOf<AppError>([&] { store.ReadString("Device", name, "1"); }), expected);
    QCOMPARE(errorTextOf<AppError>([&] { store.ReadInteger("Device", name, 1); }), expected);
}

void TestRegIniFile::storeBeneathAFileCannotBeWritten()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QFile blocker(dir.filePath("file"));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    ConfigHome home(dir.filePath("file/config"));

    // Opening reports nothing: the first write names what failed.
    std::unique_ptr<TRegIniFile> store;
    QCOMPARE(errorTextOf<AppError>([&] { store = std::make_unique<TRegIniFile>(SettingsKey); }), QString());
    QVERIFY(!store->SectionExists("Device"));
    QCOMPARE(errorTextOf<AppError>([&] { store->WriteString("Device", "Port", "1"); }),
             QStringLiteral("Failed to create key Device"));
    QCOMPARE(errorTextOf<AppError>([&] { store->WriteInteger("Device", "RT", 1); }),
             QStringLiteral("Failed to create key Device"));
    QCOMPARE(store->ReadString("Device", "Port", "1"), QStringLiteral("1"));
}

void TestRegIniFile::writeFailureTexts_data()
{
    QTest::addColumn<bool>("sectionThere");
    QTest::addColumn<bool>("failCreate");
    QTest::addColumn<QString>("failSet");
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("asInteger");
    QTest::addColumn<QString>("error");
    QTest::newRow("section cannot be made")
        << false << true << QString() << "Port" << false << "Failed to create key Device";
    QTest::newRow("section there, no key needed")
        << true << true << QString() << "Port" << false << QString();
    QTest::newRow("text refused")
        << true << false << "Port" << "Port" << false << "Failed to set data for 'Port'";
    QTest::newRow("integer refused")
        << false << false << "RT" << "RT" << true << "Failed to set data for 'RT'";
}

void TestRegIniFile::writeFailureTexts()
{
    QFETCH(bool, sectionThere);
    QFETCH(bool, failCreate);
    QFETCH(QString, failSet);
    QFETCH(QString, name);
    QFETCH(bool, asInteger);
    QFETCH(QString, error);
    if (sectionThere)
        QVERIFY(writeStore("[Device]\n"));
    TRegIniFile store(SettingsKey);
    RecordingRegistry registry;
    registry.failCreate = failCreate;
    if (!failSet.isEmpty())
        registry.failSetFor << failSet;
    QCOMPARE(errorTextOf<AppError>([&] {
                 if (asInteger)
                     store.WriteInteger("Device", name, 4);
                 else
                     store.WriteString("Device", name, "4");
             }),
             error);
    if (error.startsWith(QLatin1String("Failed to create")))
        QVERIFY(registry.writes().isEmpty()); // no value written into a missing section
}

namespace {

// Bytes of a damaged file: every value 0 to 255, a few '=' and '[' among
// them, in an order that is no text at all.
QByteArray binaryJunk()
{
    QByteArray bytes;
    for (int i = 0; i < 600; ++i)
        bytes += char((i * 167 + 13) & 0xff);
    return bytes;
}

} // namespace

void TestRegIniFile::unparsableStoreIsKeptAndWritten_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::newRow("binary bytes") << binaryJunk();
    QTest::newRow("binary after a good section") << "[Device]\nPort=2\n" + binaryJunk();
    QTest::newRow("unterminated section header") << QByteArray("[Device\nPort=2\nRT=5\n");
    QTest::newRow("line without '='") << QByteArray("[Device]\nPort=2\nport two\n");
    QTest::newRow("'#' comment") << QByteArray("# my bench\n[Device]\nPort=2\n");
    QTest::newRow("nothing but NULs") << QByteArray(64, '\0');
}

void TestRegIniFile::unparsableStoreIsKeptAndWritten()
{
    // The writes of a first run or a Setup command, one after the other:
    // each lands, none reports a failure, and the user's file survives
    // whole beside the new store.
    QFETCH(QByteArray, content);
    QVERIFY(writeStore(content));
    TRegIniFile store(SettingsKey);
    store.SectionExists("Device");
    store.ReadString("Device", "Port", "1");
    QCOMPARE(errorTextOf<AppError>([&] { store.WriteString("Device", "Port", "3"); }), QString());
    QCOMPARE(errorTextOf<AppError>([&] { store.WriteString("Device", "Speed", "4800"); }), QString());
    QCOMPARE(errorTextOf<AppError>([&] { store.WriteInteger("Device", "RT", 7); }), QString());

    QCOMPARE(valueOnDisk("Port"), QStringLiteral("3"));
    QCOMPARE(valueOnDisk("Speed"), QStringLiteral("4800"));
    QCOMPARE(valueOnDisk("RT"), QStringLiteral("7"));
    QCOMPARE(store.ReadString("Device", "Port", "1"), QStringLiteral("3"));
    QCOMPARE(keptStores(), QStringList{QStringLiteral("5926.conf.broken")});
    QCOMPARE(readFile(storeFile() + ".broken"), content);
}

void TestRegIniFile::keptStoreNeverReplacesAnother()
{
    const QString store = storeFile();
    QDir().mkpath(QFileInfo(store).absolutePath());
    for (const QString& name : {store + ".broken", store + ".broken.1"}) {
        QFile f(name);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("kept earlier: " + name.toUtf8());
    }
    const QByteArray junk = "[Device]\nPort=2\n\x01\x02\x03\n";
    QVERIFY(writeStore(junk));
    TRegIniFile settings(SettingsKey);
    settings.WriteString("Device", "Port", "4");
    QCOMPARE(keptStores(), QStringList({"5926.conf.broken", "5926.conf.broken.1",
                                        "5926.conf.broken.2"}));
    QCOMPARE(readFile(store + ".broken"), "kept earlier: " + (store + ".broken").toUtf8());
    QCOMPARE(readFile(store + ".broken.1"), "kept earlier: " + (store + ".broken.1").toUtf8());
    QCOMPARE(readFile(store + ".broken.2"), junk);

    // The store is sound now: later writes keep nothing more.
    settings.WriteString("Device", "Speed", "4800");
    settings.WriteInteger("Device", "RT", 2);
    QCOMPARE(keptStores().size(), 3);
    QCOMPARE(valueOnDisk("Port"), QStringLiteral("4"));
    QCOMPARE(valueOnDisk("RT"), QStringLiteral("2"));
}

void TestRegIniFile::unparsableStoreStillReportsRealFailures_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("error");
    // Room for the damaged file itself, not for what the write puts there.
    QTest::newRow("section must be made") << QByteArray("\x01\x02\x03\x04\x05")
                                          << "Failed to create key Device";
    QTest::newRow("value cannot be written") << QByteArray("[Device]\nPort=2\n\x01\x02\n")
                                             << "Failed to set data for 'Port'";
}

void TestRegIniFile::unparsableStoreStillReportsRealFailures()
{
#ifndef Q_OS_UNIX
    QSKIP("needs a file size limit");
#else
    // A format error of the reading must not pass a failed write off as a
    // successful one.
    QFETCH(QByteArray, content);
    QFETCH(QString, error);
    QVERIFY(writeStore(content));
    TRegIniFile store(SettingsKey);

    rlimit old{};
    QCOMPARE(getrlimit(RLIMIT_FSIZE, &old), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limited = old;
    limited.rlim_cur = rlim_t(content.size());
    QCOMPARE(setrlimit(RLIMIT_FSIZE, &limited), 0);
    const QString got = errorTextOf<AppError>(
        [&] { store.WriteString("Device", "Port", QString(40, u'3')); });
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);

    QCOMPARE(got, error);
    QVERIFY(valueOnDisk("Port") != QString(40, u'3'));
    QCOMPARE(readFile(storeFile() + ".broken"), content);
#endif
}

void TestRegIniFile::configHomeFromEnvironment_data()
{
    // XDG_CONFIG_HOME as set, and where the store must land: under the home
    // folder's .config, or under the value itself (relative to the scratch
    // folder, written here as "<abs>/").
    QTest::addColumn<QString>("configHome");
    QTest::addColumn<QString>("storeBelow");
    QTest::newRow("relative") << "relconf" << "home/.config";
    QTest::newRow("relative with ./") << "./relconf" << "home/.config";
    QTest::newRow("empty") << "" << "home/.config";
    QTest::newRow("absolute") << "<abs>/conf" << "conf";
}

void TestRegIniFile::configHomeFromEnvironment()
{
    QFETCH(QString, configHome);
    QFETCH(QString, storeBelow);
    QTemporaryDir scratch;
    QVERIFY(scratch.isValid());
    const QString root = scratch.path();
    QVERIFY(QDir(root).mkpath("home") && QDir(root).mkpath("cwd"));
    configHome.replace(QStringLiteral("<abs>"), root);

    // The program runs in its working folder, which a relative value would
    // be taken against.
    const QString previousCwd = QDir::currentPath();
    const QByteArray previousHome = qgetenv("HOME");
    QVERIFY(QDir::setCurrent(root + "/cwd"));
    qputenv("HOME", QFile::encodeName(root + "/home"));
    const auto restore = qScopeGuard([&] {
        QDir::setCurrent(previousCwd);
        qputenv("HOME", previousHome);
    });
    {
        ConfigHome home(configHome);
        const QString expected = root + u'/' + storeBelow + "/Trova/5926.conf";
        QCOMPARE(storeFile(), expected);
        TRegIniFile store(SettingsKey);
        store.WriteString("Device", "Port", "3");
        QVERIFY2(readFile(expected).contains("Port=3"), readFile(expected).constData());
        QCOMPARE(TRegIniFile(SettingsKey).ReadString("Device", "Port", "1"), QStringLiteral("3"));
    }
    // Nothing went into the working folder.
    QCOMPARE(QDir(root + "/cwd").entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
             QStringList());
}

DSG_TEST_MAIN(TestRegIniFile)
#include "tst_regini.moc"
