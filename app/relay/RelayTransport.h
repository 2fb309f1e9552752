#pragma once
// How the relay files move between the two stations, for the detail monitor's three slots:
// over the FTP server and its web address (modes 0 and 1), or through a folder both stations
// reach (modes 2 and 3). Fetches run on the poll engine's lanes and sends on the slot's own
// FTP control; every answer comes back from the event loop while the context object lives.

#include "FtpUpload.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <array>
#include <functional>
#include <memory>
#include <optional>

class FtpClient;
class MontComm1;
class PollEngine;

class RelayTransport : public QObject {
    Q_OBJECT
public:
    static constexpr int Slots = 3;
    enum class Route { Internet, Folder };

    RelayTransport(MontComm1& comm, PollEngine& engine, QObject* parent = nullptr);
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

    // Where a file of the send folder is read (the working directory when none is set).
    QString sendFolderPath(const QString& name) const;
    // Up to maxLines lines of a local relay file; nothing when it cannot be one.
    static std::optional<QStringList> readRelayLines(const QString& path, int maxLines);

signals:
    // The slot's server refused the temporary name, so its files now go under their final names;
    // once until the slot stops.
    void sendingDirect(int slot);

private:
    MontComm1& m_comm;
    PollEngine& m_engine;
    std::array<std::unique_ptr<FtpClient>, Slots> m_ftp;
    std::array<QTimer, Slots> m_watchdog;
    // Declared after the controls and watchdogs: a job is dropped before the control it drives.
    std::array<std::unique_ptr<FtpUploadJob>, Slots> m_jobs;
};
