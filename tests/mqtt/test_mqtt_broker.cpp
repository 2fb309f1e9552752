// The station against a real broker, read by a real subscriber.

#include "FakeLink.h"
#include "MqttFixture.h"
#include "outside/MqttPublisher.h"
#include "Rig.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <csignal>
#include <thread>
#include <gtest/gtest.h>

namespace {

const QString Prefix = QStringLiteral("test/st");

QJsonObject json(const QByteArray& body)
{
    return QJsonDocument::fromJson(body).object();
}

void writeMqttInf(const Station& st, int port, const QByteArray& more = {})
{
    st.writeBytes("MqttInf.ini", "Broker=mqtt://127.0.0.1:" + QByteArray::number(port) +
                                     "\r\nTopicPrefix=" + Prefix.toUtf8() + "\r\n" + more);
}

std::string unitTopic(int unit)
{
    return MqttFeed::unitTopic(Prefix, unit).toStdString();
}

MqttEndpoint endpoint(int port)
{
    MqttEndpoint e;
    e.host = QStringLiteral("127.0.0.1");
    e.port = port;
    e.statusTopic = Prefix + QStringLiteral("/status");
    // Short, so that a test sees several attempts (and a reconnect) in a fraction of a second.
    e.firstRetry = std::chrono::milliseconds(10);
    e.lastRetry = std::chrono::milliseconds(40);
    return e;
}

struct BrokerRig : Rig<FakeLink> {
    explicit BrokerRig(const QList<UnitRow>& rows)
    {
        files(rows);
        open();
    }
};

} // namespace

TEST(MqttBroker, EveryUnitsStateArrivesWithItsValuesAfterAPoll)
{
    Broker broker;
    ASSERT_TRUE(broker.start());
    BrokerRig rig({UnitRow{QStringLiteral("一号機")}, UnitRow{QStringLiteral("b")}, UnitRow{QStringLiteral("c")}});
    writeMqttInf(rig.st, broker.port);
    ASSERT_TRUE(rig.st.comm.mqtt().start());
    ASSERT_TRUE(rig.st.comm.mqtt().active());
    rig.link1.analog[0] = 100;
    rig.link1.analog[1] = -7;
    rig.link1.analog[UnitMap::TemperatureChannel] = 506;
    rig.link1.pins[0] = 1;
    rig.link1.pins[4] = 1;
    rig.start();
    Subscriber sub(broker.port, {Prefix.toStdString() + "/#"});
    ASSERT_TRUE(sub.waitFor([&] { return sub.latest().size() >= 4; }));
    const auto latest = sub.latest();
    EXPECT_EQ(latest.at(Prefix.toStdString() + "/status"), "online");
    for (int u = 0; u < 3; ++u) {
        const QJsonObject o = json(latest.at(unitTopic(u)));
        EXPECT_EQ(o["unit"].toInt(), u);
        EXPECT_EQ(o["name"].toString(), rig.st.comm.sys().cell(u, ColName));
        EXPECT_EQ(o["ra"].toArray(), QJsonArray({100, -7, QJsonValue(), QJsonValue()}));
        EXPECT_EQ(o["temperature_c"].toInt(), 250);
        EXPECT_EQ(o["rb"].toArray(), QJsonArray({1, 0, 0, 0, 1, 0, QJsonValue(), QJsonValue()}));
        EXPECT_EQ(o["lamp"].toString(), "good");
    }
    // Retained: a reader that subscribes only now gets every state and the status from the broker.
    // (A reader already subscribed gets them live, without the retain flag.)
    Subscriber late(broker.port, {Prefix.toStdString() + "/#"});
    ASSERT_TRUE(late.waitFor([&] { return late.latest().size() >= 4; }));
    for (const auto& m : late.messages()) {
        if (m.topic != Prefix.toStdString() + "/alarms") {
            EXPECT_TRUE(m.retained) << m.topic;
        }
    }
}

TEST(MqttBroker, AlarmRaiseAcknowledgeAndClearArriveInOrder)
{
    Broker broker;
    ASSERT_TRUE(broker.start());
    UnitRow row{QStringLiteral("a")};
    row.arm = QStringLiteral("Din:0:High");
    BrokerRig rig({row});
    writeMqttInf(rig.st, broker.port);
    Subscriber sub(broker.port, {Prefix.toStdString() + "/alarms"});
    ASSERT_TRUE(sub.waitSubscribed());
    ASSERT_TRUE(rig.st.comm.mqtt().start());
    rig.start();
    rig.link1.pins[0] = 1;
    rig.tick();
    rig.cycle().BeepResetClick();
    rig.link1.pins[0] = 0;
    rig.tick();
    ASSERT_TRUE(sub.waitFor([&] { return sub.messages().size() >= 3; }));
    QStringList events;
    for (const auto& m : sub.messages())
        events << json(m.payload)["event"].toString();
    EXPECT_EQ(events, (QStringList{"raised", "acknowledged", "cleared"}));
    EXPECT_EQ(json(sub.messages().front().payload)["condition"].toString(), row.arm);
}

TEST(MqttBroker, StatusGoesOfflineWhenTheStationIsKilled)
{
    Broker broker;
    ASSERT_TRUE(broker.start());
    Station st;
    TextFile::writeWhole(st.path("sysinf001.csv"), sysInfText({UnitRow{QStringLiteral("a")}}));
    writeMqttInf(st, broker.port);
    Subscriber sub(broker.port, {Prefix.toStdString() + "/status"});
    ASSERT_TRUE(sub.waitSubscribed());
    QProcess station;
    station.start(QStringLiteral(TALVERON_MQTT_STATION), {st.dir.path()});
    ASSERT_TRUE(station.waitForStarted());
    ASSERT_TRUE(sub.waitFor([&] { return !sub.on(Prefix.toStdString() + "/status").empty(); }));
    EXPECT_EQ(sub.on(Prefix.toStdString() + "/status").back(), "online");
    ::kill(pid_t(station.processId()), SIGKILL);
    station.waitForFinished();
    ASSERT_TRUE(sub.waitFor([&] { return sub.on(Prefix.toStdString() + "/status").back() == "offline"; }));
}

TEST(MqttBroker, ABrokerAwayHoldsNothingUpAndGetsEveryStateAgainWhenBack)
{
    Broker broker;
    ASSERT_TRUE(broker.start());
    BrokerRig rig({UnitRow{QStringLiteral("a")}, UnitRow{QStringLiteral("b")}, UnitRow{QStringLiteral("c")},
                   UnitRow{QStringLiteral("d")}});
    MqttEndpoint e = endpoint(broker.port);
    e.eventLimit = 5;
    auto owned = std::make_unique<MosquittoPublisher>(e);
    MosquittoPublisher& client = *owned;
    rig.st.comm.mqtt().setPublisher(std::move(owned), Prefix);
    rig.start();
    ASSERT_TRUE(waitUntil([&] { return client.counters().connected.load() && client.counters().queued == 0; }));

    broker.kill();
    ASSERT_TRUE(waitUntil([&] { return !client.counters().connected.load(); }));
    // The station goes on while the client tries again and again: every tick polls and logs.
    const int attemptsBefore = client.counters().attempts.load();
    QDeadlineTimer limit(15000);
    int ticks = 0;
    while (ticks < 5 || client.counters().attempts.load() < attemptsBefore + 3) {
        ASSERT_FALSE(limit.hasExpired()) << "the client stopped trying";
        rig.tick();
        ++ticks;
        for (int i = 0; i < 3; ++i)
            rig.st.comm.mqtt().alarmEvent(0, AlarmEvent::GivenUp); // more than the backlog keeps
        QThread::msleep(10);
    }
    for (int u = 0; u < 4; ++u)
        EXPECT_EQ(rig.st.readBytes(DataFiles::DataLogName(u)).count('\n'), ticks + 1)
            << "one line per tick, unit " << u;
    EXPECT_LE(client.counters().mostQueued.load(), 4 + e.eventLimit);
    EXPECT_GT(client.counters().lost.load(), 0);

    ASSERT_TRUE(broker.start()); // no persistence: the broker comes back empty
    ASSERT_TRUE(waitUntil([&] { return client.counters().connected.load(); }));
    {
        Subscriber sub(broker.port, {Prefix.toStdString() + "/units/#", Prefix.toStdString() + "/status"});
        ASSERT_TRUE(sub.waitFor([&] { return sub.latest().size() >= 5; }));
        for (int u = 0; u < 4; ++u)
            EXPECT_EQ(json(sub.latest().at(unitTopic(u)))["lamp"].toString(), "good");
        EXPECT_EQ(sub.latest().at(Prefix.toStdString() + "/status"), "online");
    }
    EXPECT_GE(client.counters().connects.load(), 2);

    // Away once more with no tick meanwhile: the states already sent are not waiting any more,
    // and still the empty broker gets every one of them again.
    broker.kill();
    ASSERT_TRUE(waitUntil([&] { return !client.counters().connected.load(); }));
    ASSERT_TRUE(broker.start());
    ASSERT_TRUE(waitUntil([&] { return client.counters().connects.load() >= 3; }));
    Subscriber again(broker.port, {Prefix.toStdString() + "/units/#"});
    ASSERT_TRUE(again.waitFor([&] { return again.latest().size() >= 4; }));
    for (int u = 0; u < 4; ++u)
        EXPECT_EQ(json(again.latest().at(unitTopic(u)))["lamp"].toString(), "good");
}

TEST(MqttBroker, TlsWithATestAuthorityAndAPasswordFile)
{
    Broker broker;
    auto run = [&](const QString& program, const QStringList& args) {
        QProcess p;
        p.setWorkingDirectory(broker.dir.path());
        p.setProcessChannelMode(QProcess::MergedChannels);
        p.start(program, args);
        return p.waitForFinished(30000) && p.exitCode() == 0;
    };
    const QString subj = QStringLiteral("-subj");
    ASSERT_TRUE(run("openssl", {"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes",
                                "-keyout", "ca.key", "-out", "ca.crt", "-days", "2", subj, "/CN=Test CA"}));
    ASSERT_TRUE(run("openssl", {"req", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes", "-keyout",
                                "server.key", "-out", "server.csr", subj, "/CN=127.0.0.1"}));
    QFile ext(broker.path("ext.cnf"));
    ASSERT_TRUE(ext.open(QIODevice::WriteOnly));
    ext.write("subjectAltName=IP:127.0.0.1\n");
    ext.close();
    ASSERT_TRUE(run("openssl", {"x509", "-req", "-in", "server.csr", "-CA", "ca.crt", "-CAkey", "ca.key",
                                "-CAcreateserial", "-out", "server.crt", "-days", "2", "-extfile", "ext.cnf"}));
    ASSERT_TRUE(run("mosquitto_passwd", {"-c", "-b", "passwd", "station", "s3cret"}));
    broker.extra =
        QStringLiteral("cafile %1\ncertfile %2\nkeyfile %3\npassword_file %4\nallow_anonymous false\n")
            .arg(broker.path("ca.crt"), broker.path("server.crt"), broker.path("server.key"), broker.path("passwd"));
    ASSERT_TRUE(broker.start());

    Station st;
    TextFile::writeWhole(st.path("sysinf001.csv"), sysInfText({UnitRow{QStringLiteral("a")}}));
    st.comm.sys().LoadSysInf();
    MqttInf inf(st.dir.path());
    inf.settings = {QStringLiteral("mqtts://127.0.0.1:%1").arg(broker.port),
                    broker.path("ca.crt"),
                    QString(),
                    QStringLiteral("station"),
                    QStringLiteral("s3cret"),
                    Prefix,
                    0};
    ASSERT_TRUE(inf.save(st.messages));
    ASSERT_TRUE(st.comm.mqtt().start());
    st.comm.mqtt().unitPolled(0, UnitLamp::Good);
    Subscriber sub(broker.port, {Prefix.toStdString() + "/#"}, {broker.path("ca.crt"), "station", "s3cret"});
    ASSERT_TRUE(sub.waitFor([&] { return sub.latest().count(unitTopic(0)) == 1; }));

    // A wrong password is refused, and the station keeps trying without a word to anyone.
    MqttEndpoint wrong = endpoint(broker.port);
    wrong.tls = true;
    wrong.caFile = broker.path("ca.crt");
    wrong.user = QStringLiteral("station");
    wrong.password = QStringLiteral("guess");
    MosquittoPublisher refused(wrong);
    ASSERT_TRUE(waitUntil([&] { return refused.counters().refused.load() >= 2; }));
    EXPECT_FALSE(refused.counters().connected.load());
    EXPECT_EQ(refused.linkState()->fault, MqttFault::BrokerRefused);
    EXPECT_TRUE(st.messages.shown.empty());
    // "接続テスト" says the same, and gets through TLS with the right password
    EXPECT_EQ(ProbeMqtt(wrong, std::chrono::seconds(5)).fault, MqttFault::BrokerRefused);
    wrong.password = QStringLiteral("s3cret");
    EXPECT_TRUE(ProbeMqtt(wrong, std::chrono::seconds(5)).connected);
}

TEST(MqttBroker, ABrokerThatNeverAnswersIsGivenUpWithinItsTimeOut)
{
    QTcpServer silent;
    ASSERT_TRUE(silent.listen(QHostAddress::LocalHost, 0));
    std::vector<QTcpSocket*> accepted;
    int closed = 0;
    QObject::connect(&silent, &QTcpServer::newConnection, [&] {
        while (QTcpSocket* s = silent.nextPendingConnection()) {
            accepted.push_back(s);
            QObject::connect(s, &QTcpSocket::disconnected, [&] { ++closed; });
        }
    });
    MqttEndpoint e = endpoint(silent.serverPort());
    e.connackTimeOut = std::chrono::milliseconds(100);
    MosquittoPublisher client(e);
    for (int i = 0; i < 50; ++i)
        client.publish(QStringLiteral("test/st/alarms"), "x", 1, false); // returns at once, queued
    ASSERT_TRUE(waitUntil([&] { return closed >= 1 && accepted.size() >= 2; }));
    EXPECT_GE(client.counters().givenUp.load(), 1);
    EXPECT_FALSE(client.counters().connected.load());
    EXPECT_EQ(client.linkState()->fault, MqttFault::NoAnswer);
    EXPECT_EQ(client.counters().queued.load(), 50);
}

TEST(MosquittoPublisher, ClosingDuringABurstNeverWaitsForTheNextAttempt)
{
    // An address that cannot be one: every attempt fails at once, and then the client waits two
    // seconds for the next one, a wait that only its wake-up ends early.
    MqttEndpoint e = endpoint(-1);
    e.firstRetry = e.lastRetry = std::chrono::seconds(2);
    for (int round = 0; round < 10; ++round) {
        auto client = std::make_unique<MosquittoPublisher>(e);
        ASSERT_TRUE(waitUntil([&] { return client->counters().attempts.load() >= 1; }));
        // Publishers outnumbering the cores, so the client's thread is often put aside mid-step.
        std::vector<std::thread> burst;
        for (int t = 0; t < 4; ++t)
            burst.emplace_back([&] {
                for (int i = 0; i < 1000; ++i)
                    client->publish(QStringLiteral("test/st/alarms"), "x", 0, false);
            });
        for (auto& t : burst)
            t.join();
        QElapsedTimer closing;
        closing.start();
        client.reset();
        ASSERT_LT(closing.elapsed(), 1000) << "round " << round;
    }
}
