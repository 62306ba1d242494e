#include "Excels.h"

#include "ProgramStart.h"
#include "RegionalSettings.h"
#include "Registry.h"

#include <QCoreApplication>
#include <QFileInfo>

const QString TCustomExcel::NoReplyText = QStringLiteral("*** Excel - No Reply ***");

namespace {
const QString ServiceName = QStringLiteral("Excel");
const QString SystemTopic = QStringLiteral("System");
const QString NotLaunched = QStringLiteral("Excel could not be launched");
} // namespace

namespace excels {

QString stripExtension(const QString& name)
{
    qsizetype i = name.size() - 1;
    while (i >= 0 && name[i] != u'.' && name[i] != u'\\' && name[i] != u':')
        --i;
    if (i >= 0 && name[i] == u'.')
        return name.left(i);
    return name;
}

QString programFromCommandLine(const QString& commandLine, const QString& exeFileName)
{
    QString text = commandLine.toUpper();
    // Last occurrence from the second character on; the first character
    // stands in when there is none.
    qsizetype found = text.lastIndexOf(exeFileName);
    if (found < 1)
        found = 0;
    text.truncate(found + exeFileName.size() - 1);
    const qsizetype quote = text.indexOf(u'"');
    if (quote >= 0)
        text.remove(0, quote + 1);
    return text;
}

QString programFile(const QString& exeName)
{
    const QFileInfo withExt(exeName + QStringLiteral(".EXE"));
    if (withExt.exists() && !withExt.isDir())
        return exeName + QStringLiteral(".EXE");
    return extensionlessProgram(exeName);
}

} // namespace excels

// ---------------------------------------------------------------------------

TCustomExcel::TCustomExcel(QObject* owner, std::unique_ptr<TDdeClientConv> conversation)
    : QObject(owner)
{
    FDocumentExt = QStringLiteral(".xls");
    FExeFileName = QStringLiteral("EXCEL.EXE");
    Conversation = conversation ? std::move(conversation) : TDdeClientConv::create();
    Conversation->setConnectMode(TDdeClientConv::ConnectMode::Manual);
    bindConversation();
    FBurstCount = 128;
    setExeName(QStringLiteral("Excel"));
    FDDELaunch = true;
}

TCustomExcel::~TCustomExcel()
{
    // Closing an open link raises the close notification while this object
    // is still whole.
    Conversation.reset();
}

void TCustomExcel::bindConversation()
{
    TDdeClientConv* conv = Conversation.get();
    conv->OnOpen = [this, conv] { ConvOpened(conv); };
    conv->OnClose = [this, conv] { ConvClosed(conv); };
}

void TCustomExcel::unbindConversation()
{
    Conversation->OnOpen = nullptr;
    Conversation->OnClose = nullptr;
}

void TCustomExcel::setExeName(const TFileName& name)
{
    Disconnect();
    FExeName = excels::stripExtension(name);
    Conversation->setServiceApplication(FExeName);
}

void TCustomExcel::ConvOpened(TDdeClientConv*)
{
    FConnected = true;
    if (OnOpen)
        OnOpen(this);
}

void TCustomExcel::ConvClosed(TDdeClientConv*)
{
    FConnected = false;
    if (OnClose)
        OnClose(this);
}

void TCustomExcel::Disconnect()
{
    if (FConnected)
        Conversation->CloseLink();
}

void TCustomExcel::Connect()
{
    if (FConnected)
        return;
    Conversation->SetLink(ServiceName, SystemTopic);
    if (!Conversation->OpenLink()) {
        LocateExcel();
        if (!FDDELaunch)
            StartExcel();
        if (!Conversation->OpenLink() && !Conversation->OpenLink())
            throw ExcelError(NotLaunched);
    }
    try {
        DetectRefLetters();
    } catch (const std::exception&) {
        // The letters only refine later references; a failed probe does
        // not make the connection unusable.
    }
}

void TCustomExcel::Exec(const QString& command)
{
    SelectSystemTopic();
    ++FBurstCounter;
    if (FBurstCount >= 0 && FBurstCounter == quint32(FBurstCount)) {
        WaitForReady();
        FBurstCounter = 0;
    }
    if (Conversation->ExecuteMacro(command, false))
        return;
    WaitForReady();
    if (!Conversation->ExecuteMacro(command, true))
        throw ExcelError(QStringLiteral("\"") + command + QStringLiteral("\" not accepted by Excel"));
}

void TCustomExcel::WaitForReady()
{
    if (OnBeginWait)
        OnBeginWait(this);
    // A closed conversation can never become ready, and a program that is
    // ending waits for nothing: stop waiting then, so the caller's next
    // hand-over fails instead of hanging.
    excels::PollPause pause;
    while (FConnected && !ProgramQuitting() && (Conversation->WaitStat() || !IsReady())) {
        // Between two polls the window messages are handled while the
        // spreadsheet is left alone for a while (cut short by anything it
        // sends, such as the completion of a command), instead of being
        // asked again at once.
        Conversation->WaitForActivity(pause.next());
        if (OnWaiting)
            OnWaiting(this);
    }
    if (OnEndWait)
        OnEndWait(this);
}

bool TCustomExcel::IsReady()
{
    QCoreApplication::processEvents();
    SelectSystemTopic();
    QString reply;
    Request(QStringLiteral("Status"), reply);
    return reply == QStringLiteral("Ready");
}

void TCustomExcel::Request(const QString& item, QString& text)
{
    const std::optional<QByteArray> data = Conversation->RequestData(item);
    if (!data) {
        text = NoReplyText;
        return;
    }
    const qsizetype zero = data->indexOf('\0');
    text = QString::fromUtf8(zero >= 0 ? data->left(zero) : *data);
}

void TCustomExcel::GetSelection(QString& text)
{
    QCoreApplication::processEvents();
    SelectSystemTopic();
    Request(QStringLiteral("Selection"), text);
}

bool TCustomExcel::DetectRefLetters()
{
    const bool remembered = FIgnoreErrors;
    SetIgnoreErrors(true);
    bool result = false;
    try {
        QString reply;
        GetSelection(reply);
        if (reply == NoReplyText)
            throw ExcelError(NoReplyText);
        const qsizetype bang = reply.lastIndexOf(u'!');
        if (bang >= 0 && bang + 1 < reply.size()) {
            const QByteArray ref = reply.mid(bang + 1).toLatin1();
            FRowLetter = ref[0];
            qsizetype i = 1;
            while (i < ref.size() - 1 && ref[i] >= '0' && ref[i] <= '9')
                ++i;
            FColLetter = ref.size() > 1 ? ref[i] : '\0';
            result = FRowLetter != 0 && FColLetter != 0;
        }
    } catch (...) {
        SetIgnoreErrors(remembered);
        throw;
    }
    SetIgnoreErrors(remembered);
    return result;
}

void TCustomExcel::SetIgnoreErrors(bool value)
{
    CheckConnection();
    FIgnoreErrors = value;
    Exec(QStringLiteral("[ERROR(%1)]").arg(value ? 0 : 1));
}

bool TCustomExcel::SelectTopic(const QString& topic)
{
    if (Conversation->DdeTopic() == topic)
        return true;
    unbindConversation();
    if (FConnected)
        Conversation->CloseLink();
    Conversation->SetLink(ServiceName, topic);
    if (FConnected)
        Conversation->OpenLink();
    bindConversation();
    return true;
}

bool TCustomExcel::SelectSystemTopic()
{
    return SelectTopic(SystemTopic);
}

void TCustomExcel::CheckConnection()
{
    if (!FConnected)
        throw ExcelError(QStringLiteral("No open DDE connection to Excel"));
}

void TCustomExcel::LocateExcel()
{
    // A read succeeds only for a text that fits the work buffer of 540
    // characters with its terminating zero.
    const auto read = [](const QString& key) -> std::optional<QString> {
        const auto v = Registry::instance().queryValue(RegRoot::ClassesRoot, key, QString());
        if (!v || !v->isText || v->text.size() > 539)
            return std::nullopt;
        return v->text;
    };
    QString buffer = FDocumentExt;
    if (const auto v = read(buffer))
        buffer = *v;
    if (!buffer.isEmpty()) {
        buffer += QStringLiteral("\\shell\\Open\\command");
        const auto v = read(buffer);
        if (!v)
            return;
        buffer = *v;
    }
    setExeName(excels::programFromCommandLine(buffer, FExeFileName));
    if (excels::programFile(FExeName).isEmpty())
        setExeName(QString());
}

void TCustomExcel::StartExcel()
{
    const QString program = excels::programFile(FExeName);
    if (program.isEmpty())
        throw ExcelError(NotLaunched);
    if (WinExec(program, 5) <= 31)
        throw ExcelError(NotLaunched);
}

// ---------------------------------------------------------------------------

TExcel::TExcel(QObject* owner, std::unique_ptr<TDdeClientConv> conversation)
    : TCustomExcel(owner, std::move(conversation))
{
    FMoveActiveCell = dirDown;
    FDecimalSeparator = RegionalSettings::current().decimalSeparator.toLatin1();
}

void TExcel::setFilterReturnedData(bool on)
{
    FFilterReturnedData = on;
    Conversation->setFormatChars(on);
}

void TExcel::StepActiveCell()
{
    switch (FMoveActiveCell) {
    case dirUp:
        Exec(QStringLiteral("[SELECT(\"R[-1]C\")]"));
        break;
    case dirDown:
        Exec(QStringLiteral("[SELECT(\"R[1]C\")]"));
        break;
    case dirLeft:
        Exec(QStringLiteral("[SELECT(\"RC[-1]\")]"));
        break;
    case dirRight:
        Exec(QStringLiteral("[SELECT(\"RC[1]\")]"));
        break;
    case dirNone:
        break;
    }
}

void TExcel::Put(const QString& formula)
{
    Exec(QStringLiteral("[FORMULA(") + formula + QStringLiteral(")]"));
    StepActiveCell();
}

void TExcel::PutAt(quint16 row, quint16 col, const QString& formula)
{
    if (row > 0 && col > 0) {
        Exec(QStringLiteral("[FORMULA(") + formula + QStringLiteral(", \"R") + QString::number(row)
             + u'C' + QString::number(col) + QStringLiteral("\")]"));
    } else {
        Put(formula);
    }
}

void TExcel::PutStrAt(quint16 row, quint16 col, const QString& text)
{
    PutAt(row, col, u'"' + text + u'"');
}
