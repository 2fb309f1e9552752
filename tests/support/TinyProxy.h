#pragma once
// tinyproxy on a free loopback port, logging every request it forwards; gone with the object.

#include <QFile>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>

class TinyProxy {
public:
    TinyProxy()
    {
        QTcpServer probe;
        probe.listen(QHostAddress::LocalHost, 0);
        m_port = probe.serverPort();
        probe.close();
        QFile conf(m_dir.filePath("tinyproxy.conf"));
        conf.open(QIODevice::WriteOnly);
        conf.write(
            QStringLiteral("Port %1\nListen 127.0.0.1\nTimeout 10\nAllow 127.0.0.1\nMaxClients 10\nLogLevel Connect\n")
                .arg(m_port)
                .toUtf8());
        conf.close();
        m_process.setProcessChannelMode(QProcess::MergedChannels);
        m_process.start(QStringLiteral("tinyproxy"), {QStringLiteral("-d"), QStringLiteral("-c"), conf.fileName()});
        m_process.waitForStarted(5000);
        for (int i = 0; i < 100 && !m_ready; ++i) {
            QTcpSocket s;
            s.connectToHost(QHostAddress::LocalHost, m_port);
            m_ready = s.waitForConnected(100);
            if (!m_ready)
                QThread::msleep(50);
        }
    }
    ~TinyProxy()
    {
        m_process.kill();
        m_process.waitForFinished(2000);
    }
    bool ready() const { return m_ready; }
    quint16 port() const { return m_port; }
    // Everything the proxy logged so far.
    QString log()
    {
        m_process.waitForReadyRead(200);
        m_log += QString::fromLocal8Bit(m_process.readAll());
        return m_log;
    }

private:
    QTemporaryDir m_dir;
    QProcess m_process;
    quint16 m_port = 0;
    bool m_ready = false;
    QString m_log;
};
