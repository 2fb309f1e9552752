#pragma once
// The SMTP control (smtp1): one mail to one recipient over libcurl. SmtpSend blocks its caller
// until the server has answered: the station calls it only on its mail worker thread.

#include <QByteArray>
#include <QDateTime>
#include <QObject>
#include <QString>
#include <atomic>

class SmtpClient {
public:
    virtual ~SmtpClient() = default;
    // server: "host" (port 25), "host:port", "smtps://host[:port]" (TLS from the start) or
    // "smtp://host[:port]" (STARTTLS required). text: header lines, an empty line, the body,
    // lines ended by CR LF. Returns empty text when the server took the mail, else what failed.
    virtual QString SmtpSend(const QString& server, const QString& sender, const QString& recipient,
                             const QString& text) = 0;
    // The same for a mail already made, as it goes on the wire (a report with its attachment).
    virtual QString SmtpSendMessage(const QString& server, const QString& sender, const QString& recipient,
                                    const QByteArray& message)
    {
        (void)server, (void)sender, (void)recipient, (void)message;
        return QStringLiteral("添付付きのメールは送れません");
    }
    // From any thread: the send under way ends at once, and every later one fails (closing).
    virtual void cancel() {}
};

class SmtpControl : public QObject, public SmtpClient {
    Q_OBJECT
public:
    using QObject::QObject;
    long TimeOutMs = 60000;
    QString CaFile; // certificates to trust besides the system's; only tests set it
    QString SmtpSend(const QString& server, const QString& sender, const QString& recipient,
                     const QString& text) override;
    QString SmtpSendMessage(const QString& server, const QString& sender, const QString& recipient,
                            const QByteArray& message) override;
    void cancel() override { m_cancel = true; }

private:
    std::atomic<bool> m_cancel{false};
};

namespace Mail {
// The URL libcurl is given for a server setting, and whether TLS is required on it.
struct ServerUrl {
    QByteArray url;
    bool requireTls = false;
};
ServerUrl serverUrl(const QString& server);
// The bare address of "Name <address>" or of a bare address.
QString envelopeAddress(const QString& text);
// Whether an address can go into MAIL FROM or RCPT TO as it is.
bool isUsableAddress(const QString& address);
// The mail as it goes on the wire: the header lines with encoded words where they are not
// ASCII, MIME headers, and the body in UTF-8 Base64.
QByteArray buildMessage(const QString& text, const QDateTime& date);
QByteArray encodedWord(const QString& text);
// "Date: ..." with its line end.
QByteArray dateHeader(const QDateTime& date);
} // namespace Mail
