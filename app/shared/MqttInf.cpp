// MqttInf.ini: Key=value lines, Shift-JIS, CR LF, like the station's other settings files.

#include "shared/MqttInf.h"

#include "shared/InetInf.h"
#include "shared/SettingsFile.h"
#include "platform/TextFile.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QSysInfo>
#include <QUrl>

namespace {

const QString IniName = QStringLiteral("MqttInf.ini");
const QString CrLf = QStringLiteral("\r\n");

// A prefix every message can go out under: a broker drops a topic with a wildcard or a control
// character, keeps "$" topics to itself, and a topic is at most 65535 bytes with what follows.
bool goodPrefix(const QString& prefix)
{
    if (prefix.isEmpty()) // the station's own default
        return true;
    const QByteArray bytes = prefix.toUtf8();
    if (bytes.size() > 200 || prefix.startsWith(u'$'))
        return false;
    for (const QChar c : prefix)
        if (c == u'+' || c == u'#' || c.category() == QChar::Other_Control)
            return false;
    return QString::fromUtf8(bytes) == prefix; // no lone surrogate
}

} // namespace

MqttInf::MqttInf(QString workDir) : m_workDir(std::move(workDir)) {}

std::optional<BrokerAddress> MqttInf::parseBroker(const QString& text)
{
    const QUrl url(text.trimmed(), QUrl::StrictMode);
    if (!url.isValid() || url.host().isEmpty() || !url.userInfo().isEmpty() ||
        !(url.path().isEmpty() || url.path() == QStringLiteral("/")) || url.hasQuery() || url.hasFragment())
        return std::nullopt;
    BrokerAddress a;
    a.host = url.host();
    if (url.scheme() == QStringLiteral("mqtt"))
        a.tls = false;
    else if (url.scheme() == QStringLiteral("mqtts"))
        a.tls = true;
    else
        return std::nullopt;
    a.port = url.port(a.tls ? 8883 : 1883);
    if (a.port < 1 || a.port > 65535)
        return std::nullopt;
    return a;
}

QString MqttInf::checkSettings(const MqttSettings& s)
{
    if (!s.Broker.trimmed().isEmpty() && !parseBroker(s.Broker))
        return QStringLiteral("ブローカーは mqtt://ホスト:ポート か mqtts://ホスト:ポート で指定して下さい");
    if (!goodPrefix(s.TopicPrefix.trimmed()))
        return QStringLiteral(
            "トピックの接頭辞は UTF-8 で 1～200 バイト、制御文字・+・# を含まず、$ で始まらないものにして下さい");
    if (s.ClientId.toUtf8().size() > 65535 || s.User.toUtf8().size() > 65535 || s.PassWord.toUtf8().size() > 65535)
        return QStringLiteral("クライアントID・ユーザー名・パスワードが長すぎます");
    if (s.Discovery != 0 && s.Discovery != 1)
        return QStringLiteral("Discovery は 0 か 1 です");
    return QString();
}

QString MqttInf::topicPrefix(const MqttSettings& s)
{
    QString prefix = s.TopicPrefix.trimmed();
    while (prefix.endsWith(u'/'))
        prefix.chop(1);
    if (!prefix.isEmpty())
        return prefix;
    QString host = QSysInfo::machineHostName();
    host.remove(u'+').remove(u'#').remove(u'/');
    return QStringLiteral("talveron/") + (host.isEmpty() ? QStringLiteral("station") : host);
}

Outcome MqttInf::load()
{
    settings = MqttSettings{};
    m_loaded = false;
    QHash<QString, QString> values;
    const Outcome read = ReadKeyValues(QDir(m_workDir).filePath(IniName), IniName, values, false);
    m_unreadable = !read && read.fault != Fault::NotLoaded;
    if (!read)
        return read;
    const QString unreadable = IniName + QStringLiteral(" が読めません");
    MqttSettings s;
    s.Broker = values.value(QStringLiteral("broker")).trimmed();
    s.CaFile = values.value(QStringLiteral("cafile")).trimmed();
    s.ClientId = values.value(QStringLiteral("clientid")).trimmed();
    s.User = values.value(QStringLiteral("user"));
    s.PassWord = InetInf::ScramblePass(QStringLiteral("RESET"), values.value(QStringLiteral("password")));
    s.TopicPrefix = values.value(QStringLiteral("topicprefix")).trimmed();
    const QString discovery = values.value(QStringLiteral("discovery")).trimmed();
    s.Discovery = discovery == QStringLiteral("1")                          ? 1
                  : discovery.isEmpty() || discovery == QStringLiteral("0") ? 0
                                                                            : -1;
    const QString problem = checkSettings(s);
    if (!problem.isEmpty()) {
        m_unreadable = true;
        return Failed(Fault::SettingsFile, unreadable + u'\n' + problem);
    }
    settings = s;
    m_loaded = true;
    return {};
}

Outcome MqttInf::save(MessageBoxService& messages)
{
    const QString problem = checkSettings(settings);
    if (!problem.isEmpty())
        return Failed(Fault::SettingsFile, problem);
    const auto& s = settings;
    QString text;
    auto put = [&](const QString& key, const QString& v) { text += key + u'=' + OneLine(v) + CrLf; };
    put(QStringLiteral("Broker"), s.Broker.trimmed());
    put(QStringLiteral("CaFile"), s.CaFile.trimmed());
    put(QStringLiteral("ClientId"), s.ClientId.trimmed());
    put(QStringLiteral("User"), s.User);
    // Shifted as in InetInf.ini, so a glance at the file does not show it.
    put(QStringLiteral("PassWord"), InetInf::ScramblePass(QStringLiteral("SET"), s.PassWord));
    put(QStringLiteral("TopicPrefix"), s.TopicPrefix.trimmed());
    put(QStringLiteral("Discovery"), QString::number(s.Discovery));
    const Outcome saved =
        SaveKeyValues(messages, QDir(m_workDir).filePath(IniName), IniName, text, m_unreadable, !s.PassWord.isEmpty());
    if (saved)
        m_loaded = true;
    return saved;
}
