#pragma once
// How the relay files move between the two stations, for the detail monitor's three slots and
// the detail dialog: over the FTP server and its web address (modes 0 and 1), or through a
// folder both stations reach (modes 2 and 3). Fetches run on the poll engine's lanes and sends
// on the slot's own FTP control; every answer comes back from the event loop while the context
// object lives. The callers ask for a file read, put, checked or cleared; the route is here.

#include "shared/FtpUpload.h"
#include "shared/Outcome.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class FtpClient;
class MontComm1;
class PollEngine;

class RelayTransport : public QObject {
    Q_OBJECT
public:
    enum class Route { Internet, Folder };

    // One FTP control per slot; a fixed route holds whatever the mode (the detail dialog posts its
    // requests over the Internet only).
    RelayTransport(MontComm1& comm, PollEngine& engine, int controls = 3, std::optional<Route> fixed = {},
                   QObject* parent = nullptr);
    ~RelayTransport() override;

    // Read from the mode each time: the settings are reloaded whenever the window activates.
    Route route() const;

    struct Fetched {
        std::optional<QString> text;
        bool unreadable = false; // the server had a document, but not one a relay file can be
    };
    // Fetches a URL through a lane (proxy rule applied).
    void fetchDocument(QObject* context, const QString& url, std::function<void(Fetched)> done);
    // The same, nothing when the fetch failed.
    void fetch(QObject* context, const QString& url, std::function<void(std::optional<QString>)> done);
    // Up to four fetches while a stale or foreign document comes back.
    void fetchRelayFile(QObject* context, const QString& url, const QString& dataName,
                        std::function<void(std::optional<QString>)> done, int attempt = 0);
    // Sends a working-directory file through the slot's FTP control; after a failed connection
    // or login the control's transfer is reset. done(code) with the codes of FtpUploadJob.
    void upload(int slot, const FtpTarget& target, const QString& name, std::function<void(int16_t)> done);
    // Drops the slot's send under way (its done is never called) and, as the slot has stopped,
    // forgets whether its server refused temporary names.
    void cancel(int slot);

    // Whether the relay file now reads exactly expected (its lines, each ended by CR LF).
    void UpLdFileChk(QObject* context, const QString& name, const QString& expected, std::function<void(bool)> done);
    // Empties a request file on the FTP server; done(error text, empty when sent).
    void ClearRequestFile(int slot, const QString& name, std::function<void(QString)> done);
    // Leaves a request file idle (one empty line) on the route; done(sent, the send's error text:
    // empty for a local file that could not be written).
    void clear(int slot, const QString& name, std::function<void(bool, QString)> done);
    // A request file as the route has it: nothing when there is none (or, over the Internet, it
    // could not be fetched), unreadable for one that cannot be a request file. Its first line only
    // through the folder.
    void read(QObject* context, const QString& name, std::function<void(Fetched)> done);
    // A relay file written into the working directory and made public on the route: sent to the
    // FTP server, or copied into the send folder when one is set. done(code) with the codes of
    // FtpUploadJob, 6 when the local file could not be written.
    void publish(int slot, const QString& name, const QString& text, std::function<void(int16_t)> done);

    // The abnormality mark into every camera folder through the slot's control; wanted() is
    // asked before each step, so a caller that has stopped gets nothing more done.
    void postMark(int slot, std::function<bool()> wanted, std::function<void()> done);

    // An output request of the download side: the request file must be idle, then the line is
    // put (straight to the FTP server over the Internet, written for the other station through
    // the folder) and read back; wanted() as above. With whateverCode the read-back decides even
    // after a failed send. done(OutputPending) for a request file that is not idle, LocalFile for
    // a request that could not be written, Upload (with the send's code and text) for one not
    // read back.
    void PostOutputRequest(int slot, QObject* context, const QString& name, const QString& line, bool whateverCode,
                           std::function<bool()> wanted, std::function<void(Outcome)> done);

    // Where a file of the send folder is read (the working directory when none is set).
    QString sendFolderPath(const QString& name) const;
    // Up to maxLines lines of a local relay file; nothing when it cannot be one.
    static std::optional<QStringList> readRelayLines(const QString& path, int maxLines);

signals:
    // The slot's server refused the temporary name, so its files now go under their final names;
    // once until the slot stops.
    void sendingDirect(int slot);

private:
    // Text put under name on the route: 6 when the local file could not be written.
    void put(int slot, const QString& name, const QString& text, std::function<void(int16_t)> done);
    // Bytes sent from memory as name to the server of the settings.
    void sendBytes(int slot, const QString& name, const QByteArray& bytes, std::function<void(int16_t)> done);
    void sendWith(int slot, std::function<void(int16_t)> done,
                  const std::function<bool(FtpUploadJob&, std::function<void(int16_t)>)>& start);

    MontComm1& m_comm;
    PollEngine& m_engine;
    std::optional<Route> m_fixed;
    std::vector<std::unique_ptr<FtpClient>> m_ftp;
    std::vector<std::unique_ptr<QTimer>> m_watchdog;
    // Declared after the controls and watchdogs: a job is dropped before the control it drives.
    std::vector<std::unique_ptr<FtpUploadJob>> m_jobs;
};
