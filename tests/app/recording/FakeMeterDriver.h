#pragma once
// An in-process meter driver for the recording tests: it logs every call with
// its arguments, hands out real handles (so a missing or doubled close
// shows), and answers each reading call from a queue or a steady reading.
#include "APIimp.h"
#include "HandleCheck.h"

#include <QElapsedTimer>
#include <array>
#include <deque>
#include <functional>
#include <vector>

class FakeMeterDriver final : public MeterDriver {
public:
    enum Fn { Open, Sal, Comp, Uncomp, Temp };
    // Index of a quantity in `steady` and `queued`, in reading order.
    enum Q { QSal = 0, QComp = 1, QUncomp = 2, QTemp = 3 };

    struct Call {
        Fn fn;
        THandle handle; // reading calls
        int model;      // reading calls
        int port;       // OpenMeterPort
        int speed;      // OpenMeterPort
    };

    FakeMeterDriver() { clock.start(); }

    std::vector<Call> calls;
    bool openSucceeds = true;
    // Every handle handed out, in order.
    std::vector<THandle> handedOut;
    // Milliseconds since construction at each ReadSalinity, i.e. each tick.
    std::vector<qint64> tickTimesMs;
    QElapsedTimer clock;
    // Called at each ReadSalinity, before it answers (for checks made while
    // a tick runs).
    std::function<void()> onTick;

    // Conductivities in S, as the meter delivers them.
    std::array<MeasuredValue, 4> steady{{{30.0, 0, 0}, {0.05, 0, 0}, {0.04, 0, 0}, {20.0, 0, 0}}};
    std::array<std::deque<MeasuredValue>, 4> queued;

    bool OpenMeterPort(int port, int speed, THandle& handle) override
    {
        calls.push_back({Open, InvalidHandle, 0, port, speed});
        if (!openSucceeds)
            return false;
        const THandle opened = handlecheck::openStandIn();
        handedOut.push_back(opened);
        handle = opened;
        return opened != InvalidHandle;
    }
    void ReadSalinity(THandle handle, int model, MeasuredValue& value) override
    {
        tickTimesMs.push_back(clock.elapsed());
        if (onTick)
            onTick();
        read(QSal, Sal, handle, model, value);
    }
    void ReadCompensatedConductivity(THandle handle, int model, MeasuredValue& value) override
    {
        read(QComp, Comp, handle, model, value);
    }
    void ReadUncompensatedConductivity(THandle handle, int model, MeasuredValue& value) override
    {
        read(QUncomp, Uncomp, handle, model, value);
    }
    void ReadTemperature(THandle handle, int model, MeasuredValue& value) override
    {
        read(QTemp, Temp, handle, model, value);
    }

    int count(Fn fn) const
    {
        int n = 0;
        for (const Call& c : calls)
            n += c.fn == fn;
        return n;
    }

private:
    void read(int q, Fn fn, THandle handle, int model, MeasuredValue& value)
    {
        calls.push_back({fn, handle, model, 0, 0});
        // The contract: Value and Status are written on every call.
        if (!queued[q].empty()) {
            value.Value = queued[q].front().Value;
            value.Status = queued[q].front().Status;
            queued[q].pop_front();
        } else {
            value.Value = steady[q].Value;
            value.Status = steady[q].Status;
        }
    }
};

// True while `handle` is open in this process.
inline bool descriptorOpen(THandle handle)
{
    return handlecheck::isOpen(handle);
}
