#include "shared/MailAttachment.h"

#include "platform/SmtpControl.h"
#include "platform/TextFile.h"

#include <QFileInfo>
#include <QRandomGenerator>
#include <QStringEncoder>
#include <mime_codec.h>
#include <string>

namespace Mail {

namespace {

bool ascii(const QString& s)
{
    return std::all_of(s.begin(), s.end(), [](QChar c) { return c.unicode() < 0x80; });
}

QByteArray iso2022jp(const QString& s)
{
    QStringEncoder encoder("ISO-2022-JP");
    return encoder.isValid() ? QByteArray(encoder(s)) : s.toUtf8();
}

// A header value: ASCII as it is; Japanese as ISO-2022-JP encoded words (a display name before
// an address: the name only).
QByteArray headerValue(const QString& value)
{
    if (ascii(value))
        return value.toLatin1();
    QString text = value;
    QByteArray tail;
    const qsizetype lt = value.lastIndexOf(u'<');
    if (value.endsWith(u'>') && lt >= 0) {
        text = value.left(lt).trimmed();
        tail = ' ' + value.mid(lt).toLatin1();
    }
    const QByteArray bytes = iso2022jp(text);
    std::string words;
    if (talveron::mime::MimeHeaderEncode(std::string_view(bytes.constData(), size_t(bytes.size())), words) !=
        talveron::mime::Status::Ok)
        return encodedWord(text) + tail; // not ISO-2022-JP text after all: UTF-8 words
    return QByteArray::fromStdString(words) + tail;
}

QByteArray oneLine(QString s)
{
    return headerValue(s.replace(u'\r', u' ').replace(u'\n', u' '));
}

} // namespace

QByteArray AttachmentMessage(const QString& to, const QString& from, const QString& subject, const QString& body,
                             const QString& filePath, const QDateTime& date)
{
    const QFileInfo info(filePath);
    const QString name = info.fileName();
    std::optional<QByteArray> file =
        info.size() <= AttachmentLimit ? TextFile::readBytes(filePath) : std::optional<QByteArray>();
    QString text = body;
    if (!file)
        text += QStringLiteral("\r\n\r\n%1 は %2 にあります（%3 MB。添付の上限 %4 MB を超えるか、読めませんでした）。")
                    .arg(name, info.absoluteFilePath(), QString::number(double(info.size()) / 1048576.0, 'f', 1))
                    .arg(AttachmentLimit / 1048576);
    const QByteArray boundary = "talveron-" + QByteArray::number(QRandomGenerator::global()->generate64(), 16);
    QByteArray out = "To: " + oneLine(to) + "\r\nFrom: " + oneLine(from) + "\r\nSubject: " + oneLine(subject) + "\r\n";
    out += dateHeader(date);
    out += "MIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=\"" + boundary + "\"\r\n\r\n";
    out += "--" + boundary +
           "\r\nContent-Type: text/plain; charset=ISO-2022-JP\r\nContent-Transfer-Encoding: 7bit\r\n\r\n";
    out += iso2022jp(
        QString(text).replace(QStringLiteral("\r\n"), QStringLiteral("\n")).replace(u'\n', QStringLiteral("\r\n")));
    out += "\r\n";
    if (file) {
        std::string encoded;
        talveron::mime::Base64Encode(std::string_view(file->constData(), size_t(file->size())), encoded);
        // The name is the report's own, ASCII by construction.
        out += "--" + boundary + "\r\nContent-Type: application/pdf; name=\"" + name.toLatin1() +
               "\"\r\nContent-Disposition: attachment; filename=\"" + name.toLatin1() +
               "\"\r\nContent-Transfer-Encoding: base64\r\n\r\n";
        for (size_t i = 0; i < encoded.size(); i += 76)
            out += QByteArray::fromStdString(encoded.substr(i, 76)) + "\r\n";
    }
    out += "--" + boundary + "--\r\n";
    return out;
}

} // namespace Mail
