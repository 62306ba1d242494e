#pragma once
// The spreadsheet's DDE server: service "Excel", topic "System", on the
// local socket of platform/dde (see FRAMES.md there) on Linux, through the
// DDE management library on Windows. Commands are parsed once and carried
// out by a sheet sink.
#include <QFile>
#include <QObject>
#include <memory>

class SheetSink;

class DdeServer : public QObject {
    Q_OBJECT
public:
    struct Options {
        QString service = QStringLiteral("Excel");
        int delayMs = 0;      // time to carry out each command
        bool refuse = false;  // refuse every conversation
        QString logFile;      // append every received frame here
        // A "Status" asked for while commands wait is answered when they are
        // done, or after this long with "Busy" (0: at once). A client that
        // polls for "Ready" then asks a few times, not thousands of times,
        // during a long wait, and still hears "Ready" at once.
        int statusHoldMs = 0;
        // Accept conversations but never answer a request (a hung server,
        // for the client's request timeout).
        bool mute = false;
    };

    DdeServer(SheetSink& sink, Options options, QObject* parent = nullptr);
    ~DdeServer() override;

    // Serves the service; false (with a reason) when it cannot.
    bool listen(QString* error);

    // Whether this user may serve `service` here at all (on Linux the
    // folder of its socket must be the user's own); false with the reason.
    static bool mayServe(const QString& service, QString* why);
    // The file whose lock makes this the user's one instance.
    static QString lockFilePath(const QString& service);
    // Another instance already serves `service`.
    static bool alreadyServed(const QString& service);

    // Every command received has been carried out.
    bool idle() const;
    // From now on every conversation is refused.
    void refuseAll() { options_.refuse = true; }
    // Ends every conversation (the sheet has gone).
    void closeAll();

signals:
    void stateChanged(); // idle() may have changed
    void conversationAsked();

private:
    // The conversations themselves: a local socket per client on Linux, the
    // DDE management library on Windows.
    struct Transport;
    friend struct Transport;

    // Opens the log and has the sink's failures written there.
    void openLog();
    // Parses a received command and hands it to the sheet.
    void carryOut(const QString& command);
    void log(const QString& line);

    SheetSink& sink_;
    Options options_;
    QFile log_;
    std::unique_ptr<Transport> t_;
};
