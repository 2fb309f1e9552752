// 100 simulated units monitored on the real clock for a while (60 s, or the seconds given as the
// first argument) while faults are switched on and off at random: slow, mute, down, exception,
// trickle, a connection closed after each reply, a wrong unit id. Unit 0 alarms at once and the
// address book is missing, so the real "not found" box stays open all along, unanswered.
//
// Every value a unit is given is recorded; afterwards every logged reading is checked against
// them. Prints the lines logged, the readings the unit never had (target 0), and the seconds a
// unit missed or logged twice.

#include "Clock.h"
#include "FakeTransfer.h"
#include "MontAll.h"
#include "PollEngine.h"
#include "QtMessageBox.h"
#include "SysInfWriter.h"
#include "UnitSimProcess.h"
#include "VARNIX.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QTemporaryDir>
#include <cstdio>
#include <random>
#include <set>
#include <string>
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
    const int seconds = argc > 1 ? std::max(5, std::atoi(argv[1])) : 60;
    UnitSimProcess sim(Units);
    if (!sim.running()) {
        std::fprintf(stderr, "soak_bench: simulator did not start: %s\n", sim.error().c_str());
        return 1;
    }
    // RA0 names the unit; RA1 changes as the run goes; both are recorded before they are set.
    std::vector<std::set<int>> ra1(Units);
    for (int u = 0; u < Units; ++u) {
        sim.send("ain " + num(u) + " 0 " + num(1000 + u));
        sim.send("ain " + num(u) + " 1 2000");
        ra1[u].insert(2000);
    }
    sim.send("din 0 0 1"); // unit 0's alarm holds

    QTemporaryDir dir;
    QtMessageBox messages;
    SystemClock clock;
    MontComm1 comm(dir.path(), messages, clock);
    auto rows = simulatedRows(sim, Units);
    rows[0].arm = QStringLiteral("Din: 0:High");
    // 1 s cycle and time-out, a retry pass every second, given up after 10 failures.
    TextFile::writeWhole(comm.path("sysinf001.csv"), sysInfText(rows, 1, "s", 1, "s", 1, 10));
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

    const char* faults[] = {"slow 300",  "slow 1500",   "mute",      "down",
                            "exception", "trickle 100", "closeeach", "wrongunit"};
    std::mt19937 random(20261208);
    std::uniform_int_distribution<int> anyUnit(1, Units - 1); // unit 0 keeps its alarm
    std::uniform_int_distribution<int> anyFault(0, int(std::size(faults)) - 1);
    int toggles = 0, value = 2000;
    QElapsedTimer wall;
    wall.start();
    qint64 nextSecond = 0;
    while (wall.elapsed() < seconds * 1000) {
        if (wall.elapsed() >= nextSecond) {
            nextSecond += 1000;
            for (int k = 0; k < 3; ++k) {
                sim.send("fault " + num(anyUnit(random)) + " " + faults[anyFault(random)]);
                sim.send("fault " + num(anyUnit(random)) + " up");
                toggles += 2;
            }
            for (int k = 0; k < 10; ++k) {
                const int u = anyUnit(random);
                ++value;
                ra1[u].insert(value);
                sim.send("ain " + num(u) + " 1 " + num(value));
            }
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    int boxes = 0;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible())
            ++boxes;
    window.cycle().Shutdown();

    long lines = 0, never = 0, missed = 0, twice = 0;
    for (int u = 0; u < Units; ++u) {
        QFile f(comm.path(DataFiles::DataLogName(u)));
        f.open(QIODevice::ReadOnly);
        QDateTime previous;
        for (const QByteArray& line : f.readAll().split('\n')) {
            const QList<QByteArray> cells = line.trimmed().split(',');
            if (cells.size() < 3)
                continue;
            ++lines;
            never += cells[1].trimmed().toInt() != 1000 + u;
            never += ra1[u].count(cells[2].trimmed().toInt()) == 0;
            const QDateTime at = QDateTime::fromString(QString::fromLatin1(cells[0]), "yyyy/MM/dd HH:mm:ss");
            if (previous.isValid()) {
                const qint64 step = previous.secsTo(at);
                twice += step <= 0;
                missed += step > 1 ? step - 1 : 0;
            }
            previous = at;
        }
    }
    std::printf("soak: %d units, %d s on the real clock, %d fault switches, %d box(es) left open\n", Units, seconds,
                toggles, boxes);
    std::printf("  lines logged %ld (%.2f per unit and second); readings the units never had %ld (target 0)\n", lines,
                double(lines) / Units / seconds, never);
    std::printf("  seconds missed %ld, seconds logged twice %ld (target 0 each)\n", missed, twice);
    return 0;
}
