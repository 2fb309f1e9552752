// The MQTT parts without a broker: the backlog's bounds, the settings file, and what the
// station's polls and alarms hand to the publisher.

#include "FakeLink.h"
#include "shared/MqttFeed.h"
#include "outside/MqttPublisher.h"
#include "Rig.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpServer>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

MqttMessage state(const QString& topic, const char* body)
{
    return MqttMessage{topic, body, 1, true};
}
MqttMessage event(const char* body)
{
    return MqttMessage{QStringLiteral("p/alarms"), body, 1, false};
}

struct Recorded {
    std::vector<MqttMessage> messages;
    std::vector<MqttMessage> on(const QString& topic) const
    {
        std::vector<MqttMessage> out;
        for (const auto& m : messages)
            if (m.topic == topic)
                out.push_back(m);
        return out;
    }
};

class RecordingPublisher : public MqttPublisher {
public:
    explicit RecordingPublisher(Recorded& r) : m_r(r) {}
    void publish(const QString& topic, const QByteArray& payload, int qos, bool retain) override
    {
        m_r.messages.push_back({topic, payload, qos, retain});
    }

private:
    Recorded& m_r;
};

QJsonObject json(const QByteArray& body)
{
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(body, &error);
    EXPECT_EQ(error.error, QJsonParseError::NoError) << body.toStdString();
    return doc.object();
}

} // namespace

TEST(MqttBacklog, KeepsTheNewestStateOfEachTopicAndSendsAllAgainAfterAReconnect)
{
    MqttBacklog b(10);
    b.add(state("u/000", "a1"));
    b.add(state("u/001", "b1"));
    b.add(state("u/000", "a2"));
    EXPECT_EQ(b.size(), 2);
    EXPECT_EQ(b.take()->payload, "a2");
    EXPECT_EQ(b.take()->payload, "b1");
    EXPECT_FALSE(b.take());
    b.requeueRetained();
    EXPECT_EQ(b.size(), 2);
    b.add(state("u/001", "b2"));
    EXPECT_EQ(b.size(), 2) << "a state already waiting is replaced, not queued twice";
    QStringList got;
    while (auto m = b.take())
        got << QString::fromUtf8(m->payload);
    got.sort();
    EXPECT_EQ(got, (QStringList{"a2", "b2"}));
    EXPECT_EQ(b.lost(), 0);
    // An empty retained message (a removal) goes once: it is not sent again after a reconnect.
    b.add(state("u/001", ""));
    EXPECT_TRUE(b.take()->payload.isEmpty());
    b.requeueRetained();
    EXPECT_EQ(b.size(), 1);
}

TEST(MqttBacklog, EventsKeepTheirOrderUpToTheLimitThenAreCountedLost)
{
    MqttBacklog b(3, 2);
    for (const char* e : {"e1", "e2", "e3", "e4", "e5"})
        b.add(event(e));
    b.add(state("u/000", "s"));
    b.add(state("u/001", "s"));
    b.add(state("u/002", "s")); // over the topic limit
    EXPECT_EQ(b.lost(), 3);
    EXPECT_LE(b.mostQueued(), b.limit());
    EXPECT_EQ(b.take()->payload, "e1");
    // An event sent but not acknowledged when the link went goes first, and still counts.
    b.putBack({event("e1"), event("e0")});
    EXPECT_EQ(b.lost(), 4);
    EXPECT_EQ(b.take()->payload, "e1");
    EXPECT_EQ(b.take()->payload, "e2");
    EXPECT_EQ(b.take()->payload, "e3");
}

TEST(MqttInf, ReadsBrokerAddressesAndRefusesWhatCannotBeOne)
{
    auto a = MqttInf::parseBroker(QStringLiteral("mqtt://broker.local"));
    ASSERT_TRUE(a);
    EXPECT_EQ(a->port, 1883);
    EXPECT_FALSE(a->tls);
    a = MqttInf::parseBroker(QStringLiteral("mqtts://10.0.0.2:9883"));
    ASSERT_TRUE(a);
    EXPECT_EQ(a->port, 9883);
    EXPECT_TRUE(a->tls);
    EXPECT_EQ(MqttInf::parseBroker(QStringLiteral("mqtts://h"))->port, 8883);
    for (const char* bad : {"broker:1883", "http://h:1883", "mqtt://", "mqtt://h:0", "mqtt://h:70000", "mqtt://u:p@h",
                            "mqtt://h/x", "mqtt://h?x=1"})
        EXPECT_FALSE(MqttInf::parseBroker(QString::fromLatin1(bad))) << bad;
}

TEST(MqttInf, APrefixNoMessageCouldGoOutUnderIsRefused)
{
    MqttSettings s;
    for (const QString& bad : {QStringLiteral("a\tb"), QStringLiteral("a\x01"), QStringLiteral("$SYS/x"),
                               QStringLiteral("a/+"), QStringLiteral("a#"), QString(201, u'a'), QString(67, u'あ')})
        EXPECT_FALSE((s.TopicPrefix = bad, MqttInf::checkSettings(s)).isEmpty()) << bad.left(10).toStdString();
    for (const QString& good : {QString(), QString(200, u'a'), QStringLiteral("a\"b\\c"), QString(66, u'あ')})
        EXPECT_TRUE((s.TopicPrefix = good, MqttInf::checkSettings(s)).isEmpty()) << good.left(10).toStdString();
}

TEST(MqttInf, SavesForTheOwnerOnlyAndReadsBackWhatWasSaved)
{
    Station st;
    MqttInf inf(st.dir.path());
    EXPECT_EQ(inf.load().fault, Fault::NotLoaded);
    EXPECT_FALSE(inf.enabled());
    inf.settings = {QStringLiteral("mqtts://h:8883"),
                    QStringLiteral("/ca.pem"),
                    QStringLiteral("st1"),
                    QStringLiteral("user"),
                    QStringLiteral("s3cret=x"),
                    QStringLiteral("site/a/"),
                    1};
    ASSERT_TRUE(inf.save(st.messages));
    const QFileInfo file(st.path("MqttInf.ini"));
    EXPECT_EQ(file.permissions() & (QFile::ReadGroup | QFile::ReadOther | QFile::WriteGroup | QFile::WriteOther), 0);
    const QByteArray bytes = st.readBytes("MqttInf.ini");
    EXPECT_TRUE(bytes.startsWith("Broker=mqtts://h:8883\r\n")) << bytes.toStdString();
    EXPECT_FALSE(bytes.contains("s3cret")) << "the password is not stored as typed";
    MqttInf again(st.dir.path());
    ASSERT_TRUE(again.load());
    EXPECT_TRUE(again.enabled());
    EXPECT_EQ(again.settings.PassWord, QStringLiteral("s3cret=x"));
    EXPECT_EQ(again.settings.Discovery, 1);
    EXPECT_EQ(MqttInf::topicPrefix(again.settings), QStringLiteral("site/a"));
    EXPECT_TRUE(MqttInf::topicPrefix({}).startsWith(QStringLiteral("talveron/")));
}

TEST(MqttInf, AFileThatCannotBeUsedMeansNoMqttAndNamesNoPassword)
{
    Station st;
    st.writeBytes("MqttInf.ini", "Broker=mqtt://h\r\nPassWord=hunter2\r\nTopicPrefix=a/#\r\n");
    MqttInf inf(st.dir.path());
    const Outcome o = inf.load();
    EXPECT_EQ(o.fault, Fault::SettingsFile);
    EXPECT_FALSE(inf.enabled());
    EXPECT_FALSE(o.detail.contains(QStringLiteral("hunter2")));
    st.writeBytes("MqttInf.ini", "Broker=mqtt://h\r\nhunter2\r\n");
    const Outcome line = inf.load();
    EXPECT_EQ(line.fault, Fault::SettingsFile);
    EXPECT_FALSE(line.detail.contains(QStringLiteral("hunter2")));
    // A save over a file that did not load asks first; declined, the file stays as it was.
    st.messages.answers.push_back(MessageBoxService::Answer::Cancel);
    inf.settings.Broker = QStringLiteral("mqtt://other");
    EXPECT_EQ(inf.save(st.messages).fault, Fault::Cancelled);
    EXPECT_TRUE(st.readBytes("MqttInf.ini").contains("hunter2"));
}

TEST(MqttFeed, AStationWithoutTheFileOrWithoutABrokerPublishesNothing)
{
    Station st;
    EXPECT_TRUE(st.comm.mqtt().start());
    EXPECT_FALSE(st.comm.mqtt().active());
    st.writeBytes("MqttInf.ini", "Broker=\r\nClientId=x\r\n");
    EXPECT_TRUE(st.comm.mqtt().start());
    EXPECT_FALSE(st.comm.mqtt().active());
    st.comm.mqtt().unitPolled(0, UnitLamp::Good); // nothing to do, nothing to crash
    st.comm.mqtt().alarmEvent(0, AlarmEvent::Raised);
    EXPECT_TRUE(st.messages.shown.empty());
}

TEST(MqttFeed, ACertificateFileThatIsNotARegularFileNeitherHoldsNorStartsTheClient)
{
    Station st;
    ASSERT_EQ(::mkfifo(QFile::encodeName(st.dir.filePath("ca.pem")).constData(), 0600), 0);
    st.writeBytes("MqttInf.ini", "Broker=mqtts://127.0.0.1:1\r\nCaFile=ca.pem\r\n");
    ::alarm(10); // a hang ends the test
    EXPECT_EQ(st.comm.mqtt().start().fault, Fault::SettingsFile);
    MqttEndpoint e;
    e.host = QStringLiteral("127.0.0.1");
    e.port = 1;
    e.tls = true;
    e.caFile = st.dir.filePath("ca.pem");
    {
        MosquittoPublisher client(e);
        std::this_thread::sleep_for(std::chrono::milliseconds(100)); // its thread tries, and must not open it
    }
    ::alarm(0);
}

struct FeedRig : Rig<FakeLink> {
    Recorded sent;
    explicit FeedRig(const QList<UnitRow>& rows)
    {
        files(rows);
        open();
        st.comm.mqtt().setPublisher(std::make_unique<RecordingPublisher>(sent), QStringLiteral("p"));
    }
    QJsonObject lastState(int unit)
    {
        const auto all = sent.on(MqttFeed::unitTopic(QStringLiteral("p"), unit));
        return all.empty() ? QJsonObject() : json(all.back().payload);
    }
    QStringList events()
    {
        QStringList out;
        for (const auto& m : sent.on(QStringLiteral("p/alarms")))
            out << json(m.payload).value(QStringLiteral("event")).toString();
        return out;
    }
};

namespace {

ChannelLine line(int channel, const char* name, const char* unit = "", const char* on = "", const char* off = "")
{
    ChannelLine l;
    l.channel = channel;
    l.name = QString::fromUtf8(name);
    l.unitText = QString::fromUtf8(unit);
    l.rawHigh = 1000;
    l.engHigh = 10;
    l.decimals = 2;
    l.onText = QString::fromUtf8(on);
    l.offText = QString::fromUtf8(off);
    return l;
}

} // namespace

TEST(MqttFeed, AGoodPollPublishesTheUnitsValuesRetained)
{
    UnitRow row{QStringLiteral("ポンプ\"1\"")};
    row.pins = QStringLiteral("Ain,non,Ain,non,Din,Din,Dout,non,non,non,non,Din");
    FeedRig rig({row});
    // Scaled for people beside the raw readings; RA1 is not read.
    rig.st.comm.channels().setUnit(
        0, {line(0, "水位", "m"), line(1, "予備"), line(4, "ポンプ1", "", "運転", "停止"), line(6, "弁")});
    rig.start();
    UnitReading r;
    r.items[0] = 120;
    r.items[2] = -5;
    r.items[ItemTemperature] = 506;
    r.items[ItemRB0] = 1;
    r.items[ItemRB0 + 2] = 0;
    r.items[ItemRB0 + 7] = 3;
    r.ok = true;
    ASSERT_TRUE(rig.cycle().ApplyReading(0, r));
    const auto states = rig.sent.on(QStringLiteral("p/units/000/state"));
    ASSERT_FALSE(states.empty());
    EXPECT_TRUE(states.back().retain);
    EXPECT_EQ(states.back().qos, 1);
    const QJsonObject o = json(states.back().payload);
    EXPECT_EQ(o.keys(), (QStringList{"alarm", "failures", "lamp", "name", "ra", "rb", "temperature_c",
                                     "temperature_raw", "time", "unit", "values"}));
    EXPECT_EQ(o["values"].toArray(),
              QJsonArray({QJsonObject{{"channel", "RA0"}, {"name", "水位"}, {"value", 1.2}, {"unit", "m"}},
                          QJsonObject{{"channel", "RA1"}, {"name", "予備"}, {"value", QJsonValue()}, {"unit", ""}},
                          QJsonObject{{"channel", "RB0"}, {"name", "ポンプ1"}, {"value", "運転"}},
                          QJsonObject{{"channel", "RB2"}, {"name", "弁"}, {"value", "OFF"}}}));
    EXPECT_EQ(o["unit"].toInt(), 0);
    EXPECT_EQ(o["name"].toString(), row.name);
    EXPECT_EQ(o["ra"].toArray(), QJsonArray({120, QJsonValue(), -5, QJsonValue()}));
    EXPECT_EQ(o["temperature_raw"].toInt(), 506);
    EXPECT_EQ(o["temperature_c"].toInt(), 250);
    EXPECT_EQ(o["rb"].toArray(), QJsonArray({1, 0, 0, QJsonValue(), QJsonValue(), QJsonValue(), QJsonValue(), 1}));
    EXPECT_EQ(o["lamp"].toString(), "good");
    EXPECT_EQ(o["failures"].toInt(), 0);
    EXPECT_EQ(o["alarm"].toString(), "none");
    const QDateTime t = QDateTime::fromString(o["time"].toString(), Qt::ISODate);
    EXPECT_EQ(t, rig.st.clock.now());
    EXPECT_GE(o["time"].toString().size(), 20) << "with its offset";
}

TEST(MqttFeed, FailuresCountUpToGivenUpAndAnAnswerAfterThatIsAnEvent)
{
    FeedRig rig({UnitRow{QStringLiteral("a")}});
    rig.start();
    UnitReading bad;
    // Three retries allowed: the fifth failure in a row gives up.
    for (int i = 1; i <= 5; ++i) {
        rig.cycle().ApplyReading(0, bad);
        EXPECT_EQ(rig.lastState(0)["failures"].toInt(), i);
        EXPECT_EQ(rig.lastState(0)["lamp"].toString(), i <= 4 ? "failed" : "given_up") << i;
    }
    rig.cycle().ApplyReading(0, bad);
    UnitReading good;
    good.ok = true;
    rig.cycle().ApplyReading(0, good);
    EXPECT_EQ(rig.lastState(0)["lamp"].toString(), "good");
    EXPECT_EQ(rig.events(), (QStringList{"given_up", "answering"})) << "each once";
}

TEST(MqttFeed, AlarmsGoOutInOrderAndTheStateFollowsThem)
{
    UnitRow row{QStringLiteral("a")};
    row.arm = QStringLiteral("Din:0:High");
    FeedRig rig({row, UnitRow{QStringLiteral("b")}});
    rig.start();
    UnitReading r;
    r.ok = true;
    r.items[ItemRB0] = 1;
    rig.cycle().ApplyReading(0, r);
    EXPECT_EQ(rig.lastState(0)["alarm"].toString(), "raised");
    rig.cycle().BeepResetClick();
    EXPECT_EQ(rig.lastState(0)["alarm"].toString(), "acknowledged");
    r.items[ItemRB0] = 0;
    rig.cycle().ApplyReading(0, r);
    EXPECT_EQ(rig.lastState(0)["alarm"].toString(), "none");
    rig.cycle().ApplyReading(0, UnitReading{{}, true, {}});
    r.items[ItemRB0] = 1;
    rig.cycle().ApplyReading(0, r);
    rig.button("Command2_0")->click(); // stopping ends the alarm standing
    EXPECT_EQ(rig.events(), (QStringList{"raised", "acknowledged", "cleared", "raised", "cleared"}));
    const auto first = json(rig.sent.on(QStringLiteral("p/alarms")).front().payload);
    EXPECT_EQ(first["condition"].toString(), row.arm);
    EXPECT_EQ(first["name"].toString(), "a");
    EXPECT_FALSE(rig.sent.on(QStringLiteral("p/alarms")).front().retain);
    for (const auto& m : rig.sent.on(MqttFeed::unitTopic(QStringLiteral("p"), 1)))
        EXPECT_EQ(json(m.payload)["alarm"].toString(), "none") << "unit b has no alarm of its own";
}

TEST(MqttFeed, DiscoveryPayloadsKeepToHomeAssistantsSchemaAndWhatGoesIsRemoved)
{
    Station st;
    UnitRow away{QStringLiteral("c")};
    away.control = QStringLiteral("Off"); // registered but not monitored
    TextFile::writeWhole(st.path("sysinf001.csv"),
                         sysInfText({UnitRow{QStringLiteral("a")}, UnitRow{QStringLiteral("b")}, away}));
    st.comm.sys().LoadSysInf();
    // RA2 is not read (non): its line has nothing to announce.
    st.comm.channels().setUnit(0, {line(0, "水位", "m"), line(1, "圧力", "kPa"), line(2, "予備", "V"),
                                   line(4, "ポンプ1", "", "運転", "停止")});
    st.comm.channels().setUnit(1, {line(0, "室温", "℃"), line(1, "流量", "L/h")});
    Recorded sent;
    st.comm.mqtt().setPublisher(std::make_unique<RecordingPublisher>(sent), QStringLiteral("site/x"), true);

    // The options of Home Assistant's MQTT sensor and binary_sensor as its documentation lists them.
    const QSet<QString> common = {"name",           "unique_id",    "state_topic",
                                  "value_template", "availability", "availability_mode",
                                  "device",         "origin",       "device_class"};
    const QSet<QString> sensorOnly = {"unit_of_measurement", "state_class", "suggested_display_precision"};
    struct Case {
        const char* topic;
        const char* name;
        const char* deviceClass;
        const char* unit;
        bool unitAvailability;
    };
    const Case cases[] = {
        {"sensor/site_x_000/temperature", "temperature", "temperature", "°C", true},
        {"sensor/site_x_000/lamp", "lamp", "", "", false},
        {"binary_sensor/site_x_000/alarm", "alarm", "problem", "", false},
        {"sensor/site_x_000/ra0", "水位", "distance", "m", true},
        {"sensor/site_x_000/ra1", "圧力", "pressure", "kPa", true},
        {"binary_sensor/site_x_000/rb0", "ポンプ1", "", "", true},
        {"sensor/site_x_001/temperature", "temperature", "temperature", "°C", true},
        {"sensor/site_x_001/lamp", "lamp", "", "", false},
        {"binary_sensor/site_x_001/alarm", "alarm", "problem", "", false},
        {"sensor/site_x_001/ra0", "室温", "temperature", "°C", true}, // ℃ as Home Assistant spells it
        {"sensor/site_x_001/ra1", "流量", "", "L/h", true},           // no class it would accept
    };
    int announced = 0;
    for (const auto& m : sent.messages)
        announced += m.payload.isEmpty() ? 0 : 1;
    EXPECT_EQ(announced, int(std::size(cases)));
    for (const Case& c : cases) {
        const QString topic = QStringLiteral("homeassistant/%1/config").arg(QString::fromUtf8(c.topic));
        const auto got = sent.on(topic);
        ASSERT_EQ(got.size(), 1u) << c.topic;
        EXPECT_TRUE(got[0].retain);
        const QJsonObject o = json(got[0].payload);
        const bool sensor = topic.contains(QStringLiteral("/sensor/"));
        for (const QString& key : o.keys())
            EXPECT_TRUE(common.contains(key) || (sensor && sensorOnly.contains(key)))
                << c.topic << " " << key.toStdString();
        EXPECT_EQ(o["name"].toString(), QString::fromUtf8(c.name)) << "without the device's name";
        EXPECT_EQ(o["device_class"].toString(), QString::fromUtf8(c.deviceClass)) << c.topic;
        EXPECT_EQ(o["unit_of_measurement"].toString(), QString::fromUtf8(c.unit)) << c.topic;
        EXPECT_EQ(o["state_class"].toString(), sensor && *c.unit ? "measurement" : "") << c.topic;
        EXPECT_EQ(o["unique_id"].toString(), topic.section(u'/', 2, 2) + u'_' + topic.section(u'/', 3, 3));
        EXPECT_EQ(o["state_topic"].toString(),
                  MqttFeed::unitTopic("site/x", topic.section(u'/', 2, 2).right(3).toInt()));
        const QJsonArray availability = o["availability"].toArray();
        ASSERT_EQ(availability.size(), c.unitAvailability ? 2 : 1) << c.topic;
        EXPECT_EQ(availability[0].toObject()["topic"].toString(), QStringLiteral("site/x/status"));
        EXPECT_EQ(o["availability_mode"].toString(), QStringLiteral("all"));
        EXPECT_FALSE(o["device"].toObject()["name"].toString().isEmpty());
    }
    // What a previous run may have left is emptied: the unit not monitored, channels without a line.
    for (const char* gone :
         {"sensor/site_x_002/temperature", "binary_sensor/site_x_000/rb1", "sensor/site_x_000/ra2"}) {
        const auto got = sent.on(QStringLiteral("homeassistant/%1/config").arg(QString::fromUtf8(gone)));
        ASSERT_EQ(got.size(), 1u) << gone;
        EXPECT_TRUE(got[0].payload.isEmpty() && got[0].retain) << gone;
    }

    // A line deleted goes; discovery turned off takes everything announced away.
    sent.messages.clear();
    st.comm.channels().setUnit(0, {line(0, "水位", "m")});
    st.comm.mqtt().refreshDiscovery();
    EXPECT_TRUE(sent.on("homeassistant/sensor/site_x_000/ra1/config").at(0).payload.isEmpty());
    EXPECT_FALSE(sent.on("homeassistant/sensor/site_x_000/ra0/config").at(0).payload.isEmpty());
    Recorded off;
    st.comm.mqtt().setPublisher(std::make_unique<RecordingPublisher>(off), QStringLiteral("site/x"), false);
    EXPECT_EQ(off.messages.size(), std::size(cases) - 2);
    for (const auto& m : off.messages)
        EXPECT_TRUE(m.payload.isEmpty() && m.topic.startsWith("homeassistant/")) << m.topic.toStdString();

    // Whatever the prefix and the names hold, every payload stays JSON.
    Recorded odd;
    EditSys(st.comm, [&](SysInf::Content& t) { t.DeviceTable[0][ColName] = QStringLiteral("\"a\\\x01"); });
    st.comm.mqtt().setPublisher(std::make_unique<RecordingPublisher>(odd), QStringLiteral("a\"b\\c"), true);
    st.comm.mqtt().unitPolled(0, UnitLamp::Good);
    st.comm.mqtt().alarmEvent(0, AlarmEvent::Raised);
    for (const auto& m : odd.messages) {
        if (m.payload.isEmpty())
            continue;
        QJsonParseError error{};
        const QJsonObject o = QJsonDocument::fromJson(m.payload, &error).object();
        EXPECT_EQ(error.error, QJsonParseError::NoError) << m.payload.toStdString();
        if (!o.contains(QStringLiteral("device"))) {
            EXPECT_EQ(o["name"].toString(), QStringLiteral("\"a\\\x01"));
        } else if (m.topic.contains(QStringLiteral("_000/"))) {
            EXPECT_EQ(o["device"].toObject()["name"].toString(), QStringLiteral("\"a\\\x01"));
        }
    }
}

// "接続テスト" ends within its limit against a server that takes the connection and says nothing,
// and tells that from nothing listening at all.
TEST(MqttProbe, EndsWithinItsLimitAndSaysWhy)
{
    QTcpServer silent;
    ASSERT_TRUE(silent.listen(QHostAddress::LocalHost));
    MqttEndpoint e;
    e.host = QStringLiteral("127.0.0.1");
    e.port = silent.serverPort();
    QElapsedTimer took;
    took.start();
    const MqttLinkState quiet = ProbeMqtt(e, std::chrono::milliseconds(300));
    EXPECT_LT(took.elapsed(), 2000);
    EXPECT_FALSE(quiet.connected);
    EXPECT_EQ(quiet.fault, MqttFault::NoAnswer);
    silent.close();
    const MqttLinkState none = ProbeMqtt(e, std::chrono::milliseconds(2000));
    EXPECT_EQ(none.fault, MqttFault::Refused) << MqttFeed::LinkText(none).toStdString();
}
