#include "InternetTransfer.h"

#include "TextFile.h"

#include <curl/curl.h>
#include <memory>
#include <mutex>

namespace {

size_t collect(char* data, size_t size, size_t count, void* user)
{
    auto* out = static_cast<QByteArray*>(user);
    constexpr qsizetype Limit = 16 * 1024 * 1024; // a relay file is tiny; refuse a runaway document
    if (out->size() + qsizetype(size * count) > Limit)
        return 0;
    out->append(data, qsizetype(size * count));
    return size * count;
}

int cancelled(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t)
{
    const auto* flag = static_cast<const std::atomic<bool>*>(user);
    return flag && flag->load() ? 1 : 0;
}

} // namespace

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
    if ((sep > 0 && scheme != QLatin1String("http") && scheme != QLatin1String("https")) ||
        trimmed.startsWith(QLatin1String("file:"), Qt::CaseInsensitive))
        throw TransferError("only http and https addresses are fetched");
    QByteArray body;
    const QByteArray address = url.toUtf8();
    const QByteArray proxy = Proxy.toUtf8();
    CURL* h = curl.get();
    curl_easy_setopt(h, CURLOPT_URL, address.constData());
    curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(h, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, collect);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &body);
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, ConnectTimeOutMs);
    curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, RequestTimeOutMs);
    curl_easy_setopt(h, CURLOPT_FAILONERROR, 1L);
    curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(h, CURLOPT_MAXREDIRS, 5L);
    if (CancelFlag) {
        curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L);
        curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, cancelled);
        curl_easy_setopt(h, CURLOPT_XFERINFODATA, const_cast<std::atomic<bool>*>(CancelFlag));
    }
    // Relay data must be current: ask every cache on the way for a fresh copy.
    curl_slist* headers = curl_slist_append(nullptr, "Cache-Control: no-cache");
    headers = curl_slist_append(headers, "Pragma: no-cache");
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
    const CURLcode rc = curl_easy_perform(h);
    curl_slist_free_all(headers);
    if (rc != CURLE_OK)
        throw TransferError(curl_easy_strerror(rc));
    const auto text = TextFile::decode(body);
    if (!text)
        throw TransferError("the document is not text");
    return *text;
}
