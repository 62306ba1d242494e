#pragma once
// The sheet in LibreOffice Calc: the active sheet of a Calc document,
// reached through LibreOffice's own automation bridge (UNO) over a named
// pipe. Everything that talks to LibreOffice runs on a worker thread of its
// own, so the DDE server stays responsive while Calc works; commands wait
// there in order and consecutive cells go over as ranges. The sheet is the
// one active in Calc: a Calc document the user brings to the front becomes
// the one written into.
#include "SheetSink.h"

#include <QObject>
#include <memory>

class CalcSink final : public QObject, public SheetSink {
    Q_OBJECT
public:
    // `pipeName`: the pipe LibreOffice accepts on. `hiddenDocuments`: a
    // document this sink has to create is made without a window (a
    // headless LibreOffice needs that).
    CalcSink(QString pipeName, bool hiddenDocuments, QObject* parent = nullptr);
    ~CalcSink() override;

    // One try to reach LibreOffice and to find its current Calc document
    // (or make one). `done` is called on this object's thread with the
    // outcome: the document's and sheet's names, or why it failed.
    void tryAttach(std::function<void(bool ok, const QString& text)> done);

    void submit(const macro::Command& command, const QString& source) override;
    bool idle() const override;
    void query(const QString& item, std::function<void(std::optional<QString>)> reply) override;
    void afterAll(std::function<void()> done) override;
    void conversationOpened() override;

    struct Impl;

private:
    std::unique_ptr<Impl> d;
};
