#pragma once
// What the log benchmarks share: logs as the simulator's units would have written them, and a
// station polling 100 simulated units while the UI thread's lateness is watched.

#include "platform/Clock.h"
#include "shared/DataLogReader.h"
#include "FakeTransfer.h"
#include "monitor/MontAll.h"
#include "outside/PollEngine.h"
#include "ScriptedMessageBox.h"
#include "SysInfWriter.h"
#include "UnitSimProcess.h"
#include "outside/VARNIX.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTimer>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <random>
#include <vector>

namespace BenchStation {

constexpr int Units = 100;

// A unit's readings second by second: the analogue inputs and the temperature walk a step at a
// time around their rest values as the simulator's do, and one input pin (a pump) switches every
// quarter of an hour or so.
class DriftingUnit {
public:
    explicit DriftingUnit(int unit) : m_rng(uint32_t(unit) * 7919u + 1)
    {
        for (int ch = 0; ch < 4; ++ch)
            m_base[ch] = m_value[ch] = 200 + 150 * ch + (unit * 7) % 50;
        m_base[4] = m_value[4] = 45; // 22 degrees at 2.024 raw per degree
    }
    int line(char* out, DataLog::Seconds t)
    {
        std::uniform_int_distribution<int> step(-1, 1);
        for (int ch = 0; ch < 5; ++ch) {
            const int span = ch == 4 ? 4 : 8;
            m_value[ch] = std::clamp(m_value[ch] + step(m_rng), m_base[ch] - span, m_base[ch] + span);
        }
        if (std::uniform_int_distribution<int>(0, 900)(m_rng) == 0)
            m_pump = !m_pump;
        const int64_t s = ((t % 86400) + 86400) % 86400;
        if (t - s != m_day) {
            m_day = t - s;
            const QDate d = DataLog::fromSeconds(t).date();
            std::snprintf(m_date, sizeof m_date, "%04d/%02d/%02d", d.year(), d.month(), d.day());
        }
        return std::snprintf(out, 160, "%s %02d:%02d:%02d, %d, %d, %d, %d, %d, 0, 0, 0, 1, 1, 1, 1, %d\r\n", m_date,
                             int(s / 3600), int(s / 60 % 60), int(s % 60), m_value[0], m_value[1], m_value[2],
                             m_value[3], m_pump ? 1 : 0, int(std::lround(m_value[4] / 2.024)));
    }

private:
    std::mt19937 m_rng;
    int m_base[5] = {}, m_value[5] = {};
    bool m_pump = false;
    DataLog::Seconds m_day = INT64_MIN;
    char m_date[16] = {};
};

// Seconds from..to of a unit, appended to path.
inline int64_t writeLog(const QString& path, int unit, DataLog::Seconds from, DataLog::Seconds to)
{
    QFile f(path);
    if (!f.open(QIODevice::Append))
        return 0;
    DriftingUnit u(unit);
    QByteArray buffer;
    buffer.reserve(9 << 20);
    char line[160];
    for (DataLog::Seconds t = from; t <= to; ++t) {
        buffer.append(line, u.line(line, t));
        if (buffer.size() > (8 << 20)) {
            f.write(buffer);
            buffer.clear();
        }
    }
    f.write(buffer);
    return f.size();
}

inline DataLog::Seconds at(int y, int m, int d)
{
    return DataLog::toSeconds(QDateTime(QDate(y, m, d), QTime(0, 0)));
}

inline int64_t bytesOf(const QString& dir, const QString& pattern)
{
    int64_t total = 0;
    for (const QFileInfo& f : QDir(dir).entryInfoList({pattern}, QDir::Files))
        total += f.size();
    return total;
}

inline QList<UnitRow> simRows(const UnitSimProcess& sim)
{
    QList<UnitRow> rows = simulatedRows(sim, Units, QStringLiteral("unit"));
    for (UnitRow& r : rows)
        r.pins = QStringLiteral("Ain,Ain,Ain,Ain,Din,Din,Din,Din,Dout,Dout,Dout,Dout");
    return rows;
}

struct Watched {
    double seconds = 0;
    double worstLateMs = 0;
    std::vector<double> lateMs; // each 5 ms timer's lateness
};

// The station in dir monitoring 100 simulated units on the real clock until done() or limitMs;
// the longest the UI thread was kept from a 5 ms timer. finish, when given, runs before the
// station goes (to end what prepare started on it).
inline Watched monitor(const UnitSimProcess& sim, const QString& dir, const std::function<void(MontComm1&)>& prepare,
                       const std::function<bool()>& done, int limitMs, const std::function<void()>& finish = {})
{
    ScriptedMessageBox messages;
    SystemClock clock;
    MontComm1 comm(dir, messages, clock);
    TextFile::writeWhole(comm.path("sysinf001.csv"), sysInfText(simRows(sim), 1, "s", 2, "s", 1, 3));
    TextFile::writeWhole(comm.path("InetInf.ini"), inetInfText(1, {}));
    prepare(comm);
    PollEngine engine([] { return std::make_unique<VARNIX>(); }, [] { return std::make_unique<FakeTransfer>(); });
    WindowOpener opener;
    MontAll window(comm, engine, opener);
    Watched w;
    QElapsedTimer since, wall;
    QTimer probe;
    probe.setTimerType(Qt::PreciseTimer);
    probe.setInterval(5);
    QObject::connect(&probe, &QTimer::timeout, [&] {
        w.lateMs.push_back(double(since.nsecsElapsed()) / 1e6 - 5);
        w.worstLateMs = std::max(w.worstLateMs, w.lateMs.back());
        since.restart();
    });
    wall.start();
    window.Load(); // starts the archive worker when LogInf.ini says so
    window.show();
    window.cycle().StartStop();
    since.start();
    probe.start();
    // An event loop that waits, as the station's own does: one that spun would take a core from
    // the polls and the simulator and make the UI thread look later than it is.
    QEventLoop loop;
    QTimer look;
    look.setInterval(20);
    QObject::connect(&look, &QTimer::timeout, [&] {
        if (done() || wall.elapsed() >= limitMs)
            loop.quit();
    });
    look.start();
    loop.exec();
    w.seconds = double(wall.elapsed()) / 1000.0;
    probe.stop();
    window.cycle().StartStop();
    if (finish)
        finish();
    return w;
}

inline double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

} // namespace BenchStation
