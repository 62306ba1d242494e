#pragma once
// An in-process meter driver with scripted answers. Every open that succeeds
// hands out a real handle of the system's kind, so a test can see whether
// the program closed it again.
#include "APIimp.h"
#include "HandleCheck.h"

#include <QList>
#include <QPair>
#include <QSet>
#include <QStringList>

#include <functional>

class FakeDriver final : public MeterDriver {
public:
    ~FakeDriver() override
    {
        for (THandle h : handedOut)
            if (isOpen(h))
                CloseHandle(h);
    }

    bool OpenMeterPort(int port, int speed, THandle& handle) override
    {
        opens.append({port, speed});
        if (log)
            log(QStringLiteral("open %1,%2").arg(port).arg(speed));
        if (!availablePorts.contains(port) || speed != 4800) {
            handle = InvalidHandle;
            return false;
        }
        handle = handlecheck::openStandIn();
        handedOut.append(handle);
        return handle != InvalidHandle;
    }

    void ReadSalinity(THandle h, int model, MeasuredValue& v) override { read(h, model, v, 35.123); }
    void ReadCompensatedConductivity(THandle h, int model, MeasuredValue& v) override
    {
        read(h, model, v, 0.05321);
    }
    void ReadUncompensatedConductivity(THandle h, int model, MeasuredValue& v) override
    {
        read(h, model, v, 0.04876);
    }
    void ReadTemperature(THandle h, int model, MeasuredValue& v) override { read(h, model, v, 21.4); }

    static bool isOpen(THandle h) { return h != InvalidHandle && handlecheck::isOpen(h); }
    bool anyHandleOpen() const
    {
        for (THandle h : handedOut)
            if (isOpen(h))
                return true;
        return false;
    }

    // Ports with a meter on them; the meter speaks at 4800 baud only.
    QSet<int> availablePorts{1, 2, 3, 4};
    QList<QPair<int, int>> opens;
    QList<THandle> handedOut;
    int reads = 0;
    std::function<void(const QString&)> log;

private:
    void read(THandle h, int, MeasuredValue& v, double value)
    {
        ++reads;
        v.Value = value;
        v.Status = isOpen(h) ? 0 : 4; // a closed port reads as a meter error
    }
};
