// The web view under load: 100 simulated units monitored at a 1 s cycle while a script holds 50
// event streams and asks for a unit's 24 h trend once a second. The UI thread's lateness against
// the same run without the web view, the time from a unit's state to its event at the clients,
// and what the view costs the station in CPU and memory.

#include "BenchStation.h"
#include "shared/DataFiles.h"
#include "web/WebView.h"

#include <QApplication>
#include <QCryptographicHash>
#include <QProcess>
#include <QTemporaryDir>
#include <QTextStream>
#include <chrono>
#include <map>
#include <sys/resource.h>

namespace {

constexpr int Seconds = 40;

double cpuSeconds()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

double residentMiB()
{
    QFile f(QStringLiteral("/proc/self/status"));
    f.open(QIODevice::ReadOnly);
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toDouble() / 1024;
    return 0;
}

double wallSeconds()
{
    return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
}

// Notes when each unit state was handed to the view, to match it at the clients.
struct TimedStates : StateListener {
    StateListener* view = nullptr;
    std::map<QByteArray, double> handed;
    void unitState(int unit, const QByteArray& json) override
    {
        handed.emplace(QCryptographicHash::hash(json, QCryptographicHash::Md5).toHex(), wallSeconds());
        view->unitState(unit, json);
    }
    void monitoringChanged(bool running) override { view->monitoringChanged(running); }
};

double percentile(std::vector<double> v, double p)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, size_t(p * double(v.size())))];
}

struct Run {
    BenchStation::Watched watched;
    double cpu = 0, rss = 0;
};

Run run(const UnitSimProcess& sim, const std::function<void(MontComm1&)>& prepare, const std::function<void()>& finish)
{
    QTemporaryDir dir;
    const DataLog::Seconds now = DataLog::toSeconds(QDateTime::currentDateTime());
    for (int u = 0; u < 5; ++u) // the units whose day the clients ask for
        BenchStation::writeLog(dir.filePath(DataFiles::DataLogName(u)), u, now - 86400, now - 2);
    Run r;
    const double cpu = cpuSeconds();
    r.watched = BenchStation::monitor(
        sim, dir.path(), prepare, [] { return false; }, Seconds * 1000,
        [&] {
            r.rss = residentMiB();
            if (finish)
                finish();
        });
    r.cpu = (cpuSeconds() - cpu) / r.watched.seconds;
    return r;
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    UnitSimProcess sim(BenchStation::Units);
    if (!sim.running()) {
        std::fprintf(stderr, "web_bench: the simulator did not start: %s\n", sim.error().c_str());
        return 1;
    }
    const Run without = run(sim, [](MontComm1&) {}, {});

    std::unique_ptr<WebView> web;
    TimedStates timed;
    QProcess clients;
    QTemporaryDir out;
    const QString results = out.filePath(QStringLiteral("clients.txt"));
    const Run with = run(
        sim,
        [&](MontComm1& comm) {
            web = std::make_unique<WebView>(comm);
            WebServerConfig config;
            config.listen = {QHostAddress(QHostAddress::LocalHost), 0};
            config.workDir = comm.workDir();
            if (!web->start(config)) {
                std::fprintf(stderr, "web_bench: the web view did not start\n");
                std::exit(1);
            }
            timed.view = web.get();
            comm.mqtt().setListener(&timed);
            // Niced: they stand for browsers on other machines, not for work of this one.
            clients.start(QStringLiteral("nice"),
                          {QStringLiteral("-n19"), QStringLiteral("/usr/bin/python3"),
                           QStringLiteral(TALVERON_BENCH_WEB_DIR "/clients.py"), QString::number(web->port()),
                           QString::number(Seconds - 4), results});
        },
        [&] {
            clients.waitForFinished(60000);
            web.reset();
        });

    std::vector<double> latencyMs, trendMs;
    QFile f(results);
    f.open(QIODevice::ReadOnly);
    for (const QByteArray& line : f.readAll().split('\n')) {
        const QList<QByteArray> w = line.split(' ');
        if (w.size() == 3 && w[0] == "event") {
            const auto it = timed.handed.find(w[1]);
            if (it != timed.handed.end())
                latencyMs.push_back((w[2].toDouble() - it->second) * 1000);
        } else if (w.size() == 2 && w[0] == "trend") {
            trendMs.push_back(w[1].toDouble());
        }
    }
    std::printf("web view: 100 units at a 1 s cycle, 50 event streams, a 24 h trend asked each second, %d s a run "
                "(clients niced, on this machine)\n",
                Seconds);
    const double withP99 = percentile(with.watched.lateMs, 0.99), withoutP99 = percentile(without.watched.lateMs, 0.99);
    std::printf("  UI thread's worst lateness: %.1f ms with the view, %.1f ms without (ratio %.2f; target < 20 ms, "
                "<= 1.5)\n",
                with.watched.worstLateMs, without.watched.worstLateMs,
                with.watched.worstLateMs / std::max(0.1, without.watched.worstLateMs));
    std::printf("  UI thread's lateness, p99 of a 5 ms timer: %.2f ms with the view, %.2f ms without (ratio %.2f)\n",
                withP99, withoutP99, withP99 / std::max(0.01, withoutP99));
    std::printf("  state to event at a client: median %.1f ms, p99 %.1f ms, worst %.1f ms (%zu events)\n",
                percentile(latencyMs, 0.5), percentile(latencyMs, 0.99), percentile(latencyMs, 1.0), latencyMs.size());
    std::printf("  24 h trend answer (600 columns): median %.1f ms, worst %.1f ms (%zu asked)\n",
                percentile(trendMs, 0.5), percentile(trendMs, 1.0), trendMs.size());
    std::printf("  station CPU: %.1f %% of a core with the view, %.1f %% without (extra %.1f points, ratio %.2f)\n",
                with.cpu * 100, without.cpu * 100, (with.cpu - without.cpu) * 100,
                with.cpu / std::max(1e-6, without.cpu));
    std::printf("  station memory (resident): %.1f MiB with the view, %.1f MiB without (extra %.1f MiB, ratio %.2f)\n",
                with.rss, without.rss, with.rss - without.rss, with.rss / std::max(1e-6, without.rss));
    return 0;
}
