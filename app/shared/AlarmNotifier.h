#pragma once
// The two ways an alarm leaves the station: mail to every address of mail.xls (through the
// SMTP control, on a lease of the dial-up line when DialUpName is set) and the abnormality
// mark IjyouFile.txt in every camera folder. Neither ever waits, and neither changes a unit's
// state: their faults are shown as notices.

#include <QString>
#include <cstdint>
#include <functional>
#include <memory>

class AlarmJournal;
class DialUpLine;
class FtpClient;
class FtpUploadJob;
class InetInf;
class MailRunner;
class MessageBoxService;
class QTimer;
class SmtpClient;
class SysInf;
struct FtpTarget;

class AlarmNotifier {
public:
    // What the mail and the mark need of the station.
    struct Parts {
        QString workDir;
        const InetInf& inet;
        const SysInf& sys;
        AlarmJournal& journal;
        MessageBoxService& messages;
        std::function<DialUpLine&()> line; // made on first use
        const int& ftpStepTimeOutMs;
    };
    explicit AlarmNotifier(Parts parts);
    ~AlarmNotifier();

    // Queues the text and returns at once: a mail run reads the book and mails every address
    // on a worker thread, one run at a time in the order asked. A run that fails is journalled
    // under the unit (the row the alarm is of; -1 when none).
    void SendAlarmMail(const QString& alarmText, int unit = -1);
    // A report to every address of the book, the file attached (or said where it is when too
    // big), in the same queue as the alarms; a failure is journalled like theirs.
    void SendReportMail(const QString& subject, const QString& text, const QString& attachment);
    // Texts queued or being mailed.
    int mailsPending() const;
    // Closing: the send under way ends at once, queued texts are dropped, the worker is joined.
    void StopMail();
    // The SMTP control hosted by the main window.
    void setSmtp(SmtpClient* smtp) { m_smtp = smtp; }
    SmtpClient* smtp() const { return m_smtp; }

    // Sends a file of the working directory to target's folder; done(code) with the codes of
    // FtpUploadJob, from the event loop. A sender that is cancelled never calls done.
    using FileSend =
        std::function<void(const FtpTarget& target, const QString& fileName, std::function<void(int16_t)> done)>;
    // IjyouFile.txt into every Camera folder, one after the other through send; a failing folder
    // does not stop the next. done(0, or 1 when the last folder's send failed) once all have
    // ended; nothing follows when the sender is cancelled.
    void PostAbnormalMark(const FileSend& send, std::function<void(int16_t)> done);
    // The same on a control of its own, without waiting; nothing follows when ftp is destroyed
    // first. One mark at a time on a control: a second fails with 1. Without a control: the
    // station's (1 at once when there is none).
    void PostAbnormalMark(FtpClient& ftp, QTimer& timer, std::function<void(int16_t)> done = {});
    void PostAbnormalMark(std::function<void(int16_t)> done = {});
    // The station's FTP control and its watchdog, for the marks of the main window.
    void SetMainFtp(FtpClient* ftp, QTimer* timer)
    {
        m_mainFtp = ftp;
        m_mainTimer = timer;
    }

private:
    friend class MailRunner;
    Parts m_parts;
    std::unique_ptr<MailRunner> m_mail;
    SmtpClient* m_smtp = nullptr;
    FtpClient* m_mainFtp = nullptr;
    QTimer* m_mainTimer = nullptr;
};
