// archive_bench: monthly archives of the data logs. A month of logs of some units, generated as
// the simulator's units drift, archived by the station's worker while the station polls 100
// simulated units (how late the UI thread got, against the same run without archiving); the
// archive's size against the raw logs; and the last 24 h of a unit from a year of archives to the
// first drawn chart, against the same day from a plain log. Prints figures; not a test.
//
//   archive_bench [units]   (default 10: a tenth of 100 units' month, about 1.7 GB of logs)

#include "DataLogReader.h"
#include "FakeTransfer.h"
#include "LogArchive.h"
#include "MontAll.h"
#include "PollEngine.h"
#include "ScriptedMessageBox.h"
#include "SetClock.h"
#include "SysInfWriter.h"
#include "TrendWindow.h"
#include "UnitSimProcess.h"
#include "VARNIX.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <random>
#include <vector>

namespace {

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
int64_t writeLog(const QString& path, int unit, DataLog::Seconds from, DataLog::Seconds to)
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

DataLog::Seconds at(int y, int m, int d)
{
    return DataLog::toSeconds(QDateTime(QDate(y, m, d), QTime(0, 0)));
}

int64_t bytesOf(const QString& dir, const QString& pattern)
{
    int64_t total = 0;
    for (const QFileInfo& f : QDir(dir).entryInfoList({pattern}, QDir::Files))
        total += f.size();
    return total;
}

QList<UnitRow> simRows(const UnitSimProcess& sim)
{
    QList<UnitRow> rows = simulatedRows(sim, Units, QStringLiteral("unit"));
    for (UnitRow& r : rows)
        r.pins = QStringLiteral("Ain,Ain,Ain,Ain,Din,Din,Din,Din,Dout,Dout,Dout,Dout");
    return rows;
}

struct Watched {
    double seconds = 0;
    double worstLateMs = 0;
};

// The station in dir monitoring 100 simulated units on the real clock until done() or limitMs;
// the longest the UI thread was kept from a 5 ms timer.
Watched monitor(const UnitSimProcess& sim, const QString& dir, const std::function<void(MontComm1&)>& prepare,
                const std::function<bool()>& done, int limitMs)
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
        w.worstLateMs = std::max(w.worstLateMs, double(since.nsecsElapsed()) / 1e6 - 5);
        since.restart();
    });
    wall.start();
    window.Load(); // starts the archive worker when LogInf.ini says so
    window.show();
    window.cycle().StartStop();
    since.start();
    probe.start();
    while (!done() && wall.elapsed() < limitMs)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    w.seconds = double(wall.elapsed()) / 1000.0;
    probe.stop();
    window.cycle().StartStop();
    return w;
}

double openMs(const SysInf& sys, const QString& dir, const Clock& clock, int unit)
{
    QElapsedTimer t;
    t.start();
    TrendWindow w(sys, dir, clock);
    w.UnitCombo->setCurrentIndex(unit);
    w.resize(1000, 700);
    w.show();
    (void)w.grab();
    return double(t.nsecsElapsed()) / 1e6;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int monthUnits = argc > 1 ? std::clamp(std::atoi(argv[1]), 1, 100) : 10;
    UnitSimProcess sim(Units);
    if (!sim.running()) {
        std::fprintf(stderr, "archive_bench: simulator did not start: %s\n", sim.error().c_str());
        return 1;
    }

    // 1. A month (November) of monthUnits units, renamed for archiving, archived while polling.
    QTemporaryDir station(QDir::current().filePath(QStringLiteral("archive-bench-XXXXXX")));
    const QString folder = station.path();
    QElapsedTimer gen;
    gen.start();
    for (int u = 0; u < monthUnits; ++u)
        writeLog(QDir(folder).filePath(LogArchive::PendingName(u, 202611)), u, at(2026, 11, 1), at(2026, 12, 1) - 1);
    const int64_t raw = bytesOf(folder, QStringLiteral("DataFile*_202611.csv"));
    std::printf("generated: a month of %d units, %.0f MB of logs, in %.1f s\n", monthUnits, double(raw) / 1e6,
                double(gen.elapsed()) / 1000.0);

    TextFile::writeWhole(QDir(folder).filePath("LogInf.ini"), QStringLiteral("Archive=1\r\nKeepMonths=0\r\n"));
    bool archived = false;
    const Watched busy = monitor(
        sim, folder,
        [&](MontComm1& comm) {
            QObject::connect(&comm.logs(), &LogArchiver::passDone,
                             [&] { archived = LogArchive::FindPending(folder).isEmpty(); });
        },
        [&] { return archived; }, 30 * 60 * 1000);
    const int64_t packed = bytesOf(folder, QStringLiteral("DataFile*_202611.csv.zst"));
    QTemporaryDir quiet(QDir::current().filePath(QStringLiteral("archive-bench-XXXXXX")));
    const Watched idle = monitor(
        sim, quiet.path(), [](MontComm1&) {}, [] { return false; }, int(std::min(busy.seconds, 60.0) * 1000));
    std::printf("archive of the month: %.0f MB, %.3f of the raw logs (1/%.1f; target 1/8 or less), zstd level %d\n",
                double(packed) / 1e6, double(packed) / double(raw), double(raw) / double(std::max<int64_t>(packed, 1)),
                LogArchive::Level);
    std::printf("archived on the worker in %.1f s (%.0f MB/s of logs) while 100 units were polled every second\n",
                busy.seconds, double(raw) / 1e6 / busy.seconds);
    std::printf("UI thread lateness: worst %.1f ms while archiving, %.1f ms in the same run without (ratio %.2f; "
                "target under 20 ms)\n",
                busy.worstLateMs, idle.worstLateMs, idle.worstLateMs > 0 ? busy.worstLateMs / idle.worstLateMs : 0.0);

    // 2. A year of one unit as monthly archives, against a plain day log, last 24 h to the chart.
    QTemporaryDir dir(QDir::current().filePath(QStringLiteral("archive-bench-XXXXXX")));
    ScriptedMessageBox messages;
    SetClock clock{QDateTime(QDate(2026, 12, 1), QTime(0, 0))};
    QString table = QStringLiteral("sysinf001.csv,Rec=2,,,,,,,,,,,,,,,,,,\r\nMoniterCycl=1,MoniterCyclType=s,"
                                   "TimeOut=1,TimeOutCyclType=s,ReloadCycl=1,ReloadSize=3,,,,,,,,,,,,,,\r\n");
    table += QStringLiteral("名称,ＩＰ,LCDPort,I/Oport,RS232C,BPS,RA0,RA1,RA2,RA3,RB0,RB1,RB2,RB3,RB4,RB5,RB6,RB7,"
                            "Control,Arm\r\n");
    for (int u = 0; u < 2; ++u)
        table += QStringLiteral("u%1,127.0.0.1,0,%2,0,9600,Ain,Ain,Ain,Ain,Din,Din,Din,Din,Din,Din,Din,Din,On,non\r\n")
                     .arg(u)
                     .arg(1000 + u);
    TextFile::writeWhole(QDir(dir.path()).filePath(QStringLiteral("sysinf001.csv")), table + QStringLiteral("\r\n"));
    SysInf sys(dir.path(), messages);
    sys.LoadSysInf();
    gen.restart();
    for (int m = 0; m < 12; ++m) {
        const int month = m == 0 ? 202512 : 202600 + m;
        const QString pending = QDir(dir.path()).filePath(LogArchive::PendingName(0, month));
        const DataLog::Seconds from = at(month / 100, month % 100, 1);
        const int next = LogArchive::NextMonth(month);
        writeLog(pending, 0, from, at(next / 100, next % 100, 1) - 1);
        LogArchive::ArchiveLog(pending);
    }
    writeLog(QDir(dir.path()).filePath(DataFiles::DataLogName(1)), 1, at(2026, 11, 30), at(2026, 12, 1) - 1);
    std::printf("a year of unit 0 archived (%.0f MB) in %.1f s\n",
                double(bytesOf(dir.path(), QStringLiteral("DataFile000_*.zst"))) / 1e6, double(gen.elapsed()) / 1000.0);
    (void)openMs(sys, dir.path(), clock, 0);
    (void)openMs(sys, dir.path(), clock, 1);
    std::vector<double> yearMs, dayMs;
    for (int i = 0; i < 7; ++i) {
        yearMs.push_back(openMs(sys, dir.path(), clock, 0));
        dayMs.push_back(openMs(sys, dir.path(), clock, 1));
    }
    const double y = median(yearMs), d = median(dayMs);
    std::printf("last 24 h to the first drawn chart: from a year of archives %.1f ms, from a plain day log %.1f ms "
                "(ratio %.2f; target under 300 ms)\n",
                y, d, d > 0 ? y / d : 0.0);
    return 0;
}
