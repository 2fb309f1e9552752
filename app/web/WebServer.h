#pragma once
// The web view's HTTP server: read-only pages and their JSON over libmicrohttpd, on threads of
// its own (one a connection, so a slow client holds only its own). The UI thread never waits on
// it: it hands over finished snapshots (the station's list, each unit's state, the time), which
// the server copies under a short lock; live pages follow them as Server-Sent Events.

#include "shared/ChannelTable.h"
#include "shared/DataLogReader.h"
#include "web/WebInf.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <functional>
#include <map>
#include <memory>
#include <vector>

struct WebServerConfig {
    ListenAddress listen;
    QString passHash;        // empty: no login (loopback only, and no proxied request)
    QByteArray cert, key;    // PEM; empty: plain HTTP
    QString workDir;         // the data logs and the alarm journal
    int idleTimeoutS = 20;   // a connection silent this long is closed
    int keepAliveMs = 15000; // an event stream says something at least this often
    int maxConnections = 128;
    int perAddress = 64; // a phone's page and its stream, times many; the benchmark's 50 streams
};

class WebServer {
public:
    static constexpr int Units = 100;

    explicit WebServer(WebServerConfig config);
    ~WebServer(); // ends every stream and joins the threads
    WebServer(const WebServer&) = delete;
    WebServer& operator=(const WebServer&) = delete;

    // Binds and starts serving; empty when it does, else why not in the operator's words.
    QString start();
    quint16 port() const;

    // From the UI thread, which never waits here: each returns false, taking nothing, while the
    // streams hold the snapshot, and the caller hands it over again a little later.
    // The station: mode, monitoring and the units' names, as JSON.
    bool setStation(const QByteArray& json);
    // Units' states as the MQTT feed words them, by unit.
    bool setUnitStates(const std::map<int, QByteArray>& states);
    // The station's clock, for the periods of the alarm list and the trend.
    bool setNow(const QDateTime& now);
    // The channel table's lines, for the trend's engineering units.
    bool setChannels(const std::vector<ChannelLine>& lines);

    struct Shared;
    struct Snapshot;

private:
    bool update(const std::function<void(Snapshot&)>& change, bool wake = true);

    std::shared_ptr<Shared> m_shared;
    struct MHD_Daemon* m_daemon = nullptr;
};
