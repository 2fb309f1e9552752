// reports_bench: 日報 of 100 units from a day of logs (8.64 million lines) by `talveron --report`,
// its time and peak memory; 月報 of 100 units from the raw logs and from the daily summaries;
// how late the UI thread gets while the "帳票" window makes a 日報 beside 100 polled units, against
// the same run without it. Prints figures; not a test.
//
//   reports_bench [month units]   (default 10: units with a whole month of logs; all 100 have the day)

#include "BenchStation.h"
#include "platform/Clock.h"
#include "reports/ReportWindow.h"

#include <QApplication>
#include <QDateEdit>
#include <QDir>
#include <QTemporaryDir>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

extern char** environ;

namespace {

using namespace BenchStation;

struct Run {
    double seconds = 0;
    long peakKb = 0;
    int status = -1;
};

// The report command as an operator runs it, in the station folder.
Run report(const QString& folder, const char* kind, const char* date)
{
    const QByteArray out = QDir(folder).filePath(QStringLiteral("out")).toLocal8Bit();
    const char* argv[] = {TALVERON_BIN, "--report", kind, date, "--out", out.constData(), nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addchdir_np(&actions, QFile::encodeName(folder).constData());
    QElapsedTimer t;
    t.start();
    pid_t pid = 0;
    Run r;
    if (posix_spawn(&pid, TALVERON_BIN, &actions, nullptr, const_cast<char**>(argv), environ) != 0)
        return r;
    struct rusage usage {};
    wait4(pid, &r.status, 0, &usage);
    r.seconds = double(t.nsecsElapsed()) / 1e9;
    r.peakKb = usage.ru_maxrss;
    posix_spawn_file_actions_destroy(&actions);
    return r;
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int monthUnits = argc > 1 ? std::clamp(std::atoi(argv[1]), 1, Units) : 10;
    UnitSimProcess sim(Units);
    if (!sim.running()) {
        std::fprintf(stderr, "reports_bench: simulator did not start: %s\n", sim.error().c_str());
        return 1;
    }
    QTemporaryDir station(QDir::current().filePath(QStringLiteral("reports-bench-XXXXXX")));
    const QString folder = station.path();
    TextFile::writeWhole(QDir(folder).filePath("sysinf001.csv"), sysInfText(simRows(sim), 1, "s", 2, "s", 1, 3));
    QElapsedTimer gen;
    gen.start();
    for (int u = 0; u < Units; ++u) {
        const QString log = QDir(folder).filePath(DataFiles::DataLogName(u));
        if (u < monthUnits)
            writeLog(log, u, at(2026, 11, 1), at(2026, 12, 1) - 1);
        writeLog(log, u, at(2026, 12, 8), at(2026, 12, 9) - 1);
    }
    std::printf("generated: a day of %d units and November of %d, %.0f MB of logs, in %.1f s\n", Units, monthUnits,
                double(bytesOf(folder, QStringLiteral("DataFile*.csv"))) / 1e6, double(gen.elapsed()) / 1000.0);

    std::vector<double> dayS;
    long dayKb = 0;
    for (int i = 0; i < 3; ++i) {
        const Run r = report(folder, "daily", "2026-12-08");
        dayS.push_back(r.seconds);
        dayKb = std::max(dayKb, r.peakKb);
        if (r.status != 0)
            std::printf("the daily report failed (status %d)\n", r.status);
    }
    std::printf("日報 of 100 units from a day of logs (8.64 million lines): %.2f s median of 3 (target under 5 s), "
                "peak memory %.0f MB (target under 200 MB)\n",
                median(dayS), double(dayKb) / 1024.0);
    QDir(QDir(folder).filePath(QStringLiteral("reports/summaries"))).removeRecursively();
    const Run raw = report(folder, "monthly", "2026-11");
    const Run kept = report(folder, "monthly", "2026-11");
    std::printf(
        "月報 of 100 units for November from the raw logs (%d units with a month of lines): %.2f s, about %.0f s "
        "for 100 such units; from the 30 daily summaries kept by the first: %.2f s (target under 10 s, "
        "ratio %.3f)\n",
        monthUnits, raw.seconds, raw.seconds * Units / monthUnits, kept.seconds,
        raw.seconds > 0 ? kept.seconds / raw.seconds : 0.0);

    // The window's 日報 beside the monitoring, against the monitoring alone for as long.
    std::unique_ptr<ReportWindow> window;
    bool made = false;
    ScriptedMessageBox messages;
    SystemClock clock;
    MontComm1* comm = nullptr;
    const Watched busy = monitor(
        sim, folder, [&](MontComm1& c) { comm = &c; },
        [&] {
            if (!window) {
                window = std::make_unique<ReportWindow>(comm->sys(), folder, clock, messages);
                window->show();
                window->findChild<QDateEdit*>(QStringLiteral("DateEdit"))->setDate(QDate(2026, 12, 8));
                QObject::connect(window.get(), &ReportWindow::made, [&] { made = true; });
                window->make();
            }
            return made;
        },
        5 * 60 * 1000);
    window.reset();
    QTemporaryDir quiet(QDir::current().filePath(QStringLiteral("reports-bench-XXXXXX")));
    const Watched idle = monitor(
        sim, quiet.path(), [](MontComm1&) {}, [] { return false; }, int(std::max(busy.seconds, 5.0) * 1000));
    std::printf(
        "UI thread lateness: worst %.1f ms while the window made the 日報 (%.1f s), %.1f ms without (ratio %.2f; "
        "target under 20 ms)\n",
        busy.worstLateMs, busy.seconds, idle.worstLateMs,
        idle.worstLateMs > 0 ? busy.worstLateMs / idle.worstLateMs : 0.0);
    return 0;
}
