#pragma once
// pyftpdlib on a free loopback port serving a temporary directory, with a log of the
// commands it received.

#include "PyServer.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

class FtpServer {
public:
    explicit FtpServer(const QString& user = QStringLiteral("ftpuser"), QStringList extra = {})
        : m_server(QStringLiteral("ftp_server.py"), QStringList{m_root.path(), user, QStringLiteral("secret"),
                                                                QStringLiteral("--log"), m_logDir.filePath("log")} +
                                                        extra)
    {
    }
    bool ready() const { return m_server.ready(); }
    quint16 port() const { return m_server.port(); }
    QString root(const QString& name = {}) const { return name.isEmpty() ? m_root.path() : m_root.filePath(name); }
    QByteArray file(const QString& name) const
    {
        QFile f(m_root.filePath(name));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    QStringList log() const
    {
        QFile f(m_logDir.filePath("log"));
        f.open(QIODevice::ReadOnly);
        return QString::fromUtf8(f.readAll()).split(u'\n', Qt::SkipEmptyParts);
    }
    int count(const QString& verb) const
    {
        int n = 0;
        for (const auto& l : log())
            n += l.startsWith(verb + u' ') || l == verb;
        return n;
    }

private:
    QTemporaryDir m_root;
    QTemporaryDir m_logDir;
    PyServer m_server;
};
