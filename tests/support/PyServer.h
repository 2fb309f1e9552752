#pragma once
// A server script of tests/support run by Debian's Python on a free loopback port (the
// script prints it); stopped with the object.

#include <QFile>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#ifndef TALVERON_TEST_SUPPORT_DIR
#error "TALVERON_TEST_SUPPORT_DIR must name tests/support"
#endif

class PyServer {
public:
    PyServer(const QString& script, const QStringList& args)
    {
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start(QStringLiteral("/usr/bin/python3"), QStringList{supportFile(script)} + args);
        if (m_process.waitForStarted(5000) && m_process.waitForReadyRead(10000))
            m_port = quint16(m_process.readLine().trimmed().toUInt());
    }
    ~PyServer()
    {
        m_process.kill();
        m_process.waitForFinished(2000);
    }
    bool ready() const { return m_port != 0; }
    quint16 port() const { return m_port; }
    static QString supportFile(const QString& name) { return QStringLiteral(TALVERON_TEST_SUPPORT_DIR "/") + name; }

private:
    QProcess m_process;
    quint16 m_port = 0;
};

// The address book mail.xls written by xlwt; rows are "address|name".
inline bool MakeMailXls(const QString& path, const QStringList& rows, const QString& sheet = QStringLiteral("mailadd"),
                        const QString& header = QStringLiteral("address,name"))
{
    QProcess p;
    p.start(QStringLiteral("/usr/bin/python3"),
            QStringList{PyServer::supportFile(QStringLiteral("make_mail_xls.py")), path, sheet, header} + rows);
    return p.waitForFinished(20000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

// The stations' address book of one operator, so every alarm mail reaches a fake control once:
// written once per test program and copied into each station's folder.
inline bool CopyOperatorBook(const QString& path)
{
    static QTemporaryDir bookDir;
    static const bool made = MakeMailXls(bookDir.filePath(QStringLiteral("mail.xls")), {"op@example.jp|op"});
    return made && QFile::copy(bookDir.filePath(QStringLiteral("mail.xls")), path);
}
