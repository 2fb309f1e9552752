#pragma once
// A mail with one file attached (a report), made with the station's own mime codec: MIME
// multipart, the headers' Japanese as ISO-2022-JP encoded words, the text in ISO-2022-JP, the
// file in Base64 under its ASCII name. A file larger than the limit is not attached: the text says
// where it is instead, so a mailbox with a size limit still gets the mail.

#include <QByteArray>
#include <QDateTime>
#include <QString>

namespace Mail {

inline constexpr qint64 AttachmentLimit = 5 * 1024 * 1024; // 6.8 MB once in Base64

// to: "名前 <address>" or an address; from: the sender as the settings hold it.
QByteArray AttachmentMessage(const QString& to, const QString& from, const QString& subject, const QString& body,
                             const QString& filePath, const QDateTime& date);

} // namespace Mail
