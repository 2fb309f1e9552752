#pragma once
// aiosmtpd on a free loopback port; every accepted mail stored in a temporary directory.

#include "PyServer.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

class SmtpServer {
public:
    explicit SmtpServer(QStringList extra = {})
        : m_server(QStringLiteral("smtp_server.py"), QStringList{m_dir.path()} + extra)
    {
    }
    bool ready() const { return m_server.ready(); }
    QString address() const { return QStringLiteral("127.0.0.1:%1").arg(m_server.port()); }
    int count() const { return int(QDir(m_dir.path()).entryList({QStringLiteral("*.eml")}).size()); }
    QByteArray raw(int n) const { return read(QStringLiteral("%1.eml").arg(n)); }
    QStringList envelope(int n) const
    {
        return QString::fromUtf8(read(QStringLiteral("%1.env").arg(n))).split(u'\n', Qt::SkipEmptyParts);
    }
    // The mail as Python's email package reads it: to, from, subject, body, headers.
    QJsonObject parsed(int n) const
    {
        QProcess p;
        p.start(QStringLiteral("/usr/bin/python3"), {PyServer::supportFile(QStringLiteral("read_mail.py")),
                                                     m_dir.filePath(QStringLiteral("%1.eml").arg(n))});
        p.waitForFinished(20000);
        return QJsonDocument::fromJson(p.readAllStandardOutput()).object();
    }

private:
    QByteArray read(const QString& name) const
    {
        QFile f(m_dir.filePath(name));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    QTemporaryDir m_dir;
    PyServer m_server;
};
