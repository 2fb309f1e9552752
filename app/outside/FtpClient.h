#pragma once
// The FTP client control (ftp1): one FTP session driven step by step. Each step (Connect, Cd,
// PutFile, Size, DisConnect) runs on the control's own worker thread over libcurl; its events
// arrive on the owner's thread, and IsIdle turns true only after the step's events were sent,
// so a caller that lets events run until idle sees every reply first. StepFinished follows the
// events of every step, for callers that chain steps instead of waiting for them.
//
// Abend and the destructor never wait on the server: a step under way is dropped within a
// poll interval and its connection closed without a goodbye.
//
// Larger than most classes here (about 470 lines) because it is a whole protocol control: the
// session, its worker, the transfer callbacks and the cancel path belong together.

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

class FtpClient : public QObject {
    Q_OBJECT
public:
    explicit FtpClient(int index = 0, QObject* parent = nullptr);
    ~FtpClient() override;

    bool TransErrorEvent = false;
    QString Port;       // used when the host carries no port of its own
    QString PreCommand; // a command sent right after login when not empty
    QString Filetype = QStringLiteral("I");

    // Host is "name", "name:port", "ftps://name[:port]" (TLS from the start) or
    // "ftp://name[:port]" (plain connection that must switch to TLS).
    void Connect(const QString& host, const QString& user, const QString& password);
    void Cd(const QString& directory);
    // Sends the local file under remoteName (its own bare name when empty).
    void PutFile(const QString& localFileName, const QString& remoteName = QString());
    // Renames a file of the current directory; with replace, deletes the target first (for
    // servers that refuse to rename onto an existing file).
    void Rename(const QString& from, const QString& to, bool replace = false);
    // Deletes a file of the current directory.
    void Delete(const QString& fileName);
    void Size(const QString& fileName);
    bool IsIdle() const { return m_pending == 0; }
    void Abend();
    void DisConnect();
    void ResetTransfer();
    int index() const { return m_index; }

signals:
    // code 0: the command succeeded; otherwise the server's reply code, or a negative
    // libcurl code when no reply came.
    void CommandReply(int index, int16_t code, const QString& command, const QString& reply);
    void StateReset(int index);
    // Hand back the next bytes of the file being sent; nothing at its end.
    void DataRequest(int index, QByteArray& data);
    void TransferEnd(int index);
    // The step's events have been sent and the control counts it done (IsIdle may be true).
    void StepFinished(int index);

private:
    struct Step {
        uint64_t seq = 0;
        std::function<void(Step&)> run;
    };
    struct Result {
        int16_t code = 0;
        QString command;
        QString reply;
    };
    void submit(std::function<Result(uint64_t)> work, bool isTransfer);
    void workerLoop();
    Result perform(uint64_t seq, const QString& command, const QByteArray& url, bool upload, bool noBody);
    // A step of raw commands sent after login (or on the kept session), with no transfer.
    Result performQuoted(uint64_t seq, const QString& command, const QByteArray& url,
                         const QList<QByteArray>& commands);
    bool aborted(uint64_t seq) const;
    QByteArray urlFor(const QString& path, bool directory) const;
    void stepDone(const Result& r, bool isTransfer);
    QByteArray takeData(uint64_t seq, size_t max); // worker side of DataRequest
    void answerData();                             // owner side of DataRequest
    // Ends the session. Graceful sends QUIT on a healthy connection; otherwise the sockets are
    // shut first so libcurl's cleanup cannot wait on a server that stopped answering.
    void closeHandle(bool graceful = false);
    void shutdownSockets();        // m_mutex held
    int runTransfer(void* handle); // a CURLcode

    friend size_t ftpRead(char*, size_t, size_t, void*);
    friend int ftpProgress(void*, int64_t, int64_t, int64_t, int64_t);
    friend int ftpDebug(void*, int, char*, size_t, void*);
    friend struct FtpSocketHooks;

    int m_index;
    int m_pending = 0; // steps submitted and not yet reported, owner's thread only

    // Session settings, copied for the worker when a step is submitted.
    QString m_scheme;
    QString m_host;
    int m_port = 21;
    QByteArray m_user;
    QByteArray m_password;
    QString m_dir;
    std::atomic<bool> m_textMode{false}; // Filetype "A" when the transfer was asked for

    // Worker state.
    std::thread m_thread;
    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<Step> m_queue;
    bool m_stop = false;
    uint64_t m_nextSeq = 1;
    uint64_t m_abortUpTo = 0;
    uint64_t m_running = 0;     // the step the worker is in, 0 between steps
    std::vector<int> m_sockets; // the connections' sockets, so an abort can shut them
    void* m_curl = nullptr;     // worker thread only
    void* m_multi = nullptr;    // holds the session's connection between steps; worker thread only
    // Reply lines seen by the current step (worker thread only).
    QString m_lastReply;
    int m_lastCode = 0;
    // DataRequest hand-over.
    bool m_dataWanted = false;
    bool m_dataReady = false;
    QByteArray m_data;
    QByteArray m_leftover;
};
