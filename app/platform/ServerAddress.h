#pragma once
// A server as operators type it: "[scheme://]host[:port][/]".

#include <QString>
#include <QStringList>

struct ServerAddress {
    QString scheme; // the one of the given schemes it was written with, in lower case; empty for none
    QString host;
    int port = 0; // 0 when none was given or it is not a TCP port
};

inline ServerAddress SplitServerAddress(const QString& text, const QStringList& schemes)
{
    ServerAddress out;
    QString s = text.trimmed();
    for (const QString& scheme : schemes) {
        const QString prefix = scheme + QStringLiteral("://");
        if (s.startsWith(prefix, Qt::CaseInsensitive)) {
            out.scheme = scheme;
            s = s.mid(prefix.size());
            break;
        }
    }
    while (s.endsWith(u'/'))
        s.chop(1);
    // One colon only: an IPv6 address without brackets has more, and keeps them.
    const qsizetype colon = s.lastIndexOf(u':');
    if (colon > 0 && s.indexOf(u':') == colon) {
        bool ok = false;
        const int port = s.mid(colon + 1).toInt(&ok);
        if (ok) {
            s = s.left(colon);
            out.port = port > 0 && port < 65536 ? port : 0;
        }
    }
    out.host = s;
    return out;
}
