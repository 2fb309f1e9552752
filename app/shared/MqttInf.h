#pragma once
// The MQTT settings and the file MqttInf.ini that stores them. A station without the file, or
// with an empty Broker, publishes nothing.

#include "shared/Outcome.h"

#include <QString>
#include <cstdint>
#include <optional>

struct MqttSettings {
    QString Broker; // mqtt://host:1883 or mqtts://host:8883
    QString CaFile; // empty: the system's certificates
    QString ClientId;
    QString User;
    QString PassWord;
    QString TopicPrefix; // empty: talveron/ and the host name
    int16_t Discovery = 0;
};

struct BrokerAddress {
    QString host;
    int port = 1883;
    bool tls = false;
};

class MessageBoxService;

class MqttInf {
public:
    explicit MqttInf(QString workDir);

    MqttSettings settings;
    // The file loaded and names a broker.
    bool enabled() const { return m_loaded && !settings.Broker.trimmed().isEmpty(); }

    // NotLoaded when there is no file; Failed with the line at fault when it cannot be used
    // (the settings are then empty: no MQTT).
    Outcome load();
    // Refuses settings checkSettings finds wrong; the file is created for the owner only. A file
    // that did not load is replaced only when the operator agrees, and kept as MqttInf.ini.bak.
    Outcome save(MessageBoxService& messages);

    // mqtt://host[:port] or mqtts://host[:port]; nothing for anything else.
    static std::optional<BrokerAddress> parseBroker(const QString& text);
    // What is wrong with the settings, in the operator's words; empty when nothing is.
    static QString checkSettings(const MqttSettings& s);
    // The prefix topics go under: the setting without its trailing "/", or talveron/<host name>.
    static QString topicPrefix(const MqttSettings& s);

private:
    QString m_workDir;
    bool m_loaded = false;
    bool m_unreadable = false;
};
