// Alarm mail from mail.xls to aiosmtpd on loopback, and the abnormality notice on pyftpdlib.

#include "FakeDialUp.h"
#include "FakeSmtp.h"
#include "outside/FtpClient.h"
#include "FtpServer.h"
#include "shared/FtpUpload.h"
#include "platform/SmtpControl.h"
#include "SmtpServer.h"
#include "Station.h"
#include "platform/AddressBook.h"
#include "shared/DialUpLine.h"

#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QTcpServer>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <gtest/gtest.h>
#include <optional>
#include <random>
#include <sys/stat.h>
#include <thread>

namespace {

void mailSettings(MontComm1& c, const QString& server)
{
    auto s = c.inet().InternetSettings();
    s.SMTPServerName = server;
    s.SendMailName = QStringLiteral("station@example.jp");
    s.MailHeader = QStringLiteral("警報通知");
    s.MailBody = QStringLiteral("至急確認してください。\r\n監視局");
    c.inet().Commit(s);
}

// The server's replies without the 40 ms each that Nagle and a delayed ACK would add.
QStringList noDelay(QStringList extra = {})
{
    return extra << QStringLiteral("--nodelay");
}

} // namespace

TEST(AlarmMail, EveryAddressOfTheBookGetsTheTextLineForLine)
{
    SmtpServer server(noDelay());
    ASSERT_TRUE(server.ready());
    Station st;
    SmtpControl smtp;
    st.comm.alarms().setSmtp(&smtp);
    mailSettings(st.comm, server.address());
    ASSERT_TRUE(MakeMailXls(st.path("mail.xls"), {"a@example.jp|山田", "|空行", "c@example.jp|"}));
    st.comm.alarms().SendAlarmMail(QStringLiteral("機械7"));
    ASSERT_TRUE(st.waitForMail());
    EXPECT_TRUE(st.messages.shown.empty());
    ASSERT_EQ(server.count(), 2); // the row with no address is skipped
    EXPECT_EQ(server.envelope(1), QStringList({"station@example.jp", "a@example.jp"}));
    EXPECT_EQ(server.envelope(2), QStringList({"station@example.jp", "c@example.jp"}));
    const QJsonObject first = server.parsed(1);
    EXPECT_EQ(first["subject"].toString(), QStringLiteral("警報通知"));
    EXPECT_EQ(first["to"].toString(), QStringLiteral("山田 <a@example.jp>"));
    EXPECT_EQ(first["from"].toString(), QStringLiteral("station@example.jp"));
    EXPECT_EQ(first["content_type"].toString(), QStringLiteral("text/plain"));
    EXPECT_EQ(first["body"].toString().replace("\r\n", "\n"),
              QStringLiteral("山田様へ\n\n機械7\n至急確認してください。\n監視局"));
    // an empty name: empty in the To: line and in the salutation
    EXPECT_EQ(server.parsed(2)["body"].toString().replace("\r\n", "\n"),
              QStringLiteral("様へ\n\n機械7\n至急確認してください。\n監視局"));
    EXPECT_TRUE(server.raw(2).startsWith("To:<c@example.jp>\r\nSubject: =?UTF-8?B?"));
    EXPECT_TRUE(server.raw(1).contains("?= <a@example.jp>")); // an encoded name stands apart from "<"
}

TEST(AlarmMail, TheTextHandedToTheControl)
{
    Station st;
    FakeSmtp smtp;
    st.comm.alarms().setSmtp(&smtp);
    mailSettings(st.comm, QStringLiteral("mail.example.jp"));
    ASSERT_TRUE(MakeMailXls(st.path("mail.xls"), {"a@example.jp|N"}));
    st.comm.alarms().SendAlarmMail(QStringLiteral("T"));
    ASSERT_TRUE(st.waitForMail());
    ASSERT_EQ(smtp.sent.size(), 1u);
    EXPECT_EQ(smtp.sent[0].server, QStringLiteral("mail.example.jp"));
    EXPECT_EQ(smtp.sent[0].text,
              QStringLiteral("To:N<a@example.jp>\r\nSubject:警報通知\r\nFrom:station@example.jp\r\n\r\n"
                             "N様へ\r\n\r\nT\r\n至急確認してください。\r\n監視局"));
}

TEST(AlarmMail, LineBreaksCannotAddHeaders)
{
    Station st;
    FakeSmtp smtp;
    st.comm.alarms().setSmtp(&smtp);
    mailSettings(st.comm, QStringLiteral("mail.example.jp"));
    EditInet(st.comm, [&](InternetSettings& s) { s.MailHeader = QStringLiteral("警報\r\nBcc: x@evil.example"); });
    EditInet(st.comm,
             [&](InternetSettings& s) { s.SendMailName = QStringLiteral("station@example.jp\nBcc: y@evil.example"); });
    ASSERT_TRUE(MakeMailXls(st.path("mail.xls"), {"a@example.jp\r\nBcc: z@evil.example|N\nBcc: w@evil.example"}));
    st.comm.alarms().SendAlarmMail(QStringLiteral("T"));
    ASSERT_TRUE(st.waitForMail());
    ASSERT_EQ(smtp.sent.size(), 1u);
    const QString head = smtp.sent[0].text.section(QStringLiteral("\r\n\r\n"), 0, 0);
    EXPECT_EQ(head.split(QStringLiteral("\r\n")).size(), 3) << head.toStdString();
    EXPECT_FALSE(head.contains(QStringLiteral("\nBcc")));
    EXPECT_FALSE(smtp.sent[0].recipient.contains(u'\n'));
    EXPECT_FALSE(smtp.sent[0].sender.contains(u'\n'));
    // and on the wire the builder keeps one header per line
    const QByteArray wire = Mail::buildMessage(smtp.sent[0].text, QDateTime::currentDateTime());
    EXPECT_FALSE(wire.contains("\nBcc"));
}

TEST(AlarmMail, AddressesThatWouldExtendTheSmtpCommandAreRefusedAndNamed)
{
    SmtpServer server(noDelay());
    ASSERT_TRUE(server.ready());
    Station st;
    SmtpControl smtp;
    st.comm.alarms().setSmtp(&smtp);
    mailSettings(st.comm, server.address());
    ASSERT_TRUE(MakeMailXls(st.path("mail.xls"),
                            {"d@x.jp> NOTIFY=SUCCESS ORCPT=rfc822;evil@x.jp|A",
                             "angle@example.com>, <other@evil.example|B", "tanaka @example.jp|C", "ok@example.jp|D"}));
    st.comm.alarms().SendAlarmMail(QStringLiteral("T"));
    ASSERT_TRUE(st.waitForMail());
    ASSERT_EQ(server.count(), 1);
    EXPECT_EQ(server.envelope(1), QStringList({"station@example.jp", "ok@example.jp"}));
    ASSERT_EQ(st.messages.shown.size(), 1u);
    const QString box = st.messages.shown[0].text;
    EXPECT_EQ(box.count(QStringLiteral("宛先アドレスが正しくありません")), 3) << box.toStdString();
    EXPECT_TRUE(box.contains(QStringLiteral("tanaka @example.jp")));
}

TEST(MailMessage, EncodedWordsStayWithinTheirLimits)
{
    const QString subject(60, QChar(0x8b66)); // 60 kanji: many words
    const QByteArray wire = Mail::buildMessage(QStringLiteral("To:山田太郎<a@example.jp>\r\nSubject:") + subject +
                                                   QStringLiteral("\r\nFrom:s@example.jp\r\n\r\nbody"),
                                               QDateTime::currentDateTime());
    const QByteArray head = wire.left(wire.indexOf("\r\n\r\n"));
    for (const QByteArray& line : head.split('\n'))
        EXPECT_LE(line.trimmed().size(), 76) << line.toStdString();
    qsizetype from = 0;
    while ((from = head.indexOf("=?", from)) >= 0) {
        const qsizetype end = head.indexOf("?=", from + 10);
        ASSERT_GT(end, from);
        EXPECT_LE(end + 2 - from, 75);
        from = end + 2;
    }
    EXPECT_TRUE(head.contains("?= <a@example.jp>"));
}

TEST(AlarmMail, ABadBookShowsWhyAndSendsNothing)
{
    struct Case {
        const char* what;
        std::function<void(Station&)> make;
        QString expected;
    };
    const std::vector<Case> cases = {
        {"missing", [](Station&) {}, QStringLiteral("見つかりません")},
        {"empty", [](Station& st) { st.writeBytes("mail.xls", ""); }, QStringLiteral("読めません")},
        {"not a workbook", [](Station& st) { st.writeBytes("mail.xls", "address,name\r\na@b,c\r\n"); },
         QStringLiteral("読めません")},
        {"truncated",
         [](Station& st) {
             MakeMailXls(st.path("mail.xls"), {"a@example.jp|N"});
             st.writeBytes("mail.xls", st.readBytes("mail.xls").left(700));
         },
         QStringLiteral("読めません")},
        {"no sheet mailadd", [](Station& st) { MakeMailXls(st.path("mail.xls"), {"a@example.jp|N"}, "Sheet1"); },
         QStringLiteral("シート mailadd")},
        {"a FIFO, as nobody ever writes",
         [](Station& st) { ASSERT_EQ(mkfifo(QFile::encodeName(st.path("mail.xls")).constData(), 0600), 0); },
         QStringLiteral("通常のファイルではありません")},
        {"no column name",
         [](Station& st) { MakeMailXls(st.path("mail.xls"), {"a@example.jp|N"}, "mailadd", "address,who"); },
         QStringLiteral("列 address と name")},
    };
    for (const auto& cs : cases) {
        Station st;
        FakeSmtp smtp;
        FakeDialUp dial;
        st.comm.alarms().setSmtp(&smtp);
        st.comm.setDialUpBackend(&dial);
        mailSettings(st.comm, QStringLiteral("mail.example.jp"));
        EditInet(st.comm, [&](InternetSettings& s) { s.DialUpName = QStringLiteral("isp"); });
        cs.make(st);
        st.comm.alarms().SendAlarmMail(QStringLiteral("T"));
        ASSERT_TRUE(st.waitForMail());
        EXPECT_TRUE(smtp.sent.empty()) << cs.what;
        ASSERT_EQ(st.messages.shown.size(), 1u) << cs.what;
        EXPECT_TRUE(st.messages.shown[0].text.contains(cs.expected))
            << cs.what << " " << st.messages.shown[0].text.toStdString();
        EXPECT_EQ(st.messages.shown[0].buttons, MessageBoxService::Buttons::Ok);
        EXPECT_TRUE(dial.calls.isEmpty()) << cs.what; // the book is read before dialling
    }
}

TEST(AlarmMail, ARefusedRecipientCostsOnlyItsOwnMailAndTheDialUpIsHungUp)
{
    SmtpServer server(noDelay({QStringLiteral("--reject"), QStringLiteral("b@example.jp")}));
    ASSERT_TRUE(server.ready());
    Station st;
    SmtpControl smtp;
    FakeDialUp dial;
    st.comm.alarms().setSmtp(&smtp);
    st.comm.setDialUpBackend(&dial);
    mailSettings(st.comm, server.address());
    auto s = st.comm.inet().InternetSettings();
    s.DialUpName = QStringLiteral("isp");
    s.DialUpUser = QStringLiteral("user1");
    st.comm.inet().Commit(s);
    st.comm.dialUpLine().PauseMs = 10;
    ASSERT_TRUE(MakeMailXls(st.path("mail.xls"), {"a@example.jp|A", "b@example.jp|B", "c@example.jp|C"}));
    st.comm.alarms().SendAlarmMail(QStringLiteral("T"));
    ASSERT_TRUE(st.waitForMail());
    EXPECT_EQ(server.count(), 2); // a and c: the refusal of b stops nobody else's mail
    ASSERT_EQ(st.messages.shown.size(), 1u);
    const QString box = st.messages.shown[0].text;
    EXPECT_TRUE(box.contains(QStringLiteral("b@example.jp")) && box.contains(QStringLiteral("550")))
        << box.toStdString();
    EXPECT_FALSE(box.contains(QStringLiteral("c@example.jp")));
    QDeadlineTimer settled(5000);
    while (st.comm.dialUpLine().state() != DialUpLine::State::Down && !settled.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    EXPECT_EQ(dial.calls, QStringList({"dial isp user1", "hangup 40"}));
    EXPECT_EQ(st.comm.dialUpLine().leases(), 0);
}

TEST(AlarmMail, AServerThatIsDownIsReported)
{
    Station st;
    SmtpControl smtp;
    st.comm.alarms().setSmtp(&smtp);
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    const QString closed = QStringLiteral("127.0.0.1:%1").arg(probe.serverPort());
    probe.close();
    mailSettings(st.comm, closed);
    ASSERT_TRUE(MakeMailXls(st.path("mail.xls"), {"a@example.jp|A", "b@example.jp|B"}));
    st.comm.alarms().SendAlarmMail(QStringLiteral("T"));
    ASSERT_TRUE(st.waitForMail());
    EXPECT_EQ(st.messages.shown.size(), 1u); // one message, not one per row
}

TEST(AlarmMail, AnAlarmRaisedDuringAMailIsMailedAfterItAndTheCallerNeverWaits)
{
    Station st;
    // Holds the first send until the test lets it go, as a slow server would.
    struct Slow : FakeSmtp {
        std::atomic<bool> go{false};
        QString SmtpSend(const QString& a, const QString& b, const QString& c, const QString& d) override
        {
            while (!go)
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            return FakeSmtp::SmtpSend(a, b, c, d);
        }
    } smtp;
    st.comm.alarms().setSmtp(&smtp);
    mailSettings(st.comm, QStringLiteral("mail.example.jp"));
    ASSERT_TRUE(MakeMailXls(st.path("mail.xls"), {"a@example.jp|A"}));
    st.comm.alarms().SendAlarmMail(QStringLiteral("first")); // returns with the send still held
    st.comm.alarms().SendAlarmMail(QStringLiteral("second"));
    EXPECT_EQ(st.comm.alarms().mailsPending(), 2);
    smtp.go = true;
    ASSERT_TRUE(st.waitForMail());
    ASSERT_EQ(smtp.sent.size(), 2u);
    EXPECT_TRUE(smtp.sent[0].text.contains(QStringLiteral("\r\nfirst\r\n")));
    EXPECT_TRUE(smtp.sent[1].text.contains(QStringLiteral("\r\nsecond\r\n")));
}

TEST(AlarmMail, AFailureLeftOnScreenNeitherStacksNorHoldsLaterMail)
{
    Station st;
    FakeSmtp smtp;
    smtp.failAt = 0;
    st.comm.alarms().setSmtp(&smtp);
    st.messages.keepNoticesOpen = true; // nobody presses OK
    mailSettings(st.comm, QStringLiteral("mail.example.jp"));
    ASSERT_TRUE(MakeMailXls(st.path("mail.xls"), {"a@example.jp|A"}));
    for (int i = 0; i < 5; ++i)
        st.comm.alarms().SendAlarmMail(QStringLiteral("T%1").arg(i));
    ASSERT_TRUE(st.waitForMail());
    EXPECT_EQ(st.messages.shown.size(), 1u); // the same text is not stacked
    EXPECT_EQ(smtp.calls, 5);                // and every later alarm was still tried
}

TEST(AlarmMail, ClosingDuringASendToAServerThatNeverAnswersEndsAtOnce)
{
    QTcpServer silent; // accepts, never greets
    ASSERT_TRUE(silent.listen(QHostAddress::LocalHost, 0));
    Station st;
    SmtpControl smtp;
    st.comm.alarms().setSmtp(&smtp);
    mailSettings(st.comm, QStringLiteral("127.0.0.1:%1").arg(silent.serverPort()));
    ASSERT_TRUE(MakeMailXls(st.path("mail.xls"), {"a@example.jp|A"}));
    st.comm.alarms().SendAlarmMail(QStringLiteral("T"));
    st.comm.alarms().SendAlarmMail(QStringLiteral("U"));
    QDeadlineTimer connected(5000);
    while (!silent.hasPendingConnections() && !connected.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 20);
    ASSERT_TRUE(silent.hasPendingConnections());
    QElapsedTimer closing;
    closing.start();
    st.comm.alarms().StopMail();
    EXPECT_LT(closing.elapsed(), 1500);
    EXPECT_EQ(st.comm.alarms().mailsPending(), 0);
}

TEST(MailServer, SchemesOptIntoTls)
{
    EXPECT_EQ(Mail::serverUrl("mail.example.jp").url, QByteArray("smtp://mail.example.jp:25"));
    EXPECT_FALSE(Mail::serverUrl("mail.example.jp").requireTls);
    EXPECT_EQ(Mail::serverUrl(" mail.example.jp:2525 ").url, QByteArray("smtp://mail.example.jp:2525"));
    EXPECT_EQ(Mail::serverUrl("smtps://mail.example.jp").url, QByteArray("smtps://mail.example.jp:465"));
    EXPECT_EQ(Mail::serverUrl("smtp://mail.example.jp:587").url, QByteArray("smtp://mail.example.jp:587"));
    EXPECT_TRUE(Mail::serverUrl("smtp://mail.example.jp:587").requireTls);
    // a port that is no TCP port is dropped for the default, never passed on inside the host
    EXPECT_EQ(Mail::serverUrl("mail.example.jp:99999").url, QByteArray("smtp://mail.example.jp:25"));
    EXPECT_EQ(Mail::envelopeAddress("監視局 <station@example.jp>"), QStringLiteral("station@example.jp"));
}

// --- the abnormality notice ---

namespace {

struct Notice {
    Station st;
    FtpClient ftp;
    QTimer timFtp;
    Notice(const FtpServer& server)
    {
        auto s = st.comm.inet().InternetSettings();
        s.FTP = QStringLiteral("127.0.0.1:%1").arg(server.port());
        s.ID = QStringLiteral("ftpuser");
        s.PassWord = QStringLiteral("secret");
        s.RemoteDir = QStringLiteral("relay");
        st.comm.inet().Commit(s);
    }
    int16_t mark()
    {
        std::optional<int16_t> result;
        st.comm.alarms().PostAbnormalMark(ftp, timFtp, [&](int16_t r) { result = r; });
        QDeadlineTimer deadline(60000);
        while (!result && !deadline.hasExpired())
            QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 50);
        return result.value_or(-99);
    }
};

} // namespace

TEST(AbnormalityNotice, OnlyCamera3IsMarked)
{
    FtpServer server;
    ASSERT_TRUE(server.ready());
    QDir(server.root()).mkdir("cam3");
    Notice n(server);
    EditInet(n.st.comm, [&](InternetSettings& s) { s.Camera[2] = QStringLiteral("cam3"); });
    EXPECT_EQ(n.mark(), 0);
    EXPECT_EQ(server.count("STOR"), 1);
    EXPECT_EQ(server.file("cam3/IjyouFile.txt"), QByteArray("!!\r\n"));
    EXPECT_EQ(n.st.readBytes("IjyouFile.txt"), QByteArray("!!\r\n"));
    EXPECT_EQ(n.st.comm.inet().InternetSettings().RemoteDir, QStringLiteral("relay"));
}

TEST(AbnormalityNotice, OnlyTheLastUploadDecides)
{
    FtpServer server;
    ASSERT_TRUE(server.ready());
    QDir(server.root()).mkdir("good");
    Notice n(server);
    auto inet = n.st.comm.inet().InternetSettings();
    auto& cam = inet.Camera;
    cam[0] = QStringLiteral("missing");
    cam[1] = QStringLiteral("good");
    n.st.comm.inet().Commit(inet);
    EXPECT_EQ(n.mark(), 0); // the first failing does not stop the second
    EXPECT_EQ(server.file("good/IjyouFile.txt"), QByteArray("!!\r\n"));
    std::swap(cam[0], cam[1]);
    n.st.comm.inet().Commit(inet);
    EXPECT_EQ(n.mark(), 1);
    EXPECT_EQ(n.st.comm.inet().InternetSettings().RemoteDir, QStringLiteral("relay"));
}

TEST(AbnormalityNotice, WithoutTheMainWindowsControlsNothingIsSent)
{
    Station st;
    EditInet(st.comm, [&](InternetSettings& s) { s.Camera[0] = QStringLiteral("cam1"); });
    int16_t result = -99;
    st.comm.alarms().PostAbnormalMark([&](int16_t r) { result = r; });
    EXPECT_EQ(result, 1);
}

TEST(MailServer, WrittenWithASchemeTheMailGoesOverTls)
{
    QTemporaryDir certs;
    QProcess openssl;
    openssl.start("openssl", {"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes",
                              "-days", "1", "-subj", "/CN=127.0.0.1", "-addext", "subjectAltName=IP:127.0.0.1",
                              "-keyout", certs.filePath("key.pem"), "-out", certs.filePath("cert.pem")});
    ASSERT_TRUE(openssl.waitForFinished(30000) && openssl.exitCode() == 0);
    const QString cert = certs.filePath("cert.pem"), key = certs.filePath("key.pem");
    SmtpControl smtp;
    smtp.CaFile = cert;
    const QString text = QStringLiteral("To:A<a@example.jp>\r\nSubject:S\r\nFrom:s@example.jp\r\n\r\nbody");

    SmtpServer starttls(noDelay({"--starttls", cert, key}));
    ASSERT_TRUE(starttls.ready());
    EXPECT_EQ(smtp.SmtpSend("smtp://" + starttls.address(), "s@example.jp", "a@example.jp", text), QString());
    EXPECT_FALSE(
        smtp.SmtpSend(starttls.address(), "s@example.jp", "a@example.jp", text).isEmpty()); // plain is refused there
    EXPECT_EQ(starttls.count(), 1);

    SmtpServer implicit(noDelay({"--implicit", cert, key}));
    ASSERT_TRUE(implicit.ready());
    EXPECT_EQ(smtp.SmtpSend("smtps://" + implicit.address(), "s@example.jp", "a@example.jp", text), QString());
    EXPECT_EQ(implicit.count(), 1);

    SmtpServer plain(noDelay());
    ASSERT_TRUE(plain.ready());
    // asked for TLS, the mail is not sent in the clear
    EXPECT_FALSE(smtp.SmtpSend("smtp://" + plain.address(), "s@example.jp", "a@example.jp", text).isEmpty());
    EXPECT_EQ(plain.count(), 0);
    EXPECT_EQ(smtp.SmtpSend(plain.address(), "s@example.jp", "a@example.jp", text), QString());
    EXPECT_EQ(plain.count(), 1);
}

TEST(AddressBookReader, WorkbooksWithRandomBytesAfterTheirHeaderCostOnlyAMessage)
{
    Station st;
    ASSERT_TRUE(MakeMailXls(st.path("good.xls"), {"a@example.jp|N"}));
    const QByteArray good = st.readBytes("good.xls");
    std::mt19937 random(7);
    for (int i = 0; i < 20; ++i) {
        QByteArray bytes = good.left(512);
        for (int k = 0; k < 4096; ++k)
            bytes += char(random() & 0xff);
        st.writeBytes("mail.xls", bytes);
        const AddressBook book = ReadAddressBook(st.path("mail.xls"));
        EXPECT_FALSE(book.error.isEmpty()) << i; // read in its own process: never a crash here
    }
}

TEST(AddressBookReader, DateCellsAreReadAsDatesWhateverTheirFormat)
{
    Station st;
    ASSERT_TRUE(MakeMailXls(st.path("mail.xls"), {"a@example.jp|date:2020-01-02 03:04 yyyy\"年\"m\"月\"d\"日\"",
                                                  "b@example.jp|date:2020-01-02 03:04 yyyy/mm/dd hh:mm"}));
    const AddressBook book = ReadAddressBook(st.path("mail.xls"));
    ASSERT_TRUE(book.error.isEmpty()) << book.error.toStdString();
    ASSERT_EQ(book.rows.size(), 2u);
    EXPECT_EQ(book.rows[0].name, QStringLiteral("2020-01-02")); // never the serial number 43832.127…
    EXPECT_EQ(book.rows[1].name, QStringLiteral("2020-01-02 03:04:00"));
}
