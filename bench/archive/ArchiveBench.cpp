// archive_bench: monthly archives of the data logs. A month of logs of some units, generated as
// the simulator's units drift, archived by the station's worker while the station polls 100
// simulated units (how late the UI thread got, against the same run without archiving); the
// archive's size against the raw logs; and the last 24 h of a unit from a year of archives to the
// first drawn chart, against the same day from a plain log. Prints figures; not a test.
//
//   archive_bench [units]   (default 10: a tenth of 100 units' month, about 1.7 GB of logs)

#include "BenchStation.h"
#include "TrendOpen.h"
#include "shared/DataLogReader.h"
#include "shared/LogArchive.h"
#include "monitor/MontAll.h"
#include "outside/PollEngine.h"
#include "ScriptedMessageBox.h"
#include "SetClock.h"
#include "SysInfWriter.h"
#include "history/TrendWindow.h"
#include "UnitSimProcess.h"
#include "outside/VARNIX.h"

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

using namespace BenchStation;

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
    QList<UnitRow> rows;
    for (int u = 0; u < 2; ++u)
        rows.push_back({QStringLiteral("u%1").arg(u), QStringLiteral("127.0.0.1"), 1000 + u,
                        QStringLiteral("Ain,Ain,Ain,Ain,Din,Din,Din,Din,Din,Din,Din,Din")});
    TextFile::writeWhole(QDir(dir.path()).filePath(QStringLiteral("sysinf001.csv")), sysInfText(rows));
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
