#pragma once
// What the station tells an MQTT broker: each unit's state after each poll result, its alarm
// events, and whether the station is online. The station's work calls in once per outcome; the
// feed copies what it needs on the calling thread and hands a finished message to the
// publisher, whose own thread does the network. Without a publisher every call returns at once.

#include "shared/StationSize.h"
#include "shared/MqttInf.h"
#include "outside/MqttPublisher.h"
#include "shared/Outcome.h"

#include <QByteArray>
#include <QHash>
#include <QSet>
#include <QString>
#include <array>
#include <cstdint>
#include <memory>
#include <optional>

class ChannelTable;
class Clock;
class SysInf;
class UnitStates;

// The lamp a poll result leaves: answered, failed, failed too often, or relayed data too old;
// and the state of every unit once monitoring has stopped.
enum class UnitLamp { Good, Failed, GivenUp, RelayStale, Stopped };
enum class AlarmEvent { Raised, Acknowledged, Cleared, GivenUp, Answering };

// Another reader of the same unit states (the web view), told on the UI thread.
class StateListener {
public:
    virtual ~StateListener() = default;
    virtual void unitState(int unit, const QByteArray& json) = 0;
    virtual void monitoringChanged(bool running) = 0;
};

class MqttFeed {
public:
    MqttFeed(QString workDir, const SysInf& sys, const UnitStates& units, const ChannelTable& channels,
             const Clock& clock);
    ~MqttFeed();
    MqttFeed(const MqttFeed&) = delete;
    MqttFeed& operator=(const MqttFeed&) = delete;

    // Reads MqttInf.ini and, when it names a broker, connects (again). A fault of the file
    // leaves the station without MQTT and is returned for the window to show.
    Outcome start();
    void stop();
    // Puts a given client behind the feed (tests, the benchmark); null: no MQTT.
    void setPublisher(std::unique_ptr<MqttPublisher> publisher, const QString& prefix, bool discovery = false);
    bool active() const { return m_publisher != nullptr; }
    // The states also go to listener (null: to no one), with or without a broker.
    void setListener(StateListener* listener) { m_listener = listener; }
    MqttPublisher* publisher() const { return m_publisher.get(); }
    const QString& prefix() const { return m_prefix; }
    // How the broker's connection stands; nothing while MQTT is off. Read without waiting.
    std::optional<MqttLinkState> linkState() const { return m_publisher ? m_publisher->linkState() : std::nullopt; }
    // Where and as whom the settings connect (a broker they name, checked before).
    static MqttEndpoint Endpoint(const MqttSettings& s, const QString& workDir);
    // "接続中", or "未接続" with the reason, as the operator reads it.
    static QString LinkText(const MqttLinkState& state);
    // Why a link is not up, in the operator's words.
    static QString FaultText(const MqttLinkState& state);

    // A poll result of the unit; the alarm flag is the main window's (or the slot's own).
    void unitPolled(int unit, UnitLamp lamp);
    void unitPolled(int unit, UnitLamp lamp, int16_t alarmFlag);
    // reason, when given, says why an event came other than from the unit ("stopped").
    void alarmEvent(int unit, AlarmEvent event, const char* reason = nullptr);
    // Monitoring stopped: every unit's retained state says so until its next poll.
    void monitoringStopped();
    void monitoringStarted();
    // The device table or the channel table changed: Home Assistant is told what there is now,
    // and what went is removed.
    void refreshDiscovery();

    // The message bodies, for the tests.
    QByteArray stateJson(int unit, UnitLamp lamp, int16_t alarmFlag) const;
    QByteArray alarmJson(int unit, AlarmEvent event, const char* reason = nullptr) const;
    static QString unitTopic(const QString& prefix, int unit);
    // Home Assistant's config topics and bodies for the units monitored now, by topic.
    QHash<QString, QByteArray> discoveryConfigs() const;
    // Every config topic the station could have announced under this prefix.
    QStringList possibleDiscoveryTopics() const;

private:
    bool listened() const { return m_publisher || m_listener; }
    void publishState(int unit);
    // Announces what discoveryConfigs() holds and empties every other topic that has, or may
    // have, a config of ours: all possible ones at the start (a previous run may have left
    // them), those announced before afterwards.
    void publishDiscovery(bool atStart);
    QString nowText() const;
    // "<prefix as an id>_NNN": a unit's device and the start of its entities' ids.
    QString discoveryId(int unit) const;

    QString m_workDir;
    const SysInf& m_sys;
    const UnitStates& m_units;
    const ChannelTable& m_channels;
    const Clock& m_clock;
    std::unique_ptr<MqttPublisher> m_publisher;
    StateListener* m_listener = nullptr;
    QString m_prefix;
    bool m_discovery = false;
    QSet<QString> m_announced; // config topics sent with a body
    std::array<std::optional<UnitLamp>, UnitSlots> m_lamp{};
    std::array<int16_t, UnitSlots> m_alarm{};
    mutable qint64 m_timeSecond = 0;
    mutable QString m_timeText;
};
