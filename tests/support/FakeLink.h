#pragma once
// A scripted device link: records every call, answers from tables, fails where told.

#include "outside/DeviceLink.h"

#include <QStringList>
#include <map>
#include <set>
#include <utility>

class FakeLink : public DeviceLink {
public:
    void setIP(const QString& v) override
    {
        m_ip = v;
        log << QStringLiteral("IP=") + v;
    }
    void setLcdPort(int16_t v) override
    {
        m_lcd = v;
        log << QStringLiteral("LcdPort=%1").arg(v);
    }
    void setParallelPort(int16_t v) override
    {
        m_io = v;
        log << QStringLiteral("ParallelPort=%1").arg(v);
    }
    void setSerialPort(int16_t v) override
    {
        m_rs = v;
        log << QStringLiteral("SerialPort=%1").arg(v);
    }
    void setBaudRate(const QString& v) override
    {
        m_bps = v;
        log << QStringLiteral("BaudRate=") + v;
    }
    void setTimeOut(int32_t v) override
    {
        m_timeOut = v;
        log << QStringLiteral("TimeOut=%1").arg(v);
    }
    QString IP() const override { return m_ip; }
    int16_t LcdPort() const override { return m_lcd; }
    int16_t ParallelPort() const override { return m_io; }
    int16_t SerialPort() const override { return m_rs; }
    QString BaudRate() const override { return m_bps; }
    int32_t TimeOut() const override { return m_timeOut; }

    int16_t GetDirp(int32_t port, int16_t pin) override
    {
        call(QStringLiteral("GetDirp(%1,%2)").arg(port).arg(pin));
        const auto key = std::make_pair(port, int(pin));
        if (dirOverride.count(key))
            return dirOverride[key];
        const int d = dirs[key];
        return (port == 5 && d == 1) ? 2 : int16_t(d);
    }
    void SetDirp(int32_t port, int16_t pin, int32_t d) override
    {
        call(QStringLiteral("SetDirp(%1,%2,%3)").arg(port).arg(pin).arg(d));
        dirs[{port, pin}] = d;
    }
    int16_t GetAnalog(int32_t port, int16_t ch) override
    {
        call(QStringLiteral("GetAnalog(%1,%2)").arg(port).arg(ch));
        return analog[ch];
    }
    int32_t GetPin(int32_t port, int16_t pin) override
    {
        call(QStringLiteral("GetPin(%1,%2)").arg(port).arg(pin));
        return pins[pin];
    }
    void SetPin(int32_t port, int16_t pin, int32_t level) override
    {
        call(QStringLiteral("SetPin(%1,%2,%3)").arg(port).arg(pin).arg(level));
        pins[pin] = level;
    }

    QStringList log;
    std::set<QString> failing; // calls that throw, e.g. "GetPin(6,5)"
    bool down = false;         // every operation throws
    std::map<std::pair<int, int>, int> dirs;
    std::map<std::pair<int, int>, int16_t> dirOverride; // read-back that differs from what was set
    std::map<int, int16_t> analog;
    std::map<int, int32_t> pins;

private:
    void call(const QString& what)
    {
        log << what;
        if (down || failing.count(what))
            throw DeviceLinkError(("scripted failure: " + what).toStdString());
    }
    QString m_ip, m_bps;
    int16_t m_lcd = 0, m_io = 0, m_rs = 0;
    int32_t m_timeOut = 0;
};
