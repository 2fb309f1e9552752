// The FTP control's events against pyftpdlib: their order, the data blocks, idle.

#include "outside/FtpClient.h"
#include "FtpServer.h"
#include "StallingFtp.h"

#include "platform/EventPump.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <gtest/gtest.h>

namespace {

void waitIdle(FtpClient& ftp)
{
    QTimer limit;
    bool late = false;
    QObject::connect(&limit, &QTimer::timeout, [&] { late = true; });
    limit.start(20000);
    EventPump::waitUntil([&] { return ftp.IsIdle() || late; });
}

} // namespace

TEST(FtpClient, EventsArriveBeforeIdleAndInOrder)
{
    FtpServer server;
    ASSERT_TRUE(server.ready());
    FtpClient ftp(3);
    QStringList events;
    QList<QByteArray> blocks{QByteArray(8192, 'a'), QByteArray(100, 'b')};
    QObject::connect(&ftp, &FtpClient::CommandReply,
                     [&](int index, int16_t code, const QString& command, const QString& reply) {
                         events << QStringLiteral("%1 %2 %3").arg(index).arg(command).arg(code) +
                                       (command == "SIZE" ? " " + reply : QString());
                     });
    QObject::connect(&ftp, &FtpClient::DataRequest, [&](int, QByteArray& data) {
        events << "data";
        if (!blocks.isEmpty())
            data = blocks.takeFirst();
    });
    QObject::connect(&ftp, &FtpClient::TransferEnd, [&](int) { events << "end"; });
    QObject::connect(&ftp, &FtpClient::StateReset, [&](int) { events << "reset"; });

    ftp.Port = QString::number(server.port());
    ftp.Connect(" 127.0.0.1 ", "ftpuser", "secret");
    EXPECT_FALSE(ftp.IsIdle());
    waitIdle(ftp);
    ftp.PutFile("/some/local/dir/B.bin"); // sent under its bare name
    waitIdle(ftp);
    ftp.Size("B.bin");
    waitIdle(ftp);
    ftp.Size("none.bin");
    waitIdle(ftp);
    ftp.DisConnect();
    waitIdle(ftp);
    EXPECT_EQ(events, QStringList({"3 USER 0", "data", "data", "data", "end", "3 STOR 0", "3 SIZE 0 8292",
                                   "3 SIZE 550 " + events.value(7).section(' ', 3), "reset"}));
    EXPECT_EQ(server.file("B.bin"), QByteArray(8192, 'a') + QByteArray(100, 'b'));
    EXPECT_EQ(server.count("USER"), 1); // the steps share one session
    EXPECT_FALSE(server.log().join('\n').contains("secret"));
}

TEST(FtpClient, AnAbendedStalledTransferEndsAtOnceAndEveryStepIsFinished)
{
    StallingFtp server;
    ASSERT_TRUE(server.ready());
    auto ftp = std::make_unique<FtpClient>(1);
    QStringList replies;
    int finished = 0;
    bool given = false;
    QObject::connect(ftp.get(), &FtpClient::CommandReply,
                     [&](int, int16_t code, const QString& command, const QString&) {
                         replies << command + (code == 0 ? QStringLiteral(" ok") : QStringLiteral(" failed"));
                     });
    QObject::connect(ftp.get(), &FtpClient::StepFinished, [&](int index) {
        EXPECT_EQ(index, 1);
        ++finished;
    });
    QObject::connect(ftp.get(), &FtpClient::DataRequest, [&](int, QByteArray& data) {
        if (!given)
            data = "abc";
        given = true;
    });
    ftp->Port = QString::number(server.port());
    ftp->Connect("127.0.0.1", "ftpuser", "secret");
    waitIdle(*ftp);
    ftp->PutFile("A.txt");
    QTimer pause;
    pause.setSingleShot(true);
    pause.start(10000);
    EventPump::waitUntil([&] { return server.stors > 0 || !pause.isActive(); });
    ASSERT_EQ(server.stors, 1);
    // Once the data connection is closed the data is out, and libcurl waits for the server's answer.
    EventPump::waitUntil([&] { return server.dataClosed > 0 || !pause.isActive(); });
    ASSERT_EQ(server.dataClosed, 1);
    EXPECT_FALSE(ftp->IsIdle());
    QElapsedTimer clock;
    clock.start();
    ftp->Abend();
    ftp->DisConnect();
    waitIdle(*ftp);
    EXPECT_LT(clock.elapsed(), 500);
    EXPECT_EQ(replies, QStringList({"USER ok", "STOR failed"}));
    EXPECT_EQ(finished, 3); // USER, STOR and the disconnect
    // A control destroyed in the middle of a stalled step does not wait for the server either:
    // the new session logs in, and the next transfer gets no answer.
    const int unanswered = server.unanswered;
    ftp->Connect("127.0.0.1", "ftpuser", "secret");
    ftp->PutFile("B.txt");
    pause.start(10000);
    EventPump::waitUntil([&] { return server.unanswered > unanswered || !pause.isActive(); });
    ASSERT_GT(server.unanswered, unanswered) << "the new session did not reach the stalled server";
    EXPECT_FALSE(ftp->IsIdle());
    clock.restart();
    ftp.reset();
    EXPECT_LT(clock.elapsed(), 500);
}
