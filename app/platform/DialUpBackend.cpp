#include "platform/DialUpBackend.h"

#include <QProcess>
#include <QTemporaryFile>
#include <algorithm>

QString DialUpError::text(int32_t code)
{
    switch (code) {
    case 0:
        return QString();
    case EntryNotFound:
        return QStringLiteral("ダイアルアップ接続先が見つかりません（NetworkManager に同じ名前の接続がありません）");
    case NotConnected:
        return QStringLiteral("ダイアルアップ接続はされていません");
    case DialFailed:
        return QStringLiteral("ダイアルアップ接続に失敗しました（接続を開始できませんでした）");
    case AuthenticationFailed:
        return QStringLiteral("ダイアルアップ接続のユーザー名またはパスワードが認められませんでした");
    case ServiceUnavailable:
        return QStringLiteral("NetworkManager（nmcli）が使えません");
    case TimedOut:
        return QStringLiteral("ダイアルアップ接続が時間内に完了しませんでした");
    default:
        return QStringLiteral("ダイアルアップ接続のエラーです（コード %1）").arg(code);
    }
}

int32_t NmcliDialUp::run(const QStringList& args, QString* out)
{
    // Runs on the dial-up line's worker thread: waits in short slices so a cancel ends it.
    QProcess p;
    p.setProcessChannelMode(QProcess::SeparateChannels);
    p.start(m_program, args);
    if (!p.waitForStarted(5000))
        return DialUpError::ServiceUnavailable;
    const int sliceMs = 100;
    bool finished = false;
    const auto limit = [this] {
        return m_limitMs > 0 ? std::min(m_limitMs.load(), TimeOutSeconds * 1000) : TimeOutSeconds * 1000;
    };
    for (int waited = 0; waited < limit(); waited += sliceMs) {
        if (m_cancel)
            break;
        if (p.waitForFinished(sliceMs)) {
            finished = true;
            break;
        }
    }
    if (!finished) {
        p.kill();
        p.waitForFinished(1000);
        return DialUpError::TimedOut;
    }
    if (p.error() == QProcess::FailedToStart || p.exitStatus() != QProcess::NormalExit)
        return DialUpError::ServiceUnavailable;
    if (out)
        *out = QString::fromUtf8(p.readAllStandardOutput());
    const QString err = QString::fromUtf8(p.readAllStandardError());
    switch (p.exitCode()) {
    case 0:
        return 0;
    case 3:
        return DialUpError::TimedOut;
    case 8:
        return DialUpError::ServiceUnavailable;
    case 10:
        return DialUpError::EntryNotFound;
    case 4:
        return err.contains(QLatin1String("ecret")) ? DialUpError::AuthenticationFailed : DialUpError::DialFailed;
    default:
        return DialUpError::DialFailed;
    }
}

int32_t NmcliDialUp::entries(std::vector<QString>& out)
{
    QString text;
    const int32_t rc = run(
        {QStringLiteral("-g"), QStringLiteral("NAME"), QStringLiteral("connection"), QStringLiteral("show")}, &text);
    if (rc == 0)
        for (const QString& line : text.split(u'\n', Qt::SkipEmptyParts))
            out.push_back(line.trimmed().replace(QLatin1String("\\:"), QLatin1String(":")));
    return rc;
}

int32_t NmcliDialUp::active(std::vector<ActiveDialUp>& out)
{
    QString text;
    const int32_t rc = run({QStringLiteral("-g"), QStringLiteral("NAME,ACTIVE-PATH"), QStringLiteral("connection"),
                            QStringLiteral("show"), QStringLiteral("--active")},
                           &text);
    if (rc != 0)
        return rc;
    for (const QString& line : text.split(u'\n', Qt::SkipEmptyParts)) {
        // NAME:/org/freedesktop/NetworkManager/ActiveConnection/N; a ':' in the name is "\:".
        const qsizetype sep = line.lastIndexOf(QLatin1String(":/"));
        if (sep < 0)
            continue;
        const int32_t handle = line.mid(line.lastIndexOf(u'/') + 1).trimmed().toInt();
        if (handle > 0)
            out.push_back({handle, line.left(sep).replace(QLatin1String("\\:"), QLatin1String(":"))});
    }
    return 0;
}

int32_t NmcliDialUp::dial(const QString& entry, const QString& user, const QString& password, int32_t& handle)
{
    handle = 0;
    Q_UNUSED(user) // the profile carries its user name; nmcli takes only secrets at activation
    QStringList args{QStringLiteral("--wait"),     QString::number(TimeOutSeconds),
                     QStringLiteral("connection"), QStringLiteral("up"),
                     QStringLiteral("id"),         entry};
    // The password goes in a private file, never on a command line others can read.
    QTemporaryFile secrets;
    if (!password.isEmpty() && secrets.open()) {
        for (const char* key :
             {"ppp.password", "pppoe.password", "gsm.password", "cdma.password", "vpn.secrets.password"})
            secrets.write(QByteArray(key) + ':' + password.toUtf8() + '\n');
        secrets.flush();
        args << QStringLiteral("passwd-file") << secrets.fileName();
    }
    const int32_t rc = run(args, nullptr);
    if (rc != 0)
        return rc;
    std::vector<ActiveDialUp> up;
    active(up);
    for (const auto& a : up)
        if (a.entry == entry)
            handle = a.handle;
    return handle ? 0 : DialUpError::DialFailed;
}

int32_t NmcliDialUp::hangUp(int32_t handle)
{
    if (handle <= 0)
        return DialUpError::NotConnected;
    return run({QStringLiteral("connection"), QStringLiteral("down"), QStringLiteral("apath"),
                QStringLiteral("/org/freedesktop/NetworkManager/ActiveConnection/%1").arg(handle)},
               nullptr);
}
