#include "platform/SmtpControl.h"

#include "platform/ServerAddress.h"

#include <QLocale>
#include <QMetaObject>
#include <QStringList>
#include <atomic>
#include <curl/curl.h>
#include <memory>
#include <mutex>

namespace Mail {

ServerUrl serverUrl(const QString& server)
{
    const ServerAddress a = SplitServerAddress(server, {QStringLiteral("smtps"), QStringLiteral("smtp")});
    ServerUrl out;
    const bool implicitTls = a.scheme == QLatin1String("smtps");
    out.requireTls = a.scheme == QLatin1String("smtp"); // written with a scheme: STARTTLS or nothing
    const int port = a.port ? a.port : implicitTls ? 465 : 25;
    out.url = (implicitTls ? QByteArray("smtps") : QByteArray("smtp")) + "://" + a.host.toUtf8() + ':' +
              QByteArray::number(port);
    return out;
}

bool isUsableAddress(const QString& address)
{
    // local@domain in printable ASCII, without the characters that would end or extend the
    // SMTP command it goes into.
    const qsizetype at = address.indexOf(u'@');
    if (at <= 0 || at != address.lastIndexOf(u'@') || at == address.size() - 1 || address.size() > 254)
        return false;
    for (QChar c : address)
        if (c.unicode() <= 0x20 || c.unicode() >= 0x7f || QStringLiteral("<>()[]\\,;:\"").contains(c))
            return false;
    return !address.mid(at + 1).startsWith(u'.') && !address.endsWith(u'.');
}

QString envelopeAddress(const QString& text)
{
    const qsizetype lt = text.lastIndexOf(u'<');
    const qsizetype gt = text.lastIndexOf(u'>');
    if (lt >= 0 && gt > lt)
        return text.mid(lt + 1, gt - lt - 1).trimmed();
    return text.trimmed();
}

static bool isAscii(const QString& s)
{
    for (QChar c : s)
        if (c.unicode() > 0x7e || (c.unicode() < 0x20 && c != u'\t'))
            return false;
    return true;
}

QByteArray encodedWord(const QString& text)
{
    // Words of at most 39 UTF-8 bytes, cut between characters: 64 characters a word, so a
    // header name and its first word stay within a 76-character line.
    QByteArray out;
    QByteArray chunk;
    auto flush = [&] {
        if (chunk.isEmpty())
            return;
        if (!out.isEmpty())
            out += "\r\n ";
        out += "=?UTF-8?B?" + chunk.toBase64() + "?=";
        chunk.clear();
    };
    for (qsizetype i = 0; i < text.size(); ++i) {
        QString ch(text[i]);
        if (text[i].isHighSurrogate() && i + 1 < text.size())
            ch += text[++i];
        const QByteArray bytes = ch.toUtf8();
        if (chunk.size() + bytes.size() > 39)
            flush();
        chunk += bytes;
    }
    flush();
    return out;
}

QByteArray dateHeader(const QDateTime& date)
{
    QByteArray out = "Date: " + QLocale::c().toString(date, QStringLiteral("ddd, dd MMM yyyy HH:mm:ss ")).toLatin1();
    const int offset = date.offsetFromUtc() / 60;
    return out + (offset < 0 ? "-" : "+") +
           QByteArray::number(100 * (qAbs(offset) / 60) + qAbs(offset) % 60).rightJustified(4, '0') + "\r\n";
}

QByteArray buildMessage(const QString& text, const QDateTime& date)
{
    const qsizetype split = text.indexOf(QStringLiteral("\r\n\r\n"));
    const QString head = split < 0 ? text : text.left(split);
    const QString body = split < 0 ? QString() : text.mid(split + 4);
    QByteArray out;
    for (const QString& line : head.split(QStringLiteral("\r\n"), Qt::SkipEmptyParts)) {
        const qsizetype colon = line.indexOf(u':');
        if (colon <= 0) {
            continue; // not a header line
        }
        const QString name = line.left(colon);
        const QString value = line.mid(colon + 1);
        out += name.toUtf8() + ':';
        if (isAscii(value)) {
            out += value.toUtf8();
        } else if (value.endsWith(u'>') && value.lastIndexOf(u'<') >= 0) {
            // A display name before an address: only the name is encoded.
            // An encoded word must stand apart from the "<" that follows it.
            const qsizetype lt = value.lastIndexOf(u'<');
            const QString display = value.left(lt).trimmed();
            out += (isAscii(display) ? display.toUtf8() : ' ' + encodedWord(display)) + ' ' + value.mid(lt).toUtf8();
        } else {
            out += ' ' + encodedWord(value);
        }
        out += "\r\n";
    }
    out += dateHeader(date);
    out += "MIME-Version: 1.0\r\n";
    out += "Content-Type: text/plain; charset=UTF-8\r\n";
    out += "Content-Transfer-Encoding: base64\r\n\r\n";
    const QByteArray encoded = body.toUtf8().toBase64();
    for (qsizetype i = 0; i < encoded.size(); i += 76)
        out += encoded.mid(i, 76) + "\r\n";
    return out;
}

} // namespace Mail

namespace {

struct Send {
    QByteArray payload;
    qsizetype sent = 0;
    const std::atomic<bool>* cancel = nullptr;
};

size_t readPayload(char* buffer, size_t size, size_t count, void* user)
{
    auto* s = static_cast<Send*>(user);
    const qsizetype n = std::min<qsizetype>(qsizetype(size * count), s->payload.size() - s->sent);
    memcpy(buffer, s->payload.constData() + s->sent, size_t(n));
    s->sent += n;
    return size_t(n);
}

int progress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t)
{
    return static_cast<Send*>(user)->cancel->load() ? 1 : 0;
}

// What failed, in the operator's words, with the library's own text after it for whoever
// looks further.
QString failureText(CURLcode rc, const char* detail)
{
    QString what;
    switch (rc) {
    case CURLE_COULDNT_RESOLVE_HOST:
        what = QStringLiteral("メールサーバー名が見つかりません");
        break;
    case CURLE_COULDNT_CONNECT:
        what = QStringLiteral("メールサーバーに接続できません");
        break;
    case CURLE_OPERATION_TIMEDOUT:
        what = QStringLiteral("メールサーバーが時間内に応答しません");
        break;
    case CURLE_LOGIN_DENIED:
        what = QStringLiteral("メールサーバーへのログインが認められません");
        break;
    case CURLE_USE_SSL_FAILED:
    case CURLE_SSL_CONNECT_ERROR:
        what = QStringLiteral("メールサーバーと暗号化通信ができません");
        break;
    case CURLE_PEER_FAILED_VERIFICATION:
        what = QStringLiteral("メールサーバーの証明書を確認できません");
        break;
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
        what = QStringLiteral("メールサーバーとの通信が切れたか、メールが受け付けられませんでした");
        break;
    case CURLE_ABORTED_BY_CALLBACK:
        what = QStringLiteral("送信を中止しました");
        break;
    default:
        what = QStringLiteral("メールサーバーの応答が正しくありません");
        break;
    }
    return what + QStringLiteral("（") + QString::fromUtf8(detail && detail[0] ? detail : curl_easy_strerror(rc)) +
           QStringLiteral("）");
}

} // namespace

QString SmtpControl::SmtpSend(const QString& server, const QString& sender, const QString& recipient,
                              const QString& text)
{
    return SmtpSendMessage(server, sender, recipient, Mail::buildMessage(text, QDateTime::currentDateTime()));
}

QString SmtpControl::SmtpSendMessage(const QString& server, const QString& sender, const QString& recipient,
                                     const QByteArray& message)
{
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
    if (server.trimmed().isEmpty())
        return QStringLiteral("SMTPサーバーが設定されていません");
    if (m_cancel)
        return QStringLiteral("送信を中止しました");
    const auto target = Mail::serverUrl(server);
    const QString fromAddress = Mail::envelopeAddress(sender);
    const QString toAddress = Mail::envelopeAddress(recipient);
    if (!Mail::isUsableAddress(fromAddress))
        return QStringLiteral("差出人アドレスが正しくありません");
    if (!Mail::isUsableAddress(toAddress))
        return QStringLiteral("宛先アドレスが正しくありません");
    const QByteArray from = '<' + fromAddress.toUtf8() + '>';
    const QByteArray to = '<' + toAddress.toUtf8() + '>';
    Send job;
    job.payload = message;
    job.cancel = &m_cancel;
    const QByteArray caFile = CaFile.toLocal8Bit();
    CURL* h = curl_easy_init();
    if (!h)
        return QString::fromUtf8(curl_easy_strerror(CURLE_FAILED_INIT));
    char errorText[CURL_ERROR_SIZE] = {};
    curl_slist* rcpt = curl_slist_append(nullptr, to.constData());
    curl_easy_setopt(h, CURLOPT_URL, target.url.constData());
    curl_easy_setopt(h, CURLOPT_MAIL_FROM, from.constData());
    curl_easy_setopt(h, CURLOPT_MAIL_RCPT, rcpt);
    curl_easy_setopt(h, CURLOPT_UPLOAD, 1L);
    curl_easy_setopt(h, CURLOPT_READFUNCTION, readPayload);
    curl_easy_setopt(h, CURLOPT_READDATA, &job);
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h, CURLOPT_PROXY, "");
    curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, TimeOutMs);
    curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, progress);
    curl_easy_setopt(h, CURLOPT_XFERINFODATA, &job);
    curl_easy_setopt(h, CURLOPT_ERRORBUFFER, errorText);
    if (!caFile.isEmpty())
        curl_easy_setopt(h, CURLOPT_CAINFO, caFile.constData());
    if (target.requireTls)
        curl_easy_setopt(h, CURLOPT_USE_SSL, long(CURLUSESSL_ALL));
    const CURLcode rc = curl_easy_perform(h);
    curl_slist_free_all(rcpt);
    // A cancelled transfer's connection is not worth a polite QUIT to a server that is not answering.
    if (m_cancel)
        curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, 1L);
    curl_easy_cleanup(h);
    if (rc == CURLE_OK)
        return QString();
    return failureText(rc, errorText);
}
