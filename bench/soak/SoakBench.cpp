// 100 simulated units monitored on the real clock for a while (600 s, or the seconds given as
// the first argument) while faults are switched on and off at random on units 1..79: slow, mute,
// down, exception, trickle, a connection closed after each reply, a wrong unit id. Units 80..99
// answer every poll in 1.2 to 3 s. Unit 0 alarms at once and the address book is missing, so the
// real "not found" box stays open all along, unanswered. Every 30 s the detail dialog of a unit
// is opened, as a click on its name does, and closed 3 s later; two busy loops take both cores.
//
// Each second every unit is given a new RA1 that encodes that second, recorded before it is set;
// afterwards every logged reading is checked against the second it was set: a reading the unit
// never held, or held only later than the second after the line's, is one it never sent. Prints the lines
// logged, those readings (target 0), the seconds a unit missed or logged twice outside the
// dialogs' pauses (target 0 each), and the longest wait from a dialog's click to the moment the
// unit's lane was free for its exchange (target under 200 ms).

#include "platform/Clock.h"
#include "monitor/Dialog2.h"
#include "FakeTransfer.h"
#include "monitor/MontAll.h"
#include "outside/PollEngine.h"
#include "platform/QtMessageBox.h"
#include "SysInfWriter.h"
#include "UnitSimProcess.h"
#include "outside/VARNIX.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QTemporaryDir>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <map>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr int Units = 100;

std::string num(long v)
{
    return std::to_string(v);
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int seconds = argc > 1 ? std::max(5, std::atoi(argv[1])) : 600;
    UnitSimProcess sim(Units);
    if (!sim.running()) {
        std::fprintf(stderr, "soak_bench: simulator did not start: %s\n", sim.error().c_str());
        return 1;
    }
    constexpr int FirstSlow = 80;
    // RA0 names the unit; RA1 holds the run's second when it was set, 1 at the start.
    std::vector<std::map<int, qint64>> setAt(Units); // RA1 value -> when set, epoch seconds
    const qint64 begun = QDateTime::currentSecsSinceEpoch();
    for (int u = 0; u < Units; ++u) {
        sim.send("ain " + num(u) + " 0 " + num(1000 + u));
        setAt[u][1] = begun;
        sim.send("ain " + num(u) + " 1 1");
    }
    sim.send("din 0 0 1"); // unit 0's alarm holds
    // A poll reads two blocks, port A and port B: 600 to 1455 ms a reply is 1.2 to 2.9 s a poll.
    for (int u = FirstSlow; u < Units; ++u)
        sim.send("fault " + num(u) + " slow " + num(600 + (u - FirstSlow) * 45));

    QTemporaryDir dir;
    QtMessageBox messages;
    SystemClock clock;
    MontComm1 comm(dir.path(), messages, clock);
    auto rows = simulatedRows(sim, Units);
    rows[0].arm = QStringLiteral("Din: 0:High");
    // 1 s cycle, a 4 s time-out (the slow units' replies take up to a third of a second), a retry
    // pass every second, given up after 10 failures.
    TextFile::writeWhole(comm.path("sysinf001.csv"), sysInfText(rows, 1, "s", 4, "s", 1, 10));
    QStringList names;
    for (int u = 0; u < Units; ++u)
        names << QStringLiteral("u%1").arg(u);
    TextFile::writeWhole(comm.path("InetInf.ini"), inetInfText(1, names));
    PollEngine engine([] { return std::make_unique<VARNIX>(); }, [] { return std::make_unique<FakeTransfer>(); });
    WindowOpener opener;
    MontAll window(comm, engine, opener);
    if (!window.Load())
        return 1;
    window.show();
    window.cycle().StartStop();

    std::atomic<bool> spinning{true};
    std::vector<std::thread> busy;
    for (int k = 0; k < 2; ++k)
        busy.emplace_back([&spinning] {
            volatile unsigned long n = 0;
            while (spinning.load(std::memory_order_relaxed))
                n = n + 1;
        });

    const char* faults[] = {"slow 300",  "slow 1500",   "mute",      "down",
                            "exception", "trickle 100", "closeeach", "wrongunit"};
    std::mt19937 random(20261208);
    std::uniform_int_distribution<int> anyUnit(1, FirstSlow - 1); // unit 0 keeps its alarm
    std::uniform_int_distribution<int> anyFault(0, int(std::size(faults)) - 1);
    int toggles = 0, dialogs = 0;
    std::vector<std::pair<qint64, qint64>> paused; // epoch seconds, inclusive
    qint64 longestWait = 0;
    std::unique_ptr<Dialog2> dialog;
    MonitorCycle::Paused was;
    QElapsedTimer wall;
    wall.start();
    qint64 nextSecond = 1000, nextDialog = 30000, dialogEnds = 0;
    while (wall.elapsed() < seconds * 1000) {
        if (wall.elapsed() >= nextSecond) {
            nextSecond += 1000;
            for (int k = 0; k < 3; ++k) {
                sim.send("fault " + num(anyUnit(random)) + " " + faults[anyFault(random)]);
                sim.send("fault " + num(anyUnit(random)) + " up");
                toggles += 2;
            }
            const qint64 now = QDateTime::currentSecsSinceEpoch();
            const int value = int(now - begun) + 1;
            for (int u = 0; u < Units; ++u) {
                setAt[u].emplace(value, now);
                sim.send("ain " + num(u) + " 1 " + num(value));
            }
        }
        if (!dialog && wall.elapsed() >= nextDialog) {
            // As a click on a name: the timers pause, the unit's poll is cancelled, the dialog
            // reads. A marker on the unit's lane tells when the lane was free for it.
            nextDialog += 30000;
            const int u = (dialogs % 2) ? anyUnit(random) : FirstSlow + dialogs % (Units - FirstSlow);
            ++dialogs;
            paused.push_back({QDateTime::currentSecsSinceEpoch(), 0});
            const auto clicked = std::chrono::steady_clock::now();
            was = window.cycle().PauseForDialog(u);
            engine.submit<qint64>(
                SysInf::UnitKey(comm.sys().DeviceTable()[u]), &window,
                [clicked](PollEngine::Tools&) {
                    return qint64(std::chrono::duration_cast<std::chrono::milliseconds>(
                                      std::chrono::steady_clock::now() - clicked)
                                      .count());
                },
                [&longestWait](qint64 ms) { longestWait = std::max(longestWait, ms); });
            dialog = std::make_unique<Dialog2>(comm, engine, u, true);
            dialog->show();
            dialogEnds = wall.elapsed() + 3000;
        }
        if (dialog && wall.elapsed() >= dialogEnds) {
            dialog->reject(); // "終了", whether its read is in or not
            dialog.reset();
            window.cycle().ResumeAfterDialog(was);
            paused.back().second = QDateTime::currentSecsSinceEpoch();
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    int boxes = 0;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible())
            ++boxes;
    window.cycle().Shutdown();
    spinning = false;
    for (auto& t : busy)
        t.join();
    if (dialog)
        paused.back().second = QDateTime::currentSecsSinceEpoch();
    const auto inPause = [&](qint64 a, qint64 b) { // a gap from a to b touches a pause
        for (const auto& [from, to] : paused)
            if (b >= from && a <= to)
                return true;
        return false;
    };

    long lines = 0, never = 0, missed = 0, twice = 0;
    for (int u = 0; u < Units; ++u) {
        QFile f(comm.path(DataFiles::DataLogName(u)));
        f.open(QIODevice::ReadOnly);
        qint64 previous = 0;
        for (const QByteArray& line : f.readAll().split('\n')) {
            const QList<QByteArray> cells = line.trimmed().split(',');
            if (cells.size() < 3)
                continue;
            ++lines;
            const qint64 at =
                QDateTime::fromString(QString::fromLatin1(cells[0]), "yyyy/MM/dd HH:mm:ss").toSecsSinceEpoch();
            const auto set = setAt[u].find(cells[2].trimmed().toInt());
            // The value must be one the unit was given, by the second after the line's: a poll sent
            // at the line's tick may answer in the next second, never later.
            never += cells[1].trimmed().toInt() != 1000 + u || set == setAt[u].end() || set->second > at + 1;
            if (previous) {
                twice += at <= previous;
                if (at - previous > 1 && !inPause(previous, at))
                    missed += at - previous - 1;
            }
            previous = at;
        }
    }
    std::printf("soak: %d units (%d answering in 1.2-3 s), %d s on the real clock beside two busy loops, %d fault "
                "switches, %d dialogs, %d box(es) left open\n",
                Units, Units - FirstSlow, seconds, toggles, dialogs, boxes);
    std::printf("  lines logged %ld (%.2f per unit and second); readings the units never sent %ld (target 0)\n", lines,
                double(lines) / Units / seconds, never);
    std::printf("  seconds missed %ld, seconds logged twice %ld outside dialog pauses (target 0 each)\n", missed,
                twice);
    std::printf("  longest wait from a dialog's click to its unit's lane %lld ms (target under 200)\n",
                static_cast<long long>(longestWait));
    return 0;
}
