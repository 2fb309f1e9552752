// WebInf.ini: Key=value lines, Shift-JIS, CR LF, like the station's other settings files.

#include "web/WebInf.h"

#include "shared/SettingsFile.h"

#include <QDir>
#include <QHash>
#include <QStringList>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>

namespace {

constexpr int MaxIterations = 5000000; // a hash from the file must not stall a login for minutes

QByteArray pbkdf2(const QByteArray& password, const QByteArray& salt, int iterations)
{
    QByteArray key(32, '\0');
    if (PKCS5_PBKDF2_HMAC(password.constData(), int(password.size()),
                          reinterpret_cast<const unsigned char*>(salt.constData()), int(salt.size()), iterations,
                          EVP_sha256(), int(key.size()), reinterpret_cast<unsigned char*>(key.data())) != 1)
        return {};
    return key;
}

struct HashParts {
    int iterations = 0;
    QByteArray salt, hash;
};

std::optional<HashParts> splitHash(const QString& stored)
{
    const QStringList parts = stored.split(u'$');
    if (parts.size() != 4 || parts[0] != QStringLiteral("pbkdf2-sha256"))
        return std::nullopt;
    HashParts p;
    bool ok = false;
    p.iterations = parts[1].toInt(&ok);
    const auto salt = QByteArray::fromBase64Encoding(parts[2].toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
    const auto hash = QByteArray::fromBase64Encoding(parts[3].toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
    if (!ok || p.iterations < 1 || p.iterations > MaxIterations || !salt || !hash || salt.decoded.size() < 8 ||
        hash.decoded.size() != 32)
        return std::nullopt;
    p.salt = salt.decoded;
    p.hash = hash.decoded;
    return p;
}

} // namespace

std::optional<ListenAddress> WebInf::parseListen(const QString& text)
{
    const QString t = text.trimmed();
    const qsizetype colon = t.lastIndexOf(u':');
    if (colon <= 0)
        return std::nullopt;
    QString host = t.left(colon);
    if (host.startsWith(u'[') && host.endsWith(u']'))
        host = host.mid(1, host.size() - 2);
    else if (host.contains(u':'))
        return std::nullopt; // a v6 address needs its brackets, or the port is ambiguous
    bool ok = false;
    const int port = t.mid(colon + 1).toInt(&ok);
    ListenAddress a;
    if (!ok || port < 1 || port > 65535 || !a.host.setAddress(host))
        return std::nullopt;
    a.port = quint16(port);
    return a;
}

QString WebInf::checkSettings(const WebSettings& s)
{
    if (s.Enabled != 0 && s.Enabled != 1)
        return QStringLiteral("Enabled は 0 か 1 です");
    const auto listen = parseListen(s.Listen);
    if (!listen)
        return QStringLiteral("待ち受けアドレスは 127.0.0.1:8080 や [::1]:8080 の形で指定して下さい");
    if (!s.PassHash.isEmpty() && !GoodHash(s.PassHash))
        return QStringLiteral("PassHash が pbkdf2-sha256$回数$ソルト$ハッシュ の形ではありません");
    if (s.CertFile.isEmpty() != s.KeyFile.isEmpty())
        return QStringLiteral("HTTPS には証明書ファイルと鍵ファイルの両方が要ります");
    if (!listen->host.isLoopback()) {
        if (s.PassHash.isEmpty())
            return QStringLiteral("パスワードがないため、ループバック (127.0.0.1, ::1) 以外では待ち受けません。"
                                  "誰でも見られてしまうからです");
        if (s.CertFile.isEmpty())
            return QStringLiteral("証明書がないため、ループバック (127.0.0.1, ::1) 以外では待ち受けません。"
                                  "パスワードが暗号化されずにネットワークを流れるからです");
    }
    return QString();
}

Outcome WebInf::load()
{
    settings = WebSettings{};
    m_unreadable = false;
    QHash<QString, QString> values;
    const Outcome read = ReadKeyValues(QDir(m_workDir).filePath(FileName), FileName, values);
    if (!read) {
        m_unreadable = read.fault != Fault::NotLoaded;
        return read;
    }
    WebSettings s;
    s.Enabled = KeyNumber(values, QStringLiteral("enabled"));
    s.Listen = values.value(QStringLiteral("listen"), s.Listen);
    s.PassHash = values.value(QStringLiteral("passhash"));
    s.CertFile = values.value(QStringLiteral("certfile"));
    s.KeyFile = values.value(QStringLiteral("keyfile"));
    const QString problem = checkSettings(s);
    if (!problem.isEmpty()) {
        m_unreadable = true;
        return Failed(Fault::SettingsFile, FileName + QStringLiteral(" が読めません\n") + problem);
    }
    settings = s;
    return {};
}

Outcome WebInf::save(MessageBoxService& messages)
{
    const QString problem = checkSettings(settings);
    if (!problem.isEmpty())
        return Failed(Fault::SettingsFile, problem);
    const auto& s = settings;
    const QString text =
        QStringLiteral("Enabled=%1\r\nListen=%2\r\nPassHash=%3\r\nCertFile=%4\r\nKeyFile=%5\r\n")
            .arg(s.Enabled)
            .arg(OneLine(s.Listen.trimmed()), s.PassHash, OneLine(s.CertFile.trimmed()), OneLine(s.KeyFile.trimmed()));
    return SaveKeyValues(messages, QDir(m_workDir).filePath(FileName), FileName, text, m_unreadable, true);
}

QString WebInf::HashPassword(const QString& password, int iterations)
{
    QByteArray salt(16, '\0');
    if (RAND_bytes(reinterpret_cast<unsigned char*>(salt.data()), int(salt.size())) != 1)
        return QString();
    const QByteArray hash = pbkdf2(password.toUtf8(), salt, iterations);
    if (hash.isEmpty())
        return QString();
    return QStringLiteral("pbkdf2-sha256$%1$%2$%3")
        .arg(iterations)
        .arg(QString::fromLatin1(salt.toBase64()), QString::fromLatin1(hash.toBase64()));
}

bool WebInf::GoodHash(const QString& stored)
{
    return splitHash(stored).has_value();
}

bool WebInf::CheckPassword(const QString& stored, const QByteArray& password)
{
    const auto p = splitHash(stored);
    if (!p)
        return false;
    const QByteArray hash = pbkdf2(password, p->salt, p->iterations);
    return hash.size() == p->hash.size() &&
           CRYPTO_memcmp(hash.constData(), p->hash.constData(), size_t(hash.size())) == 0;
}
