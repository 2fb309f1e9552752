// From flipping an output switch on a download station to the new level shown there, over
// pyftpdlib and http.server on loopback, with 1-second cycles on both sides; median of 10.
// The upload station runs as a second process of this program, as it would on its own machine.
// The floor is what the design allows at best: one upload cycle (the request is carried out
// after that cycle's data file went out) and one download cycle (to read the next file).

#include "platform/Clock.h"
#include "HttpServer.h"
#include "relay/DetailMonitor.h"
#include "platform/EventPump.h"
#include "outside/PollEngine.h"
#include "ScriptedMessageBox.h"
#include "SysInfWriter.h"
#include "UnitSimProcess.h"
#include "outside/VARNIX.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>
#include <algorithm>
#include <cstdio>
#include <random>
#include <vector>

namespace {

constexpr int CycleMs = 1000;

void writeStation(const QString& dir, const QList<UnitRow>& rows, int mode, quint16 ftpPort, const QString& url)
{
    ScriptedMessageBox messages;
    SystemClock clock;
    MontComm1 comm(dir, messages, clock);
    TextFile::writeWhole(comm.path(QStringLiteral("sysinf001.csv")),
                         sysInfText(rows, 1, QStringLiteral("s"), 2, QStringLiteral("s")));
    comm.sys().LoadSysInf();
    auto s = comm.inet().InternetSettings();
    s.Mode = int16_t(mode);
    s.FTP = QStringLiteral("127.0.0.1");
    s.ProxyPortNo = QString::number(ftpPort);
    s.ID = QStringLiteral("ftpuser");
    s.PassWord = QStringLiteral("secret");
    s.URL = url;
    s.FileName[0] = QStringLiteral("ABC");
    comm.inet().Commit(s);
    comm.inet().SaveInetInf();
}

// The upload station: start slot 0 and run until killed.
int runUploadStation(const QString& dir)
{
    ScriptedMessageBox messages;
    SystemClock clock;
    MontComm1 comm(dir, messages, clock);
    PollEngine engine([] { return std::make_unique<VARNIX>(); }, [] { return std::make_unique<CurlTransfer>(); });
    DetailMonitor mon(comm, engine);
    mon.Activate();
    mon.OpencmdClick(0);
    EventPump::waitUntil([&] { return !mon.working(); }); // the start runs on the event loop
    if (mon.screen(0).status != QStringLiteral("接続中")) {
        std::fprintf(stderr, "upload slot did not start\n");
        return 1;
    }
    std::puts("started");
    std::fflush(stdout);
    return QCoreApplication::exec();
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return (v[v.size() / 2] + v[(v.size() - 1) / 2]) / 2;
}

template <class Done> bool waitUntil(Done done, int ms)
{
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > ms)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(2);
    }
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    if (argc == 3 && QByteArray(argv[1]) == "--upload")
        return runUploadStation(QString::fromLocal8Bit(argv[2]));

    UnitSimProcess sim(1);
    if (!sim.running()) {
        std::puts("unit simulator did not start");
        return 1;
    }
    {
        VARNIX v; // RB4 and RB5 as outputs, as the port setting dialog writes them
        v.setIP(QString::fromStdString(sim.ip(0)));
        v.setParallelPort(sim.port());
        v.setTimeOut(2);
        v.SetDirp(6, 4, 0);
        v.SetDirp(6, 5, 0);
    }
    QTemporaryDir root, upDir, downDir;
    QProcess ftp;
    ftp.start(QStringLiteral("/usr/bin/python3"), {QStringLiteral(TALVERON_TEST_SUPPORT_DIR "/ftp_server.py"),
                                                   root.path(), QStringLiteral("ftpuser"), QStringLiteral("secret")});
    if (!ftp.waitForReadyRead(10000)) {
        std::puts("ftp server did not start");
        return 1;
    }
    const quint16 ftpPort = quint16(ftp.readLine().trimmed().toUInt());
    HttpServer http(root.path());
    if (!http.ready()) {
        std::puts("http server did not start");
        return 1;
    }
    const QString url = http.url();
    const QList<UnitRow> rows = simulatedRows(sim, 1);
    writeStation(upDir.path(), rows, 0, ftpPort, url);
    writeStation(downDir.path(), rows, 1, ftpPort, url);

    QProcess up;
    up.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    up.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--upload"), upDir.path()});
    if (!up.waitForReadyRead(15000)) {
        std::puts("upload station did not start");
        return 1;
    }
    ScriptedMessageBox messages;
    SystemClock clock;
    MontComm1 comm(downDir.path(), messages, clock);
    PollEngine engine([] { return std::make_unique<VARNIX>(); }, [] { return std::make_unique<CurlTransfer>(); });
    DetailMonitor down(comm, engine);
    waitUntil([&] { return QFile::exists(root.filePath(QStringLiteral("ABC.txt"))); },
              5000); // the first data file is out
    down.Activate();
    down.OpencmdClick(0);
    waitUntil([&] { return !down.working(); }, 15000);
    if (down.screen(0).status != QStringLiteral("接続中")) {
        std::printf("download slot did not start: %s\n",
                    qPrintable(messages.shown.empty() ? QString() : messages.shown.back().text));
        return 1;
    }
    const int following = comm.inet().InternetSettings().NotReadSize;
    waitUntil([&] { return down.screen(0).outputLed[4] != Led::Empty; }, 5000);

    std::mt19937 rng(7);
    std::uniform_int_distribution<int> pause(0, CycleMs);
    std::vector<double> ms;
    int failures = 0;
    for (int run = 0; run < 10; ++run) {
        waitUntil([] { return false; }, pause(rng)); // flip at another phase of the cycles each time
        const bool target = !down.screen(0).switchOn[4];
        QElapsedTimer t;
        t.start();
        down.SwitchFlipped(4, target);
        waitUntil([&] { return !down.switchOperating(); }, 15000); // the request is posted
        const qint64 posted = t.elapsed();
        qint64 served = -1;
        const Led want = target ? Led::On : Led::Off;
        const bool shown = waitUntil(
            [&] {
                if (served < 0 && QFile(root.filePath(QStringLiteral("ABC1.txt"))).size() == 2)
                    served = t.elapsed(); // the upload station has taken the request
                return down.screen(0).outputLed[4] == want && down.downloadSlot(0)->pendingCount(4) == following &&
                       down.screen(0).switchOn[4] == target;
            },
            15000);
        std::printf("run %d: request posted after %lld ms, taken after %lld ms, level shown after %lld ms\n", run + 1,
                    posted, served, t.elapsed());
        if (!shown) {
            ++failures;
            continue;
        }
        ms.push_back(double(t.elapsed()));
    }
    up.kill();
    up.waitForFinished();
    ftp.kill();
    ftp.waitForFinished();
    if (ms.empty()) {
        std::puts("no flip was ever shown");
        return 1;
    }
    const double m = median(ms);
    const double floorMs = 2.0 * CycleMs;
    std::printf("switch flip to level shown, 1 s cycles, median of %zu: %.0f ms = %.2f cycles\n", ms.size(), m,
                m / CycleMs);
    std::printf("floor (one upload and one download cycle): %.0f ms\n", floorMs);
    std::printf("ratio: %.2f (target <= 1.5; flips never shown: %d)\n", m / floorMs, failures);
    std::printf("all runs (ms):");
    for (double v : ms)
        std::printf(" %.0f", v);
    std::puts("");
    return 0;
}
