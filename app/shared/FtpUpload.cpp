// Sending one file to the FTP server under a watchdog per step.

#include "shared/FtpUpload.h"

#include "platform/Conversions.h"
#include "outside/FtpClient.h"
#include "shared/AlarmNotifier.h"
#include "shared/InetInf.h"
#include "platform/TextFile.h"

#include <QBuffer>
#include <QDir>
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
    m_bytes.reset();
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

bool FtpUploadJob::start(const FtpTarget& target, const QString& remoteName, const QByteArray& bytes, int stepTimeOutMs,
                         std::function<void(int16_t)> done)
{
    if (busy() || remoteName.isEmpty() || remoteName.contains(u'/'))
        return false;
    if (!start(target, remoteName, stepTimeOutMs, std::move(done)))
        return false;
    m_bytes = bytes; // read when the put step opens its source
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
        if (m_bytes) {
            auto buffer = std::make_unique<QBuffer>();
            buffer->setData(*m_bytes);
            buffer->open(QIODevice::ReadOnly);
            m_file = std::move(buffer);
        } else if (auto file = std::make_unique<QFile>(); TextFile::openRegular(*file, m_localPath)) {
            m_file = std::move(file);
        } else {
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

// One folder after the other; the chain lives in the sender's callbacks, so a cancelled
// sender drops it.
void sendToFolders(const AlarmNotifier::FileSend& send, FtpTarget target, const QString& name, QStringList folders,
                   int16_t last, std::function<void(int16_t)> done)
{
    if (folders.isEmpty()) {
        if (done)
            done(last != 0 ? 1 : 0);
        return;
    }
    target.remoteDir = folders.takeFirst();
    send(target, name, [send, target, name, folders, done](int16_t code) {
        sendToFolders(send, target, name, folders, code, done); // the first failing does not stop the next
    });
}

const QString MarkJobName = QStringLiteral("AbnormalMark");
const QString MarkName = QStringLiteral("IjyouFile.txt");

// Writes the mark into the working directory and says which folders it goes to.
QStringList writeMark(const AlarmNotifier::Parts& parts)
{
    TextFile::writeWholeBytes(QDir(parts.workDir).filePath(MarkName), QByteArrayLiteral("!!\r\n"));
    QStringList folders;
    for (int i = 0; i < 4; ++i)
        if (const QString& folder = parts.inet.InternetSettings().Camera[i]; !folder.isEmpty())
            folders << folder;
    return folders;
}

} // namespace

void AlarmNotifier::PostAbnormalMark(const FileSend& send, std::function<void(int16_t)> done)
{
    const QStringList folders = writeMark(m_parts);
    sendToFolders(send, FtpTarget::of(m_parts.inet.InternetSettings()), MarkName, folders, 0, std::move(done));
}

void AlarmNotifier::PostAbnormalMark(FtpClient& ftp, QTimer& timer, std::function<void(int16_t)> done)
{
    // A second alarm while a mark is on its way fails, as a second upload always did, instead
    // of mixing its steps into the first one's session.
    if (ftp.findChild<FtpUploadJob*>(MarkJobName, Qt::FindDirectChildrenOnly)) {
        if (done)
            QMetaObject::invokeMethod(
                &ftp, [done] { done(1); }, Qt::QueuedConnection);
        return;
    }
    auto* job = new FtpUploadJob(ftp, timer, &ftp); // goes with the control, and the chain with it
    job->setObjectName(MarkJobName);
    const int stepMs = m_parts.ftpStepTimeOutMs;
    const QString dir = m_parts.workDir;
    FileSend send = [job, stepMs, dir](const FtpTarget& target, const QString& name,
                                       std::function<void(int16_t)> sent) {
        if (!job->start(target, QDir(dir).filePath(name), stepMs, sent))
            QMetaObject::invokeMethod(
                job, [sent] { sent(-1); }, Qt::QueuedConnection);
    };
    auto ended = [job, done = std::move(done)](int16_t result) {
        job->setObjectName(QString()); // the next mark may start
        job->deleteLater();
        if (done)
            done(result);
    };
    // Started from the event loop, so done never comes from inside this call.
    QMetaObject::invokeMethod(
        job,
        [send, ended, folders = writeMark(m_parts), target = FtpTarget::of(m_parts.inet.InternetSettings())] {
            sendToFolders(send, target, MarkName, folders, 0, ended);
        },
        Qt::QueuedConnection);
}

void AlarmNotifier::PostAbnormalMark(std::function<void(int16_t)> done)
{
    if (m_mainFtp && m_mainTimer) {
        PostAbnormalMark(*m_mainFtp, *m_mainTimer, std::move(done));
        return;
    }
    if (done)
        done(1);
}
