#pragma once
// An in-process meter driver with scripted answers. Every open that succeeds
// hands out a real descriptor, so a test can see whether the program closed
// it again.
#include "APIimp.h"

#include <QList>
#include <QPair>
#include <QSet>
#include <QStringList>

#include <fcntl.h>
#include <functional>
#include <unistd.h>

class FakeDriver final : public MeterDriver {
public:
    ~FakeDriver() override
    {
        for (THandle h : handedOut)
            if (isOpen(h))
                ::close(h);
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
        handle = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
        handedOut.append(handle);
        return handle >= 0;
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

    static bool isOpen(THandle h) { return h >= 0 && ::fcntl(h, F_GETFD) != -1; }
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
