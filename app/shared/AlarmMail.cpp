// Alarm mail to every address of mail.xls, and the abnormality mark on the camera folders.

#include "MontComm1.h"

#include "AddressBook.h"
#include "DialUpBackend.h"
#include "EventPump.h"
#include "FtpClient.h"
#include "MessageBox.h"
#include "SmtpControl.h"
#include "TextFile.h"
#include "VBRas32.h"

#include <QTimer>

namespace {

// A line break inside a header value would let it add headers of its own.
QString oneLine(QString s)
{
    s.remove(u'\r');
    s.remove(u'\n');
    return s;
}

} // namespace

MontComm1::~MontComm1() = default;

void MontComm1::SendAlarmMail(const QString& alarmText)
{
    // Asked again from inside a run's waits: that run mails this text after its own.
    if (m_mailBusy) {
        m_pendingMail.push_back(alarmText);
        return;
    }
    ReentryGuard busy(m_mailBusy);
    m_pendingMail.push_back(alarmText);
    while (!m_pendingMail.empty()) {
        const QString text = m_pendingMail.front();
        m_pendingMail.pop_front();
        try {
            AddressBook book = ReadAddressBook(path(QStringLiteral("mail.xls")));
            if (!book.error.isEmpty()) {
                m_messages.show(book.error, MessageBoxService::applicationTitle(), MessageBoxService::Icon::None,
                                MessageBoxService::Buttons::Ok);
                continue;
            }
            m_mailList = std::move(book.rows);
            const auto& s = InternetSettings;
            if (!s.DialUpName.isEmpty())
                DialUpOpen(s.DialUpName, s.DialUpUser, s.DialUpPass); // a failed dial still tries the mail
            MailAllAddresses(text);
            if (!s.DialUpName.isEmpty())
                DialUpClose();
        } catch (...) {
            // Nothing from the mail may reach the caller's poll.
        }
        m_mailList.clear();
    }
}

void MontComm1::MailAllAddresses(const QString& alarmText)
{
    const auto& s = InternetSettings;
    const QString subject = oneLine(s.MailHeader);
    const QString sender = oneLine(s.SendMailName);
    for (const AddressRow& row : m_mailList) {
        if (!row.address)
            continue;
        const QString address = oneLine(*row.address);
        const QString name = oneLine(row.name);
        const QString mail = QStringLiteral("To:") + name + u'<' + address + u'>' + QStringLiteral("\r\n") +
                             QStringLiteral("Subject:") + subject + QStringLiteral("\r\n") + QStringLiteral("From:") +
                             sender + QStringLiteral("\r\n\r\n") + name + QStringLiteral("様へ\r\n\r\n") + alarmText +
                             QStringLiteral("\r\n") + s.MailBody;
        const QString error = smtp1 ? smtp1->SmtpSend(s.SMTPServerName, sender, address, mail)
                                    : QStringLiteral("SMTPコントロールがありません");
        if (!error.isEmpty()) {
            m_messages.show(error, MessageBoxService::applicationTitle(), MessageBoxService::Icon::None,
                            MessageBoxService::Buttons::Ok);
            break; // the rows after it get no mail
        }
    }
    m_mailList.clear();
}

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
