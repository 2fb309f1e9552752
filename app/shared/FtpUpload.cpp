// Sending one file to the FTP server under a watchdog per step.

#include "FtpUpload.h"

#include "Conversions.h"
#include "EventPump.h"
#include "FtpClient.h"
#include "MontComm1.h"
#include "TextFile.h"

#include <QFile>
#include <QTimer>

void ConnectFtpEvents(MontComm1& comm, FtpClient& ftp, QTimer& timFtp)
{
    QObject::connect(&ftp, &FtpClient::CommandReply, &ftp,
                     [&comm](int, int16_t code, const QString& command, const QString& reply) {
                         if (command.toUpper() == QLatin1String("SIZE") && code == 0)
                             comm.RemoteFileSize = int32_t(Conv::Val(reply));
                         comm.FtpEventCode = comm.FtpState = code;
                         comm.FtpEventText = reply;
                     });
    QObject::connect(&ftp, &FtpClient::DataRequest, &ftp, [&comm](int, QByteArray& data) {
        QFile* f = comm.UploadFile.get();
        if (comm.UploadFileNo >= 1 && f && f->isOpen() && !f->atEnd())
            data = f->read(8192);
    });
    QObject::connect(&ftp, &FtpClient::TransferEnd, &ftp, [&comm](int) { comm.CloseUploadFile(); });
    QObject::connect(&ftp, &FtpClient::StateReset, &ftp, [&comm](int) { comm.FtpState = 0; });
    QObject::connect(&timFtp, &QTimer::timeout, &ftp, [&comm] {
        comm.FtpTimedOut = true;
        comm.FtpState = comm.FtpEventCode = 100;
        comm.FtpEventText = QStringLiteral("タイムアウト");
    });
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
    default:
        return QStringLiteral("その他のエラー");
    }
}

void MontComm1::CloseUploadFile()
{
    if (UploadFile)
        UploadFile->close();
    UploadFile.reset();
    UploadFileNo = 0;
}

int16_t MontComm1::FtpUploadFile(FtpClient& ftp, QTimer& timer, const QString& fileName)
{
    // One upload at a time in the whole station. A second one can only be asked for from
    // inside the first one's wait, so it cannot wait for it: it fails at once.
    if (m_uploadBusy)
        return -1;
    ReentryGuard busy(m_uploadBusy);
    const auto& s = InternetSettings;

    int16_t stepCode = 0;
    bool stepReplied = false;
    QObject context;
    QObject::connect(&ftp, &FtpClient::CommandReply, &context, [&](int, int16_t code, const QString&, const QString&) {
        stepCode = code;
        stepReplied = true;
    });
    QObject::connect(&timer, &QTimer::timeout, &context, [this] { FtpTimedOut = true; });
    // A step ends when the control is idle; it fails when the watchdog fired first.
    auto step = [&]() -> bool {
        EventPump::waitUntil([&] { return ftp.IsIdle() || FtpTimedOut; });
        return ftp.IsIdle();
    };
    auto restartWatchdog = [&] {
        timer.stop();
        FtpTimedOut = false;
        timer.start();
    };
    auto begin = [&] {
        stepCode = 0;
        stepReplied = false;
    };

    int16_t result = 0;
    FtpTimedOut = false;
    ftp.TransErrorEvent = true;
    if (!s.ProxyPortNo.isEmpty())
        ftp.Port = s.ProxyPortNo;
    timer.setInterval(FtpStepTimeOutMs);
    timer.start();
    do {
        begin();
        if (!s.ProxyServerName.isEmpty()) {
            ftp.PreCommand = QString();
            ftp.Connect(s.ProxyServerName, s.ID + u'@' + s.FTP.trimmed(), s.PassWord);
        } else {
            ftp.Connect(s.FTP.trimmed(), s.ID.trimmed(), s.PassWord.trimmed());
        }
        if (!step()) {
            result = 2;
            break;
        }
        // A refused connection or a failed login is reported at once, not after the watchdog.
        if (!stepReplied || stepCode != 0) {
            result = 1;
            break;
        }
        restartWatchdog();
        if (!s.RemoteDir.isEmpty()) {
            begin();
            ftp.Cd(s.RemoteDir.trimmed());
            if (!step() || stepCode != 0) {
                result = 2;
                break;
            }
        }
        restartWatchdog();
        CloseUploadFile();
        UploadFile = std::make_unique<QFile>(path(fileName));
        if (!UploadFile->open(QIODevice::ReadOnly)) {
            CloseUploadFile();
            result = 3;
            break;
        }
        const qint64 localSize = UploadFile->size();
        UploadFileNo = 1;
        ftp.Filetype = QStringLiteral("I");
        // Sent under a temporary name and renamed once its size is confirmed, so a reader on
        // the server never gets half a file.
        const QString partName = u'.' + fileName.section(u'/', -1) + QStringLiteral(".part");
        begin();
        ftp.PutFile(fileName, partName);
        const bool sent = step();
        CloseUploadFile();
        if (!sent) {
            result = 2;
            break;
        }
        if (stepCode != 0) {
            result = 3;
            break;
        }
        restartWatchdog();
        // A size left over from an earlier upload must not confirm this one.
        RemoteFileSize = -1;
        begin();
        ftp.Size(partName);
        if (!step()) {
            result = 2;
            break;
        }
        // Renamed even when the sizes differ: the file lands where it always did, and the
        // caller learns of the mismatch from the code.
        const int16_t sizeResult = localSize == RemoteFileSize ? 0 : 4;
        restartWatchdog();
        begin();
        ftp.Rename(partName, fileName);
        if (!step()) {
            result = 2;
            break;
        }
        if (stepCode != 0) {
            // Some servers refuse to rename onto an existing file: remove it first.
            restartWatchdog();
            begin();
            ftp.Rename(partName, fileName, true);
            if (!step()) {
                result = 2;
                break;
            }
            if (stepCode != 0) {
                result = 3;
                break;
            }
        }
        result = sizeResult;
    } while (false);
    timer.stop();
    ftp.Abend();
    ftp.DisConnect();
    CloseUploadFile();
    return result;
}

// --- the abnormality mark on the camera folders ---

int16_t MontComm1::PostAbnormalMark()
{
    if (!m_mainFtp || !m_mainTimFtp)
        return 1;
    return PostAbnormalMark(*m_mainFtp, *m_mainTimFtp);
}

int16_t MontComm1::PostAbnormalMark(FtpClient& ftp, QTimer& timer)
{
    const QString mark = QStringLiteral("IjyouFile.txt");
    TextFile::writeWholeBytes(path(mark), QByteArrayLiteral("!!\r\n"));
    const QString remembered = InternetSettings.RemoteDir;
    int16_t last = 0;
    for (int i = 0; i < 4; ++i) {
        if (InternetSettings.Camera[i].isEmpty())
            continue;
        InternetSettings.RemoteDir = InternetSettings.Camera[i];
        last = FtpUploadFile(ftp, timer, mark);
    }
    InternetSettings.RemoteDir = remembered;
    return last != 0 ? 1 : 0;
}
