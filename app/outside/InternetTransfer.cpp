#include "outside/InternetTransfer.h"

#include "platform/TextFile.h"

#include <QUrl>
#include <chrono>
#include <curl/curl.h>
#include <memory>
#include <mutex>

namespace {

struct Body {
    QByteArray bytes;
    qsizetype limit = 0;
    bool tooLarge = false;
};

size_t collect(char* data, size_t size, size_t count, void* user)
{
    auto* out = static_cast<Body*>(user);
    if (out->bytes.size() + qsizetype(size * count) > out->limit) {
        out->tooLarge = true; // a relay file is tiny; refuse a runaway document
        return 0;
    }
    out->bytes.append(data, qsizetype(size * count));
    return size * count;
}

int cancelled(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t)
{
    const auto* flag = static_cast<const std::atomic<bool>*>(user);
    return flag && flag->load() ? 1 : 0;
}

bool webScheme(const QString& scheme)
{
    return scheme == QLatin1String("http") || scheme == QLatin1String("https");
}

} // namespace

bool RedirectAllowed(const QString& from, const QString& to)
{
    const QUrl a(from.trimmed());
    const QUrl b(to.trimmed());
    if (!a.isValid() || !b.isValid() || b.host().isEmpty())
        return false;
    const QString fromScheme = a.scheme().toLower();
    const QString toScheme = b.scheme().toLower();
    if (!webScheme(toScheme))
        return false;
    if (fromScheme == QLatin1String("https") && toScheme != QLatin1String("https"))
        return false;
    return a.host().compare(b.host(), Qt::CaseInsensitive) == 0;
}

QString CurlTransfer::OpenURL(const QString& url)
{
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });

    std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> curl(curl_easy_init(), curl_easy_cleanup);
    if (!curl)
        throw TransferError("cannot start a transfer");
    // Relay files come from web servers; file:, ftp: and the rest would reach local files or
    // other services. An address without a scheme is left to libcurl, which takes it as
    // http; the protocol list below refuses whatever else it might guess.
    const QString trimmed = url.trimmed();
    const qsizetype sep = trimmed.indexOf(QLatin1String("://"));
    const QString scheme = sep > 0 ? trimmed.left(sep).toLower() : QString();
    if ((sep > 0 && !webScheme(scheme)) || trimmed.startsWith(QLatin1String("file:"), Qt::CaseInsensitive))
        throw TransferError("only http and https addresses are fetched");
    Body body;
    body.limit = MaxDocumentBytes;
    QByteArray address = url.toUtf8();
    const QByteArray proxy = Proxy.toUtf8();
    CURL* h = curl.get();
    curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, collect);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &body);
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, ConnectTimeOutMs);
    curl_easy_setopt(h, CURLOPT_FAILONERROR, 1L);
    // Redirects are followed here, one by one, so each one's target can be judged.
    curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 0L);
    if (CancelFlag) {
        curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L);
        curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, cancelled);
        curl_easy_setopt(h, CURLOPT_XFERINFODATA, const_cast<std::atomic<bool>*>(CancelFlag));
    }
    // Relay data must be current: ask every cache on the way for a fresh copy.
    curl_slist* headers = curl_slist_append(nullptr, "Cache-Control: no-cache");
    headers = curl_slist_append(headers, "Pragma: no-cache");
    std::unique_ptr<curl_slist, decltype(&curl_slist_free_all)> headerList(headers, curl_slist_free_all);
    curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers);
    if (AccessType == NamedProxy && !Proxy.isEmpty()) {
        curl_easy_setopt(h, CURLOPT_PROXY, proxy.constData());
        bool ok = false;
        const long port = ProxyPort.trimmed().toLong(&ok);
        if (ok && port > 0 && port < 65536)
            curl_easy_setopt(h, CURLOPT_PROXYPORT, port);
    } else {
        curl_easy_setopt(h, CURLOPT_PROXY, ""); // connect directly, whatever the environment says
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(RequestTimeOutMs);
    constexpr int MaxRedirects = 5;
    for (int hop = 0;; ++hop) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
        if (left <= 0)
            throw TransferError("timed out");
        curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, long(left));
        curl_easy_setopt(h, CURLOPT_URL, address.constData());
        body.bytes.clear();
        const CURLcode rc = curl_easy_perform(h);
        if (body.tooLarge)
            throw UnreadableDocument("the document is too large");
        if (rc != CURLE_OK)
            throw TransferError(curl_easy_strerror(rc));
        long status = 0;
        curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status);
        char* location = nullptr;
        curl_easy_getinfo(h, CURLINFO_REDIRECT_URL, &location);
        if (status < 300 || status >= 400 || !location)
            break;
        char* effective = nullptr; // the address as libcurl took it, scheme included
        curl_easy_getinfo(h, CURLINFO_EFFECTIVE_URL, &effective);
        const QString from = QString::fromUtf8(effective ? effective : address.constData());
        const QString to = QString::fromUtf8(location);
        if (hop >= MaxRedirects)
            throw TransferError("too many redirects");
        if (!RedirectAllowed(from, to))
            throw TransferError("a redirect to another host or away from https is not followed");
        address = to.toUtf8();
    }
    const auto text = TextFile::decode(body.bytes);
    if (!text)
        throw UnreadableDocument("the document is not text");
    return *text;
}
