// One FtpUploadJob send of a 200-byte relay file to pyftpdlib on loopback, median of 20, against
// `curl -T` of the same file to the same server.

#include "platform/Clock.h"
#include "outside/FtpClient.h"
#include "shared/FtpUpload.h"
#include "ScriptedMessageBox.h"
#include "SetClock.h"
#include "shared/MontComm1.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <vector>

static double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return (v[v.size() / 2] + v[(v.size() - 1) / 2]) / 2;
}

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir root, work;
    QProcess server;
    server.start(QStringLiteral("/usr/bin/python3"),
                 {QStringLiteral(TALVERON_TEST_SUPPORT_DIR "/ftp_server.py"), root.path(), QStringLiteral("ftpuser"),
                  QStringLiteral("secret")});
    if (!server.waitForReadyRead(10000)) {
        std::puts("ftp server did not start");
        return 1;
    }
    const QString port = QString::fromUtf8(server.readLine().trimmed());
    QByteArray relay = "ABC.txt,Ain,Ain,non,non,Din,Din,Din,Din,Dout,Dout,Dout,Dout\r\n26/12/"
                       "08,10:20:30,512,1023,0,0,25,1,0,1,0,0,1,0,1\r\n";
    relay = relay.leftJustified(198, ' ') + "\r\n";
    QFile f(work.filePath("ABC.txt"));
    f.open(QIODevice::WriteOnly);
    f.write(relay);
    f.close();

    ScriptedMessageBox messages;
    SystemClock clock;
    MontComm1 comm(work.path(), messages, clock);
    auto settings = comm.inet().InternetSettings();
    settings.FTP = QStringLiteral("127.0.0.1");
    settings.ProxyPortNo = port;
    settings.ID = QStringLiteral("ftpuser");
    settings.PassWord = QStringLiteral("secret");
    comm.inet().Commit(settings);
    FtpClient ftp;
    QTimer timFtp;

    FtpUploadJob job(ftp, timFtp);
    // One send, waited for here: the bench measures the whole chain of steps.
    auto upload = [&] {
        int16_t result = -99;
        bool ended = false;
        if (!job.start(FtpTarget::of(comm.inet().InternetSettings()), comm.path(QStringLiteral("ABC.txt")),
                       comm.ftpStepTimeOutMs(), [&](int16_t code) {
                           result = code;
                           ended = true;
                       }))
            return int16_t(-1);
        while (!ended)
            QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 50);
        return result;
    };
    const int runs = 20;
    std::vector<double> ours, curl;
    int failures = 0;
    upload(); // warm-up
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer t;
        t.start();
        failures += upload() != 0;
        ours.push_back(t.nsecsElapsed() / 1e6);
    }
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer t;
        t.start();
        QProcess c;
        c.start(QStringLiteral("curl"),
                {QStringLiteral("-s"), QStringLiteral("-T"), f.fileName(), QStringLiteral("-u"),
                 QStringLiteral("ftpuser:secret"), QStringLiteral("ftp://127.0.0.1:%1/").arg(port)});
        c.waitForFinished(10000);
        failures += c.exitCode() != 0;
        curl.push_back(t.nsecsElapsed() / 1e6);
    }
    server.kill();
    server.waitForFinished();
    const double a = median(ours), b = median(curl);
    std::printf("FtpUploadJob 200 bytes, median of %d: %.2f ms\n", runs, a);
    std::printf("curl -T same file, median of %d:      %.2f ms\n", runs, b);
    std::printf("ratio: %.2f (failed transfers: %d)\n", a / b, failures);
    return 0;
}
