// One monitor tick of the main window over 100 simulated units, against the same polls made one
// after another on one thread (how the station polled before its poll engine); and 10 seconds of
// real monitoring, with the longest the UI thread was kept from its events.

#include "FakeTransfer.h"
#include "monitor/MontAll.h"
#include "outside/PollEngine.h"
#include "Station.h"
#include "SysInfWriter.h"
#include "UnitSimProcess.h"
#include "outside/VARNIX.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <fstream>
#include <map>
#include <string>
#include <vector>

namespace {

constexpr int Units = 100;

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

long residentKb()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stol(line.substr(6));
    return -1;
}

QList<UnitRow> simRows(const UnitSimProcess& sim)
{
    QList<UnitRow> rows = simulatedRows(sim, Units, QStringLiteral("unit"));
    for (UnitRow& r : rows)
        r.pins = QStringLiteral("Ain,Ain,Ain,Ain,Din,Din,Din,Din,Dout,Dout,Dout,Dout");
    return rows;
}

void setFault(UnitSimProcess& sim, int from, int to, const std::string& fault)
{
    for (int u = from; u < to; ++u)
        sim.send("fault " + std::to_string(u) + " " + fault);
}

void waitUntil(const std::function<bool()>& done, int limitMs = 20000)
{
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < limitMs)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
}

PollEngine::LinkFactory varnix()
{
    return [] { return std::make_unique<VARNIX>(); };
}
PollEngine::TransferFactory noTransfer()
{
    return [] { return std::make_unique<FakeTransfer>(); };
}

// A station window on a set clock, started, with its timers held so the bench runs the ticks.
struct Bench {
    Station st;
    VARNIX link1;
    PollEngine engine{varnix(), noTransfer()};
    WindowOpener opener;
    std::unique_ptr<MontAll> window;

    explicit Bench(const UnitSimProcess& sim, int timeOutSeconds = 1)
    {
        TextFile::writeWhole(st.path("sysinf001.csv"), sysInfText(simRows(sim), 1, "s", timeOutSeconds, "s"));
        TextFile::writeWhole(st.path("InetInf.ini"), inetInfText(1, {}));
        window = std::make_unique<MontAll>(st.comm, engine, opener);
        window->Load();
        window->show();
        cycle().StartStop();
        cycle().Timer1.setInterval(24 * 3600 * 1000);
        cycle().Timer2.stop();
    }
    MonitorCycle& cycle() { return window->cycle(); }

    // Median time from the tick until the answers of units [0, healthy) are all in.
    double tick(int rounds, int healthy)
    {
        std::vector<double> ms, sendMs;
        for (int i = 0; i < rounds; ++i) {
            st.clock.advance(1);
            for (int u = 0; u < healthy; ++u)
                st.comm.units().unitItem(ItemFailureCount, u) = -1;
            QElapsedTimer t;
            t.start();
            cycle().MonitorTick();
            sendMs.push_back(t.nsecsElapsed() / 1e6);
            waitUntil([&] {
                for (int u = 0; u < healthy; ++u)
                    if (cycle().inFlight(u))
                        return false;
                return true;
            });
            ms.push_back(t.nsecsElapsed() / 1e6);
        }
        lastSendMs = median(sendMs);
        return median(ms);
    }
    double lastSendMs = 0; // the tick handler itself: sending the polls and writing the log lines
};

// The same polls and log lines, one unit after another on this thread through one link (the
// first round opens the connections and is not counted).
double sequentialTick(const UnitSimProcess& sim, int rounds, int timeOutSeconds = 1)
{
    static std::map<int, std::unique_ptr<Station>> stations;
    static VARNIX link;
    auto& st = stations[timeOutSeconds];
    if (!st) {
        st = std::make_unique<Station>();
        TextFile::writeWhole(st->path("sysinf001.csv"), sysInfText(simRows(sim), 1, "s", timeOutSeconds, "s"));
        st->comm.sys().LoadSysInf();
        for (int u = 0; u < Units; ++u)
            ReadUnit(link, st->comm.sys().DeviceTable()[u], ReadPlan{true, timeOutSeconds, false});
    }
    std::vector<double> ms;
    for (int i = 0; i < rounds; ++i) {
        QElapsedTimer t;
        t.start();
        for (int u = 0; u < Units; ++u) {
            ReadUnit(link, st->comm.sys().DeviceTable()[u], ReadPlan{true, timeOutSeconds, false});
            st->comm.files().WriteDataLog(u);
        }
        ms.push_back(t.nsecsElapsed() / 1e6);
    }
    return median(ms);
}

struct LiveRun {
    double worstLateMs = 0;
    int fewestSeconds = 0; // fewest distinct seconds logged by a healthy unit
    double stopMs = 0;
};

// Ten seconds of monitoring on the real clock and real timers, units [0, healthy) healthy.
LiveRun live(const UnitSimProcess& sim, int healthy, int seconds = 10)
{
    QTemporaryDir dir;
    ScriptedMessageBox messages;
    SystemClock clock;
    MontComm1 comm(dir.path(), messages, clock);
    TextFile::writeWhole(comm.path("sysinf001.csv"), sysInfText(simRows(sim), 1, "s", 2, "s", 1, 3));
    TextFile::writeWhole(comm.path("InetInf.ini"), inetInfText(1, {}));
    VARNIX link1;
    PollEngine engine(varnix(), noTransfer());
    WindowOpener opener;
    MontAll window(comm, engine, opener);
    window.Load();
    window.show();
    LiveRun run;
    QElapsedTimer since;
    QTimer probe; // records how late it fires: the UI thread's longest stall
    probe.setTimerType(Qt::PreciseTimer);
    probe.setInterval(5);
    QObject::connect(&probe, &QTimer::timeout, [&] {
        run.worstLateMs = std::max(run.worstLateMs, since.nsecsElapsed() / 1e6 - 5);
        since.restart();
    });
    window.cycle().StartStop();
    since.start();
    probe.start();
    // An event loop that waits, as the station's own does: one that spun would take a core from
    // the polls and the simulator and make the UI thread look later than it is.
    QEventLoop loop;
    QTimer::singleShot(seconds * 1000, &loop, &QEventLoop::quit);
    loop.exec();
    probe.stop();
    QElapsedTimer stop;
    stop.start();
    window.cycle().StartStop();
    run.stopMs = stop.nsecsElapsed() / 1e6;
    run.fewestSeconds = seconds * 10;
    for (int u = 0; u < healthy; ++u) {
        QFile f(comm.path(DataFiles::DataLogName(u)));
        f.open(QIODevice::ReadOnly);
        QSet<QByteArray> stamps;
        for (const QByteArray& line : f.readAll().split('\n'))
            if (line.size() > 19)
                stamps.insert(line.left(19));
        run.fewestSeconds = std::min<int>(run.fewestSeconds, int(stamps.size()));
    }
    return run;
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    UnitSimProcess sim(Units);
    if (!sim.running()) {
        std::fprintf(stderr, "tick_bench: simulator did not start: %s\n", sim.error().c_str());
        return 1;
    }
    const int rounds = 30;

    // Prompt units on loopback.
    // Taken in turns, so that load from elsewhere on the machine falls on both alike.
    double prompt, promptSeq, promptSend;
    {
        Bench b(sim);
        b.tick(1, Units); // connections opened
        std::vector<double> engineMs, seqMs;
        for (int i = 0; i < rounds; ++i) {
            engineMs.push_back(b.tick(1, Units));
            seqMs.push_back(sequentialTick(sim, 1));
        }
        prompt = median(engineMs);
        promptSeq = median(seqMs);
        b.tick(rounds, Units);
        promptSend = b.lastSendMs;
    }

    // Units answering after 20 ms.
    setFault(sim, 0, Units, "slow 20");
    double slow, slowSeq;
    {
        Bench b(sim);
        slow = b.tick(rounds, Units);
    }
    slowSeq = sequentialTick(sim, 3);
    setFault(sim, 0, Units, "up");

    // 95 prompt units and 5 that never answer, TimeOut 2 s.
    setFault(sim, Units - 5, Units, "mute");
    double withMute;
    {
        Bench b(sim, 2);
        withMute = b.tick(rounds, Units - 5);
    }
    const double muteSeq = sequentialTick(sim, 1, 2);

    const LiveRun liveMute = live(sim, Units - 5);
    setFault(sim, Units - 5, Units, "up");
    setFault(sim, 0, Units, "slow 20");
    const LiveRun liveSlow = live(sim, Units);
    setFault(sim, 0, Units, "up");

    std::printf("monitor tick, %d units, LAN mode, data log included (median of %d ticks; sequential = one\n"
                "unit after another on one thread, as before the poll engine):\n",
                Units, rounds);
    std::printf("  prompt units:            engine %8.2f ms   sequential %8.2f ms   ratio %.2f (target <= 1.3)\n",
                prompt, promptSeq, prompt / promptSeq);
    std::printf("  prompt units: the tick handler on the UI thread %.2f ms (sends the polls, writes the log lines);"
                " the sequential tick held the UI thread %.2f ms\n",
                promptSend, promptSeq);
    std::printf("  units answering in 20 ms: engine %8.2f ms   sequential %8.2f ms   ratio %.3f;"
                " target 3 x 20 ms + prompt tick = %.2f ms\n",
                slow, slowSeq, slow / slowSeq, 60 + prompt);
    std::printf("  95 prompt + 5 mute (TimeOut 2 s): the 95 answers in %8.2f ms = %.2f x prompt tick (target <= 2);"
                " sequential %8.2f ms\n",
                withMute, withMute / prompt, muteSeq);
    std::printf("10 s of monitoring at a 1 s cycle, real timers:\n");
    std::printf("  5 mute units:   UI thread late by at most %6.2f ms (target < 20); fewest seconds logged by a healthy"
                " unit %d of 10; stop took %.2f ms\n",
                liveMute.worstLateMs, liveMute.fewestSeconds, liveMute.stopMs);
    std::printf(
        "  20 ms units:    UI thread late by at most %6.2f ms; fewest seconds logged %d of 10; stop took %.2f ms\n",
        liveSlow.worstLateMs, liveSlow.fewestSeconds, liveSlow.stopMs);
    std::printf("  resident memory of the station   %8.1f MB\n", residentKb() / 1024.0);
    return 0;
}
