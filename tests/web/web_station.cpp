// A station for the browser and hostile-request tests: a few simulated units monitored by the
// real main window, its web view on a free loopback port, two hours of unit 0's log for the trend.
// Prints "port P", then "lamp UNIT WORD EPOCH_MS" whenever a row's lamp changes in the window.
// Reads "fault UNIT MODE" (passed to the simulator) and "quit" on standard input.
//   web_station DIR [PASSWORD] [IDLE_SECONDS]

#include "BenchStation.h"
#include "shared/DataFiles.h"
#include "web/WebView.h"

#include <QApplication>
#include <QSocketNotifier>
#include <iostream>
#include <unistd.h>

namespace {

const char* lampWord(Lamp lamp)
{
    switch (lamp) {
    case Lamp::On:
        return "good";
    case Lamp::Off:
        return "off";
    case Lamp::GivenUp:
        return "given_up";
    case Lamp::None:
        break;
    }
    return "none";
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    if (argc < 2)
        return 2;
    const QString dir = QString::fromLocal8Bit(argv[1]);
    constexpr int Units = 3;
    UnitSimProcess sim(Units);
    if (!sim.running()) {
        std::cerr << sim.error() << '\n';
        return 1;
    }
    ScriptedMessageBox messages;
    SystemClock clock;
    MontComm1 comm(dir, messages, clock);
    QList<UnitRow> rows = simulatedRows(sim, Units, QStringLiteral("ポンプ室"));
    rows[1].control = QStringLiteral("Off");
    rows[2].arm = QStringLiteral("Din: 0:High");
    TextFile::writeWhole(comm.path(QStringLiteral("sysinf001.csv")), sysInfText(rows, 1, "s", 1, "s", 1, 2));
    TextFile::writeWhole(comm.path(QStringLiteral("InetInf.ini")), inetInfText(1, {}));
    // Unit 0 in the plant's words: a level in metres and a pump's running state.
    TextFile::writeWhole(
        comm.path(ChannelTable::FileName),
        QStringLiteral("ユニット,チャンネル,タグ名,単位,生値下限,生値上限,工学値下限,工学値上限,小数桁,ON表示,"
                       "OFF表示\r\n000,RA0,水位,m,0,1000,0,10,2,,\r\n000,RB0,ポンプ1,,,,,,,運転,停止\r\n"));
    comm.channels().load();
    const DataLog::Seconds now = DataLog::toSeconds(clock.now());
    BenchStation::writeLog(comm.path(DataFiles::DataLogName(0)), 0, now - 2 * 3600, now - 5);

    PollEngine engine([] { return std::make_unique<VARNIX>(); }, [] { return std::make_unique<FakeTransfer>(); });
    WindowOpener opener;
    MontAll window(comm, engine, opener);
    window.Load();
    window.show();
    window.cycle().StartStop();

    WebView web(comm);
    web.setRunning([&window] { return window.cycle().running(); });
    WebServerConfig config;
    config.listen = {QHostAddress(QHostAddress::LocalHost), 0}; // a free port
    if (argc > 2 && argv[2][0])
        config.passHash = WebInf::HashPassword(QString::fromUtf8(argv[2]), 1000);
    if (argc > 3)
        config.idleTimeoutS = std::atoi(argv[3]);
    config.workDir = dir;
    if (const Outcome started = web.start(config); !started) {
        std::cerr << FaultText(started).toStdString() << '\n';
        return 1;
    }
    std::cout << "port " << web.port() << std::endl;

    std::array<Lamp, Units> shown{};
    QTimer look;
    look.setInterval(5);
    QObject::connect(&look, &QTimer::timeout, [&] {
        for (int r = 0; r < Units; ++r)
            if (window.rowLamp(r) != shown[size_t(r)]) {
                shown[size_t(r)] = window.rowLamp(r);
                std::cout << "lamp " << r << ' ' << lampWord(shown[size_t(r)]) << ' '
                          << QDateTime::currentMSecsSinceEpoch() << std::endl;
            }
    });
    look.start();
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    std::string pending;
    QObject::connect(&input, &QSocketNotifier::activated, [&] {
        char buf[256];
        const ssize_t n = ::read(STDIN_FILENO, buf, sizeof buf);
        if (n <= 0) {
            app.quit();
            return;
        }
        pending.append(buf, size_t(n));
        for (size_t end; (end = pending.find('\n')) != std::string::npos; pending.erase(0, end + 1)) {
            const std::string line = pending.substr(0, end);
            if (line == "quit")
                app.quit();
            else
                std::cout << "sim " << sim.send(line) << std::endl;
        }
    });
    const int rc = app.exec();
    window.cycle().StartStop();
    return rc;
}
