// Alarm mail to every address of mail.xls, off the UI thread.

#include "shared/AlarmNotifier.h"

#include "shared/AlarmJournal.h"
#include "shared/InetInf.h"
#include "shared/SysInf.h"

#include "platform/AddressBook.h"
#include "shared/DialUpLine.h"
#include "platform/MessageBox.h"
#include "shared/Outcome.h"
#include "shared/MailAttachment.h"
#include "platform/SmtpControl.h"
#include "platform/Worker.h"

#include <atomic>
#include <QDir>
#include <QMetaObject>
#include <QObject>
#include <QPointer>
#include <QStringList>
#include <deque>
#include <functional>
#include <memory>

namespace {

// A line break inside a header value would let it add headers of its own.
QString oneLine(QString s)
{
    s.remove(u'\r');
    s.remove(u'\n');
    return s;
}

// What one mail run needs, copied so the worker touches nothing the UI thread owns.
struct MailJob {
    QString alarmText;
    QString server, sender, subject, body;
    SmtpClient* smtp = nullptr;
    std::vector<AddressRow> rows; // MailList: the book's rows for this run
    QString attachment;           // a report's file: the mail is a report's, with its own subject
};

// Every address gets its mail, whatever happened to the ones before it: an alarm must reach
// whoever can be reached. The failures come back together, each naming its address.
Outcome mailAll(const MailJob& job)
{
    if (!job.smtp)
        return Failed(Fault::NoSmtpControl);
    const QString subject = oneLine(job.subject);
    const QString sender = oneLine(job.sender);
    QStringList failures;
    for (const AddressRow& row : job.rows) {
        if (!row.address)
            continue;
        const QString address = oneLine(*row.address);
        const QString name = oneLine(row.name);
        QString error;
        if (!job.attachment.isEmpty()) {
            const QString text = name + QStringLiteral("様へ\r\n\r\n") + job.alarmText;
            error = job.smtp->SmtpSendMessage(job.server, sender, address,
                                              Mail::AttachmentMessage(name + QStringLiteral(" <") + address + u'>',
                                                                      sender, subject, text, job.attachment,
                                                                      QDateTime::currentDateTime()));
        } else {
            const QString mail = QStringLiteral("To:") + name + u'<' + address + u'>' + QStringLiteral("\r\n") +
                                 QStringLiteral("Subject:") + subject + QStringLiteral("\r\n") +
                                 QStringLiteral("From:") + sender + QStringLiteral("\r\n\r\n") + name +
                                 QStringLiteral("様へ\r\n\r\n") + job.alarmText + QStringLiteral("\r\n") + job.body;
            error = job.smtp->SmtpSend(job.server, sender, address, mail);
        }
        if (!error.isEmpty())
            failures << address + QStringLiteral("：") + error;
    }
    if (failures.isEmpty())
        return {};
    return Failed(Fault::MailSend, failures.join(u'\n'));
}

} // namespace

// Mails the queued texts one run at a time: read the book, dial when set, send; the book and
// the sends run on a worker thread. Destroying it cancels the send under way and joins.
class MailRunner : public QObject {
public:
    explicit MailRunner(AlarmNotifier& owner) : m_owner(owner), m_parts(owner.m_parts) {}
    ~MailRunner() override
    {
        m_closing = true;
        m_cancelRead = true; // the address-book reader ends now, not at its time limit
        // Only a step still out touches the control: one that has reported may outlive it.
        if (m_worker.out() && m_smtp)
            m_smtp->cancel();
        m_worker.join();
        if (m_leased)
            m_parts.line().release();
    }

    void queue(const QString& text, int unit, const QString& subject = {}, const QString& attachment = {})
    {
        m_pending.push_back({text, unit, subject, attachment});
        if (!m_running)
            next();
    }
    int pending() const { return int(m_pending.size()) + (m_running ? 1 : 0); }

private:
    // The worker's results count only while the runner is not closing.
    template <class Result> void onWorker(std::function<Result()> work, std::function<void(Result)> then)
    {
        m_worker.run<Result>(this, std::move(work), [this, then = std::move(then)](Result result) {
            if (!m_closing)
                then(std::move(result));
        });
    }

    void next()
    {
        m_running = !m_pending.empty();
        if (!m_running)
            return;
        const auto& s = m_parts.inet.InternetSettings();
        m_current = m_pending.front();
        m_pending.pop_front();
        auto job = std::make_shared<MailJob>(MailJob{m_current.text,
                                                     s.SMTPServerName,
                                                     s.SendMailName,
                                                     m_current.attachment.isEmpty() ? s.MailHeader : m_current.subject,
                                                     s.MailBody,
                                                     m_owner.smtp(),
                                                     {},
                                                     m_current.attachment});
        m_smtp = job->smtp;
        // The book is read first: a station without one dials nobody.
        onWorker<AddressBook>([path = QDir(m_parts.workDir).filePath(QStringLiteral("mail.xls")),
                               cancel = &m_cancelRead] { return ReadAddressBook(path, cancel); },
                              [this, job](AddressBook book) {
                                  if (!book.error.isEmpty()) {
                                      ended(Failed(Fault::AddressBook, book.error));
                                      return;
                                  }
                                  job->rows = std::move(book.rows);
                                  dialThenSend(job);
                              });
    }

    void dialThenSend(const std::shared_ptr<MailJob>& job)
    {
        const auto& s = m_parts.inet.InternetSettings();
        auto send = [this, job] {
            onWorker<Outcome>([job] { return mailAll(*job); }, [this](Outcome o) { ended(o); });
        };
        if (s.DialUpName.isEmpty()) {
            send();
            return;
        }
        m_leased = true;
        // A failed dial still tries the mail: the line may be up by other means.
        m_parts.line().acquire(s.DialUpName, s.DialUpUser, s.DialUpPass, this, [send](int32_t) { send(); });
    }

    void ended(const Outcome& outcome)
    {
        Notify(m_parts.messages, outcome);
        // An alarm whose mail did not reach everyone is on record for the morning after.
        if (!outcome.ok() && outcome.fault != Fault::Cancelled)
            m_parts.journal.Record(JournalEvent::MailFailed, m_current.unit, m_current.text,
                                   m_parts.sys.AlarmCondition(m_current.unit));
        if (m_leased) {
            m_leased = false;
            m_parts.line().release();
        }
        next();
    }

    AlarmNotifier& m_owner;
    const AlarmNotifier::Parts& m_parts;
    struct Pending {
        QString text;
        int unit = -1;
        QString subject, attachment; // a report's mail
    };
    std::deque<Pending> m_pending;
    Pending m_current;
    bool m_running = false;
    bool m_leased = false;
    bool m_closing = false;
    std::atomic<bool> m_cancelRead{false};
    SmtpClient* m_smtp = nullptr;
    Worker m_worker;
};

AlarmNotifier::AlarmNotifier(Parts parts) : m_parts(std::move(parts)) {}

AlarmNotifier::~AlarmNotifier() = default;

void AlarmNotifier::SendAlarmMail(const QString& alarmText, int unit)
{
    if (!m_mail)
        m_mail = std::make_unique<MailRunner>(*this);
    m_mail->queue(alarmText, unit);
}

void AlarmNotifier::StopMail()
{
    m_mail.reset();
}

void AlarmNotifier::SendReportMail(const QString& subject, const QString& text, const QString& attachment)
{
    if (!m_mail)
        m_mail = std::make_unique<MailRunner>(*this);
    m_mail->queue(text, -1, subject, attachment);
}

int AlarmNotifier::mailsPending() const
{
    return m_mail ? m_mail->pending() : 0;
}
