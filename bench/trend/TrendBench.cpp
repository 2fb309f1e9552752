// trend_bench: the trend window on a year of one unit's log (31.5 million lines, generated), against
// the same window on a day's log, in the same run; the live update while 100 units log; the
// memory of the open window. Prints figures; not a test.

#include "platform/Clock.h"
#include "shared/DataFiles.h"
#include "shared/DataLogReader.h"
#include "platform/QtMessageBox.h"
#include "shared/SysInf.h"
#include "platform/TextFile.h"
#include "TrendOpen.h"
#include "history/TrendWindow.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

class FixedClock : public Clock {
public:
    QDateTime at;
    QDateTime now() const override { return at; }
};

// The log line the station writes, formatted by hand: a year of them is written in seconds.
int formatLine(char* out, DataLog::Seconds t, int v)
{
    const QDateTime d = DataLog::fromSeconds(t);
    const QDate day = d.date();
    const QTime time = d.time();
    return std::snprintf(out, 160, "%04d/%02d/%02d %02d:%02d:%02d, %d, %d, 0, 0, %d, 0, 1, 0, 0, 0, 0, 0, %d\r\n",
                         day.year(), day.month(), day.day(), time.hour(), time.minute(), time.second(), v % 1024,
                         (v / 7) % 1024, (v / 60) % 2, 20 + v % 10);
}

// Faster than a QDateTime per line: the day's prefix is formatted once.
void writeLog(const QString& path, DataLog::Seconds from, int64_t seconds)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly))
        return;
    std::vector<char> buffer;
    buffer.reserve(8 << 20);
    char line[160];
    for (int64_t i = 0; i < seconds; ++i) {
        const DataLog::Seconds t = from + i;
        int n;
        if (i % 86400 == 0 || t % 86400 == 0) {
            n = formatLine(line, t, int(i));
        } else {
            // reuse the date, write the time and values
            const int64_t s = t % 86400;
            const int v = int(i);
            static DataLog::Seconds cachedDay = -1;
            static char prefix[16];
            if (t / 86400 != cachedDay) {
                cachedDay = t / 86400;
                const QDate day = DataLog::fromSeconds(t).date();
                std::snprintf(prefix, sizeof prefix, "%04d/%02d/%02d", day.year(), day.month(), day.day());
            }
            n = std::snprintf(line, sizeof line, "%s %02d:%02d:%02d, %d, %d, 0, 0, %d, 0, 1, 0, 0, 0, 0, 0, %d\r\n",
                              prefix, int(s / 3600), int(s / 60 % 60), int(s % 60), v % 1024, (v / 7) % 1024,
                              (v / 60) % 2, 20 + v % 10);
        }
        buffer.insert(buffer.end(), line, line + n);
        if (buffer.size() > (8u << 20)) {
            f.write(buffer.data(), qint64(buffer.size()));
            buffer.clear();
        }
    }
    f.write(buffer.data(), qint64(buffer.size()));
}

long rssKb()
{
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLong();
    return 0;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QTemporaryDir dir(QDir::current().filePath(QStringLiteral("trend-bench-XXXXXX")));
    QtMessageBox messages;
    FixedClock clock;
    clock.at = QDateTime(QDate(2026, 12, 8), QTime(12, 0, 0));
    const DataLog::Seconds now = DataLog::toSeconds(clock.at);

    // 100 units: unit 0 has a year, unit 1 a day, the rest a day too (for the live part).
    QString table = QStringLiteral("sysinf001.csv,Rec=100,,,,,,,,,,,,,,,,,,\r\nMoniterCycl=1,MoniterCyclType=s,"
                                   "TimeOut=1,TimeOutCyclType=s,ReloadCycl=1,ReloadSize=3,,,,,,,,,,,,,,\r\n");
    table += QStringLiteral("名称,ＩＰ,LCDPort,I/Oport,RS232C,BPS,RA0,RA1,RA2,RA3,RB0,RB1,RB2,RB3,RB4,RB5,RB6,RB7,"
                            "Control,Arm\r\n");
    for (int u = 0; u < 100; ++u)
        table += QStringLiteral("u%1,127.0.0.1,0,%2,0,9600,Ain,Ain,non,non,Din,Din,non,non,non,non,non,non,On,non\r\n")
                     .arg(u)
                     .arg(1000 + u);
    TextFile::writeWhole(QDir(dir.path()).filePath(QStringLiteral("sysinf001.csv")), table + QStringLiteral("\r\n"));
    SysInf sys(dir.path(), messages);
    sys.LoadSysInf();

    QElapsedTimer gen;
    gen.start();
    const int64_t year = 365 * 86400;
    writeLog(QDir(dir.path()).filePath(DataFiles::DataLogName(0)), now - year + 1, year);
    for (int u = 1; u < 100; ++u)
        writeLog(QDir(dir.path()).filePath(DataFiles::DataLogName(u)), now - 86400 + 1, 86400);
    const qint64 yearBytes = QFile(QDir(dir.path()).filePath(DataFiles::DataLogName(0))).size();
    std::printf("generated: a year of unit 0 (%lld lines, %.0f MB) and a day of 99 units in %.1f s\n",
                static_cast<long long>(year), double(yearBytes) / 1e6, double(gen.elapsed()) / 1000.0);

    const ChannelTable none(dir.path()); // raw values
    // The window's memory: what opening it on the year log adds to the process.
    const long before = rssKb();
    double windowMb = 0;
    {
        TrendWindow w(sys, none, dir.path(), clock);
        w.resize(1000, 700);
        w.show();
        (void)w.grab();
        windowMb = double(rssKb() - before) / 1024.0;
    }

    // Warm both files' pages alike: the figure is the reader's, not the disk's first touch.
    (void)openMs(sys, dir.path(), clock, 0);
    (void)openMs(sys, dir.path(), clock, 1);
    std::vector<double> yearMs, dayMs;
    for (int i = 0; i < 7; ++i) {
        yearMs.push_back(openMs(sys, dir.path(), clock, 0));
        dayMs.push_back(openMs(sys, dir.path(), clock, 1));
    }
    const double y = median(yearMs), d = median(dayMs);
    std::printf("last 24 h to the first drawn chart: year log %.1f ms, day log %.1f ms (ratio %.2f; target < 300 ms "
                "and <= 1.5)\n",
                y, d, d > 0 ? y / d : 0.0);

    // Live: a line a second for each of 100 units, the window following unit 0's year log.
    {
        TrendWindow w(sys, none, dir.path(), clock);
        w.resize(1000, 700);
        w.show();
        (void)w.grab();
        std::vector<double> stepMs, readMs;
        char line[160];
        for (int s = 1; s <= 120; ++s) {
            clock.at = clock.at.addSecs(1);
            for (int u = 0; u < 100; ++u) {
                const int n = formatLine(line, now + s, s);
                TextFile::append(QDir(dir.path()).filePath(DataFiles::DataLogName(u)), QString::fromLatin1(line, n));
            }
            QElapsedTimer t;
            t.start();
            w.liveStep();
            readMs.push_back(double(t.nsecsElapsed()) / 1e6);
            (void)w.grab(); // the repaint the step asks for, as the screen would do it
            stepMs.push_back(double(t.nsecsElapsed()) / 1e6);
        }
        std::sort(stepMs.begin(), stepMs.end());
        std::sort(readMs.begin(), readMs.end());
        std::printf("live update each second (100 units logging): UI thread %.2f ms median, %.2f ms p99 with the "
                    "repaint; %.2f ms median, %.2f ms p99 reading and updating the series (target < 2 ms)\n",
                    stepMs[stepMs.size() / 2], stepMs[stepMs.size() * 99 / 100], readMs[readMs.size() / 2],
                    readMs[readMs.size() * 99 / 100]);
    }
    std::printf("memory of the open window: %.1f MB (target < 50 MB)\n", windowMb);
    return 0;
}
