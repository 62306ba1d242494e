#pragma once
// Non-visual component that drives the spreadsheet over DDE: one client
// conversation with service "Excel", topic "System", macro commands as
// executes, "Status" and "Selection" as requests, and the start of the
// program found through the ".xls" file association when no conversation
// can be opened.
#include "DdeClientConv.h"
#include "Errors.h"

#include <QObject>
#include <QString>
#include <functional>
#include <memory>

// Every error this component raises.
class ExcelError : public AppError {
public:
    using AppError::AppError;
};

using TFileExt = QString;
using TFileName = QString;

class TCustomExcel;
using TExcelNotifyEvent = std::function<void(TCustomExcel* sender)>;

class TCustomExcel : public QObject {
    Q_OBJECT
public:
    // `conversation` replaces the production conversation (tests); by
    // default one is made by TDdeClientConv::create().
    explicit TCustomExcel(QObject* owner = nullptr,
                          std::unique_ptr<TDdeClientConv> conversation = nullptr);
    ~TCustomExcel() override;

    void Connect();
    void Disconnect();
    bool Connected() const { return FConnected; }
    void Exec(const QString& command);
    void Request(const QString& item, QString& text);
    bool IsReady();
    void WaitForReady();
    void GetSelection(QString& text);
    bool DetectRefLetters();
    void SetIgnoreErrors(bool value);
    bool SelectTopic(const QString& topic);
    bool SelectSystemTopic();

    virtual void CheckConnection();
    virtual void LocateExcel();
    virtual void StartExcel();

    void ConvOpened(TDdeClientConv* sender);
    void ConvClosed(TDdeClientConv* sender);

    TFileName ExeName() const { return FExeName; }
    void setExeName(const TFileName& name);
    bool DDELaunch() const { return FDDELaunch; }
    void setDDELaunch(bool on) { FDDELaunch = on; }
    qint32 BurstCount() const { return FBurstCount; }
    void setBurstCount(qint32 count) { FBurstCount = count; }
    quint32 BurstCounter() const { return FBurstCounter; }
    bool IgnoreErrors() const { return FIgnoreErrors; }
    char RowLetter() const { return FRowLetter; }
    char ColLetter() const { return FColLetter; }
    TFileExt DocumentExt() const { return FDocumentExt; }
    TFileName ExeFileName() const { return FExeFileName; }
    TDdeClientConv& conversation() { return *Conversation; }

    int Tag = 0;

    TExcelNotifyEvent OnClose;
    TExcelNotifyEvent OnOpen;
    TExcelNotifyEvent OnBeginWait;
    TExcelNotifyEvent OnEndWait;
    TExcelNotifyEvent OnWaiting;

    // Text of a request that got no reply.
    static const QString NoReplyText;

protected:
    void bindConversation();
    void unbindConversation();

    // Fields in declared order.
    std::unique_ptr<TDdeClientConv> Conversation;
    TFileExt FDocumentExt;
    TFileName FExeFileName;
    TFileName FExeName;
    bool FDDELaunch = false;
    bool FConnected = false;
    bool FIgnoreErrors = false;
    char FRowLetter = 0;
    char FColLetter = 0;
    quint32 FBurstCounter = 0;
    qint32 FBurstCount = 0;
};

enum TCellDir : quint8 { dirNone = 0, dirUp = 1, dirDown = 2, dirLeft = 3, dirRight = 4 };

class TExcel : public TCustomExcel {
    Q_OBJECT
    // Published settings with their declared defaults (a form stores a
    // setting only when it differs from its default).
    Q_PROPERTY(int MoveActiveCell READ moveActiveCellValue WRITE setMoveActiveCellValue)
    Q_PROPERTY(QString ExeName READ ExeName WRITE setExeName)
    Q_PROPERTY(bool DDELaunch READ DDELaunch WRITE setDDELaunch)
    Q_PROPERTY(int Decimals READ decimalsValue WRITE setDecimalsValue)
    Q_PROPERTY(QString DecimalSeparator READ decimalSeparatorText WRITE setDecimalSeparatorText)
    Q_PROPERTY(bool FilterReturnedData READ FilterReturnedData WRITE setFilterReturnedData)
    Q_PROPERTY(bool StripCRLF READ StripCRLF WRITE setStripCRLF)
    Q_PROPERTY(int BurstCount READ BurstCount WRITE setBurstCount)
public:
    static constexpr TCellDir DefaultMoveActiveCell = dirDown;
    static constexpr bool DefaultDDELaunch = true;
    static constexpr quint16 DefaultDecimals = 0;
    static constexpr char DefaultDecimalSeparator = '.';
    static constexpr qint32 DefaultBurstCount = 128;

    explicit TExcel(QObject* owner = nullptr,
                    std::unique_ptr<TDdeClientConv> conversation = nullptr);

    void StepActiveCell();
    void Put(const QString& formula);
    void PutAt(quint16 row, quint16 col, const QString& formula);
    void PutStrAt(quint16 row, quint16 col, const QString& text);

    TCellDir MoveActiveCell() const { return FMoveActiveCell; }
    void setMoveActiveCell(TCellDir dir) { FMoveActiveCell = dir; }
    quint16 Decimals() const { return FDecimals; }
    void setDecimals(quint16 decimals) { FDecimals = decimals; }
    char DecimalSeparator() const { return FDecimalSeparator; }
    void setDecimalSeparator(char separator) { FDecimalSeparator = separator; }
    bool FilterReturnedData() const { return FFilterReturnedData; }
    void setFilterReturnedData(bool on);
    bool StripCRLF() const { return FStripCRLF; }
    void setStripCRLF(bool on) { FStripCRLF = on; }

private:
    int moveActiveCellValue() const { return FMoveActiveCell; }
    void setMoveActiveCellValue(int v) { FMoveActiveCell = TCellDir(v); }
    int decimalsValue() const { return FDecimals; }
    void setDecimalsValue(int v) { FDecimals = quint16(v); }
    QString decimalSeparatorText() const { return QString(QLatin1Char(FDecimalSeparator)); }
    void setDecimalSeparatorText(const QString& s)
    {
        FDecimalSeparator = s.isEmpty() ? '\0' : s.at(0).toLatin1();
    }

    // Fields in declared order.
    TCellDir FMoveActiveCell = dirNone;
    quint16 FDecimals = 0;
    char FDecimalSeparator = 0;
    bool FFilterReturnedData = false;
    bool FStripCRLF = false;
};

class TAdvExcel : public TExcel {
    Q_OBJECT
public:
    using TExcel::TExcel;
};

namespace excels {
// The pauses between two "Status" polls of one wait for "Ready". The first is
// short, so a spreadsheet that is done within milliseconds (the usual forced
// wait) is seen at once; every poll that finds it still busy doubles the
// next pause, up to a ceiling, so a spreadsheet that works for seconds is
// asked a few dozen times a second instead of a few hundred, and is still
// seen ready within the ceiling.
class PollPause {
public:
    static constexpr int FirstMs = 1;
    static constexpr int LongestMs = 32;
    // The pause to make now; the one after it is longer.
    int next()
    {
        const int now = ms_;
        ms_ = ms_ * 2 < LongestMs ? ms_ * 2 : LongestMs;
        return now;
    }

private:
    int ms_ = FirstMs;
};

// The parts of LocateExcel and StartExcel that deal with text and files,
// kept apart so they can be checked on their own.
// A file name with its extension removed: the part from the last full stop
// that comes after the last backslash or colon is dropped.
QString stripExtension(const QString& name);
// Steps 3 and 4 of locating the program in an association's command line.
QString programFromCommandLine(const QString& commandLine, const QString& exeFileName);
// The file to start for `exeName`: exeName + ".EXE" when it exists. Where
// programs carry no extension, the bare exeName counts too when it is an
// executable file. Empty when neither exists.
QString programFile(const QString& exeName);
} // namespace excels
