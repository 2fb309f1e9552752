// Sending one file to the FTP server under a watchdog per step.

#include "FtpUpload.h"

#include "Conversions.h"
#include "FtpClient.h"
#include "AlarmNotifier.h"
#include "MontComm1.h"
#include "TextFile.h"

#include <QFile>
#include <QTimer>
#include <optional>

FtpTarget FtpTarget::of(const InternetSettings& s)
{
    return FtpTarget{s.FTP, s.ID, s.PassWord, s.ProxyServerName, s.ProxyPortNo, s.RemoteDir};
}

FtpUploadJob::FtpUploadJob(FtpClient& ftp, QTimer& watchdog, QObject* parent)
    : QObject(parent)
    , m_ftp(&ftp)
    , m_timer(&watchdog)
{
}

FtpUploadJob::~FtpUploadJob()
{
    cancel();
}

bool FtpUploadJob::start(const FtpTarget& target, const QString& localPath, int stepTimeOutMs,
                         std::function<void(int16_t)> done)
{
    if (busy() || !m_ftp || !m_timer)
        return false;
    m_target = target;
    m_localPath = localPath;
    m_remoteName = localPath.section(u'/', -1);
    // Sent under a temporary name and renamed once its size is confirmed, so a reader on the
    // server never gets half a file. A server that refuses the name or the rename gets the final
    // name directly, as the only way it publishes anything.
    m_partName = u'.' + m_remoteName + QStringLiteral(".part");
    m_direct = !m_strictServer.isEmpty() && m_strictServer == serverKey();
    m_stepTimeOutMs = stepTimeOutMs;
    m_done = std::move(done);
    ++m_run;
    m_remoteSize = -1;
    FtpClient* ftp = m_ftp;
    m_links[0] = connect(ftp, &FtpClient::CommandReply, this,
                         [this](int, int16_t code, const QString& command, const QString& reply) {
                             m_code = code;
                             m_replied = true;
                             if (command.toUpper() == QLatin1String("SIZE") && code == 0)
                                 m_remoteSize = int32_t(Conv::Val(reply));
                         });
    m_links[1] = connect(ftp, &FtpClient::DataRequest, this, [this](int, QByteArray& data) {
        if (m_step == Step::Put && m_file && m_file->isOpen() && !m_file->atEnd())
            data = m_file->read(8192);
    });
    m_links[2] = connect(ftp, &FtpClient::StepFinished, this, [this](int) { stepFinished(); });
    m_links[3] = connect(m_timer.data(), &QTimer::timeout, this, [this] { watchdogFired(); });
    ftp->TransErrorEvent = true;
    if (!m_target.proxyPort.isEmpty())
        ftp->Port = m_target.proxyPort;
    m_timer->setInterval(m_stepTimeOutMs);
    m_timer->start();
    // Steps of an earlier, abandoned send may still be ending on this control: they must not
    // be taken for this send's replies.
    if (ftp->IsIdle()) {
        begin();
    } else {
        m_step = Step::Drain;
    }
    return true;
}

namespace {

// "ftps://host" and "ftp://host" ask for TLS (from the start, or by AUTH TLS).
bool wantsTls(const QString& host)
{
    const QString h = host.trimmed();
    return h.startsWith(QLatin1String("ftps://"), Qt::CaseInsensitive) ||
           h.startsWith(QLatin1String("ftp://"), Qt::CaseInsensitive);
}

// A permanent refusal: the same command would be refused again.
bool refused(int16_t code)
{
    return code >= 500 && code < 600;
}

} // namespace

QString FtpUploadJob::serverKey() const
{
    const FtpTarget& t = m_target;
    return QStringList{t.host.trimmed(), t.user.trimmed(), t.proxyServer, t.proxyPort}.join(u'\n');
}

void FtpUploadJob::begin()
{
    m_step = Step::Connect;
    m_replied = false;
    m_code = 0;
    const FtpTarget& t = m_target;
    if (!t.proxyServer.isEmpty() && wantsTls(t.host)) {
        // The proxy takes the login as "user@host" on its own connection, so TLS to the FTP
        // server cannot pass it. Refused before anything is sent, the password above all.
        m_step = Step::Refused;
        QMetaObject::invokeMethod(
            this,
            [this, run = m_run] {
                if (m_step == Step::Refused && m_run == run)
                    finish(7);
            },
            Qt::QueuedConnection);
        return;
    }
    if (!t.proxyServer.isEmpty()) {
        m_ftp->PreCommand = QString();
        m_ftp->Connect(t.proxyServer, t.user + u'@' + t.host.trimmed(), t.password);
    } else {
        m_ftp->Connect(t.host.trimmed(), t.user.trimmed(), t.password.trimmed());
    }
}

void FtpUploadJob::restartWatchdog()
{
    m_timer->stop();
    m_timer->start();
    m_replied = false;
    m_code = 0;
}

void FtpUploadJob::stepFinished()
{
    if (m_step == Step::Idle || !m_ftp)
        return;
    if (m_step == Step::Drain) {
        if (m_ftp->IsIdle())
            begin();
        return;
    }
    next();
}

void FtpUploadJob::next()
{
    FtpClient& ftp = *m_ftp;
    const auto put = [&] {
        restartWatchdog();
        m_file = std::make_unique<QFile>();
        if (!TextFile::openRegular(*m_file, m_localPath)) {
            m_file.reset();
            finish(3);
            return;
        }
        m_localSize = m_file->size();
        ftp.Filetype = QStringLiteral("I");
        m_step = Step::Put;
        ftp.PutFile(m_remoteName, m_direct ? m_remoteName : m_partName);
    };
    switch (m_step) {
    case Step::Connect:
        // A refused connection or a failed login is reported at once, not after the watchdog;
        // a login the server refused says so, rather than blaming the connection.
        if (m_replied && (m_code == 530 || m_code == -67))
            return finish(8);
        if (!m_replied || m_code != 0)
            return finish(1);
        if (m_target.remoteDir.isEmpty())
            return put();
        restartWatchdog();
        m_step = Step::Cd;
        ftp.Cd(m_target.remoteDir.trimmed());
        return;
    case Step::Cd:
        if (m_code != 0)
            return finish(2);
        return put();
    case Step::Put: {
        m_file.reset();
        if (m_code != 0 && !m_direct && refused(m_code)) {
            m_direct = true; // a server that takes no dot names
            return put();
        }
        if (m_code != 0)
            return finish(3);
        if (m_direct && m_strictServer != serverKey()) {
            m_strictServer = serverKey();
            emit sendingDirect();
        }
        restartWatchdog();
        m_remoteSize = -1; // a size left over from an earlier send must not confirm this one
        m_step = Step::Size;
        ftp.Size(m_direct ? m_remoteName : m_partName);
        return;
    }
    case Step::Size:
        if (m_localSize != m_remoteSize) {
            if (m_direct)
                return finish(4); // already under its final name: reported, nothing to undo
            // A file the server did not keep whole is never published: the last good file keeps
            // the real name, and the temporary copy goes, as something may watch the folder.
            restartWatchdog();
            m_step = Step::DropShort;
            ftp.Delete(m_partName);
            return;
        }
        if (m_direct)
            return finish(0);
        restartWatchdog();
        m_step = Step::Rename;
        ftp.Rename(m_partName, m_remoteName);
        return;
    case Step::Rename:
        if (m_code == 0)
            return finish(0);
        // Some servers refuse to rename onto an existing file: remove it first.
        restartWatchdog();
        m_step = Step::Replace;
        ftp.Rename(m_partName, m_remoteName, true);
        return;
    case Step::Replace:
        if (m_code == 0)
            return finish(0);
        if (!refused(m_code))
            return finish(3);
        // A server that renames nothing: the temporary copy goes, and the file is sent again
        // under its final name.
        restartWatchdog();
        m_direct = true;
        m_step = Step::DropPart;
        ftp.Delete(m_partName);
        return;
    case Step::DropPart:
        return put(); // a copy left behind is no failure of the send
    case Step::DropShort:
        return finish(4);
    case Step::Idle:
    case Step::Drain:
    case Step::Refused:
        return;
    }
}

void FtpUploadJob::watchdogFired()
{
    if (busy())
        finish(2);
}

void FtpUploadJob::finish(int16_t code)
{
    auto done = std::move(m_done);
    m_done = nullptr;
    cancel();
    if (done)
        done(code); // last: the caller may start the next send from here
}

void FtpUploadJob::cancel()
{
    if (!busy())
        return;
    m_step = Step::Idle;
    m_done = nullptr;
    for (auto& l : m_links)
        disconnect(l);
    if (m_timer)
        m_timer->stop();
    m_file.reset();
    if (m_ftp) {
        // Every send ends its session; an unfinished step is dropped with it.
        m_ftp->Abend();
        m_ftp->DisConnect();
    }
}

QString FtpErrorText(int16_t code, const QString& localPath)
{
    switch (code) {
    case 0:
        return QString();
    case 1:
        return QStringLiteral("FTPサーバーコネクトタイムアウト");
    case 2:
        return QStringLiteral("リモートディレクトリエラー");
    case 3:
        return QStringLiteral("ファイル送信エラー") + localPath;
    case 4:
        return QStringLiteral("送信済みファイルサイズエラー");
    case 5:
        return QStringLiteral("リモートファイル削除エラー");
    case 6:
        return QStringLiteral("ローカルファイル作成エラー");
    case 7:
        return QStringLiteral("プロキシ経由ではFTPS(TLS)で送信できません");
    case 8:
        return QStringLiteral("FTPサーバーにログインできません（ID かパスワードが違います）");
    default:
        return QStringLiteral("その他のエラー");
    }
}

namespace {

// One camera folder after the other on one control; owned by its own chain and gone when the
// chain ends or the control does.
class AbnormalMarkRun : public QObject {
public:
    AbnormalMarkRun(FtpClient& ftp, QTimer& timer, const FtpTarget& target, QStringList folders, QString localPath,
                    int stepTimeOutMs, std::function<void(int16_t)> done)
        : QObject(&ftp)
        , m_job(ftp, timer)
        , m_target(target)
        , m_folders(std::move(folders))
        , m_localPath(std::move(localPath))
        , m_stepTimeOutMs(stepTimeOutMs)
        , m_done(std::move(done))
    {
        setObjectName(Name);
    }
    static inline const QString Name = QStringLiteral("AbnormalMarkRun");
    void next()
    {
        if (m_folders.isEmpty()) {
            setObjectName(QString()); // ended: the next mark may start
            auto done = std::move(m_done);
            const int16_t result = m_last != 0 ? 1 : 0;
            deleteLater();
            if (done)
                done(result);
            return;
        }
        m_target.remoteDir = m_folders.takeFirst();
        if (!m_job.start(m_target, m_localPath, m_stepTimeOutMs, [this](int16_t code) {
                m_last = code; // the first failing does not stop the next
                QMetaObject::invokeMethod(
                    this, [this] { next(); }, Qt::QueuedConnection);
            })) {
            m_last = -1;
            QMetaObject::invokeMethod(
                this, [this] { next(); }, Qt::QueuedConnection);
        }
    }

private:
    FtpUploadJob m_job;
    FtpTarget m_target;
    QStringList m_folders;
    QString m_localPath;
    int m_stepTimeOutMs;
    std::function<void(int16_t)> m_done;
    int16_t m_last = 0;
};

} // namespace

void AlarmNotifier::PostAbnormalMark(FtpClient& ftp, QTimer& timer, std::function<void(int16_t)> done)
{
    // One mark at a time on a control: a second alarm while one is on its way fails, as a second
    // upload always did, instead of mixing its steps into the first one's session.
    if (ftp.findChild<QObject*>(AbnormalMarkRun::Name, Qt::FindDirectChildrenOnly)) {
        if (done)
            QMetaObject::invokeMethod(
                &ftp, [done] { done(1); }, Qt::QueuedConnection);
        return;
    }
    const QString mark = QStringLiteral("IjyouFile.txt");
    TextFile::writeWholeBytes(m_comm.path(mark), QByteArrayLiteral("!!\r\n"));
    const auto& s = m_comm.inet().InternetSettings;
    QStringList folders;
    for (int i = 0; i < 4; ++i)
        if (!s.Camera[i].isEmpty())
            folders << s.Camera[i];
    auto* run = new AbnormalMarkRun(ftp, timer, FtpTarget::of(s), folders, m_comm.path(mark), m_comm.ftpStepTimeOutMs(),
                                    std::move(done));
    // Started from the event loop, so done never comes from inside this call.
    QMetaObject::invokeMethod(
        run, [run] { run->next(); }, Qt::QueuedConnection);
}

// --- the abnormality mark on the camera folders ---

void AlarmNotifier::PostAbnormalMark(std::function<void(int16_t)> done)
{
    if (m_mainFtp && m_mainTimFtp) {
        PostAbnormalMark(*m_mainFtp, *m_mainTimFtp, std::move(done));
        return;
    }
    if (done)
        done(1);
}
