// FtpUploadJob against pyftpdlib on loopback, through the handlers every owner connects.

#include "outside/FtpClient.h"
#include "FtpServer.h"
#include "shared/FtpUpload.h"
#include "Station.h"
#include "StallingFtp.h"
#include "platform/EventPump.h"

#include <QDir>
#include <QElapsedTimer>
#include <optional>
#include <QTcpServer>
#include <QTimer>
#include <QDeadlineTimer>
#include <gtest/gtest.h>

namespace {

struct Uploader {
    Station st;
    FtpClient ftp;
    QTimer timFtp;
    int dataRequests = 0;
    Uploader()
    {
        QObject::connect(&ftp, &FtpClient::DataRequest, [this](int, QByteArray&) { ++dataRequests; });
    }
    void aim(const FtpServer& server, const QString& remoteDir = {})
    {
        auto s = st.comm.inet().InternetSettings();
        s.FTP = QStringLiteral("127.0.0.1");
        s.ProxyPortNo = QString::number(server.port());
        s.ID = QStringLiteral("ftpuser");
        s.PassWord = QStringLiteral("secret");
        s.RemoteDir = remoteDir;
        st.comm.inet().Commit(s);
    }
    FtpUploadJob job{ftp, timFtp};
    // One send through the job, waited for here (the station itself never waits for one).
    int16_t upload(const QString& name)
    {
        std::optional<int16_t> result;
        if (!job.start(FtpTarget::of(st.comm.inet().InternetSettings()), st.path(name), st.comm.ftpStepTimeOutMs(),
                       [&](int16_t code) { result = code; }))
            return -1;
        QDeadlineTimer deadline(120000);
        while (!result && !deadline.hasExpired())
            QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 50);
        return result.value_or(-99);
    }
};

QByteArray pattern(int size)
{
    QByteArray b(size, '\0');
    for (int i = 0; i < size; ++i)
        b[i] = char((i * 7 + i / 251) & 0xff); // every byte value, CR and LF included
    return b;
}

} // namespace

TEST(FtpUploadJob, SmallAndLargeFilesLandByteForByteInTheRemoteDirectory)
{
    FtpServer server;
    ASSERT_TRUE(server.ready());
    QDir(server.root()).mkdir("relay");
    Uploader u;
    u.aim(server, QStringLiteral(" relay "));
    for (int size : {200, 8192, 20000}) {
        const QString name = QStringLiteral("F%1.txt").arg(size);
        u.st.writeBytes(name, pattern(size));
        u.dataRequests = 0;
        EXPECT_EQ(u.upload(name), 0) << size;
        EXPECT_EQ(server.file("relay/" + name), pattern(size)) << size;
        EXPECT_EQ(u.job.remoteFileSize(), size);
        // blocks of 8192 bytes, then the request that finds the end
        EXPECT_EQ(u.dataRequests, (size + 8191) / 8192 + 1) << size;
    }
    EXPECT_EQ(server.count("USER"), 3); // one connection per file
}

TEST(FtpUploadJob, AnEmptyRemoteDirSendsToTheLoginDirectory)
{
    FtpServer server;
    ASSERT_TRUE(server.ready());
    Uploader u;
    u.aim(server);
    u.st.writeBytes("A.txt", "x\r\n");
    EXPECT_EQ(u.upload("A.txt"), 0);
    EXPECT_EQ(server.file("A.txt"), QByteArray("x\r\n"));
    EXPECT_EQ(server.count("CWD"), 0);
}

TEST(FtpUploadJob, FailuresAreReportedAtOnceWithTheirCodes)
{
    FtpServer server;
    ASSERT_TRUE(server.ready());
    Uploader u;
    u.st.writeBytes("A.txt", "abc");
    QElapsedTimer clock;
    clock.start();

    u.aim(server, QStringLiteral("missing"));
    EXPECT_EQ(u.upload("A.txt"), 2); // リモートディレクトリエラー
    EXPECT_FALSE(QFile::exists(server.root("missing/A.txt")));

    u.aim(server);
    EditInet(u.st.comm, [&](InternetSettings& s) { s.PassWord = QStringLiteral("wrong"); });
    EXPECT_EQ(u.upload("A.txt"), 8); // a refused login is named as such, not as a connection fault
    EXPECT_EQ(FtpErrorText(8, {}), QStringLiteral("FTPサーバーにログインできません（ID かパスワードが違います）"));
    EXPECT_EQ(server.count("STOR"), 0);

    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    const quint16 closed = probe.serverPort();
    probe.close();
    u.aim(server);
    EditInet(u.st.comm, [&](InternetSettings& s) { s.ProxyPortNo = QString::number(closed); });
    EXPECT_EQ(u.upload("A.txt"), 1); // refused

    u.aim(server);
    EXPECT_EQ(u.upload("NotThere.txt"), 3);
    EXPECT_LT(clock.elapsed(), 10000); // none of them waited for the watchdog

    EXPECT_EQ(FtpErrorText(1, {}), QStringLiteral("FTPサーバーコネクトタイムアウト"));
    EXPECT_EQ(FtpErrorText(3, "A.txt"), QStringLiteral("ファイル送信エラーA.txt"));
    EXPECT_EQ(FtpErrorText(-1, {}), QStringLiteral("その他のエラー"));
}

TEST(FtpUploadJob, ARefusedSizeIsASizeError)
{
    FtpServer server(QStringLiteral("ftpuser"), {QStringLiteral("--no-size")});
    ASSERT_TRUE(server.ready());
    Uploader u;
    u.aim(server);
    u.st.writeBytes("A.txt", "abc");
    EXPECT_EQ(u.upload("A.txt"), 4);
    EXPECT_FALSE(QFile::exists(server.root("A.txt"))); // an unconfirmed file is not published
}

TEST(FtpUploadJob, AFileTheServerCutShortNeverReplacesTheLastGoodOne)
{
    FtpServer server(QStringLiteral("ftpuser"), {QStringLiteral("--keep"), QStringLiteral("10")});
    ASSERT_TRUE(server.ready());
    Uploader u;
    u.aim(server);
    const QByteArray good = pattern(20000);
    QFile old(server.root("unit01.txt"));
    ASSERT_TRUE(old.open(QIODevice::WriteOnly) && old.write(good) == good.size());
    old.close();
    u.st.writeBytes("unit01.txt", pattern(20001));
    EXPECT_EQ(u.upload("unit01.txt"), 4); // 送信済みファイルサイズエラー
    EXPECT_EQ(server.file("unit01.txt"), good);
    EXPECT_EQ(server.count("RNFR"), 0);
    EXPECT_FALSE(QFile::exists(server.root(".unit01.txt.part")));
}

TEST(FtpUploadJob, ARenameRefusedEvenAfterTheRetrySendsUnderTheFinalNameFromThenOnStillSizeChecked)
{
    FtpServer server(QStringLiteral("ftpuser"), {QStringLiteral("--refuse-rename"), QStringLiteral("--keep"), "3"});
    ASSERT_TRUE(server.ready());
    Uploader u;
    u.aim(server);
    QFile old(server.root("A.txt"));
    ASSERT_TRUE(old.open(QIODevice::WriteOnly) && old.write("old") == 3);
    old.close();
    u.st.writeBytes("A.txt", "abc");
    EXPECT_EQ(u.upload("A.txt"), 0);
    EXPECT_EQ(server.file("A.txt"), QByteArray("abc"));
    EXPECT_FALSE(QFile::exists(server.root(".A.txt.part")));
    u.st.writeBytes("A.txt", "abcd");
    EXPECT_EQ(u.upload("A.txt"), 4);                      // cut to 3 bytes
    EXPECT_EQ(server.log().count("STOR .A.txt.part"), 1); // the second went straight to the final name
}

TEST(FtpUploadJob, AServerThatNeverAnswersEndsWithTwoAndTheControlRecovers)
{
    QTcpServer silent; // accepts the connection and never greets
    ASSERT_TRUE(silent.listen(QHostAddress::LocalHost, 0));
    FtpServer server;
    ASSERT_TRUE(server.ready());
    Uploader u;
    u.st.comm.setFtpStepTimeOutMs(100);
    u.aim(server);
    EditInet(u.st.comm, [&](InternetSettings& s) { s.ProxyPortNo = QString::number(silent.serverPort()); });
    u.st.writeBytes("A.txt", "abc");
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(u.upload("A.txt"), 2);
    EXPECT_GE(clock.elapsed(), 90); // the period set, less a coarse timer's few per cent
    EXPECT_LT(clock.elapsed(), 5000);
    EXPECT_FALSE(u.timFtp.isActive());
    u.ftp.ResetTransfer();
    // the same control then sends to a working server
    u.aim(server);
    EXPECT_EQ(u.upload("A.txt"), 0);
    EXPECT_EQ(server.file("A.txt"), QByteArray("abc"));
}

TEST(FtpUploadJob, TheWatchdogDropsAStalledStepSoTheControlSendsAgainUnaided)
{
    StallingFtp stalling;
    FtpServer server;
    ASSERT_TRUE(stalling.ready() && server.ready());
    Uploader u;
    u.st.comm.setFtpStepTimeOutMs(3000); // room for the login on a busy machine
    // Once the transfer hangs, the watchdog needs no more than a moment to be seen firing.
    stalling.onStall = [&] { u.timFtp.setInterval(50); };
    u.aim(server);
    EditInet(u.st.comm, [&](InternetSettings& s) { s.ProxyPortNo = QString::number(stalling.port()); });
    u.st.writeBytes("A.txt", "abc");
    EXPECT_EQ(u.upload("A.txt"), 2);
    EXPECT_EQ(stalling.stors, 1); // it was the transfer that stalled, not the login
    // Well inside the client's own 60 s backstop: only the watchdog's abort ends the step this soon.
    QDeadlineTimer deadline(20000);
    while (!u.ftp.IsIdle() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 50);
    EXPECT_TRUE(u.ftp.IsIdle());
    u.aim(server);
    EXPECT_EQ(u.upload("A.txt"), 0);
    EXPECT_EQ(server.file("A.txt"), QByteArray("abc"));
}

TEST(FtpUploadJob, ThroughANamedProxyTheLoginIsIdAtTheFtpHost)
{
    // A gateway that takes "user@host" logins; the stand-in is pyftpdlib with that user.
    FtpServer gateway(QStringLiteral("ftpuser@ftp.example.jp"));
    ASSERT_TRUE(gateway.ready());
    Uploader u;
    auto s = u.st.comm.inet().InternetSettings();
    s.FTP = QStringLiteral("ftp.example.jp");
    s.ID = QStringLiteral("ftpuser");
    s.PassWord = QStringLiteral("secret");
    s.ProxyServerName = QStringLiteral("127.0.0.1");
    s.ProxyPortNo = QString::number(gateway.port());
    u.st.comm.inet().Commit(s);
    u.st.writeBytes("A.txt", "abc");
    EXPECT_EQ(u.upload("A.txt"), 0);
    EXPECT_EQ(gateway.file("A.txt"), QByteArray("abc"));
    EXPECT_TRUE(gateway.log().contains("USER ftpuser@ftp.example.jp"));
}

TEST(FtpUploadJob, TlsAskedForIsNeverDroppedThroughAProxy)
{
    for (const QString& host : {QStringLiteral("ftp://files.example.jp"), QStringLiteral("FTPS://files.example.jp")}) {
        // A gateway that would take the login in clear, and so the password.
        FtpServer gateway(QStringLiteral("ftpuser@") + host);
        ASSERT_TRUE(gateway.ready());
        Uploader u;
        auto s = u.st.comm.inet().InternetSettings();
        s.FTP = host;
        s.ID = QStringLiteral("ftpuser");
        s.PassWord = QStringLiteral("secret");
        s.ProxyServerName = QStringLiteral("127.0.0.1");
        s.ProxyPortNo = QString::number(gateway.port());
        u.st.comm.inet().Commit(s);
        u.st.writeBytes("A.txt", "abc");
        EXPECT_EQ(u.upload("A.txt"), 7) << host.toStdString();
        EXPECT_TRUE(gateway.log().isEmpty()) << gateway.log().join(u'|').toStdString();
    }
    EXPECT_EQ(FtpErrorText(7, {}), QStringLiteral("プロキシ経由ではFTPS(TLS)で送信できません"));
}

TEST(FtpUploadJob, TheFileIsSentUnderATemporaryNameAndRenamedOverTheOldOne)
{
    FtpServer server;
    ASSERT_TRUE(server.ready());
    Uploader u;
    u.aim(server);
    u.st.writeBytes("A.txt", "first");
    ASSERT_EQ(u.upload("A.txt"), 0);
    u.st.writeBytes("A.txt", "second");
    ASSERT_EQ(u.upload("A.txt"), 0);
    EXPECT_EQ(server.file("A.txt"), QByteArray("second"));
    EXPECT_FALSE(QFile::exists(server.root(".A.txt.part")));
    EXPECT_EQ(server.count("STOR"), 2);
    EXPECT_EQ(server.count("RNTO"), 2);
    EXPECT_TRUE(server.log().contains(QStringLiteral("STOR .A.txt.part"))) << server.log().join(u'|').toStdString();
}

// --- the send that never waits ---

namespace {

// Lets events run until done holds, at most 20 s.
template <class Done> void letRun(Done done)
{
    QTimer limit;
    limit.setSingleShot(true);
    limit.start(20000);
    EventPump::waitUntil([&] { return done() || !limit.isActive(); });
}

FtpTarget targetOf(const FtpServer& server, const QString& dir = {})
{
    return FtpTarget{QStringLiteral("127.0.0.1"),    QStringLiteral("ftpuser"),
                     QStringLiteral("secret"),       {},
                     QString::number(server.port()), dir};
}

} // namespace

TEST(FtpUploadJob, TwoControlsSendSideBySideAndEachReportsOnlyFromTheEventLoop)
{
    FtpServer server;
    ASSERT_TRUE(server.ready());
    Station st;
    st.writeBytes("A.txt", pattern(20000));
    st.writeBytes("B.txt", "b\r\n");
    FtpClient ftpA, ftpB;
    QTimer timA, timB;
    FtpUploadJob a(ftpA, timA), b(ftpB, timB);
    std::optional<int16_t> codeA, codeB;
    ASSERT_TRUE(a.start(targetOf(server), st.path("A.txt"), 5000, [&](int16_t c) { codeA = c; }));
    ASSERT_TRUE(b.start(targetOf(server), st.path("B.txt"), 5000, [&](int16_t c) { codeB = c; }));
    EXPECT_FALSE(codeA || codeB);                                                    // never from inside start
    EXPECT_FALSE(a.start(targetOf(server), st.path("B.txt"), 5000, [](int16_t) {})); // one send a job
    EXPECT_TRUE(a.busy() && b.busy());
    letRun([&] { return codeA && codeB; });
    EXPECT_EQ(codeA, int16_t(0));
    EXPECT_EQ(codeB, int16_t(0));
    EXPECT_EQ(server.file("A.txt"), pattern(20000));
    EXPECT_EQ(server.file("B.txt"), QByteArray("b\r\n"));
    EXPECT_EQ(a.remoteFileSize(), 20000);
    EXPECT_FALSE(timA.isActive() || timB.isActive());
}

TEST(FtpUploadJob, ACancelledStalledSendNeverReportsAndTheControlThenSendsTheNextFile)
{
    StallingFtp stalling;
    FtpServer server;
    ASSERT_TRUE(stalling.ready() && server.ready());
    Station st;
    st.writeBytes("A.txt", "abc");
    FtpClient ftp;
    QTimer timer;
    FtpUploadJob job(ftp, timer);
    FtpTarget stalled = targetOf(server);
    stalled.proxyPort = QString::number(stalling.port());
    int reports = 0;
    ASSERT_TRUE(job.start(stalled, st.path("A.txt"), 30000, [&](int16_t) { ++reports; }));
    letRun([&] { return stalling.stors > 0; });
    ASSERT_EQ(stalling.stors, 1);
    job.cancel();
    EXPECT_FALSE(job.busy());
    EXPECT_FALSE(timer.isActive());
    // The aborted step ends on its own; the next send waits for it rather than taking its reply.
    std::optional<int16_t> code;
    ASSERT_TRUE(job.start(targetOf(server), st.path("A.txt"), 5000, [&](int16_t c) { code = c; }));
    letRun([&] { return code.has_value(); });
    EXPECT_EQ(code, int16_t(0));
    EXPECT_EQ(server.file("A.txt"), QByteArray("abc"));
    EXPECT_EQ(reports, 0);
}

TEST(FtpUploadJob, TheAbnormalityMarkGoesToEveryCameraFolderWithoutWaiting)
{
    FtpServer server;
    ASSERT_TRUE(server.ready());
    QDir(server.root()).mkdir("cam1");
    QDir(server.root()).mkdir("cam4");
    Uploader u;
    u.aim(server, QStringLiteral("relay"));
    auto inet = u.st.comm.inet().InternetSettings();
    auto& cam = inet.Camera;
    cam[0] = QStringLiteral("cam1");
    cam[3] = QStringLiteral("cam4");
    u.st.comm.inet().Commit(inet);
    std::optional<int16_t> result;
    u.st.comm.alarms().PostAbnormalMark(u.ftp, u.timFtp, [&](int16_t r) { result = r; });
    EXPECT_FALSE(result.has_value());
    letRun([&] { return result.has_value(); });
    EXPECT_EQ(result, int16_t(0));
    EXPECT_EQ(server.file("cam1/IjyouFile.txt"), QByteArray("!!\r\n"));
    EXPECT_EQ(server.file("cam4/IjyouFile.txt"), QByteArray("!!\r\n"));
    EXPECT_EQ(u.st.comm.inet().InternetSettings().RemoteDir, QStringLiteral("relay"));
    // A missing last folder decides the result; a control that goes first ends the run quietly.
    cam[3] = QStringLiteral("missing");
    u.st.comm.inet().Commit(inet);
    result.reset();
    u.st.comm.alarms().PostAbnormalMark(u.ftp, u.timFtp, [&](int16_t r) { result = r; });
    letRun([&] { return result.has_value(); });
    EXPECT_EQ(result, int16_t(1));
    {
        FtpClient shortLived;
        u.st.comm.alarms().PostAbnormalMark(shortLived, u.timFtp,
                                            [&](int16_t) { FAIL() << "reported after its control"; });
    }
    QTimer pause;
    pause.setSingleShot(true);
    pause.start(100);
    letRun([&] { return !pause.isActive(); });
}
