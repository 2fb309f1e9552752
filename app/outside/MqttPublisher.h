#pragma once
// Publishing to an MQTT broker. The station hands messages to an MqttPublisher and goes on:
// the client runs on its own thread, so a broker that is down, slow or silent never holds the
// UI thread. MqttBacklog is what waits while the broker is away.

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QTemporaryFile>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

// Whether the client is connected, and if not what its last attempt met.
enum class MqttFault : int {
    None,          // connected
    Connecting,    // the first attempt is still out
    NoAddress,     // the host name does not resolve
    Refused,       // nothing listens at the port
    Unreachable,   // no route to the host, or the TCP connection timed out
    NoAnswer,      // the connection was taken but no CONNACK came in time
    BrokerRefused, // CONNACK with a refusal; detail is its return code
    Tls,           // the TLS handshake or its certificates failed
    Lost,          // a connection that was up went away
    Other,         // detail is libmosquitto's error code
};
struct MqttLinkState {
    bool connected = false;
    MqttFault fault = MqttFault::Connecting;
    int detail = 0;
};

class MqttPublisher {
public:
    virtual ~MqttPublisher() = default;
    // Never blocks: the message is queued for the network thread.
    virtual void publish(const QString& topic, const QByteArray& payload, int qos, bool retain) = 0;
    // How the connection stands; nothing for a publisher without a network (tests, the benchmark).
    virtual std::optional<MqttLinkState> linkState() const { return std::nullopt; }
};

struct MqttMessage {
    QString topic;
    QByteArray payload;
    int qos = 0;
    bool retain = false;
};

// Messages waiting for the broker, bounded. A retained message stands for its topic's state: a
// newer one replaces the one still waiting, and the last of each topic is kept so that all of
// them can be sent again after a reconnect (the broker may have lost them). Other messages are
// events: kept in order up to a limit, then counted as lost.
class MqttBacklog {
public:
    explicit MqttBacklog(int eventLimit = 1000, int topicLimit = 4096);

    void add(MqttMessage message);
    // Events sent but not acknowledged when the connection went: they go first next time.
    void putBack(std::deque<MqttMessage> events);
    std::optional<MqttMessage> take();
    // Every retained topic's last message waits again.
    void requeueRetained();

    // A message that could not be sent at all.
    void noteLost() { ++m_lost; }

    int size() const { return int(m_queue.size()); }
    int mostQueued() const { return m_mostQueued; }
    int64_t lost() const { return m_lost; }
    int limit() const { return m_eventLimit + m_topicLimit; }

private:
    struct Entry {
        bool retained = false;
        QString topic;       // retained: the topic whose last message goes
        MqttMessage message; // an event
    };
    void noteSize();

    int m_eventLimit;
    int m_topicLimit;
    int m_events = 0;
    std::deque<Entry> m_queue;
    QHash<QString, MqttMessage> m_last; // the last retained message of each topic
    QHash<QString, bool> m_waiting;     // retained topics with an entry in the queue
    int m_mostQueued = 0;
    int64_t m_lost = 0;
};

// Where and how the client connects. The password is used for the connection only.
struct MqttEndpoint {
    QString host;
    int port = 1883;
    bool tls = false;
    QString caFile; // empty: the system's certificates; only a regular file is taken
    QString clientId;
    QString user;
    QString password;
    QString statusTopic; // "online" on every connect; "offline" at the end and as the last will
    std::chrono::milliseconds connackTimeOut{10000};
    std::chrono::milliseconds firstRetry{1000};
    std::chrono::milliseconds lastRetry{30000};
    int eventLimit = 1000;
};

// How the client fares, for the status bar of a test or a benchmark; any thread may read it.
struct MqttCounters {
    std::atomic<bool> connected{false};
    std::atomic<int64_t> sent{0}; // handed to the connection
    std::atomic<int64_t> lost{0};
    std::atomic<int> queued{0};
    std::atomic<int> mostQueued{0};
    std::atomic<int> attempts{0};
    std::atomic<int> connects{0};
    std::atomic<int> givenUp{0};                        // attempts dropped for want of a CONNACK in time
    std::atomic<int> refused{0};                        // CONNACK with a refusal (bad name or password, ...)
    std::atomic<int> fault{int(MqttFault::Connecting)}; // what the last attempt met (MqttFault)
    std::atomic<int> faultDetail{0};
};

// One connection to the broker and back, for "接続テスト": connects, waits for the CONNACK at most
// limit, disconnects. It blocks (a host name is resolved on the calling thread), so it runs off
// the UI thread. It never publishes, and never uses the station's own client id, which would
// take the station's session over.
MqttLinkState ProbeMqtt(const MqttEndpoint& endpoint, std::chrono::milliseconds limit);

// The client over libmosquitto on a thread of its own. It connects at once and again after a
// lost or refused connection, waiting 1 s, 2 s, 4 s ... up to 30 s between attempts.
class MosquittoPublisher : public MqttPublisher {
public:
    explicit MosquittoPublisher(MqttEndpoint endpoint);
    // Says "offline" if connected (waiting at most a second), then disconnects.
    ~MosquittoPublisher() override;

    void publish(const QString& topic, const QByteArray& payload, int qos, bool retain) override;
    std::optional<MqttLinkState> linkState() const override;
    const MqttCounters& counters() const { return m_counters; }

private:
    struct Session;
    void run();
    void wake();
    bool waitForWork(std::chrono::milliseconds limit);
    void startAttempt();
    void dropSession(bool givenUp);
    void noteFault(MqttFault fault, int detail = 0);
    void sendQueued();
    void sayOffline();

    MqttEndpoint m_endpoint;
    MqttCounters m_counters;
    // The certificates copied when the client is made: the network thread never opens a path
    // the operator named (a FIFO there would hold it, and the station's end with it).
    QTemporaryFile m_caCopy;
    bool m_caReady = false;
    std::mutex m_mutex; // guards m_backlog and m_stop
    MqttBacklog m_backlog;
    bool m_stop = false;
    int m_wakeRead = -1;
    int m_wakeWrite = -1;
    std::atomic<bool> m_wakePending{false};
    // Network thread only.
    std::unique_ptr<Session> m_session;
    std::chrono::steady_clock::time_point m_nextAttempt;
    std::chrono::milliseconds m_retry;
    std::thread m_thread;
};
