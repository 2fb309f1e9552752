#pragma once
// The two ways an alarm leaves the station: mail to every address of mail.xls (through the
// SMTP control, on a lease of the dial-up line when DialUpName is set) and the abnormality
// mark IjyouFile.txt in every camera folder. Neither ever waits, and neither changes a unit's
// state: their faults are shown as notices.

#include <QString>
#include <cstdint>
#include <functional>
#include <memory>

class FtpClient;
class MailRunner;
class MontComm1;
class QTimer;
class SmtpClient;

class AlarmNotifier {
public:
    explicit AlarmNotifier(MontComm1& comm);
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

    // IjyouFile.txt into every Camera folder, without waiting. done(0, or 1 when the last
    // folder's send failed) follows from the event loop; nothing follows when ftp is destroyed
    // first. Without a control: the main window's (1 at once when there is none).
    void PostAbnormalMark(FtpClient& ftp, QTimer& timer, std::function<void(int16_t)> done = {});
    void PostAbnormalMark(std::function<void(int16_t)> done = {});
    void SetMainFtp(FtpClient* ftp, QTimer* timFtp)
    {
        m_mainFtp = ftp;
        m_mainTimFtp = timFtp;
    }

private:
    MontComm1& m_comm;
    std::unique_ptr<MailRunner> m_mail;
    SmtpClient* m_smtp = nullptr;
    FtpClient* m_mainFtp = nullptr;
    QTimer* m_mainTimFtp = nullptr;
};
