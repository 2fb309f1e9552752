#pragma once
// Sending one file to the FTP server, the event handlers every window that owns an FTP control
// connects to it, and the texts callers show for the result codes.
//
// Result codes of a send: 0 sent and verified, 1 no connection (or a login failing otherwise
// than by refusal), 8 the server refused the login, 2 a step did not
// finish within its watchdog period (or the remote directory failed), 3 sending failed, 4 the
// server's size differs (the file is then not published, unless the server takes only final
// names), 7 TLS was asked for through a proxy,
// which cannot carry it (nothing is sent), -1 another send is running on that job.

#include <QMetaObject>
#include <QStringList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

class FtpClient;
class QIODevice;
class QTimer;
struct InternetSettings;

// Where a file goes: the server, the login and the directory, taken from the Internet
// settings when the send starts (a later change of the settings does not touch it).
struct FtpTarget {
    QString host;
    QString user;
    QString password;
    QString proxyServer;
    QString proxyPort;
    QString remoteDir;
    static FtpTarget of(const InternetSettings& s);
};

// One file to the FTP server as a chain of the control's steps, each under the watchdog. It
// never waits: every step is started from the control's events, and the result comes through
// the callback once the chain has ended. The job has its own file and size, so jobs on
// different controls run side by side. A server that refuses the temporary name or the rename
// gets the file under its final name, and the job remembers that server (until forgetStrict).
class FtpUploadJob : public QObject {
    Q_OBJECT
public:
    FtpUploadJob(FtpClient& ftp, QTimer& watchdog, QObject* parent = nullptr);
    ~FtpUploadJob() override; // drops a send under way, as cancel

    // Sends the file at localPath under its bare name into target.remoteDir. done(code) comes
    // from the event loop, never from inside start; false (and no call) while a send runs.
    bool start(const FtpTarget& target, const QString& localPath, int stepTimeOutMs, std::function<void(int16_t)> done);
    // The same for bytes held in memory, sent as remoteName: nothing is staged on the disk.
    bool start(const FtpTarget& target, const QString& remoteName, const QByteArray& bytes, int stepTimeOutMs,
               std::function<void(int16_t)> done);
    // Drops the send under way: the control's step is aborted and its session closed, and
    // done is never called.
    void cancel();
    bool busy() const { return m_step != Step::Idle; }
    // What the server last reported for the sent file; -1 when it gave no size.
    int32_t remoteFileSize() const { return m_remoteSize; }
    // Forgets the server found refusing temporary names: its next send tries one again.
    void forgetStrict() { m_strictServer.clear(); }

signals:
    // The server refused the temporary name (or its rename) and took the file under its final
    // name; later sends to it go there directly until forgetStrict.
    void sendingDirect();

private:
    enum class Step { Idle, Drain, Refused, Connect, Cd, Put, Size, Rename, Replace, DropPart, DropShort };
    QString serverKey() const;
    void begin();
    void stepFinished();
    void next();
    void watchdogFired();
    void restartWatchdog();
    void finish(int16_t code);

    QPointer<FtpClient> m_ftp;
    QPointer<QTimer> m_timer;
    std::array<QMetaObject::Connection, 4> m_links;
    FtpTarget m_target;
    QString m_localPath;
    std::optional<QByteArray> m_bytes; // sent instead of the file at m_localPath
    QString m_remoteName;
    QString m_partName;
    QString m_strictServer; // serverKey of the server found refusing temporary names
    bool m_direct = false;  // this send goes under the final name
    int m_stepTimeOutMs = 30000;
    std::function<void(int16_t)> m_done;
    std::unique_ptr<QIODevice> m_file;
    qint64 m_localSize = 0;
    int32_t m_remoteSize = -1;
    Step m_step = Step::Idle;
    int16_t m_code = 0;
    bool m_replied = false;
    uint64_t m_run = 0; // counts starts, so a refusal posted for one send never ends another
};

// The error text of a send result code; empty for 0.
QString FtpErrorText(int16_t code, const QString& localPath);
