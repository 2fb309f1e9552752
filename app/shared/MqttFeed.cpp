// The units' states and alarm events as JSON for the broker.

#include "shared/MqttFeed.h"

#include "shared/ChannelTable.h"
#include "platform/Clock.h"
#include "platform/Conversions.h"
#include "outside/DeviceLink.h"
#include "outside/MqttPublisher.h"
#include "shared/SysInf.h"
#include "shared/TableWords.h"
#include "platform/TextFile.h"
#include "shared/UnitStates.h"

#include <QDateTime>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

constexpr int StateQos = 1;
constexpr int EventQos = 1;

QByteArray compact(const QJsonObject& o)
{
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

const char* lampWord(UnitLamp lamp)
{
    switch (lamp) {
    case UnitLamp::Good:
        return "good";
    case UnitLamp::Failed:
        return "failed";
    case UnitLamp::GivenUp:
        return "given_up";
    case UnitLamp::RelayStale:
        return "relay_stale";
    case UnitLamp::Stopped:
        return "stopped";
    }
    return "failed";
}

const char* alarmWord(int16_t flag)
{
    return flag == AlarmRaised ? "raised" : flag == AlarmAcknowledged ? "acknowledged" : "none";
}

const char* eventWord(AlarmEvent event)
{
    switch (event) {
    case AlarmEvent::Raised:
        return "raised";
    case AlarmEvent::Acknowledged:
        return "acknowledged";
    case AlarmEvent::Cleared:
        return "cleared";
    case AlarmEvent::GivenUp:
        return "given_up";
    case AlarmEvent::Answering:
        return "answering";
    }
    return "cleared";
}

} // namespace

MqttFeed::MqttFeed(QString workDir, const SysInf& sys, const UnitStates& units, const ChannelTable& channels,
                   const Clock& clock)
    : m_workDir(std::move(workDir))
    , m_sys(sys)
    , m_units(units)
    , m_channels(channels)
    , m_clock(clock)
{
}

MqttFeed::~MqttFeed() = default;

Outcome MqttFeed::start()
{
    stop();
    MqttInf inf(m_workDir);
    const Outcome loaded = inf.load();
    if (!loaded || !inf.enabled())
        return loaded.fault == Fault::NotLoaded ? Outcome{} : loaded;
    const auto& s = inf.settings;
    MqttEndpoint e = Endpoint(s, m_workDir);
    // Said now, while the window can tell; the client would only fail quietly on every attempt.
    if (e.tls && !e.caFile.isEmpty() && !TextFile::readBytes(e.caFile))
        return Failed(
            Fault::SettingsFile,
            QStringLiteral(
                "CA証明書ファイル %1 が読めません（通常のファイルではないか、大きすぎます）。MQTT は止めたままです")
                .arg(s.CaFile));
    const QString prefix = MqttInf::topicPrefix(s);
    e.statusTopic = prefix + QStringLiteral("/status");
    setPublisher(std::make_unique<MosquittoPublisher>(std::move(e)), prefix, s.Discovery == 1);
    return {};
}

MqttEndpoint MqttFeed::Endpoint(const MqttSettings& s, const QString& workDir)
{
    MqttEndpoint e;
    if (const auto broker = MqttInf::parseBroker(s.Broker)) {
        e.host = broker->host;
        e.port = broker->port;
        e.tls = broker->tls;
    }
    e.caFile = s.CaFile.isEmpty() ? QString() : QDir(workDir).filePath(s.CaFile);
    e.clientId = s.ClientId;
    e.user = s.User;
    e.password = s.PassWord;
    return e;
}

void MqttFeed::stop()
{
    m_publisher.reset();
}

void MqttFeed::setPublisher(std::unique_ptr<MqttPublisher> publisher, const QString& prefix, bool discovery)
{
    m_publisher = std::move(publisher);
    m_prefix = prefix;
    m_discovery = discovery;
    m_lamp.fill(std::nullopt);
    m_alarm.fill(AlarmClear);
    if (m_publisher)
        publishDiscovery(true);
}

void MqttFeed::refreshDiscovery()
{
    if (m_publisher)
        publishDiscovery(false);
}

QString MqttFeed::unitTopic(const QString& prefix, int unit)
{
    return prefix + QStringLiteral("/units/%1/state").arg(unit, 3, 10, QLatin1Char('0'));
}

QString MqttFeed::nowText() const
{
    // A tick's hundred results fall in one second: the text is made once for it.
    const QDateTime now = m_clock.now();
    const qint64 second = now.toSecsSinceEpoch();
    if (second != m_timeSecond || m_timeText.isEmpty()) {
        m_timeSecond = second;
        m_timeText = now.toOffsetFromUtc(now.offsetFromUtc()).toString(Qt::ISODate);
    }
    return m_timeText;
}

void MqttFeed::unitPolled(int unit, UnitLamp lamp)
{
    if (!listened() || unit < 0 || unit >= UnitSlots)
        return;
    unitPolled(unit, lamp, m_units.unitItem(ItemAlarmFlag, unit));
}

void MqttFeed::unitPolled(int unit, UnitLamp lamp, int16_t alarmFlag)
{
    if (!listened() || unit < 0 || unit >= UnitSlots)
        return;
    m_lamp[unit] = lamp;
    m_alarm[unit] = alarmFlag;
    publishState(unit);
}

void MqttFeed::alarmEvent(int unit, AlarmEvent event, const char* reason)
{
    if (!listened() || unit < 0 || unit >= UnitSlots)
        return;
    if (m_publisher)
        m_publisher->publish(m_prefix + QStringLiteral("/alarms"), alarmJson(unit, event, reason), EventQos, false);
    const int16_t flag = event == AlarmEvent::Raised         ? int16_t(AlarmRaised)
                         : event == AlarmEvent::Acknowledged ? int16_t(AlarmAcknowledged)
                         : event == AlarmEvent::Cleared      ? int16_t(AlarmClear)
                                                             : m_alarm[unit];
    // The retained state follows an alarm change at once, not only at the next poll.
    if (flag != m_alarm[unit]) {
        m_alarm[unit] = flag;
        if (m_lamp[unit])
            publishState(unit);
    }
}

void MqttFeed::monitoringStarted()
{
    if (m_listener)
        m_listener->monitoringChanged(true);
}

void MqttFeed::monitoringStopped()
{
    if (m_listener)
        m_listener->monitoringChanged(false);
    if (!listened())
        return;
    for (int unit = 0; unit < UnitSlots; ++unit)
        if (m_lamp[unit] && *m_lamp[unit] != UnitLamp::Stopped) {
            m_lamp[unit] = UnitLamp::Stopped;
            publishState(unit);
        }
}

void MqttFeed::publishState(int unit)
{
    const QByteArray json = stateJson(unit, *m_lamp[unit], m_alarm[unit]);
    if (m_publisher)
        m_publisher->publish(unitTopic(m_prefix, unit), json, StateQos, true);
    if (m_listener)
        m_listener->unitState(unit, json);
}

QByteArray MqttFeed::stateJson(int unit, UnitLamp lamp, int16_t alarmFlag) const
{
    const auto& s = m_units.values(unit);
    QJsonArray ra, rb;
    for (int c = 0; c < UnitMap::AnalogChannels; ++c)
        ra.append(m_sys.cell(unit, ColRA0 + c) == TableWord::Ain ? QJsonValue(s[c]) : QJsonValue(QJsonValue::Null));
    for (int p = 0; p < UnitMap::PortBPins; ++p)
        rb.append(m_sys.cell(unit, ColRB0 + p) == TableWord::Non ? QJsonValue(QJsonValue::Null)
                                                                 : QJsonValue(s[ItemRB0 + p] != 0 ? 1 : 0));
    // The channels the plant has named, in its words; a channel without readings has no value.
    QJsonArray values;
    for (const ChannelLine& l : m_channels.forUnit(unit)) {
        QJsonObject v{{QStringLiteral("channel"), ChannelTable::ChannelWord(l.channel)},
                      {QStringLiteral("name"), l.name}};
        const bool read = m_sys.cell(unit, ColRA0 + l.channel) != TableWord::Non;
        if (l.analogue()) {
            v.insert(QStringLiteral("value"), read ? QJsonValue(l.rounded(s[l.channel])) : QJsonValue());
            v.insert(QStringLiteral("unit"), l.unitText);
        } else {
            v.insert(QStringLiteral("value"),
                     read ? QJsonValue(l.levelText(s[ItemRB0 + l.channel - 4] != 0)) : QJsonValue());
        }
        values.append(v);
    }
    return compact({
        {QStringLiteral("unit"), unit},
        {QStringLiteral("name"), m_sys.cell(unit, ColName)},
        {QStringLiteral("time"), nowText()},
        {QStringLiteral("ra"), ra},
        {QStringLiteral("temperature_c"), qint64(Conv::RoundHalfEven(s[ItemTemperature] / UnitMap::DegreeFactor))},
        {QStringLiteral("temperature_raw"), s[ItemTemperature]},
        {QStringLiteral("rb"), rb},
        {QStringLiteral("values"), values},
        {QStringLiteral("lamp"), QLatin1String(lampWord(lamp))},
        // The item is -1 after a good poll and counts from 0 at the first failure.
        {QStringLiteral("failures"), std::max<int>(0, s[ItemFailureCount] + 1)},
        {QStringLiteral("alarm"), QLatin1String(alarmWord(alarmFlag))},
    });
}

QByteArray MqttFeed::alarmJson(int unit, AlarmEvent event, const char* reason) const
{
    const QString arm = m_sys.cell(unit, ColArm);
    QJsonObject o{
        {QStringLiteral("unit"), unit},
        {QStringLiteral("name"), m_sys.cell(unit, ColName)},
        {QStringLiteral("time"), nowText()},
        {QStringLiteral("event"), QLatin1String(eventWord(event))},
        {QStringLiteral("condition"), arm == TableWord::Non ? QString() : arm},
    };
    if (reason)
        o.insert(QStringLiteral("reason"), QLatin1String(reason));
    return compact(o);
}

namespace {

// Home Assistant's device class for a unit text, and the unit as it spells it; only units it
// lists for that class, since it refuses a sensor whose unit does not fit its class.
std::pair<QString, QString> deviceClassOf(const QString& unitText)
{
    static const QHash<QString, std::pair<QString, QString>> known = {
        {QStringLiteral("℃"), {QStringLiteral("temperature"), QStringLiteral("°C")}},
        {QStringLiteral("°C"), {QStringLiteral("temperature"), QStringLiteral("°C")}},
        {QStringLiteral("°F"), {QStringLiteral("temperature"), QStringLiteral("°F")}},
        {QStringLiteral("K"), {QStringLiteral("temperature"), QStringLiteral("K")}},
        {QStringLiteral("Pa"), {QStringLiteral("pressure"), QStringLiteral("Pa")}},
        {QStringLiteral("hPa"), {QStringLiteral("pressure"), QStringLiteral("hPa")}},
        {QStringLiteral("kPa"), {QStringLiteral("pressure"), QStringLiteral("kPa")}},
        {QStringLiteral("bar"), {QStringLiteral("pressure"), QStringLiteral("bar")}},
        {QStringLiteral("mbar"), {QStringLiteral("pressure"), QStringLiteral("mbar")}},
        {QStringLiteral("psi"), {QStringLiteral("pressure"), QStringLiteral("psi")}},
        {QStringLiteral("V"), {QStringLiteral("voltage"), QStringLiteral("V")}},
        {QStringLiteral("mV"), {QStringLiteral("voltage"), QStringLiteral("mV")}},
        {QStringLiteral("A"), {QStringLiteral("current"), QStringLiteral("A")}},
        {QStringLiteral("mA"), {QStringLiteral("current"), QStringLiteral("mA")}},
        {QStringLiteral("W"), {QStringLiteral("power"), QStringLiteral("W")}},
        {QStringLiteral("kW"), {QStringLiteral("power"), QStringLiteral("kW")}},
        {QStringLiteral("Hz"), {QStringLiteral("frequency"), QStringLiteral("Hz")}},
        {QStringLiteral("mm"), {QStringLiteral("distance"), QStringLiteral("mm")}},
        {QStringLiteral("cm"), {QStringLiteral("distance"), QStringLiteral("cm")}},
        {QStringLiteral("m"), {QStringLiteral("distance"), QStringLiteral("m")}},
        {QStringLiteral("m³/h"), {QStringLiteral("volume_flow_rate"), QStringLiteral("m³/h")}},
        {QStringLiteral("L/min"), {QStringLiteral("volume_flow_rate"), QStringLiteral("L/min")}},
    };
    return known.value(unitText, {QString(), unitText});
}

const QStringList FixedEntities = {QStringLiteral("temperature"), QStringLiteral("lamp"), QStringLiteral("alarm")};

QString configTopic(const QString& component, const QString& id, const QString& key)
{
    return QStringLiteral("homeassistant/%1/%2/%3/config").arg(component, id, key);
}

QString componentOf(const QString& key)
{
    return key == u"alarm" || key.startsWith(u"rb") ? QStringLiteral("binary_sensor") : QStringLiteral("sensor");
}

} // namespace

QString MqttFeed::discoveryId(int unit) const
{
    // Discovery ids take letters, digits, "_" and "-" only.
    QString node = m_prefix;
    for (QChar& c : node)
        if (!(c.isLetterOrNumber() && c.unicode() < 128) && c != u'-')
            c = u'_';
    return node + QStringLiteral("_%1").arg(unit, 3, 10, QLatin1Char('0'));
}

QStringList MqttFeed::possibleDiscoveryTopics() const
{
    QStringList keys = FixedEntities;
    for (int c = 0; c < ChannelTable::Channels; ++c)
        keys << ChannelTable::ChannelWord(c).toLower();
    QStringList out;
    for (int u = 0; u < UnitSlots; ++u)
        for (const QString& key : keys)
            out << configTopic(componentOf(key), discoveryId(u), key);
    return out;
}

QHash<QString, QByteArray> MqttFeed::discoveryConfigs() const
{
    QHash<QString, QByteArray> out;
    if (!m_discovery)
        return out;
    const QJsonObject station{{QStringLiteral("topic"), m_prefix + QStringLiteral("/status")}};
    for (int u = 0; u < std::min(UnitSlots, m_sys.unitCount()); ++u) {
        // Monitored units only: one set not to be polled has nothing to show.
        if (!m_sys.HoldsUnit(u) || m_sys.cell(u, ColControl) != TableWord::On)
            continue;
        const QString state = unitTopic(m_prefix, u);
        // Readings are unknown while the unit does not answer; its lamp and alarm say why.
        const QJsonArray unitUp{station, QJsonObject{{QStringLiteral("topic"), state},
                                                     {QStringLiteral("value_template"),
                                                      QStringLiteral("{{ 'online' if value_json.lamp == 'good' "
                                                                     "else 'offline' }}")}}};
        const QString id = discoveryId(u);
        auto add = [&](const QString& key, const QString& name, QJsonObject body, bool reading) {
            body.insert(QStringLiteral("name"), name);
            body.insert(QStringLiteral("unique_id"), id + u'_' + key);
            body.insert(QStringLiteral("state_topic"), state);
            body.insert(QStringLiteral("availability"), reading ? unitUp : QJsonArray{station});
            body.insert(QStringLiteral("availability_mode"), QStringLiteral("all"));
            body.insert(QStringLiteral("device"), QJsonObject{{QStringLiteral("identifiers"), QJsonArray{id}},
                                                              {QStringLiteral("name"), m_sys.cell(u, ColName)}});
            body.insert(QStringLiteral("origin"), QJsonObject{{QStringLiteral("name"), QStringLiteral("Talveron")}});
            out.insert(configTopic(componentOf(key), id, key), compact(body));
        };
        add(QStringLiteral("temperature"), QStringLiteral("temperature"),
            {{QStringLiteral("value_template"), QStringLiteral("{{ value_json.temperature_c }}")},
             {QStringLiteral("unit_of_measurement"), QStringLiteral("°C")},
             {QStringLiteral("device_class"), QStringLiteral("temperature")},
             {QStringLiteral("state_class"), QStringLiteral("measurement")}},
            true);
        add(QStringLiteral("lamp"), QStringLiteral("lamp"),
            {{QStringLiteral("value_template"), QStringLiteral("{{ value_json.lamp }}")}}, false);
        add(QStringLiteral("alarm"), QStringLiteral("alarm"),
            {{QStringLiteral("value_template"), QStringLiteral("{{ 'ON' if value_json.alarm != 'none' else 'OFF' }}")},
             {QStringLiteral("device_class"), QStringLiteral("problem")}},
            false);
        for (const ChannelLine& l : m_channels.forUnit(u)) {
            if (m_sys.cell(u, ColRA0 + l.channel) == TableWord::Non)
                continue; // no readings to show
            const QString word = ChannelTable::ChannelWord(l.channel);
            if (l.analogue()) {
                // "values" in brackets: after a dot it would be the mapping's method of that name.
                QJsonObject body{{QStringLiteral("value_template"),
                                  QStringLiteral("{{ (value_json['values'] | selectattr('channel', 'eq', '%1') | "
                                                 "first)['value'] }}")
                                      .arg(word)},
                                 {QStringLiteral("state_class"), QStringLiteral("measurement")}};
                const auto [deviceClass, unitText] = deviceClassOf(l.unitText);
                if (!unitText.isEmpty())
                    body.insert(QStringLiteral("unit_of_measurement"), unitText);
                if (!deviceClass.isEmpty())
                    body.insert(QStringLiteral("device_class"), deviceClass);
                body.insert(QStringLiteral("suggested_display_precision"), l.decimals);
                add(word.toLower(), l.name, body, true);
            } else {
                add(word.toLower(), l.name,
                    {{QStringLiteral("value_template"),
                      QStringLiteral("{{ 'ON' if value_json.rb[%1] == 1 else 'OFF' }}").arg(l.channel - 4)}},
                    true);
            }
        }
    }
    return out;
}

void MqttFeed::publishDiscovery(bool atStart)
{
    const QHash<QString, QByteArray> configs = discoveryConfigs();
    // Removed first, so a topic never shows a config that is about to go.
    QSet<QString> gone = m_announced;
    if (atStart && m_discovery)
        for (const QString& topic : possibleDiscoveryTopics())
            gone.insert(topic);
    for (const QString& topic : gone)
        if (!configs.contains(topic))
            m_publisher->publish(topic, QByteArray(), 1, true);
    m_announced.clear();
    for (auto it = configs.cbegin(); it != configs.cend(); ++it) {
        m_publisher->publish(it.key(), it.value(), 1, true);
        m_announced.insert(it.key());
    }
}

QString MqttFeed::LinkText(const MqttLinkState& state)
{
    return state.connected ? QStringLiteral("接続中") : QStringLiteral("未接続（%1）").arg(FaultText(state));
}

QString MqttFeed::FaultText(const MqttLinkState& state)
{
    QString why;
    switch (state.fault) {
    case MqttFault::None:
    case MqttFault::Connecting:
        why = QStringLiteral("接続を試みています");
        break;
    case MqttFault::NoAddress:
        why = QStringLiteral("ホスト名不明");
        break;
    case MqttFault::Refused:
        why = QStringLiteral("接続拒否");
        break;
    case MqttFault::Unreachable:
        why = QStringLiteral("ホストに届かない");
        break;
    case MqttFault::NoAnswer:
        why = QStringLiteral("応答なし");
        break;
    case MqttFault::BrokerRefused:
        // The MQTT 3.1.1 CONNACK return codes.
        switch (state.detail) {
        case 1:
            why = QStringLiteral("プロトコル版の不一致");
            break;
        case 2:
            why = QStringLiteral("クライアントID拒否");
            break;
        case 3:
            why = QStringLiteral("ブローカー利用不可");
            break;
        case 4:
            why = QStringLiteral("ユーザー名かパスワードの誤り");
            break;
        case 5:
            why = QStringLiteral("接続の許可なし");
            break;
        default:
            why = QStringLiteral("ブローカーの拒否 %1").arg(state.detail);
        }
        break;
    case MqttFault::Tls:
        why = QStringLiteral("TLS 失敗");
        break;
    case MqttFault::Lost:
        why = QStringLiteral("切断");
        break;
    case MqttFault::Other:
        why = QStringLiteral("エラー %1").arg(state.detail);
        break;
    }
    return why;
}
