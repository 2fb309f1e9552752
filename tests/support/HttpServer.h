#pragma once
// Python's http.server on a free loopback port, serving one directory; gone with the object.

#include <QProcess>
#include <QString>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>

class HttpServer {
public:
    explicit HttpServer(const QString& directory)
    {
        QTcpServer probe;
        probe.listen(QHostAddress::LocalHost, 0);
        m_port = probe.serverPort();
        probe.close();
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start(QStringLiteral("/usr/bin/python3"),
                        {QStringLiteral("-m"), QStringLiteral("http.server"), QString::number(m_port), QStringLiteral("--bind"),
                         QStringLiteral("127.0.0.1"), QStringLiteral("--directory"), directory});
        m_process.waitForStarted(5000);
        for (int i = 0; i < 100; ++i) {
            QTcpSocket s;
            s.connectToHost(QHostAddress::LocalHost, m_port);
            if (s.waitForConnected(100)) {
                m_ready = true;
                break;
            }
            QThread::msleep(50);
        }
    }
    ~HttpServer()
    {
        m_process.kill();
        m_process.waitForFinished(2000);
    }
    bool ready() const { return m_ready; }
    QString url() const { return QStringLiteral("http://127.0.0.1:%1").arg(m_port); }

private:
    QProcess m_process;
    quint16 m_port = 0;
    bool m_ready = false;
};
