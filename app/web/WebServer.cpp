// Requests are checked in a fixed order: method, path, the proxy and host rules, the session;
// only then is anything read. Every answer is built from a fixed set of pages or from JSON.

#include "web/WebServer.h"

#include "history/AlarmHistory.h"
#include "shared/AlarmJournal.h"
#include "web/WebPages.h"

#include <QDir>
#include <QFile>
#include <QHash>
#include <QUrlQuery>
#include <arpa/inet.h>
#include <malloc.h>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <map>
#include <microhttpd.h>
#include <mutex>
#include <netinet/in.h>
#include <openssl/rand.h>
#include <sys/resource.h>
#include <unistd.h>

using SteadyClock = std::chrono::steady_clock;

// The pages are built into the program; a static library's resources are registered by hand.
static void initWebResources()
{
    static const bool done = [] {
        Q_INIT_RESOURCE(web);
        return true;
    }();
    (void)done;
}

namespace {

constexpr size_t MaxBody = 1024; // a login form
constexpr int MaxSessions = 256; // the oldest goes first
constexpr int MaxWatched = 1024; // addresses remembered for their wrong passwords
constexpr auto SessionLife = std::chrono::hours(12);
constexpr int MaxDelayS = 60; // the longest wait after wrong passwords
const char* const CookieName = "tv_session";

struct Asset {
    QByteArray body;
    const char* type;
};

} // namespace

// What the pages show of the station, replaced whole at each hand-over: a stream takes the
// pointer under the lock and reads the snapshot after letting go, so the UI thread never waits
// for fifty streams to read.
struct WebServer::Snapshot {
    uint64_t version = 0; // counts every change below
    QByteArray station;
    uint64_t stationVersion = 0;
    std::array<QByteArray, Units> units;
    std::array<uint64_t, Units> unitVersion{};
    QDateTime now = QDateTime::currentDateTime();
    std::vector<ChannelLine> channels;
};

struct WebServer::Shared {
    WebServerConfig config;
    std::map<QByteArray, Asset> assets; // by request path

    std::mutex lock;
    std::condition_variable changed;
    bool stopping = false;
    std::shared_ptr<const Snapshot> snapshot = std::make_shared<Snapshot>();

    std::map<QByteArray, SteadyClock::time_point> sessions; // token -> expiry
    struct Tries {
        int wrong = 0;
        SteadyClock::time_point notBefore;
    };
    std::map<std::string, Tries> tries; // by client address
};

namespace {

using Shared = WebServer::Shared;
using Snapshot = WebServer::Snapshot;

std::shared_ptr<const Snapshot> current(Shared& s)
{
    std::lock_guard guard(s.lock);
    return s.snapshot;
}

// What one request has gathered between the library's calls.
struct Request {
    QByteArray body;
    bool tooLarge = false;
};

// One event stream's place: what it has sent of each part.
struct Stream {
    std::shared_ptr<Shared> shared;
    uint64_t seen = UINT64_MAX; // nothing sent yet
    uint64_t station = 0;
    std::array<uint64_t, WebServer::Units> units{};
    QByteArray pending;
    qsizetype sent = 0;
};

MHD_Response* bytesResponse(const QByteArray& body, const char* type)
{
    MHD_Response* r = MHD_create_response_from_buffer(size_t(body.size()), const_cast<char*>(body.constData()),
                                                      MHD_RESPMEM_MUST_COPY);
    MHD_add_response_header(r, MHD_HTTP_HEADER_CONTENT_TYPE, type);
    return r;
}

MHD_Result answer(MHD_Connection* c, const Shared& s, unsigned status, MHD_Response* r)
{
    // Nothing of the station belongs in another site's frame, script or cache.
    MHD_add_response_header(r, "X-Content-Type-Options", "nosniff");
    MHD_add_response_header(r, "X-Frame-Options", "DENY");
    MHD_add_response_header(r, "Referrer-Policy", "no-referrer");
    MHD_add_response_header(r, "Cache-Control", "no-store");
    MHD_add_response_header(r, "Content-Security-Policy",
                            "default-src 'none'; script-src 'self'; style-src 'self'; img-src 'self'; "
                            "connect-src 'self'; form-action 'self'; frame-ancestors 'none'; base-uri 'none'");
    if (!s.config.cert.isEmpty())
        MHD_add_response_header(r, "Strict-Transport-Security", "max-age=31536000");
    const MHD_Result q = MHD_queue_response(c, status, r);
    MHD_destroy_response(r);
    return q;
}

MHD_Result text(MHD_Connection* c, const Shared& s, unsigned status, const char* body)
{
    return answer(c, s, status, bytesResponse(QByteArray(body) + '\n', "text/plain; charset=utf-8"));
}

MHD_Result redirect(MHD_Connection* c, const Shared& s, const char* to, const QByteArray& cookie = {})
{
    MHD_Response* r = bytesResponse(QByteArray(), "text/plain; charset=utf-8");
    MHD_add_response_header(r, MHD_HTTP_HEADER_LOCATION, to);
    if (!cookie.isEmpty())
        MHD_add_response_header(r, MHD_HTTP_HEADER_SET_COOKIE, cookie.constData());
    return answer(c, s, MHD_HTTP_SEE_OTHER, r);
}

std::string clientAddress(MHD_Connection* c)
{
    const MHD_ConnectionInfo* info = MHD_get_connection_info(c, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
    if (!info || !info->client_addr)
        return {};
    char text[INET6_ADDRSTRLEN] = {};
    const sockaddr* a = info->client_addr;
    if (a->sa_family == AF_INET)
        inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(a)->sin_addr, text, sizeof text);
    else if (a->sa_family == AF_INET6)
        inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6*>(a)->sin6_addr, text, sizeof text);
    return text;
}

QByteArray header(MHD_Connection* c, const char* name)
{
    const char* v = MHD_lookup_connection_value(c, MHD_HEADER_KIND, name);
    return v ? QByteArray(v) : QByteArray();
}

QString argument(MHD_Connection* c, const char* name)
{
    const char* v = MHD_lookup_connection_value(c, MHD_GET_ARGUMENT_KIND, name);
    return v ? QString::fromUtf8(v) : QString();
}

// Without a password only the station's own screen may look: a browser there names the host
// as a loopback address, so a page of another site that resolves to 127.0.0.1 is turned away.
bool loopbackHost(const QByteArray& host)
{
    QByteArray h = host;
    if (h.startsWith('[')) {
        const qsizetype close = h.indexOf(']');
        if (close < 0)
            return false;
        h = h.mid(1, close - 1);
    } else if (const qsizetype colon = h.lastIndexOf(':'); colon >= 0) {
        h = h.left(colon);
    }
    if (h == "localhost")
        return true;
    QHostAddress a;
    return a.setAddress(QString::fromLatin1(h)) && a.isLoopback();
}

bool validSession(Shared& s, MHD_Connection* c)
{
    const char* token = MHD_lookup_connection_value(c, MHD_COOKIE_KIND, CookieName);
    if (!token)
        return false;
    std::lock_guard guard(s.lock);
    const auto it = s.sessions.find(QByteArray(token));
    if (it == s.sessions.end())
        return false;
    if (it->second < SteadyClock::now()) {
        s.sessions.erase(it);
        return false;
    }
    return true;
}

QByteArray newSession(Shared& s)
{
    QByteArray raw(32, '\0');
    if (RAND_bytes(reinterpret_cast<unsigned char*>(raw.data()), int(raw.size())) != 1)
        return {};
    const QByteArray token = raw.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals);
    std::lock_guard guard(s.lock);
    const auto now = SteadyClock::now();
    std::erase_if(s.sessions, [&](const auto& e) { return e.second < now; });
    while (int(s.sessions.size()) >= MaxSessions) {
        auto oldest = s.sessions.begin();
        for (auto it = s.sessions.begin(); it != s.sessions.end(); ++it)
            if (it->second < oldest->second)
                oldest = it;
        s.sessions.erase(oldest);
    }
    s.sessions[token] = now + SessionLife;
    return token;
}

// Whose wrong passwords a login counts: the client's address, or for a request through a proxy on
// this machine the address the proxy added last, so one guesser behind it does not slow everyone.
std::string triesKey(MHD_Connection* c)
{
    const std::string peer = clientAddress(c);
    const QByteArray forwarded = header(c, "X-Forwarded-For");
    QHostAddress a;
    if (forwarded.isEmpty() || !a.setAddress(QString::fromStdString(peer)) || !a.isLoopback())
        return peer;
    return peer + ' ' + forwarded.split(',').last().trimmed().left(64).toStdString();
}

MHD_Result login(MHD_Connection* c, Shared& s, const Request& req)
{
    const std::string who = triesKey(c);
    const auto now = SteadyClock::now();
    {
        std::lock_guard guard(s.lock);
        const auto it = s.tries.find(who);
        if (it != s.tries.end() && now < it->second.notBefore) {
            const auto wait = std::chrono::ceil<std::chrono::seconds>(it->second.notBefore - now).count();
            MHD_Response* r = bytesResponse(WebPages::LoginPage(QStringLiteral("しばらく待ってから試して下さい")),
                                            "text/html; charset=utf-8");
            MHD_add_response_header(r, MHD_HTTP_HEADER_RETRY_AFTER, QByteArray::number(wait).constData());
            return answer(c, s, MHD_HTTP_TOO_MANY_REQUESTS, r);
        }
    }
    const QUrlQuery form(QString::fromUtf8(req.body));
    const QByteArray password =
        form.queryItemValue(QStringLiteral("password"), QUrl::FullyDecoded).replace(u'+', u' ').toUtf8();
    if (WebInf::CheckPassword(s.config.passHash, password)) {
        {
            std::lock_guard guard(s.lock);
            s.tries.erase(who);
        }
        const QByteArray token = newSession(s);
        if (token.isEmpty())
            return text(c, s, MHD_HTTP_INTERNAL_SERVER_ERROR, "no session");
        QByteArray cookie = QByteArray(CookieName) + '=' + token + "; Path=/; HttpOnly; SameSite=Strict";
        if (!s.config.cert.isEmpty())
            cookie += "; Secure";
        return redirect(c, s, "/", cookie);
    }
    {
        // Wrong: this address waits longer each time; others are not slowed.
        std::lock_guard guard(s.lock);
        if (int(s.tries.size()) >= MaxWatched)
            std::erase_if(s.tries, [&](const auto& e) { return e.second.notBefore < now; });
        if (int(s.tries.size()) < MaxWatched || s.tries.count(who)) {
            Shared::Tries& t = s.tries[who];
            t.wrong = std::min(t.wrong + 1, 16);
            t.notBefore = now + std::chrono::seconds(std::min(MaxDelayS, 1 << (t.wrong - 1)));
        }
    }
    return answer(
        c, s, MHD_HTTP_UNAUTHORIZED,
        bytesResponse(WebPages::LoginPage(QStringLiteral("パスワードが違います")), "text/html; charset=utf-8"));
}

// The parts that changed since the stream last looked, as events; a stream that falls behind
// skips to the newest state, it never queues.
QByteArray changes(const Snapshot& s, Stream& st)
{
    QByteArray out;
    const auto event = [&out](const char* name, const QByteArray& data) {
        if (!data.isEmpty())
            out += QByteArray("event: ") + name + "\ndata: " + data + "\n\n";
    };
    if (st.station != s.stationVersion) {
        st.station = s.stationVersion;
        event("station", s.station);
    }
    for (int u = 0; u < WebServer::Units; ++u)
        if (st.units[size_t(u)] != s.unitVersion[size_t(u)]) {
            st.units[size_t(u)] = s.unitVersion[size_t(u)];
            event("unit", s.units[size_t(u)]);
        }
    st.seen = s.version;
    return out;
}

ssize_t readStream(void* cls, uint64_t, char* buf, size_t max)
{
    auto& st = *static_cast<Stream*>(cls);
    Shared& s = *st.shared;
    if (st.sent >= st.pending.size()) {
        st.pending.clear();
        st.sent = 0;
        std::shared_ptr<const Snapshot> now;
        {
            std::unique_lock guard(s.lock);
            s.changed.wait_for(guard, std::chrono::milliseconds(s.config.keepAliveMs),
                               [&] { return s.stopping || s.snapshot->version != st.seen; });
            if (s.stopping)
                return MHD_CONTENT_READER_END_OF_STREAM;
            now = s.snapshot;
        }
        if (now->version != st.seen)
            st.pending = changes(*now, st);
        if (st.pending.isEmpty())
            st.pending = ": \n\n"; // a comment keeps proxies from closing a quiet stream
    }
    const size_t n = std::min(max, size_t(st.pending.size() - st.sent));
    memcpy(buf, st.pending.constData() + st.sent, n);
    st.sent += qsizetype(n);
    return ssize_t(n);
}

MHD_Result events(MHD_Connection* c, const std::shared_ptr<Shared>& shared)
{
    auto* st = new Stream;
    st->shared = shared;
    MHD_Response* r = MHD_create_response_from_callback(MHD_SIZE_UNKNOWN, 4096, &readStream, st,
                                                        [](void* cls) { delete static_cast<Stream*>(cls); });
    MHD_add_response_header(r, MHD_HTTP_HEADER_CONTENT_TYPE, "text/event-stream; charset=utf-8");
    return answer(c, *shared, MHD_HTTP_OK, r);
}

MHD_Result api(MHD_Connection* c, Shared& s, const QByteArray& path)
{
    const std::shared_ptr<const Snapshot> snapshot = current(s);
    const QDateTime now = snapshot->now;
    bool ok = true;
    const int unit = argument(c, "unit").toInt(&ok);
    if (path == "/api/alarms") {
        const int period = argument(c, "period").toInt();
        if (!ok || unit < -1 || unit >= WebServer::Units || period < 0 || period >= int(History::PeriodHours.size()))
            return text(c, s, MHD_HTTP_BAD_REQUEST, "bad unit or period");
        return answer(c, s, MHD_HTTP_OK,
                      bytesResponse(WebPages::AlarmsJson(QDir(s.config.workDir).filePath(AlarmJournal::FileName), unit,
                                                         period, now),
                                    "application/json"));
    }
    // /api/trend
    const auto span = WebPages::SpanSeconds(argument(c, "span"));
    const int columns = argument(c, "columns").toInt();
    if (!ok || unit < 0 || unit >= WebServer::Units || !span || columns < 1 || columns > WebPages::MaxColumns)
        return text(c, s, MHD_HTTP_BAD_REQUEST, "bad unit, span or columns");
    return answer(c, s, MHD_HTTP_OK,
                  bytesResponse(WebPages::TrendJson(s.config.workDir, unit, *span, columns, DataLog::toSeconds(now),
                                                    snapshot->channels),
                                "application/json"));
}

MHD_Result handle(void* cls, MHD_Connection* c, const char* url, const char* method, const char*, const char* upload,
                  size_t* uploadSize, void** con)
{
    const auto& shared = *static_cast<std::shared_ptr<Shared>*>(cls);
    Shared& s = *shared;
    // Each connection has a thread; like the archive worker's, it yields to monitoring.
    thread_local const bool lowered = setpriority(PRIO_PROCESS, id_t(gettid()), 10) == 0;
    (void)lowered;
    const QByteArray m(method), path(url);
    const bool post = m == MHD_HTTP_METHOD_POST;
    const bool isLogin = path == "/login";
    const bool first = !*con;
    if (first)
        *con = new Request;
    auto& req = *static_cast<Request*>(*con);
    // Refused before any body is read: a wrong method, or a body said to be too large.
    if (first && !(m == MHD_HTTP_METHOD_GET || m == MHD_HTTP_METHOD_HEAD || (post && isLogin))) {
        MHD_Response* r = bytesResponse("method not allowed\n", "text/plain; charset=utf-8");
        MHD_add_response_header(r, MHD_HTTP_HEADER_ALLOW, isLogin ? "GET, HEAD, POST" : "GET, HEAD");
        return answer(c, s, MHD_HTTP_METHOD_NOT_ALLOWED, r);
    }
    if (post) {
        const QByteArray length = header(c, MHD_HTTP_HEADER_CONTENT_LENGTH);
        if (first && !length.isNull() && (length.size() > 6 || length.toLongLong() > qint64(MaxBody)))
            return text(c, s, MHD_HTTP_CONTENT_TOO_LARGE, "too large");
        if (first)
            return MHD_YES; // the body comes in the next calls
        if (*uploadSize) {
            if (req.body.size() + qsizetype(*uploadSize) > qsizetype(MaxBody))
                req.tooLarge = true; // a chunked body without a length
            else
                req.body.append(upload, qsizetype(*uploadSize));
            *uploadSize = 0;
            return MHD_YES;
        }
        if (req.tooLarge)
            return text(c, s, MHD_HTTP_CONTENT_TOO_LARGE, "too large");
    }
    const auto asset = s.assets.find(path);
    const bool known =
        asset != s.assets.end() || isLogin || path == "/events" || path == "/api/alarms" || path == "/api/trend";
    if (!known)
        return text(c, s, MHD_HTTP_NOT_FOUND, "not found");

    const bool open = s.config.passHash.isEmpty();
    if (open) {
        // A proxy on this machine would make anyone on its side look like the local screen.
        if (!header(c, "Forwarded").isNull() || !header(c, "X-Forwarded-For").isNull() ||
            !loopbackHost(header(c, MHD_HTTP_HEADER_HOST)))
            return text(c, s, MHD_HTTP_FORBIDDEN, "forbidden");
        if (isLogin)
            return redirect(c, s, "/");
    } else if (isLogin) {
        if (post)
            return login(c, s, req);
        return answer(c, s, MHD_HTTP_OK, bytesResponse(WebPages::LoginPage(QString()), "text/html; charset=utf-8"));
    } else if (path != "/app.css" && !validSession(s, c)) {
        if (asset != s.assets.end() && QByteArray(asset->second.type).startsWith("text/html"))
            return redirect(c, s, "/login");
        return text(c, s, MHD_HTTP_UNAUTHORIZED, "login required");
    }

    if (asset != s.assets.end())
        return answer(c, s, MHD_HTTP_OK, bytesResponse(asset->second.body, asset->second.type));
    if (path == "/events")
        return events(c, shared);
    return api(c, s, path);
}

// A NUL byte would cut a path or argument short ("/app.js%00.html" read as "/app.js"): text that
// holds one is left escaped, so it names nothing and reads as no number.
size_t unescape(void*, MHD_Connection*, char* s)
{
    if (strstr(s, "%00"))
        return strlen(s);
    return MHD_http_unescape(s);
}

void completed(void*, MHD_Connection*, void** con, MHD_RequestTerminationCode)
{
    delete static_cast<Request*>(*con);
    *con = nullptr;
}

QByteArray resource(const QString& name)
{
    initWebResources();
    QFile f(QStringLiteral(":/web/") + name);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

WebServer::WebServer(WebServerConfig config) : m_shared(std::make_shared<Shared>())
{
    m_shared->config = std::move(config);
    // The whole served set, read once: no request names a file.
    const std::pair<const char*, Asset> assets[] = {
        {"/", {resource(QStringLiteral("index.html")), "text/html; charset=utf-8"}},
        {"/alarms", {resource(QStringLiteral("alarms.html")), "text/html; charset=utf-8"}},
        {"/unit", {resource(QStringLiteral("unit.html")), "text/html; charset=utf-8"}},
        {"/app.js", {resource(QStringLiteral("app.js")), "text/javascript; charset=utf-8"}},
        {"/app.css", {resource(QStringLiteral("app.css")), "text/css; charset=utf-8"}},
    };
    for (const auto& [path, asset] : assets)
        m_shared->assets.emplace(QByteArray(path), asset);
}

WebServer::~WebServer()
{
    {
        std::lock_guard guard(m_shared->lock);
        m_shared->stopping = true;
    }
    m_shared->changed.notify_all();
    if (m_daemon)
        MHD_stop_daemon(m_daemon);
}

QString WebServer::start()
{
    const WebServerConfig& cf = m_shared->config;
    // The log reader's megabyte blocks, read on a connection's own thread, would otherwise stay in
    // that thread's malloc arena once glibc raised its mmap threshold: some 70 MiB over sixteen
    // arenas under a trend a second. A fixed threshold hands such blocks back when they are freed.
    mallopt(M_MMAP_THRESHOLD, 512 * 1024);
    sockaddr_storage address{};
    unsigned flags = MHD_USE_THREAD_PER_CONNECTION | MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_POLL;
    if (cf.listen.host.protocol() == QAbstractSocket::IPv6Protocol) {
        auto* a6 = reinterpret_cast<sockaddr_in6*>(&address);
        a6->sin6_family = AF_INET6;
        a6->sin6_port = htons(cf.listen.port);
        const Q_IPV6ADDR bytes = cf.listen.host.toIPv6Address();
        memcpy(&a6->sin6_addr, &bytes, sizeof bytes);
        flags |= MHD_USE_IPv6;
    } else {
        auto* a4 = reinterpret_cast<sockaddr_in*>(&address);
        a4->sin_family = AF_INET;
        a4->sin_port = htons(cf.listen.port);
        a4->sin_addr.s_addr = htonl(cf.listen.host.toIPv4Address());
    }
    const bool tls = !cf.cert.isEmpty();
    if (tls)
        flags |= MHD_USE_TLS;
    // The library reads the PEM text up to its terminating zero.
    const QByteArray cert = cf.cert + '\0', key = cf.key + '\0';
    std::vector<MHD_OptionItem> options{
        {MHD_OPTION_SOCK_ADDR, 0, &address},
        {MHD_OPTION_CONNECTION_LIMIT, cf.maxConnections, nullptr},
        {MHD_OPTION_PER_IP_CONNECTION_LIMIT, cf.perAddress, nullptr},
        {MHD_OPTION_CONNECTION_TIMEOUT, cf.idleTimeoutS, nullptr},
        {MHD_OPTION_CONNECTION_MEMORY_LIMIT, 32 * 1024, nullptr},
        {MHD_OPTION_THREAD_STACK_SIZE, 512 * 1024, nullptr},
        {MHD_OPTION_STRICT_FOR_CLIENT, 1, nullptr},
        {MHD_OPTION_NOTIFY_COMPLETED, intptr_t(&completed), nullptr},
        {MHD_OPTION_UNESCAPE_CALLBACK, intptr_t(&unescape), nullptr},
    };
    if (tls) {
        options.push_back({MHD_OPTION_HTTPS_MEM_CERT, 0, const_cast<char*>(cert.constData())});
        options.push_back({MHD_OPTION_HTTPS_MEM_KEY, 0, const_cast<char*>(key.constData())});
    }
    options.push_back({MHD_OPTION_END, 0, nullptr});
    m_daemon = MHD_start_daemon(flags, 0, nullptr, nullptr, &handle, &m_shared, MHD_OPTION_ARRAY, options.data(),
                                MHD_OPTION_END);
    if (!m_daemon)
        return tls ? QStringLiteral("%1 で待ち受けられません（使用中のポート、無いアドレス、または証明書と鍵の誤り）")
                         .arg(cf.listen.host.toString() + u':' + QString::number(cf.listen.port))
                   : QStringLiteral("%1 で待ち受けられません（使用中のポートか、このマシンに無いアドレス）")
                         .arg(cf.listen.host.toString() + u':' + QString::number(cf.listen.port));
    return QString();
}

quint16 WebServer::port() const
{
    const MHD_DaemonInfo* info = m_daemon ? MHD_get_daemon_info(m_daemon, MHD_DAEMON_INFO_BIND_PORT) : nullptr;
    return info ? info->port : 0;
}

bool WebServer::update(const std::function<void(Snapshot&)>& change, bool wake)
{
    {
        // Fifty streams wake at each hand-over and each takes the lock for a moment; one of them
        // preempted while holding it must not hold the UI thread too.
        std::unique_lock guard(m_shared->lock, std::try_to_lock);
        if (!guard.owns_lock())
            return false;
        auto next = std::make_shared<Snapshot>(*m_shared->snapshot);
        change(*next);
        m_shared->snapshot = std::move(next);
    }
    if (wake)
        m_shared->changed.notify_all();
    return true;
}

bool WebServer::setStation(const QByteArray& json)
{
    return update([&](Snapshot& s) {
        s.stationVersion = ++s.version;
        s.station = json;
    });
}

bool WebServer::setUnitStates(const std::map<int, QByteArray>& states)
{
    return update([&](Snapshot& s) {
        for (const auto& [unit, json] : states)
            if (unit >= 0 && unit < Units) {
                s.units[size_t(unit)] = json;
                s.unitVersion[size_t(unit)] = ++s.version;
            }
    });
}

bool WebServer::setChannels(const std::vector<ChannelLine>& lines)
{
    return update([&](Snapshot& s) { s.channels = lines; }, false);
}

bool WebServer::setNow(const QDateTime& now)
{
    return update([&](Snapshot& s) { s.now = now; }, false); // read by requests only: no stream to wake
}
