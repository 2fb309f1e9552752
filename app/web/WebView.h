#pragma once
// The station's side of the web view, on the UI thread: reads WebInf.ini, runs the server while
// it is enabled, and hands it what the pages show. Unit states come from the MQTT feed as they
// happen; the list of units, the mode and the time are looked at twice a second and handed over
// when they changed. Nothing here waits on a client.

#include "shared/MqttFeed.h"
#include "shared/Outcome.h"
#include "web/WebServer.h"

#include <QObject>
#include <QTimer>
#include <functional>
#include <memory>

class MontComm1;

class WebView : public QObject, public StateListener {
    Q_OBJECT
public:
    static constexpr int LookMs = 500;
    // States that come within this long of each other go over together: a tick's hundred poll
    // results wake each stream once, not a hundred times.
    static constexpr int HandMs = 20;

    explicit WebView(MontComm1& comm);
    ~WebView() override;

    // Reads the settings and (re)starts the server; off when they say so. A fault of the file or
    // an address that cannot be bound is returned (and journalled), and the station goes on.
    Outcome start();
    void stop();
    // Starts with given settings (tests, the benchmark).
    Outcome start(const WebServerConfig& config);
    bool serving() const { return m_server != nullptr; }
    quint16 port() const { return m_server ? m_server->port() : 0; }
    // Why the view is not serving though enabled; empty when it serves or is off.
    const QString& fault() const { return m_fault; }
    // Whether monitoring runs, as the main window knows it.
    void setRunning(std::function<bool()> running) { m_running = std::move(running); }

    // StateListener
    void unitState(int unit, const QByteArray& json) override;
    void monitoringChanged(bool running) override;

private:
    void look();
    void hand();

    MontComm1& m_comm;
    std::unique_ptr<WebServer> m_server;
    QTimer m_look;
    QTimer m_hand;
    std::map<int, QByteArray> m_pending; // states not handed over yet, by unit
    QByteArray m_station;                // the station's list as last handed over
    uint64_t m_channels = UINT64_MAX;    // the channel table's generation last handed over
    std::function<bool()> m_running;
    QString m_fault;
};
