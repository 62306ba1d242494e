// The Excel client against a recording conversation: exact command strings,
// their order, the waits, the errors and the program location.
#include "Excels.h"
#include "FakeDdeConv.h"
#include "ProgramStart.h"
#include "RegionalSettings.h"
#include "Registry.h"
#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QHash>

namespace {

class FakeRegistry : public Registry {
public:
    FakeRegistry() { Registry::setInstance(this); }
    ~FakeRegistry() override { Registry::setInstance(nullptr); }
    bool keyExists(RegRoot, const QString& key) override { return values.contains(key); }
    bool createKey(RegRoot, const QString&) override { return true; }
    std::optional<Value> queryValue(RegRoot root, const QString& key, const QString& name) override
    {
        reads << key;
        if (root != RegRoot::ClassesRoot || !name.isEmpty() || !values.contains(key))
            return std::nullopt;
        return values.value(key);
    }
    bool setString(RegRoot, const QString&, const QString&, const QString&) override { return false; }
    void setText(const QString& key, const QString& text) { values.insert(key, Value{true, text}); }
    QHash<QString, Value> values;
    QStringList reads;
};

class FakeStarter : public ProgramStarter {
public:
    explicit FakeStarter(std::shared_ptr<QStringList> log) : log_(std::move(log))
    {
        ProgramStarter::setInstance(this);
    }
    ~FakeStarter() override { ProgramStarter::setInstance(nullptr); }
    bool start(const QString& program, const QStringList&, Show show) override
    {
        *log_ << QStringLiteral("Start %1 %2")
                     .arg(program, show == Show::Normal ? QStringLiteral("normal")
                                                        : QStringLiteral("minimized"));
        return result;
    }
    bool result = true;

private:
    std::shared_ptr<QStringList> log_;
};

struct Rig {
    std::shared_ptr<QStringList> log = std::make_shared<QStringList>();
    FakeDdeConv* conv = nullptr;
    std::unique_ptr<TAdvExcel> excel;
    int opens = 0;
    int closes = 0;

    Rig()
    {
        auto c = std::make_unique<FakeDdeConv>(log);
        conv = c.get();
        excel = std::make_unique<TAdvExcel>(nullptr, std::move(c));
        excel->OnBeginWait = [this](TCustomExcel*) { *log << QStringLiteral("BeginWait"); };
        excel->OnEndWait = [this](TCustomExcel*) { *log << QStringLiteral("EndWait"); };
        excel->OnOpen = [this](TCustomExcel*) { ++opens; };
        excel->OnClose = [this](TCustomExcel*) { ++closes; };
    }
    void connectClean()
    {
        excel->Connect();
        log->clear();
    }
};

} // namespace

class TestExcels : public QObject {
    Q_OBJECT
private slots:
    void constructorSettings();
    void connectProbesOnceThenSendsNothing();
    void connectOpensThreeTimesThenFails();
    void connectSucceedsOnThirdOpen();
    void connectDropsProbeFailure();
    void connectStartsProgramWhenDdeLaunchOff();
    void detectRefLetters_data();
    void detectRefLetters();
    void burstWaits_data();
    void burstWaits();
    void isReady_data();
    void isReady();
    void waitForReadyLoopsUntilReady();
    void pollPausesGrowWhileBusy();
    void execRetriesWithWaitFlag();
    void execFailsWithNotAccepted();
    void closedConversationEndsWait();
    void putCommands();
    void stepDirections_data();
    void stepDirections();
    void ignoreErrorsNeedsConnection();
    void selectTopicRelinksSilently();
    void requestCutsAtZeroByte();
    void exeNameSetter_data();
    void exeNameSetter();
    void exeNameChangeDisconnects();
    void filterReturnedDataSetsFormatChars();
    void commandLineParsing_data();
    void commandLineParsing();
    void locateExcel_data();
    void locateExcel();
    void startExcel();
    void destructorClosesLink();
};

void TestExcels::constructorSettings()
{
    RegionalSettings rs;
    rs.decimalSeparator = u',';
    RegionalSettings::fix(rs);
    Rig r;
    RegionalSettings::unfix();
    QVERIFY(r.log->isEmpty());
    QCOMPARE(r.excel->ExeName(), QStringLiteral("Excel"));
    QCOMPARE(r.conv->ServiceApplication(), QStringLiteral("Excel"));
    QCOMPARE(r.excel->DocumentExt(), QStringLiteral(".xls"));
    QCOMPARE(r.excel->ExeFileName(), QStringLiteral("EXCEL.EXE"));
    QCOMPARE(r.conv->connectMode(), TDdeClientConv::ConnectMode::Manual);
    QVERIFY(r.excel->DDELaunch());
    QCOMPARE(r.excel->BurstCount(), 128);
    QCOMPARE(r.excel->BurstCounter(), 0u);
    QVERIFY(!r.excel->Connected());
    QVERIFY(!r.excel->IgnoreErrors());
    QCOMPARE(r.excel->RowLetter(), '\0');
    QCOMPARE(r.excel->ColLetter(), '\0');
    QCOMPARE(r.excel->MoveActiveCell(), dirDown);
    QCOMPARE(r.excel->DecimalSeparator(), ',');
    QCOMPARE(r.excel->Decimals(), quint16(0));
    QVERIFY(!r.excel->FilterReturnedData());
    QVERIFY(!r.excel->StripCRLF());
    QCOMPARE(TExcel::DefaultDecimalSeparator, '.');
    QCOMPARE(TExcel::DefaultBurstCount, 128);
}

void TestExcels::connectProbesOnceThenSendsNothing()
{
    Rig r;
    r.excel->Connect();
    const QStringList expected{
        QStringLiteral("SetLink Excel/System"), QStringLiteral("OpenLink"),
        QStringLiteral("Execute [ERROR(0)]"), QStringLiteral("Request Selection"),
        QStringLiteral("Execute [ERROR(1)]")};
    QCOMPARE(*r.log, expected);
    QVERIFY(r.excel->Connected());
    QCOMPARE(r.opens, 1);
    QCOMPARE(r.excel->RowLetter(), 'R');
    QCOMPARE(r.excel->ColLetter(), 'C');
    QVERIFY(!r.excel->IgnoreErrors());
    QCOMPARE(r.excel->BurstCounter(), 2u);
    r.log->clear();
    r.excel->Connect();
    QVERIFY(r.log->isEmpty());
}

void TestExcels::connectOpensThreeTimesThenFails()
{
    FakeRegistry reg;
    Rig r;
    r.conv->openDefault = false;
    QCOMPARE(errorTextOf<ExcelError>([&] { r.excel->Connect(); }), QStringLiteral("Excel could not be launched"));
    const QStringList expected{QStringLiteral("SetLink Excel/System"), QStringLiteral("OpenLink"),
                               QStringLiteral("OpenLink"), QStringLiteral("OpenLink")};
    QCOMPARE(*r.log, expected);
    QVERIFY(!r.excel->Connected());
    QCOMPARE(reg.reads.value(0), QStringLiteral(".xls")); // LocateExcel ran between
}

void TestExcels::connectSucceedsOnThirdOpen()
{
    FakeRegistry reg;
    Rig r;
    r.conv->openResults = {false, false, true};
    r.excel->Connect();
    QVERIFY(r.excel->Connected());
    QCOMPARE(r.log->count(QStringLiteral("OpenLink")), 3);
    QCOMPARE(r.log->last(), QStringLiteral("Execute [ERROR(1)]"));
}

void TestExcels::connectDropsProbeFailure()
{
    Rig r;
    r.conv->replies.remove(QStringLiteral("Selection"));
    r.excel->Connect(); // must not raise
    QVERIFY(r.excel->Connected());
    QCOMPARE(r.log->last(), QStringLiteral("Execute [ERROR(1)]"));
    QVERIFY(!r.excel->IgnoreErrors());
    QCOMPARE(r.excel->RowLetter(), '\0');
}

void TestExcels::connectStartsProgramWhenDdeLaunchOff()
{
    FakeRegistry reg;
    Rig r;
    FakeStarter starter(r.log);
    const QString program = testScratchDir() + QStringLiteral("/Prog");
    {
        QFile f(program + QStringLiteral(".EXE"));
        QVERIFY(f.open(QIODevice::WriteOnly));
    }
    r.excel->setExeName(program + QStringLiteral(".exe"));
    r.excel->setDDELaunch(false);
    r.conv->openResults = {false, true};
    r.excel->Connect();
    QCOMPARE(r.log->mid(0, 4),
             QStringList({QStringLiteral("SetLink Excel/System"), QStringLiteral("OpenLink"),
                          QStringLiteral("Start %1.EXE normal").arg(program),
                          QStringLiteral("OpenLink")}));
    QVERIFY(r.excel->Connected());

    // Nothing to start: the start step's own error ends Connect.
    Rig r2;
    FakeStarter starter2(r2.log);
    r2.excel->setExeName(testScratchDir() + QStringLiteral("/Missing"));
    r2.excel->setDDELaunch(false);
    r2.conv->openDefault = false;
    QCOMPARE(errorTextOf<ExcelError>([&] { r2.excel->Connect(); }), QStringLiteral("Excel could not be launched"));
    QCOMPARE(r2.log->count(QStringLiteral("OpenLink")), 1);
}

void TestExcels::detectRefLetters_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<bool>("result");
    QTest::addColumn<char>("row");
    QTest::addColumn<char>("col");
    // Letters before each row: 'Z' and 'S' from a first detection.
    QTest::newRow("range") << QByteArray("[Book1]Sheet1!R2C3:R5C4") << true << 'R' << 'C';
    QTest::newRow("plain") << QByteArray("[Book1]Sheet1!R1C1\0") << true << 'R' << 'C';
    QTest::newRow("no bang") << QByteArray("R1C1") << false << 'Z' << 'S';
    QTest::newRow("nothing after bang") << QByteArray("[Book1]Sheet1!") << false << 'Z' << 'S';
    QTest::newRow("last bang") << QByteArray("[a!b]Sheet1!L1C1") << true << 'L' << 'C';
    QTest::newRow("one character") << QByteArray("[Book1]Sheet1!R") << false << 'R' << '\0';
    QTest::newRow("digits to the end") << QByteArray("[Book1]Sheet1!R12") << true << 'R' << '2';
    QTest::newRow("zero byte ends reply") << QByteArray("[B]S!R1C1\0!Q9", 14) << true << 'R' << 'C';
}

void TestExcels::detectRefLetters()
{
    QFETCH(QByteArray, reply);
    QFETCH(bool, result);
    QFETCH(char, row);
    QFETCH(char, col);
    Rig r;
    r.conv->replies.insert(QStringLiteral("Selection"), QByteArray("[Book1]Sheet1!Z1S1"));
    r.connectClean();
    QCOMPARE(r.excel->RowLetter(), 'Z');
    r.conv->replies.insert(QStringLiteral("Selection"), reply);
    QCOMPARE(r.excel->DetectRefLetters(), result);
    QCOMPARE(r.excel->RowLetter(), row);
    QCOMPARE(r.excel->ColLetter(), col);
    const QStringList expected{QStringLiteral("Execute [ERROR(0)]"),
                               QStringLiteral("Request Selection"),
                               QStringLiteral("Execute [ERROR(1)]")};
    QCOMPARE(*r.log, expected);
}

void TestExcels::burstWaits_data()
{
    QTest::addColumn<int>("burst");
    QTest::addColumn<int>("commands"); // sent after Connect's two
    QTest::newRow("128") << 128 << 400;
    QTest::newRow("3") << 3 << 10;
    QTest::newRow("1") << 1 << 3;
    QTest::newRow("0") << 0 << 300;
    QTest::newRow("negative") << -5 << 300;
}

void TestExcels::burstWaits()
{
    QFETCH(int, burst);
    QFETCH(int, commands);
    Rig r;
    r.excel->setBurstCount(burst);
    r.excel->Connect();
    for (int i = 0; i < commands; ++i)
        r.excel->PutStrAt(quint16(i / 5 + 3), quint16(i % 5 + 1), QString::number(i));
    // Which command (counted from creation) each wait came before.
    QList<int> waitedBefore;
    int sent = 0;
    const QStringList& log = *r.log;
    for (qsizetype i = 0; i < log.size(); ++i) {
        if (log[i].startsWith(QLatin1String("Execute ")))
            ++sent;
        if (log[i] == QLatin1String("BeginWait")) {
            QCOMPARE(log.value(i + 1), QStringLiteral("Request Status"));
            QCOMPARE(log.value(i + 2), QStringLiteral("EndWait"));
            QVERIFY(log.value(i + 3).startsWith(QLatin1String("Execute ")));
            waitedBefore << sent + 1;
        }
    }
    QCOMPARE(sent, commands + 2);
    QList<int> expected;
    for (int k = burst; burst > 0 && k <= commands + 2; k += burst)
        expected << k;
    QCOMPARE(waitedBefore, expected);
}

void TestExcels::isReady_data()
{
    QTest::addColumn<std::optional<QByteArray>>("status");
    QTest::addColumn<bool>("ready");
    QTest::newRow("Ready") << std::optional<QByteArray>(QByteArray("Ready\0", 6)) << true;
    QTest::newRow("no zero byte") << std::optional<QByteArray>(QByteArray("Ready")) << true;
    QTest::newRow("after zero ignored") << std::optional<QByteArray>(QByteArray("Ready\0x", 7))
                                        << true;
    QTest::newRow("lower case") << std::optional<QByteArray>(QByteArray("ready")) << false;
    QTest::newRow("trailing blank") << std::optional<QByteArray>(QByteArray("Ready ")) << false;
    QTest::newRow("Busy") << std::optional<QByteArray>(QByteArray("Busy")) << false;
    QTest::newRow("no reply") << std::optional<QByteArray>() << false;
}

void TestExcels::isReady()
{
    QFETCH(std::optional<QByteArray>, status);
    QFETCH(bool, ready);
    Rig r;
    r.connectClean();
    r.conv->replies.insert(QStringLiteral("Status"), status);
    QCOMPARE(r.excel->IsReady(), ready);
    QCOMPARE(*r.log, QStringList{QStringLiteral("Request Status")});
}

void TestExcels::waitForReadyLoopsUntilReady()
{
    Rig r;
    r.connectClean();
    int waiting = 0;
    r.excel->OnWaiting = [&](TCustomExcel*) { ++waiting; };
    r.conv->statusReplies = {QByteArray("Busy"), std::nullopt, QByteArray("Ready")};
    r.excel->WaitForReady();
    QCOMPARE(waiting, 2);
    const QStringList expected{QStringLiteral("BeginWait"), QStringLiteral("Request Status"),
                               QStringLiteral("Request Status"), QStringLiteral("Request Status"),
                               QStringLiteral("EndWait")};
    QCOMPARE(*r.log, expected);
}

void TestExcels::pollPausesGrowWhileBusy()
{
    Rig r;
    r.connectClean();
    // Busy, or no answer at all: each pause doubles, up to its ceiling.
    r.conv->statusReplies = {QByteArray("Busy"), QByteArray("Busy"), QByteArray("Busy"),
                             std::nullopt,       QByteArray("Busy"), QByteArray("Busy"),
                             QByteArray("Busy"), QByteArray("Busy"), QByteArray("Ready")};
    r.excel->WaitForReady();
    QCOMPARE(r.conv->pauses, (QList<int>{1, 2, 4, 8, 16, 32, 32, 32}));
    QCOMPARE(r.log->count(QStringLiteral("Request Status")), 9);

    // Every wait starts short again.
    r.conv->pauses.clear();
    r.conv->statusReplies = {QByteArray("Busy"), QByteArray("Ready")};
    r.excel->WaitForReady();
    QCOMPARE(r.conv->pauses, QList<int>{1});

    // While a command with the wait flag is in progress, "Status" is not
    // asked; the pauses grow all the same until the server completes it.
    r.conv->pauses.clear();
    r.log->clear();
    r.conv->setWaitStat(true);
    r.conv->onPause = [&] {
        if (r.conv->pauses.size() == 3)
            r.conv->setWaitStat(false);
    };
    r.excel->WaitForReady();
    QCOMPARE(r.conv->pauses, (QList<int>{1, 2, 4}));
    const QStringList expected{QStringLiteral("BeginWait"), QStringLiteral("Request Status"),
                               QStringLiteral("EndWait")};
    QCOMPARE(*r.log, expected);
}

void TestExcels::execRetriesWithWaitFlag()
{
    Rig r;
    r.connectClean();
    r.conv->executeResults = {false};
    r.excel->Exec(QStringLiteral("[X]"));
    const QStringList expected{QStringLiteral("Execute [X]"), QStringLiteral("BeginWait"),
                               QStringLiteral("Request Status"), QStringLiteral("EndWait"),
                               QStringLiteral("ExecuteWait [X]")};
    QCOMPARE(*r.log, expected);
    QVERIFY(r.conv->WaitStat()); // stays set until the server completes it
}

void TestExcels::execFailsWithNotAccepted()
{
    Rig r;
    r.connectClean();
    r.conv->executeResults = {false, false};
    QCOMPARE(errorTextOf<ExcelError>([&] { r.excel->PutStrAt(2, 1, QStringLiteral("Time")); }),
             QStringLiteral("\"[FORMULA(\"Time\", \"R2C1\")]\" not accepted by Excel"));
}

void TestExcels::closedConversationEndsWait()
{
    Rig r;
    r.connectClean();
    r.conv->serverCloses();
    QVERIFY(!r.excel->Connected());
    QCOMPARE(r.closes, 1);
    QCOMPARE(errorTextOf<ExcelError>([&] { r.excel->Exec(QStringLiteral("[X]")); }),
             QStringLiteral("\"[X]\" not accepted by Excel"));
    const QStringList expected{QStringLiteral("Execute [X]"), QStringLiteral("BeginWait"),
                               QStringLiteral("EndWait"), QStringLiteral("ExecuteWait [X]")};
    QCOMPARE(*r.log, expected);
    // A later Connect opens a new conversation.
    r.excel->Connect();
    QVERIFY(r.excel->Connected());
    QCOMPARE(r.log->count(QStringLiteral("OpenLink")), 1);
}

void TestExcels::putCommands()
{
    Rig r;
    r.connectClean();
    r.excel->PutStrAt(2, 1, QStringLiteral("Time"));
    r.excel->PutAt(0, 5, QStringLiteral("12"));
    r.excel->PutAt(3, 0, QStringLiteral("=A1"));
    r.excel->PutStrAt(65535, 256, QStringLiteral("say \"hi\" %1"));
    r.excel->PutStrAt(0, 0, QStringLiteral("x"));
    const QStringList expected{
        QStringLiteral("Execute [FORMULA(\"Time\", \"R2C1\")]"),
        QStringLiteral("Execute [FORMULA(12)]"),
        QStringLiteral("Execute [SELECT(\"R[1]C\")]"),
        QStringLiteral("Execute [FORMULA(=A1)]"),
        QStringLiteral("Execute [SELECT(\"R[1]C\")]"),
        QStringLiteral("Execute [FORMULA(\"say \"hi\" %1\", \"R65535C256\")]"),
        QStringLiteral("Execute [FORMULA(\"x\")]"),
        QStringLiteral("Execute [SELECT(\"R[1]C\")]")};
    QCOMPARE(*r.log, expected);
}

void TestExcels::stepDirections_data()
{
    QTest::addColumn<int>("dir");
    QTest::addColumn<QStringList>("sent");
    const QString put = QStringLiteral("Execute [FORMULA(1)]");
    QTest::newRow("none") << int(dirNone) << QStringList{put};
    QTest::newRow("up") << int(dirUp) << QStringList{put, QStringLiteral("Execute [SELECT(\"R[-1]C\")]")};
    QTest::newRow("down") << int(dirDown) << QStringList{put, QStringLiteral("Execute [SELECT(\"R[1]C\")]")};
    QTest::newRow("left") << int(dirLeft) << QStringList{put, QStringLiteral("Execute [SELECT(\"RC[-1]\")]")};
    QTest::newRow("right") << int(dirRight) << QStringList{put, QStringLiteral("Execute [SELECT(\"RC[1]\")]")};
}

void TestExcels::stepDirections()
{
    QFETCH(int, dir);
    QFETCH(QStringList, sent);
    Rig r;
    r.connectClean();
    r.excel->setMoveActiveCell(TCellDir(dir));
    r.excel->Put(QStringLiteral("1"));
    QCOMPARE(*r.log, sent);
}

void TestExcels::ignoreErrorsNeedsConnection()
{
    Rig r;
    QCOMPARE(errorTextOf<ExcelError>([&] { r.excel->SetIgnoreErrors(true); }),
             QStringLiteral("No open DDE connection to Excel"));
    QVERIFY(r.log->filter(QStringLiteral("Execute")).isEmpty());
    QCOMPARE(errorTextOf<ExcelError>([&] { r.excel->CheckConnection(); }),
             QStringLiteral("No open DDE connection to Excel"));
    r.connectClean();
    r.excel->SetIgnoreErrors(true);
    QVERIFY(r.excel->IgnoreErrors());
    QCOMPARE(*r.log, QStringList{QStringLiteral("Execute [ERROR(0)]")});
}

void TestExcels::selectTopicRelinksSilently()
{
    Rig r;
    r.connectClean();
    QVERIFY(r.excel->SelectTopic(QStringLiteral("System")));
    QVERIFY(r.log->isEmpty());
    QVERIFY(r.excel->SelectTopic(QStringLiteral("Sheet1")));
    r.excel->Exec(QStringLiteral("[X]"));
    const QStringList expected{
        QStringLiteral("CloseLink"), QStringLiteral("SetLink Excel/Sheet1"), QStringLiteral("OpenLink"),
        QStringLiteral("CloseLink"), QStringLiteral("SetLink Excel/System"), QStringLiteral("OpenLink"),
        QStringLiteral("Execute [X]")};
    QCOMPARE(*r.log, expected);
    QVERIFY(r.excel->Connected());
    QCOMPARE(r.opens, 1);
    QCOMPARE(r.closes, 0);
    // Notifications are bound again afterwards.
    r.conv->serverCloses();
    QCOMPARE(r.closes, 1);
    QVERIFY(!r.excel->Connected());
}

void TestExcels::requestCutsAtZeroByte()
{
    Rig r;
    r.connectClean();
    r.conv->replies.insert(QStringLiteral("Item"), QByteArray("abc\0def", 7));
    QString text;
    r.excel->Request(QStringLiteral("Item"), text);
    QCOMPARE(text, QStringLiteral("abc"));
    r.excel->Request(QStringLiteral("Unknown"), text);
    QCOMPARE(text, QStringLiteral("*** Excel - No Reply ***"));
}

void TestExcels::exeNameSetter_data()
{
    QTest::addColumn<QString>("given");
    QTest::addColumn<QString>("stored");
    QTest::newRow("full path") << QStringLiteral("C:\\Program Files\\Office\\EXCEL.EXE")
                               << QStringLiteral("C:\\Program Files\\Office\\EXCEL");
    QTest::newRow("bare") << QStringLiteral("Excel") << QStringLiteral("Excel");
    QTest::newRow("dot in folder") << QStringLiteral("C:\\a.b\\EXCEL") << QStringLiteral("C:\\a.b\\EXCEL");
    QTest::newRow("drive") << QStringLiteral("D:excel.exe") << QStringLiteral("D:excel");
    QTest::newRow("dot after colon") << QStringLiteral("D:.x") << QStringLiteral("D:");
    QTest::newRow("last dot only") << QStringLiteral("a.b.c") << QStringLiteral("a.b");
    QTest::newRow("slash path") << QStringLiteral("/opt/x/Excel.bin") << QStringLiteral("/opt/x/Excel");
    QTest::newRow("empty") << QString() << QString();
}

void TestExcels::exeNameSetter()
{
    QFETCH(QString, given);
    QFETCH(QString, stored);
    Rig r;
    r.excel->setExeName(given);
    QCOMPARE(r.excel->ExeName(), stored);
    QCOMPARE(r.conv->ServiceApplication(), stored);
}

void TestExcels::exeNameChangeDisconnects()
{
    Rig r;
    r.connectClean();
    r.excel->setExeName(QStringLiteral("Other"));
    QCOMPARE(*r.log, QStringList{QStringLiteral("CloseLink")});
    QVERIFY(!r.excel->Connected());
    QCOMPARE(r.closes, 1);
}

void TestExcels::filterReturnedDataSetsFormatChars()
{
    Rig r;
    r.excel->setFilterReturnedData(true);
    QVERIFY(r.conv->FormatChars());
    r.excel->setFilterReturnedData(false);
    QVERIFY(!r.conv->FormatChars());
}

void TestExcels::commandLineParsing_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("located");
    QTest::newRow("quoted with switch")
        << QStringLiteral("\"C:\\Program Files\\Office\\Excel.exe\" /e")
        << QStringLiteral("C:\\PROGRAM FILES\\OFFICE\\EXCEL.EX");
    QTest::newRow("unquoted") << QStringLiteral("c:\\office\\excel.exe /dde")
                              << QStringLiteral("C:\\OFFICE\\EXCEL.EX");
    QTest::newRow("last occurrence") << QStringLiteral("C:\\EXCEL.EXE\\EXCEL.EXE %1")
                                     << QStringLiteral("C:\\EXCEL.EXE\\EXCEL.EX");
    QTest::newRow("at first character") << QStringLiteral("EXCEL.EXE /e")
                                        << QStringLiteral("EXCEL.EX");
    QTest::newRow("quote then name") << QStringLiteral("\"EXCEL.EXE\" /e")
                                     << QStringLiteral("EXCEL.EX");
    QTest::newRow("other program") << QStringLiteral("notepad.exe %1")
                                   << QStringLiteral("NOTEPAD.");
    QTest::newRow("other quoted") << QStringLiteral("\"C:\\soffice.exe\" -o")
                                  << QStringLiteral("C:\\SOFF");
    QTest::newRow("short") << QStringLiteral("ab") << QStringLiteral("AB");
    QTest::newRow("empty") << QString() << QString();
}

void TestExcels::commandLineParsing()
{
    QFETCH(QString, command);
    QFETCH(QString, located);
    QCOMPARE(excels::programFromCommandLine(command, QStringLiteral("EXCEL.EXE")), located);
}

void TestExcels::locateExcel_data()
{
    QTest::addColumn<QString>("xlsDefault"); // "-" = no value
    QTest::addColumn<QString>("commandKey");
    QTest::addColumn<QString>("command");    // "-" = no value
    QTest::addColumn<QString>("exeName");
    const QString cmdKey = QStringLiteral("Excel.Sheet.8\\shell\\Open\\command");
    QTest::newRow("nothing registered") << QStringLiteral("-") << cmdKey << QStringLiteral("-")
                                        << QStringLiteral("Excel");
    QTest::newRow("no command") << QStringLiteral("Excel.Sheet.8") << cmdKey
                                << QStringLiteral("-") << QStringLiteral("Excel");
    QTest::newRow("program present")
        << QStringLiteral("Excel.Sheet.8") << cmdKey << QStringLiteral("\"office/excel.exe\" /e")
        << QStringLiteral("OFFICE/EXCEL");
    QTest::newRow("program missing")
        << QStringLiteral("Excel.Sheet.8") << cmdKey
        << QStringLiteral("\"C:\\Office\\EXCEL.EXE\" /e") << QString();
    QTest::newRow("other program") << QStringLiteral("Excel.Sheet.8") << cmdKey
                                   << QStringLiteral("notepad.exe %1") << QString();
    QTest::newRow("command under the extension's own key")
        << QStringLiteral("-") << QStringLiteral(".xls\\shell\\Open\\command")
        << QStringLiteral("office/excel.exe") << QStringLiteral("OFFICE/EXCEL");
    QTest::newRow("empty association") << QString() << cmdKey << QStringLiteral("office/excel.exe")
                                       << QString();
}

void TestExcels::locateExcel()
{
    QFETCH(QString, xlsDefault);
    QFETCH(QString, commandKey);
    QFETCH(QString, command);
    QFETCH(QString, exeName);
    const QString oldCwd = QDir::currentPath();
    const QString work = testScratchDir() + QStringLiteral("/locate");
    QVERIFY(QDir().mkpath(work + QStringLiteral("/OFFICE")));
    {
        QFile f(work + QStringLiteral("/OFFICE/EXCEL.EXE"));
        QVERIFY(f.open(QIODevice::WriteOnly));
    }
    QVERIFY(QDir::setCurrent(work));
    FakeRegistry reg;
    if (xlsDefault != QLatin1String("-"))
        reg.setText(QStringLiteral(".xls"), xlsDefault);
    if (command != QLatin1String("-"))
        reg.setText(commandKey, command);
    Rig r;
    r.excel->LocateExcel();
    QDir::setCurrent(oldCwd);
    QCOMPARE(r.excel->ExeName(), exeName);
    QCOMPARE(r.conv->ServiceApplication(), exeName);
}

void TestExcels::startExcel()
{
    const QString dir = testScratchDir() + QStringLiteral("/start");
    QVERIFY(QDir().mkpath(dir));
    {
        QFile f(dir + QStringLiteral("/WithExt.EXE"));
        QVERIFY(f.open(QIODevice::WriteOnly));
        QFile g(dir + QStringLiteral("/Bare"));
        QVERIFY(g.open(QIODevice::WriteOnly));
        QVERIFY(g.setPermissions(g.permissions() | QFileDevice::ExeOwner));
        QFile h(dir + QStringLiteral("/NotExecutable"));
        QVERIFY(h.open(QIODevice::WriteOnly));
    }
    Rig r;
    FakeStarter starter(r.log);
    r.excel->setExeName(dir + QStringLiteral("/WithExt"));
    r.excel->StartExcel();
    r.excel->setExeName(dir + QStringLiteral("/Bare"));
    // A program without an extension is a Unix one; Windows runs only .EXE.
    QStringList expected{QStringLiteral("Start %1/WithExt.EXE normal").arg(dir)};
    if (QSysInfo::productType() == QLatin1String("windows")) {
        QCOMPARE(errorTextOf<ExcelError>([&] { r.excel->StartExcel(); }),
                 QStringLiteral("Excel could not be launched"));
    } else {
        r.excel->StartExcel();
        expected << QStringLiteral("Start %1/Bare normal").arg(dir);
    }
    QCOMPARE(*r.log, expected);

    r.log->clear();
    r.excel->setExeName(dir + QStringLiteral("/NotExecutable"));
    QCOMPARE(errorTextOf<ExcelError>([&] { r.excel->StartExcel(); }), QStringLiteral("Excel could not be launched"));
    r.excel->setExeName(dir + QStringLiteral("/Nothing"));
    QCOMPARE(errorTextOf<ExcelError>([&] { r.excel->StartExcel(); }), QStringLiteral("Excel could not be launched"));
    QVERIFY(r.log->isEmpty());
    starter.result = false;
    r.excel->setExeName(dir + QStringLiteral("/Bare"));
    QCOMPARE(errorTextOf<ExcelError>([&] { r.excel->StartExcel(); }), QStringLiteral("Excel could not be launched"));
}

void TestExcels::destructorClosesLink()
{
    Rig r;
    r.connectClean();
    int closes = 0;
    r.excel->OnClose = [&](TCustomExcel* sender) {
        ++closes;
        QVERIFY(!sender->Connected());
    };
    r.excel.reset();
    QCOMPARE(*r.log, QStringList{QStringLiteral("CloseLink")});
    QCOMPARE(closes, 1);
}

DSG_TEST_MAIN(TestExcels)
#include "tst_excels.moc"
