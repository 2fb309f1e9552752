// The MQTT client on its own thread: libmosquitto driven by poll() on its socket and a wake pipe,
// so a message handed over is on its way at once and the UI thread never waits for the network.

#include "outside/MqttPublisher.h"

#include "platform/TextFile.h"

#include <mosquitto.h>

#include <algorithm>
#include <cerrno>
#include <tuple>
#include <fcntl.h>
#include <map>
#include <poll.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;
constexpr int MaxInFlight = 20; // messages handed to libmosquitto and not yet acknowledged
constexpr int KeepAliveSeconds = 30;

void initLibrary()
{
    static std::once_flag once;
    std::call_once(once, [] { mosquitto_lib_init(); });
}

// What a failed libmosquitto call says about the link, with errno where it set one.
std::pair<MqttFault, int> faultOf(int rc, int error)
{
    switch (rc) {
    case MOSQ_ERR_EAI:
        return {MqttFault::NoAddress, 0};
    case MOSQ_ERR_CONN_LOST:
    case MOSQ_ERR_NO_CONN:
        return {MqttFault::Lost, 0};
    case MOSQ_ERR_TLS:
    case MOSQ_ERR_TLS_HANDSHAKE:
        return {MqttFault::Tls, 0};
    case MOSQ_ERR_ERRNO:
        switch (error) {
        case ECONNREFUSED:
            return {MqttFault::Refused, 0};
        case EHOSTUNREACH:
        case ENETUNREACH:
        case ETIMEDOUT:
            return {MqttFault::Unreachable, 0};
        case ECONNRESET:
        case EPIPE:
            return {MqttFault::Lost, 0};
        default:
            return {MqttFault::Other, error};
        }
    default:
        return {MqttFault::Other, rc};
    }
}

} // namespace

struct MosquittoPublisher::Session {
    mosquitto* handle = nullptr;
    bool connected = false;
    bool failed = false;  // a refusal or a lost connection, seen in a callback
    bool refused = false; // the broker answered the CONNECT with a refusal
    int connackCode = 0;
    bool wasConnected = false;
    std::pair<MqttFault, int> fault{MqttFault::Lost, 0}; // what the failing call said
    Clock::time_point started = Clock::now();
    std::map<int, MqttMessage> unacked; // events by message id; retained states are sent again anyway
    int inFlight = 0;
    int offlineMid = -1;
    bool offlineDone = false;
    ~Session()
    {
        if (handle)
            mosquitto_destroy(handle);
    }
};

MosquittoPublisher::MosquittoPublisher(MqttEndpoint endpoint)
    : m_endpoint(std::move(endpoint))
    , m_backlog(m_endpoint.eventLimit)
    , m_nextAttempt(Clock::now())
    , m_retry(m_endpoint.firstRetry)
{
    initLibrary();
    if (m_endpoint.tls && !m_endpoint.caFile.isEmpty()) {
        const auto ca = TextFile::readBytes(m_endpoint.caFile);
        m_caReady = ca && m_caCopy.open() && m_caCopy.write(*ca) == ca->size() && m_caCopy.flush();
    }
    int fds[2];
    if (pipe2(fds, O_NONBLOCK | O_CLOEXEC) == 0) {
        m_wakeRead = fds[0];
        m_wakeWrite = fds[1];
    }
    m_thread = std::thread([this] { run(); });
}

MosquittoPublisher::~MosquittoPublisher()
{
    {
        std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    wake();
    m_thread.join();
    if (m_wakeRead >= 0)
        ::close(m_wakeRead);
    if (m_wakeWrite >= 0)
        ::close(m_wakeWrite);
}

void MosquittoPublisher::publish(const QString& topic, const QByteArray& payload, int qos, bool retain)
{
    {
        std::lock_guard lock(m_mutex);
        m_backlog.add(MqttMessage{topic, payload, qos, retain});
        m_counters.queued = m_backlog.size();
        m_counters.mostQueued = m_backlog.mostQueued();
        m_counters.lost = m_backlog.lost();
    }
    wake();
}

void MosquittoPublisher::wake()
{
    // One byte in the pipe is enough to wake the thread; the rest of a burst needs none.
    if (m_wakeWrite < 0 || m_wakePending.exchange(true))
        return;
    const char byte = 1;
    [[maybe_unused]] const auto n = ::write(m_wakeWrite, &byte, 1); // a full pipe already wakes the thread
}

// Waits for the wake pipe (and the session's socket, if any) at most limit; true when the
// socket has something to do.
bool MosquittoPublisher::waitForWork(std::chrono::milliseconds limit)
{
    pollfd fds[2] = {{m_wakeRead, POLLIN, 0}, {-1, 0, 0}};
    int count = 1;
    if (m_session) {
        const int sock = mosquitto_socket(m_session->handle);
        if (sock >= 0) {
            fds[1] = {sock, short(POLLIN | (mosquitto_want_write(m_session->handle) ? POLLOUT : 0)), 0};
            count = 2;
        }
    }
    ::poll(fds, nfds_t(count), int(std::max<int64_t>(0, limit.count())));
    if (fds[0].revents & POLLIN) {
        char buffer[64];
        while (::read(m_wakeRead, buffer, sizeof buffer) > 0) {}
        // Cleared after draining, never before: a byte written in between would be drained with
        // the flag still set, and every later wake-up (the one that stops the thread too) skipped.
        // A publish that finds the flag still set is seen anyway: the caller looks at the work next.
        m_wakePending = false;
    }
    if (count < 2 || !fds[1].revents)
        return false;
    int rc = MOSQ_ERR_SUCCESS;
    if (fds[1].revents & (POLLIN | POLLERR | POLLHUP))
        rc = mosquitto_loop_read(m_session->handle, 1);
    if (rc == MOSQ_ERR_SUCCESS && (fds[1].revents & POLLOUT))
        rc = mosquitto_loop_write(m_session->handle, 1);
    if (rc != MOSQ_ERR_SUCCESS) {
        m_session->fault = faultOf(rc, errno);
        m_session->failed = true;
    }
    return true;
}

void MosquittoPublisher::run()
{
    for (;;) {
        {
            std::lock_guard lock(m_mutex);
            if (m_stop)
                break;
        }
        const auto now = Clock::now();
        if (!m_session) {
            if (now >= m_nextAttempt)
                startAttempt();
            else
                waitForWork(std::chrono::duration_cast<std::chrono::milliseconds>(m_nextAttempt - now) +
                            std::chrono::milliseconds(1));
            continue;
        }
        waitForWork(std::chrono::milliseconds(m_session->connected ? 500 : 100));
        if (m_session && !m_session->failed && mosquitto_loop_misc(m_session->handle) != MOSQ_ERR_SUCCESS)
            m_session->failed = true;
        if (m_session->failed) {
            dropSession(false);
            continue;
        }
        if (!m_session->connected) {
            // A broker that took the connection and says nothing is not waited for any longer.
            if (Clock::now() - m_session->started >= m_endpoint.connackTimeOut)
                dropSession(true);
            continue;
        }
        sendQueued();
    }
    sayOffline();
    m_session.reset();
}

void MosquittoPublisher::startAttempt()
{
    ++m_counters.attempts;
    auto s = std::make_unique<Session>();
    const QByteArray id = m_endpoint.clientId.toUtf8();
    s->handle = mosquitto_new(id.isEmpty() ? nullptr : id.constData(), true, s.get());
    if (!s->handle) {
        dropSession(false);
        return;
    }
    mosquitto* h = s->handle;
    mosquitto_int_option(h, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
    const QByteArray status = m_endpoint.statusTopic.toUtf8();
    if (!status.isEmpty())
        mosquitto_will_set(h, status.constData(), 7, "offline", 1, true);
    if (!m_endpoint.user.isEmpty())
        mosquitto_username_pw_set(h, m_endpoint.user.toUtf8().constData(), m_endpoint.password.toUtf8().constData());
    bool ready = true;
    if (m_endpoint.tls) {
        if (m_endpoint.caFile.isEmpty())
            ready = mosquitto_int_option(h, MOSQ_OPT_TLS_USE_OS_CERTS, 1) == MOSQ_ERR_SUCCESS;
        else
            ready = m_caReady && mosquitto_tls_set(h, QFile::encodeName(m_caCopy.fileName()).constData(), nullptr,
                                                   nullptr, nullptr, nullptr) == MOSQ_ERR_SUCCESS;
    }
    mosquitto_connect_callback_set(h, [](mosquitto*, void* obj, int rc) {
        auto* session = static_cast<Session*>(obj);
        if (rc == 0) {
            session->connected = session->wasConnected = true;
        } else {
            session->failed = session->refused = true;
            session->connackCode = rc;
        }
    });
    mosquitto_disconnect_callback_set(h, [](mosquitto*, void* obj, int) { static_cast<Session*>(obj)->failed = true; });
    mosquitto_publish_callback_set(h, [](mosquitto*, void* obj, int mid) {
        auto* session = static_cast<Session*>(obj);
        session->unacked.erase(mid);
        session->inFlight = std::max(0, session->inFlight - 1);
        if (mid == session->offlineMid)
            session->offlineDone = true;
    });
    m_session = std::move(s);
    const int rc =
        ready ? mosquitto_connect_async(h, m_endpoint.host.toUtf8().constData(), m_endpoint.port, KeepAliveSeconds)
              : MOSQ_ERR_TLS;
    if (rc != MOSQ_ERR_SUCCESS) {
        m_session->fault = faultOf(rc, errno);
        dropSession(false);
        return;
    }
}

void MosquittoPublisher::dropSession(bool givenUp)
{
    if (givenUp)
        ++m_counters.givenUp;
    if (givenUp)
        noteFault(MqttFault::NoAnswer);
    else if (!m_session)
        noteFault(MqttFault::Other);
    else if (m_session->refused)
        noteFault(MqttFault::BrokerRefused, m_session->connackCode);
    else if (m_session->wasConnected)
        noteFault(MqttFault::Lost);
    else
        noteFault(m_session->fault.first, m_session->fault.second);
    if (m_session) {
        if (m_session->refused)
            ++m_counters.refused;
        std::deque<MqttMessage> events;
        for (auto& [mid, message] : m_session->unacked)
            events.push_back(std::move(message));
        if (!events.empty()) {
            std::lock_guard lock(m_mutex);
            m_backlog.putBack(std::move(events));
            m_counters.queued = m_backlog.size();
            m_counters.lost = m_backlog.lost();
        }
    }
    m_session.reset();
    m_counters.connected = false;
    m_nextAttempt = Clock::now() + m_retry;
    m_retry = std::min(m_retry * 2, m_endpoint.lastRetry);
}

void MosquittoPublisher::noteFault(MqttFault fault, int detail)
{
    m_counters.faultDetail = detail;
    m_counters.fault = int(fault);
}

std::optional<MqttLinkState> MosquittoPublisher::linkState() const
{
    MqttLinkState state;
    state.connected = m_counters.connected;
    state.fault = state.connected ? MqttFault::None : MqttFault(m_counters.fault.load());
    state.detail = m_counters.faultDetail;
    return state;
}

void MosquittoPublisher::sendQueued()
{
    Session& s = *m_session;
    if (!m_counters.connected) {
        // A new connection: say so, and send every unit's state again.
        m_counters.connected = true;
        ++m_counters.connects;
        m_retry = m_endpoint.firstRetry;
        const QByteArray status = m_endpoint.statusTopic.toUtf8();
        if (!status.isEmpty() &&
            mosquitto_publish(s.handle, nullptr, status.constData(), 6, "online", 1, true) == MOSQ_ERR_SUCCESS)
            ++s.inFlight;
        std::lock_guard lock(m_mutex);
        m_backlog.requeueRetained();
    }
    while (s.inFlight < MaxInFlight) {
        std::optional<MqttMessage> next;
        {
            std::lock_guard lock(m_mutex);
            next = m_backlog.take();
            m_counters.queued = m_backlog.size();
            m_counters.mostQueued = m_backlog.mostQueued();
        }
        if (!next)
            break;
        const QByteArray topic = next->topic.toUtf8();
        int mid = 0;
        const int rc = mosquitto_publish(s.handle, &mid, topic.constData(), int(next->payload.size()),
                                         next->payload.constData(), next->qos, next->retain);
        if (rc == MOSQ_ERR_SUCCESS) {
            ++s.inFlight;
            ++m_counters.sent;
            if (!next->retain)
                s.unacked.emplace(mid, std::move(*next));
        } else if (rc == MOSQ_ERR_NO_CONN || rc == MOSQ_ERR_CONN_LOST) {
            std::lock_guard lock(m_mutex);
            if (next->retain)
                m_backlog.add(std::move(*next));
            else
                m_backlog.putBack({std::move(*next)});
            s.failed = true;
            break;
        } else {
            // A message the library refuses (a topic it finds malformed, too large) never
            // will be taken: it is counted as lost instead of blocking the rest.
            std::lock_guard lock(m_mutex);
            m_backlog.noteLost();
            m_counters.lost = m_backlog.lost();
        }
    }
}

void MosquittoPublisher::sayOffline()
{
    if (!m_session || !m_counters.connected || m_session->failed)
        return;
    Session& s = *m_session;
    const QByteArray status = m_endpoint.statusTopic.toUtf8();
    if (!status.isEmpty() &&
        mosquitto_publish(s.handle, &s.offlineMid, status.constData(), 7, "offline", 1, true) == MOSQ_ERR_SUCCESS) {
        const auto deadline = Clock::now() + std::chrono::seconds(1);
        while (!s.offlineDone && !s.failed && Clock::now() < deadline) {
            waitForWork(std::chrono::milliseconds(50));
            mosquitto_loop_misc(s.handle);
        }
    }
    mosquitto_disconnect(s.handle);
    mosquitto_loop_write(s.handle, 1);
    m_counters.connected = false;
}

MqttLinkState ProbeMqtt(const MqttEndpoint& endpoint, std::chrono::milliseconds limit)
{
    initLibrary();
    const auto deadline = Clock::now() + limit;
    struct Probe {
        bool answered = false;
        int connack = 0;
    } probe;
    MqttLinkState state;
    QTemporaryFile ca;
    if (endpoint.tls && !endpoint.caFile.isEmpty()) {
        const auto bytes = TextFile::readBytes(endpoint.caFile);
        if (!bytes || !ca.open() || ca.write(*bytes) != bytes->size() || !ca.flush()) {
            state.fault = MqttFault::Tls;
            return state;
        }
    }
    // A client id of its own: the station's would end the station's session at the broker.
    const QByteArray id = endpoint.clientId.isEmpty() ? QByteArray() : endpoint.clientId.toUtf8() + "-test";
    mosquitto* h = mosquitto_new(id.isEmpty() ? nullptr : id.constData(), true, &probe);
    if (!h) {
        state.fault = MqttFault::Other;
        return state;
    }
    mosquitto_int_option(h, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
    if (!endpoint.user.isEmpty())
        mosquitto_username_pw_set(h, endpoint.user.toUtf8().constData(), endpoint.password.toUtf8().constData());
    int rc = MOSQ_ERR_SUCCESS;
    if (endpoint.tls)
        rc = endpoint.caFile.isEmpty() ? mosquitto_int_option(h, MOSQ_OPT_TLS_USE_OS_CERTS, 1)
                                       : mosquitto_tls_set(h, QFile::encodeName(ca.fileName()).constData(), nullptr,
                                                           nullptr, nullptr, nullptr);
    mosquitto_connect_callback_set(h, [](mosquitto*, void* obj, int code) {
        auto* p = static_cast<Probe*>(obj);
        p->answered = true;
        p->connack = code;
    });
    if (rc != MOSQ_ERR_SUCCESS)
        rc = MOSQ_ERR_TLS;
    else
        rc = mosquitto_connect_async(h, endpoint.host.toUtf8().constData(), endpoint.port, KeepAliveSeconds);
    state.fault = MqttFault::NoAnswer;
    if (rc != MOSQ_ERR_SUCCESS)
        std::tie(state.fault, state.detail) = faultOf(rc, errno);
    while (rc == MOSQ_ERR_SUCCESS && !probe.answered) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0)
            break;
        pollfd fd{mosquitto_socket(h), short(POLLIN | (mosquitto_want_write(h) ? POLLOUT : 0)), 0};
        ::poll(&fd, 1, int(std::min<int64_t>(left.count(), 100)));
        if (fd.revents & (POLLIN | POLLERR | POLLHUP))
            rc = mosquitto_loop_read(h, 1);
        if (rc == MOSQ_ERR_SUCCESS && (fd.revents & POLLOUT))
            rc = mosquitto_loop_write(h, 1);
        if (rc == MOSQ_ERR_SUCCESS)
            rc = mosquitto_loop_misc(h);
        if (rc != MOSQ_ERR_SUCCESS)
            std::tie(state.fault, state.detail) = faultOf(rc, errno);
    }
    if (probe.answered) {
        state.connected = probe.connack == 0;
        state.fault = state.connected ? MqttFault::None : MqttFault::BrokerRefused;
        state.detail = probe.connack;
        if (state.connected) {
            mosquitto_disconnect(h);
            mosquitto_loop_write(h, 1);
        }
    }
    mosquitto_destroy(h);
    return state;
}
