#include "outside/FtpClient.h"

#include "platform/ServerAddress.h"

#include <QMetaObject>
#include <QUrl>
#include <algorithm>
#include <curl/curl.h>
#include <limits>
#include <sys/socket.h>
#include <unistd.h>

namespace {

void globalInit()
{
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

// What the worker knows about the step it runs.
struct StepContext {
    FtpClient* client;
    uint64_t seq;
    bool sizeSent = false;
    int sizeCode = 0;
    QString sizeText;
};

} // namespace

static size_t discard(char*, size_t size, size_t count, void*)
{
    return size * count;
}

size_t ftpRead(char* buffer, size_t size, size_t count, void* user)
{
    auto* ctx = static_cast<StepContext*>(user);
    if (ctx->client->aborted(ctx->seq))
        return CURL_READFUNC_ABORT;
    const QByteArray block = ctx->client->takeData(ctx->seq, size * count);
    if (ctx->client->aborted(ctx->seq))
        return CURL_READFUNC_ABORT;
    memcpy(buffer, block.constData(), size_t(block.size()));
    return size_t(block.size());
}

int ftpProgress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t)
{
    auto* ctx = static_cast<StepContext*>(user);
    return ctx->client->aborted(ctx->seq) ? 1 : 0;
}

// Server replies come in as header-in text, commands as header-out; the password line is
// never looked at beyond its verb.
int ftpDebug(void*, int type, char* data, size_t size, void* user)
{
    auto* ctx = static_cast<StepContext*>(user);
    FtpClient* c = ctx->client;
    if (type == CURLINFO_HEADER_OUT) {
        if (size >= 4 && QByteArray(data, 4).toUpper() == "SIZE")
            ctx->sizeSent = true;
        return 0;
    }
    if (type != CURLINFO_HEADER_IN)
        return 0;
    const QList<QByteArray> lines = QByteArray(data, qsizetype(size)).split('\n');
    for (QByteArray line : lines) {
        line = line.trimmed();
        if (line.size() < 3 || !std::isdigit(uchar(line[0])) || !std::isdigit(uchar(line[1])) ||
            !std::isdigit(uchar(line[2])))
            continue;
        if (line.size() > 3 && line[3] == '-')
            continue; // a continuation of a multi-line reply
        c->m_lastCode = line.left(3).toInt();
        c->m_lastReply = QString::fromUtf8(line.mid(4));
        if (ctx->sizeSent && ctx->sizeCode == 0) {
            ctx->sizeCode = c->m_lastCode;
            ctx->sizeText = c->m_lastReply;
        }
    }
    return 0;
}

// The sockets of a session are known to the control, so an abort from the owner's thread can
// shut them while the worker sits inside libcurl. They are closed under the same lock, so a
// shut never reaches a number the system has handed out again.
struct FtpSocketHooks {
    static curl_socket_t open(void* user, curlsocktype, struct curl_sockaddr* address)
    {
        auto* c = static_cast<FtpClient*>(user);
        const curl_socket_t fd = ::socket(address->family, address->socktype | SOCK_CLOEXEC, address->protocol);
        if (fd == CURL_SOCKET_BAD)
            return fd;
        std::lock_guard lock(c->m_mutex);
        if (c->m_stop) { // the station is ending: no new connection
            ::close(fd);
            return CURL_SOCKET_BAD;
        }
        c->m_sockets.push_back(fd);
        return fd;
    }
    static int close(void* user, curl_socket_t fd)
    {
        auto* c = static_cast<FtpClient*>(user);
        std::lock_guard lock(c->m_mutex);
        c->m_sockets.erase(std::remove(c->m_sockets.begin(), c->m_sockets.end(), fd), c->m_sockets.end());
        return ::close(fd);
    }
};

FtpClient::FtpClient(int index, QObject* parent) : QObject(parent), m_index(index)
{
    globalInit();
    m_thread = std::thread([this] { workerLoop(); });
}

FtpClient::~FtpClient()
{
    {
        std::lock_guard lock(m_mutex);
        m_stop = true;
        m_abortUpTo = std::numeric_limits<uint64_t>::max();
        shutdownSockets(); // whatever the worker waits on in libcurl ends now
    }
    m_wake.notify_all();
    m_thread.join();
}

void FtpClient::shutdownSockets()
{
    for (int fd : m_sockets)
        ::shutdown(fd, SHUT_RDWR);
}

bool FtpClient::aborted(uint64_t seq) const
{
    std::lock_guard lock(m_mutex);
    return m_stop || seq <= m_abortUpTo;
}

void FtpClient::workerLoop()
{
    for (;;) {
        Step step;
        {
            std::unique_lock lock(m_mutex);
            m_wake.wait(lock, [this] { return m_stop || !m_queue.empty(); });
            if (m_stop)
                break;
            step = std::move(m_queue.front());
            m_queue.pop_front();
        }
        step.run(step);
    }
    closeHandle();
}

void FtpClient::closeHandle(bool graceful)
{
    {
        std::lock_guard lock(m_mutex);
        if (!graceful || m_stop)
            shutdownSockets(); // QUIT then fails at once instead of waiting for a reply
    }
    if (m_curl)
        curl_easy_cleanup(static_cast<CURL*>(m_curl));
    m_curl = nullptr;
    if (m_multi)
        curl_multi_cleanup(static_cast<CURLM*>(m_multi)); // the session's connection lives here
    m_multi = nullptr;
}

int FtpClient::runTransfer(void* handle)
{
    // Our own loop instead of curl_easy_perform: libcurl (7.88) starts the data connection of a
    // transfer on a kept session only when its wait ends, and easy_perform waits a whole second.
    CURL* h = static_cast<CURL*>(handle);
    if (!m_multi)
        m_multi = curl_multi_init();
    CURLM* m = static_cast<CURLM*>(m_multi);
    if (!m || curl_multi_add_handle(m, h) != CURLM_OK)
        return CURLE_FAILED_INIT;
    CURLcode rc = CURLE_OK;
    int running = 1;
    while (running) {
        // Checked here as well as in the progress callback: libcurl does not call that one in
        // every state, and an abort must end the step within one poll interval.
        if (aborted(m_running)) {
            rc = CURLE_ABORTED_BY_CALLBACK;
            curl_multi_remove_handle(m, h); // a premature end: libcurl drops the connection
            return rc;
        }
        if (curl_multi_perform(m, &running) != CURLM_OK) {
            rc = CURLE_FAILED_INIT;
            break;
        }
        if (running)
            curl_multi_poll(m, nullptr, 0, 20, nullptr);
    }
    int left = 0;
    while (CURLMsg* msg = curl_multi_info_read(m, &left))
        if (msg->msg == CURLMSG_DONE && msg->easy_handle == h)
            rc = msg->data.result;
    curl_multi_remove_handle(m, h);
    return rc;
}

void FtpClient::submit(std::function<Result(uint64_t)> work, bool isTransfer)
{
    ++m_pending;
    std::lock_guard lock(m_mutex);
    Step step;
    step.seq = m_nextSeq++;
    step.run = [this, work = std::move(work), isTransfer](Step& s) {
        {
            std::lock_guard lock(m_mutex);
            m_running = s.seq;
        }
        const Result r = work(s.seq);
        {
            std::lock_guard lock(m_mutex);
            m_running = 0;
        }
        QMetaObject::invokeMethod(
            this, [this, r, isTransfer] { stepDone(r, isTransfer); }, Qt::QueuedConnection);
    };
    m_queue.push_back(std::move(step));
    m_wake.notify_all();
}

void FtpClient::stepDone(const Result& r, bool isTransfer)
{
    if (isTransfer)
        emit TransferEnd(m_index);
    if (r.command == QLatin1String("QUIT"))
        emit StateReset(m_index);
    else
        emit CommandReply(m_index, r.code, r.command, r.reply);
    --m_pending; // idle only once the owner has seen the step's events
    emit StepFinished(m_index);
}

QByteArray FtpClient::urlFor(const QString& path, bool directory) const
{
    const QByteArray wire = m_scheme == QLatin1String("ftpes") ? QByteArray("ftp") : m_scheme.toLatin1();
    QByteArray url = wire + "://" + QUrl::toAce(m_host);
    if (url.endsWith("://")) // not a host name toAce accepts (an address, say): use it as written
        url += m_host.toUtf8();
    url += ':' + QByteArray::number(m_port) + '/';
    QString p = path;
    if (p.startsWith(u'/'))
        url += "%2F"; // an absolute directory, not one under the login directory
    const QStringList parts = p.split(u'/', Qt::SkipEmptyParts);
    for (int i = 0; i < parts.size(); ++i) {
        url += QUrl::toPercentEncoding(parts[i]);
        if (i + 1 < parts.size() || directory)
            url += '/';
    }
    return url;
}

FtpClient::Result FtpClient::perform(uint64_t seq, const QString& command, const QByteArray& url, bool upload,
                                     bool noBody)
{
    Result r;
    r.command = command;
    if (!m_curl)
        m_curl = curl_easy_init();
    CURL* h = static_cast<CURL*>(m_curl);
    if (!h) {
        r.code = -1;
        r.reply = QStringLiteral("cannot start a transfer");
        return r;
    }
    StepContext ctx{this, seq, false, 0, QString()};
    m_lastCode = 0;
    m_lastReply.clear();
    m_leftover.clear();
    QByteArray user, password, scheme;
    {
        std::lock_guard lock(m_mutex);
        user = m_user;
        password = m_password;
        scheme = m_scheme.toLatin1();
    }
    curl_easy_setopt(h, CURLOPT_URL, url.constData());
    curl_easy_setopt(h, CURLOPT_USERNAME, user.constData());
    curl_easy_setopt(h, CURLOPT_PASSWORD, password.constData());
    curl_easy_setopt(h, CURLOPT_PROXY, ""); // never a proxy from the environment
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h, CURLOPT_FTP_SKIP_PASV_IP, 1L); // the PASV address is not trusted
    curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT, 60L);  // backstops; the caller's watchdog is shorter
    curl_easy_setopt(h, CURLOPT_SERVER_RESPONSE_TIMEOUT, 60L);
    curl_easy_setopt(h, CURLOPT_USE_SSL, scheme == "ftpes" ? long(CURLUSESSL_ALL) : long(CURLUSESSL_NONE));
    curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, ftpProgress);
    curl_easy_setopt(h, CURLOPT_XFERINFODATA, &ctx);
    curl_easy_setopt(h, CURLOPT_VERBOSE, 1L);
    curl_easy_setopt(h, CURLOPT_DEBUGFUNCTION, ftpDebug);
    curl_easy_setopt(h, CURLOPT_DEBUGDATA, &ctx);
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, discard);
    curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, discard);
    curl_easy_setopt(h, CURLOPT_READFUNCTION, ftpRead);
    curl_easy_setopt(h, CURLOPT_READDATA, &ctx);
    curl_easy_setopt(h, CURLOPT_OPENSOCKETFUNCTION, &FtpSocketHooks::open);
    curl_easy_setopt(h, CURLOPT_OPENSOCKETDATA, this);
    curl_easy_setopt(h, CURLOPT_CLOSESOCKETFUNCTION, &FtpSocketHooks::close);
    curl_easy_setopt(h, CURLOPT_CLOSESOCKETDATA, this);
    curl_easy_setopt(h, CURLOPT_UPLOAD, upload ? 1L : 0L);
    curl_easy_setopt(h, CURLOPT_NOBODY, noBody ? 1L : 0L);
    curl_easy_setopt(h, CURLOPT_TRANSFERTEXT, upload && m_textMode ? 1L : 0L);
    const auto rc = CURLcode(runTransfer(h));
    if (command == QLatin1String("SIZE")) {
        if (rc == CURLE_OK && ctx.sizeCode == 213) {
            r.reply = ctx.sizeText;
        } else {
            r.code = int16_t(ctx.sizeCode >= 400 ? ctx.sizeCode : (rc != CURLE_OK ? -int(rc) : 550));
            r.reply = ctx.sizeCode ? ctx.sizeText : QString::fromUtf8(curl_easy_strerror(rc));
        }
        return r;
    }
    if (rc == CURLE_OK) {
        r.reply = m_lastReply;
    } else {
        r.code = int16_t(m_lastCode >= 400 ? m_lastCode : -int(rc));
        r.reply = m_lastCode >= 400 ? m_lastReply : QString::fromUtf8(curl_easy_strerror(rc));
        closeHandle(); // a failed step leaves no half-open session behind
    }
    return r;
}

FtpClient::Result FtpClient::performQuoted(uint64_t seq, const QString& command, const QByteArray& url,
                                           const QList<QByteArray>& commands)
{
    curl_slist* quote = nullptr;
    for (const QByteArray& c : commands)
        quote = curl_slist_append(quote, c.constData());
    if (!m_curl)
        m_curl = curl_easy_init();
    if (m_curl)
        curl_easy_setopt(static_cast<CURL*>(m_curl), CURLOPT_QUOTE, quote);
    Result r = perform(seq, command, url, false, true);
    if (m_curl)
        curl_easy_setopt(static_cast<CURL*>(m_curl), CURLOPT_QUOTE, nullptr);
    curl_slist_free_all(quote);
    return r;
}

void FtpClient::Connect(const QString& host, const QString& user, const QString& password)
{
    const ServerAddress a = SplitServerAddress(host, {QStringLiteral("ftps"), QStringLiteral("ftp")});
    const QString h = a.host;
    // Written with "ftp://", TLS is required (explicit); "ftps://" is implicit TLS.
    const QString scheme = a.scheme == QLatin1String("ftps")  ? a.scheme
                           : a.scheme == QLatin1String("ftp") ? QStringLiteral("ftpes")
                                                              : QStringLiteral("ftp");
    const int defaultPort = a.scheme == QLatin1String("ftps") ? 990 : 21;
    int port = a.port;
    if (port == 0) {
        bool ok = false;
        port = Port.trimmed().toInt(&ok);
        if (!ok || port <= 0 || port > 65535)
            port = defaultPort;
    }
    {
        std::lock_guard lock(m_mutex);
        m_scheme = scheme;
        m_host = h;
        m_port = port;
        m_user = user.toUtf8();
        m_password = password.toUtf8();
        m_dir.clear();
    }
    const QByteArray wireUrl = urlFor(QString(), true);
    const QByteArray pre = PreCommand.toUtf8();
    submit(
        [this, wireUrl, pre](uint64_t seq) {
            closeHandle(); // a new Connect is a new session
            QList<QByteArray> commands;
            if (!pre.trimmed().isEmpty())
                commands << pre;
            return performQuoted(seq, QStringLiteral("USER"), wireUrl, commands);
        },
        false);
}

void FtpClient::Cd(const QString& directory)
{
    QByteArray url;
    {
        std::lock_guard lock(m_mutex);
        m_dir = directory;
    }
    url = urlFor(directory, true);
    submit([this, url](uint64_t seq) { return perform(seq, QStringLiteral("CWD"), url, false, true); }, false);
}

void FtpClient::PutFile(const QString& localFileName, const QString& remoteName)
{
    const QString name = remoteName.isEmpty() ? localFileName.section(u'/', -1) : remoteName.section(u'/', -1);
    QString path = m_dir;
    if (!path.isEmpty() && !path.endsWith(u'/'))
        path += u'/';
    QByteArray url = urlFor(path + name, false);
    m_textMode = Filetype.trimmed().toUpper() == QLatin1String("A");
    submit([this, url](uint64_t seq) { return perform(seq, QStringLiteral("STOR"), url, true, false); }, true);
}

void FtpClient::Rename(const QString& from, const QString& to, bool replace)
{
    QString path = m_dir;
    if (!path.isEmpty() && !path.endsWith(u'/'))
        path += u'/';
    const QByteArray url = urlFor(path, true);
    QList<QByteArray> commands;
    if (replace)
        commands << "DELE " + to.section(u'/', -1).toUtf8();
    commands << "RNFR " + from.section(u'/', -1).toUtf8() << "RNTO " + to.section(u'/', -1).toUtf8();
    submit([this, url, commands](uint64_t seq) { return performQuoted(seq, QStringLiteral("RNTO"), url, commands); },
           false);
}

void FtpClient::Delete(const QString& fileName)
{
    QString path = m_dir;
    if (!path.isEmpty() && !path.endsWith(u'/'))
        path += u'/';
    const QByteArray url = urlFor(path, true);
    const QList<QByteArray> commands{"DELE " + fileName.section(u'/', -1).toUtf8()};
    submit([this, url, commands](uint64_t seq) { return performQuoted(seq, QStringLiteral("DELE"), url, commands); },
           false);
}

void FtpClient::Size(const QString& fileName)
{
    const QString name = fileName.section(u'/', -1);
    QString path = m_dir;
    if (!path.isEmpty() && !path.endsWith(u'/'))
        path += u'/';
    QByteArray url = urlFor(path + name, false);
    submit([this, url](uint64_t seq) { return perform(seq, QStringLiteral("SIZE"), url, false, true); }, false);
}

void FtpClient::Abend()
{
    {
        std::lock_guard lock(m_mutex);
        m_abortUpTo = m_nextSeq - 1; // every step submitted so far
        if (m_running != 0 && m_running <= m_abortUpTo)
            shutdownSockets(); // the step may be inside a wait libcurl does not break for us
    }
    m_wake.notify_all();
}

void FtpClient::DisConnect()
{
    submit(
        [this](uint64_t seq) {
            closeHandle(!aborted(seq));
            return Result{0, QStringLiteral("QUIT"), QString()};
        },
        false);
}

void FtpClient::ResetTransfer()
{
    Abend();
    DisConnect();
}

QByteArray FtpClient::takeData(uint64_t seq, size_t max)
{
    if (m_leftover.isEmpty()) {
        {
            std::lock_guard lock(m_mutex);
            m_dataWanted = true;
            m_dataReady = false;
        }
        QMetaObject::invokeMethod(
            this, [this] { answerData(); }, Qt::QueuedConnection);
        std::unique_lock lock(m_mutex);
        m_wake.wait(lock, [&] { return m_dataReady || m_stop || seq <= m_abortUpTo; });
        if (!m_dataReady)
            return {};
        m_leftover = m_data;
        m_data.clear();
        m_dataReady = false;
    }
    const QByteArray out = m_leftover.left(qsizetype(max));
    m_leftover.remove(0, out.size());
    return out;
}

void FtpClient::answerData()
{
    QByteArray block;
    emit DataRequest(m_index, block);
    {
        std::lock_guard lock(m_mutex);
        if (!m_dataWanted)
            return;
        m_dataWanted = false;
        m_data = block;
        m_dataReady = true;
    }
    m_wake.notify_all();
}
