// The web view's parts: its settings and their window, the pages' JSON against the readers the
// windows use, the feed's states reaching it without a broker, a start that cannot bind, HTTPS.

#include "history/AlarmHistory.h"
#include "settings/ComEdit.h"
#include "settings/ComEdit2.h"
#include "shared/DataFiles.h"
#include "Station.h"
#include "WindowDriver.h"
#include "settings/WebEdit.h"
#include "web/WebPages.h"
#include "web/WebServer.h"
#include "web/WebView.h"

#include <QCheckBox>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QTcpServer>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace {

QJsonObject json(const QByteArray& bytes)
{
    return QJsonDocument::fromJson(bytes).object();
}

WebSettings with(const QString& listen, bool password, bool cert)
{
    WebSettings s;
    s.Enabled = 1;
    s.Listen = listen;
    if (password)
        s.PassHash = WebInf::HashPassword(QStringLiteral("pw"), 1000);
    if (cert)
        s.CertFile = s.KeyFile = QStringLiteral("x.pem");
    return s;
}

} // namespace

TEST(WebInf, ListensBeyondLoopbackOnlyWithPasswordAndCertificate)
{
    EXPECT_EQ(WebInf::parseListen(QStringLiteral("[::1]:8080"))->port, 8080);
    for (const char* bad : {"127.0.0.1", "::1:8080", "host.example:80", "127.0.0.1:0", "127.0.0.1:65536", ":80"})
        EXPECT_FALSE(WebInf::parseListen(QString::fromLatin1(bad))) << bad;
    EXPECT_EQ(WebInf::checkSettings(with(QStringLiteral("127.0.0.1:8080"), false, false)), QString());
    EXPECT_EQ(WebInf::checkSettings(with(QStringLiteral("[::1]:8080"), true, false)), QString());
    EXPECT_TRUE(WebInf::checkSettings(with(QStringLiteral("0.0.0.0:8080"), false, true)).contains(u"パスワードがない"));
    EXPECT_TRUE(WebInf::checkSettings(with(QStringLiteral("192.0.2.1:8080"), true, false)).contains(u"証明書がない"));
    EXPECT_EQ(WebInf::checkSettings(with(QStringLiteral("0.0.0.0:8443"), true, true)), QString());
}

TEST(WebInf, PasswordsAreCheckedAgainstTheirHashOnly)
{
    const QString hash = WebInf::HashPassword(QStringLiteral("ひみつ pass"), 1000);
    EXPECT_TRUE(hash.startsWith(QStringLiteral("pbkdf2-sha256$1000$")));
    EXPECT_NE(hash, WebInf::HashPassword(QStringLiteral("ひみつ pass"), 1000)); // salted
    EXPECT_TRUE(WebInf::CheckPassword(hash, QStringLiteral("ひみつ pass").toUtf8()));
    EXPECT_FALSE(WebInf::CheckPassword(hash, "wrong"));
    QString tampered = hash;
    tampered[tampered.size() - 3] = tampered[tampered.size() - 3] == u'A' ? u'B' : u'A';
    EXPECT_FALSE(WebInf::CheckPassword(tampered, QStringLiteral("ひみつ pass").toUtf8()));
    for (const char* bad :
         {"", "pbkdf2-sha256$0$c2FsdHNhbHQ=$", "md5$1$a$b", "pbkdf2-sha256$99999999$c2FsdHNhbHQ=$AA=="})
        EXPECT_FALSE(WebInf::CheckPassword(QString::fromLatin1(bad), "")) << bad;
}

TEST(WebEdit, SavesTheHashNotThePasswordForTheOwnerOnly)
{
    Station st;
    {
        WebEdit w(st.dir.path(), st.messages);
        for (QLineEdit* e : w.findChildren<QLineEdit*>())
            EXPECT_FALSE(e->accessibleName().isEmpty()) << e->objectName().toStdString();
        control<QCheckBox>(w, "chkEnabled")->setChecked(true);
        setText(w, "txtListen", QStringLiteral("0.0.0.0:8080"));
        control<QCheckBox>(w, "chkNoPassWord")->setChecked(false);
        setText(w, "txtPassWord", QStringLiteral("hunter2"));
        click(w, "OKCmd"); // no certificate: refused, and why is said
        EXPECT_FALSE(w.saved());
        ASSERT_EQ(st.messages.shown.size(), 1u);
        EXPECT_TRUE(st.messages.shown[0].text.contains(u"証明書がない"));
        setText(w, "txtListen", QStringLiteral("127.0.0.1:8080"));
        click(w, "OKCmd");
        EXPECT_TRUE(w.saved());
    }
    const QByteArray file = st.readBytes(WebInf::FileName);
    EXPECT_FALSE(file.contains("hunter2"));
    EXPECT_TRUE(file.startsWith("Enabled=1\r\nListen=127.0.0.1:8080\r\nPassHash=pbkdf2-sha256$"));
    struct stat info {};
    ASSERT_EQ(::stat(QFile::encodeName(st.path(WebInf::FileName)).constData(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    WebInf inf(st.dir.path());
    ASSERT_TRUE(inf.load());
    EXPECT_TRUE(WebInf::CheckPassword(inf.settings.PassHash, "hunter2"));
    WebEdit again(st.dir.path(), st.messages); // an empty field keeps the password
    click(again, "OKCmd");
    ASSERT_TRUE(inf.load());
    EXPECT_TRUE(WebInf::CheckPassword(inf.settings.PassHash, "hunter2"));
}

TEST(WebEdit, BothCommunicationWindowsOpenIt)
{
    Station st;
    ComEdit a(st.comm);
    ComEdit2 b(st.comm);
    int opened = 0;
    a.showWebSettings = b.showWebSettings = [&](QWidget*) { ++opened; };
    click(a, "WebCmd");
    click(b, "WebCmd");
    EXPECT_EQ(opened, 2);
    EXPECT_EQ(control<QPushButton>(a, "WebCmd")->text(), QStringLiteral("Web設定"));
}

TEST(WebPages, AlarmsAreTheAlarmHistorysFilterNewestFirst)
{
    Station st;
    for (int i = 0; i < 6; ++i) { // every 10 hours, units 0 and 1 by turns
        st.comm.journal().Record(JournalEvent::Raised, i % 2, QStringLiteral("u%1").arg(i % 2));
        st.clock.advance(10 * 3600);
    }
    const QDateTime now = st.clock.now();
    const auto all = AlarmJournal::Read(st.comm.journal().path());
    for (int unit : {-1, 0, 1})
        for (int period = 0; period < 4; ++period) {
            const int hours = History::PeriodHours[size_t(period)];
            const auto want = History::Filter(all, unit, hours ? now.addSecs(-hours * 3600) : QDateTime());
            const QJsonArray got =
                json(WebPages::AlarmsJson(st.comm.journal().path(), unit, period, now))["entries"].toArray();
            ASSERT_EQ(got.size(), qsizetype(want.size())) << unit << ' ' << period;
            for (qsizetype i = 0; i < got.size(); ++i)
                EXPECT_EQ(got[i]["time"].toString(),
                          want[size_t(i)].time.toString(QStringLiteral("yyyy/MM/dd HH:mm:ss")));
        }
}

TEST(WebPages, TrendSendsAtMostTwoPointsAColumnWithTheLogsExtremes)
{
    Station st;
    const DataLog::Seconds now = DataLog::toSeconds(st.clock.now());
    QByteArray log;
    for (DataLog::Seconds t = now - 7200; t <= now; ++t) // RA0 climbs by one a second
        log += DataLog::fromSeconds(t).toString(QStringLiteral("yyyy/MM/dd HH:mm:ss")).toLatin1() + ", " +
               QByteArray::number(t - now + 7200) + ", 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 20\r\n";
    st.writeBytes(DataFiles::DataLogName(0), log);
    const QJsonObject t = json(WebPages::TrendJson(st.dir.path(), 0, 3600, 100, now));
    const QJsonArray buckets = t["buckets"].toArray();
    ASSERT_GT(buckets.size(), 50);
    EXPECT_LE(buckets.size(), 100);
    EXPECT_EQ(buckets.first()[1].toArray()[0].toInt(), 3601); // the hour's first line, not before
    EXPECT_EQ(buckets.last()[2].toArray()[0].toInt(), 7200);
    EXPECT_EQ(t["lines"].toInt(), 3600);
    // A named channel in its engineering unit: 0..7200 raw is 0..100 m.
    ChannelLine level{0, 0, QStringLiteral("水位"), QStringLiteral("m"), 0, 7200, 0, 100, 1, {}, {}};
    const QJsonObject e = json(WebPages::TrendJson(st.dir.path(), 0, 3600, 100, now, {level}));
    EXPECT_EQ(e["buckets"].toArray().last()[2].toArray()[0].toDouble(), 100.0);
    EXPECT_EQ(e["buckets"].toArray().first()[1].toArray()[0].toDouble(), 50.0); // 3601 raw, to one decimal
    EXPECT_EQ(e["captions"].toArray()[0].toObject()["caption"].toString(), QStringLiteral("水位(m)"));
}

namespace {
struct Heard : StateListener {
    std::vector<std::pair<int, QByteArray>> states;
    std::vector<bool> monitoring;
    void unitState(int unit, const QByteArray& j) override { states.emplace_back(unit, j); }
    void monitoringChanged(bool running) override { monitoring.push_back(running); }
};
} // namespace

TEST(WebView, UnitStatesReachItWithoutABroker)
{
    Station st;
    Heard heard;
    st.comm.mqtt().setListener(&heard);
    st.comm.mqtt().unitPolled(3, UnitLamp::Good);
    st.comm.mqtt().alarmEvent(3, AlarmEvent::Raised);
    st.comm.mqtt().monitoringStopped();
    ASSERT_EQ(heard.states.size(), 3u);
    EXPECT_EQ(json(heard.states[1].second)["alarm"].toString(), QStringLiteral("raised"));
    EXPECT_EQ(json(heard.states[2].second)["lamp"].toString(), QStringLiteral("stopped"));
    EXPECT_EQ(heard.monitoring, std::vector<bool>{false});
}

TEST(WebView, AnAddressInUseIsSaidAndJournalled)
{
    Station st;
    QTcpServer taken;
    ASSERT_TRUE(taken.listen(QHostAddress::LocalHost));
    st.writeBytes(WebInf::FileName, "Enabled=1\r\nListen=127.0.0.1:" + QByteArray::number(taken.serverPort()) + "\r\n");
    WebView web(st.comm);
    const Outcome outcome = web.start();
    EXPECT_FALSE(outcome);
    EXPECT_FALSE(web.serving());
    EXPECT_TRUE(web.fault().contains(QString::number(taken.serverPort())));
    const auto journal = AlarmJournal::Read(st.comm.journal().path());
    ASSERT_FALSE(journal.empty());
    EXPECT_EQ(journal.back().event, AlarmJournal::EventWord(JournalEvent::WebFailed));
    const quint16 port = taken.serverPort();
    taken.close(); // free now
    st.writeBytes(WebInf::FileName, "Enabled=1\r\nListen=127.0.0.1:" + QByteArray::number(port) + "\r\n");
    EXPECT_TRUE(web.start());
    EXPECT_TRUE(web.serving());
    EXPECT_TRUE(web.fault().isEmpty());
}

TEST(WebServer, UnderHttpsTheSessionCookieIsSecure)
{
    Station st;
    const auto run = [&](const QString& program, const QStringList& args) {
        QProcess p;
        p.start(program, args);
        p.waitForFinished(30000);
        return p.readAllStandardOutput();
    };
    run(QStringLiteral("openssl"), {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "1", "-subj",
                                    "/CN=localhost", "-keyout", st.path("key.pem"), "-out", st.path("cert.pem")});
    WebServerConfig config;
    config.listen = {QHostAddress(QHostAddress::LocalHost), 0};
    config.passHash = WebInf::HashPassword(QStringLiteral("pw"), 1000);
    config.cert = st.readBytes(QStringLiteral("cert.pem"));
    config.key = st.readBytes(QStringLiteral("key.pem"));
    WebServer server(config);
    ASSERT_EQ(server.start(), QString());
    const QString url = QStringLiteral("https://127.0.0.1:%1/login").arg(server.port());
    const QByteArray answer = run(QStringLiteral("curl"), {"-sk", "-i", "--data", "password=pw", url});
    EXPECT_TRUE(answer.startsWith("HTTP/1.1 303")) << answer.constData();
    EXPECT_TRUE(answer.contains("; HttpOnly; SameSite=Strict; Secure")) << answer.constData();
    EXPECT_TRUE(answer.contains("Strict-Transport-Security"));
    const QString plain = QStringLiteral("http://127.0.0.1:%1/login").arg(server.port());
    EXPECT_FALSE(run(QStringLiteral("curl"), {"-s", "-i", "-m", "5", plain}).startsWith("HTTP/1.1 200"));
}
